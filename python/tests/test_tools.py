"""The command wrappers: arguments as the tools read them, failures as exceptions with the
tool's message and status, messages of successful runs as warnings."""

import os

import numpy as np
import pytest

import rastertools as rt
from rastertools import tools
from conftest import data_grid

G2 = data_grid("grid_2deg_centre.bin")


@pytest.fixture
def raw(tmp):
    v = np.arange(2 * 3862, dtype="<f4").reshape(2, 3862) / 8  # sums below are exact
    v.tofile("v.bin")
    return v


# (call, exit status, start of the message on stderr)
FAILURES = {
    "named, while running": (lambda: tools.export("none.bin", "x.nc", grid=G2), 1,
                             "rastertools-export: error: cannot open none.bin"),
    "named, command line": (lambda: tools.run("export", "v.bin"), 2,
                            "rastertools-export: error: --output is required"),
    "positional": (lambda: tools.add("none.bin", "o.bin", 1.5, 3), 255, ""),
    "unknown tool": (lambda: tools.run("nosuchtool"), 2, "rastertools: unknown tool"),
}


@pytest.mark.parametrize("case", FAILURES)
def test_failures_raise_with_message_and_status(raw, case):
    call, status, message = FAILURES[case]
    with pytest.raises(rt.ToolError) as e:
        call()
    assert e.value.status == status
    assert e.value.message.startswith(message) and e.value.message
    assert e.value.message in str(e.value)


def test_runs_and_their_results(raw):
    r = tools.add("v.bin", "a.bin", 1.5, 3862, bands=(1, 1))
    assert r.command[0].startswith(os.environ.get("RASTERTOOLS_BINDIR", ""))
    assert (np.fromfile("a.bin", "<f4") == raw[1] + np.float32(1.5)).all()

    rows = tools.info("v.bin", grid=G2, csv_rows=True)
    assert [int(r["band"]) for r in rows] == [0, 1]
    assert float(rows[1]["max"]) == raw[1].max()
    assert float(rows[0]["mean"]) == pytest.approx(raw[0].astype(float).mean(), rel=1e-12)

    raw[0, 5] = 1e20
    raw.tofile("f.bin")
    with pytest.warns(rt.ToolWarning, match="1 values of f.bin equal the fill value 1e20"):
        tools.export("f.bin", "f.nc", grid=G2, bands=(0, 0))


@pytest.mark.parametrize("call, kind", [
    (lambda: tools.add("v.bin", "o.bin", 1.5, 3862.0), TypeError),
    (lambda: tools.sum("v.bin", "v.bin", "o.bin", 3862, bands1=(0, 1)), ValueError),
    (lambda: tools.div("v.bin", "v.bin", "o.bin", 3862, nanvalue=0), ValueError),
    (lambda: tools.corvane([(1, "a", "b", 0.5, None)], "out", grid=G2, res=2, npixel=1,
                           nyear_ref=1, nyear_fut=1, nyear_avg=1, startyear_ref=0,
                           startyear_fut=0), ValueError),
])
def test_arguments_checked_before_running(raw, call, kind):
    with pytest.raises(kind):
        call()
    assert not os.path.exists("o.bin")
