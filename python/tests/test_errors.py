"""What the reader and writer refuse, each with a message naming the file or value at fault;
and the lazy reads."""

import datetime
import os
import warnings

import numpy as np
import pytest
import xarray as xr

import rastertools as rt
import rastertools.raw
from conftest import data_grid, values, write_grid

G2 = data_grid("grid_2deg_centre.bin")
N2 = 3862


def pixels(lon, lat, v=None):
    v = np.zeros((1, len(lon)), "f4") if v is None else v
    return xr.DataArray(v, dims=("band", "pixel"), name="x",
                        coords={"lon": ("pixel", lon), "lat": ("pixel", lat)})


def _raw(n=N2, extra=b""):
    with open("r.bin", "wb") as f:
        f.write(values(2, n).tobytes() + extra)


# (setup, call, exception, words of its message)
READ_ERRORS = {
    "wrong npixel": (lambda: _raw(), lambda: rt.open_raw("r.bin", npixel=100, grid=G2),
                     rt.RawFileError, "npixel 100 does not match grid file"),
    "no sidecar": (lambda: _raw(), lambda: rt.open_raw("r.bin"), rt.RawFileError,
                   "no npixel for r.bin: give npixel= or grid= (or a sidecar r.hdr"),
    "missing file": (lambda: None, lambda: rt.open_raw("none.bin", npixel=3),
                     FileNotFoundError, "cannot open none.bin"),
    "missing grid": (lambda: (_raw(), open("r.hdr", "w").write("ENVI\nrastertools grid file = "
                                                               "g/none.bin\n")),
                     lambda: rt.open_raw("r.bin"), FileNotFoundError,
                     "cannot open grid file g/none.bin"),
    "odd grid size": (lambda: (_raw(), open("g.bin", "wb").write(b"\0" * 6)),
                      lambda: rt.open_raw("r.bin", grid="g.bin"), rt.GridError,
                      "grid file g.bin has 6 bytes, not a whole number of 4-byte records"),
    "empty grid": (lambda: (_raw(), open("g.bin", "wb").close()),
                   lambda: rt.open_raw("r.bin", grid="g.bin"), rt.GridError, "is empty"),
    "mixed latitudes": (lambda: (_raw(2), write_grid("g.bin", [25, 75], [25, 50])),
                        lambda: rt.open_raw("r.bin", grid="g.bin"), rt.GridError,
                        "pixel 1 (lon 0.75, lat 0.50) fits the other convention"),
    "no whole band": (lambda: _raw(0, b"\0" * 8), lambda: rt.open_raw("r.bin", npixel=3),
                      rt.RawFileError, "r.bin holds no whole band of 3 pixels (8 bytes)"),
    "not ENVI": (lambda: (_raw(), open("r.hdr", "w").write("samples = 3\n")),
                 lambda: rt.open_raw("r.bin"), rt.SidecarError, "sidecar r.hdr is not an ENVI"),
    "big-endian": (lambda: (_raw(), open("r.hdr", "w").write("ENVI\nbyte order = 1\n")),
                   lambda: rt.open_raw("r.bin"), rt.SidecarError, "a layout other than"),
    "year without bands": (lambda: _raw(), lambda: rt.open_raw("r.bin", grid=G2, first_year=1),
                           rt.RawFileError, "a first year (1) needs bands_per_year"),
    "mixed calendar": (lambda: _raw(), lambda: rt.open_raw(
        "r.bin", grid=G2, first_year=1500, bands_per_year=1, calendar="standard"),
        rt.TimeAxisError, "give proleptic_gregorian for first year 1500"),
}


@pytest.mark.parametrize("case", READ_ERRORS)
def test_read_errors(tmp, case):
    setup, call, kind, words = READ_ERRORS[case]
    setup()
    with pytest.raises(kind) as e:
        call()
    assert words in str(e.value)


def fifo():
    os.mkfifo("fifo.bin")
    return "fifo.bin"


def monthly(start):
    # Mid-month from January in a 365-day year: Jan 16 12:00, Feb 15 00:00, Mar 16 12:00.
    starts = xr.cftime_range(start, periods=3, freq="MS", calendar="noleap")
    times = [t + datetime.timedelta(hours=h) for t, h in zip(starts, (372, 336, 372))]
    return xr.DataArray(np.zeros((3, 2), "f4"), dims=("time", "pixel"), name="x",
                        coords={"time": times, "lon": ("pixel", [0.25, 0.75]),
                                "lat": ("pixel", [0.25, 0.25])})


WRITE_ERRORS = {
    "not regular": (lambda: (pixels([0.25, 0.6], [0.25, 0.25]), "o.bin", {"res": 0.5}),
                    rt.GridError, "pixel 1 (lon 0.6, lat 0.25) is not a cell centre"),
    "shared cell": (lambda: (pixels([0.25, 0.75, 0.25], [0.25, 0.25, 0.25]), "o.bin", {}),
                    rt.GridError, "1 pixel(s) share a cell with an earlier pixel, the first "
                    "pixel 2 (lon 0.25, lat 0.25) with pixel 0"),
    "device": (lambda: (pixels([0.25], [0.25]), os.devnull, {}), rt.OutputError,
               "not a regular file"),
    "fifo": (lambda: (pixels([0.25], [0.25]), fifo(), {}), rt.OutputError, "not a regular file"),
    "over its input": (lambda: (rt.open_raw(rt.write_raw(pixels([0.25], [0.25]), "i.bin").raw),
                                "i.bin", {}), rt.OutputError, "is the input i.bin"),
    "over its grid": (lambda: (pixels([0.25], [0.25]), "o.bin", {"grid_out": "o.bin"}),
                      rt.OutputError, "name one file twice"),
    "float64": (lambda: (pixels([0.25], [0.25], np.array([[0.1]])), "o.bin", {}),
                rt.RawFileError, "1 value(s) are not exactly float32"),
    "overflow": (lambda: (pixels([0.25], [0.25], np.array([[1e300]])), "o.bin",
                          {"allow_rounding": True}), rt.RawFileError, "beyond the float32 range"),
    "time off layout": (lambda: (monthly("2001-02-01"), "o.bin", {"first_year": 2001,
                                                                  "bands_per_year": 12}),
                        rt.TimeAxisError, "does not follow 12 band(s) a year from 2001"),
    "grid form without grid": (lambda: (pixels([0.25], [0.25]).rastertools.to_grid(), "o.bin",
                                        {}), rt.RawFileError, "give grid="),
}


@pytest.mark.parametrize("case", WRITE_ERRORS)
def test_write_errors(tmp, case):
    make, kind, words = WRITE_ERRORS[case]
    da, path, kwargs = make()
    before = sorted(os.listdir("."))
    with pytest.raises(kind) as e:
        rt.write_raw(da, path, **kwargs)
    assert words in str(e.value)
    assert sorted(os.listdir(".")) == before  # nothing written, no temporary file left


def test_what_is_changed_is_counted(tmp):
    _raw(extra=b"\0" * 5)
    with pytest.warns(rt.RasterWarning, match="the last 5 bytes make no whole band"):
        rt.open_raw("r.bin", grid=G2)
    with pytest.warns(rt.RasterWarning, match="1 value.s. rounded to the nearest float32"):
        rt.write_raw(pixels([0.25, 0.75], [0.25, 0.25], np.array([[0.1, 0.5]])), "o.bin",
                     allow_rounding=True)
    assert np.fromfile("o.bin", "<f4").tolist() == [np.float32(0.1), 0.5]
    grid = pixels([0.25, 0.75], [0.25, 0.25]).rastertools.to_grid()
    grid.loc[{"band": 0, "lat": 0.75, "lon": 0.25}] = 1.0
    with pytest.warns(rt.RasterWarning, match="1 values lie in cells that hold no pixel"):
        rt.write_raw(grid, "p.bin", grid="o.grid.bin")
    # The time axis monthly() follows from January: no warning, the layout in the sidecar.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        rt.write_raw(monthly("2001-01-01"), "t.bin")
    assert "first year = 2001\nrastertools calendar = noleap\n" in open("t.hdr").read()


@pytest.mark.parametrize("how", ["chunks", "auto"])
def test_dask_reads_a_file_larger_than_its_chunk(tmp, monkeypatch, how):
    v = values(7, N2)
    v.tofile("r.bin")
    if how == "auto":
        monkeypatch.setattr(rastertools.raw, "CHUNK_BYTES", 2 * N2 * 4)
    da = rt.open_raw("r.bin", grid=G2, chunks=3 if how == "chunks" else "auto")
    assert da.chunks == (((3, 3, 1) if how == "chunks" else (2, 2, 2, 1)), (N2,))
    assert (da.values.view("u4") == v.view("u4")).all()
    grid = da.rastertools.to_grid()
    assert grid.chunks is not None
    np.testing.assert_array_equal(grid.values, rt.open_raw("r.bin", grid=G2,
                                                          chunks=None).rastertools.to_grid())
    rt.write_raw(da, "w.bin")
    assert open("w.bin", "rb").read() == open("r.bin", "rb").read()
    lazy = xr.open_dataset("w.bin", engine="rastertools", chunks={"band": 2})["r"]
    assert lazy.chunks[0] == (2, 2, 2, 1) and float(lazy[6, 5]) == float(v[6, 5])
