"""A change output folder as one Dataset: corvane's own outputs (no sidecars), the same with
sidecars, and NetCDF outputs; the xarray backend on files and folders."""

import importlib.metadata
import os
import shutil

import numpy as np
import pytest
import xarray as xr

import rastertools as rt
from rastertools.change import NAMES
from conftest import data_grid, values

G2 = data_grid("grid_2deg_centre.bin")
N2 = 3862
BANDS = {"angle": 1, "magnitude": 4, "angle_series": 3, "magnitude_series": 3}


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    """corvane on two variables, three years of monthly data; outputs in out/."""
    d = tmp_path_factory.mktemp("change")
    files = []
    for i in range(4):
        f = str(d / f"in{i}.bin")
        (np.abs(values(36, N2, seed=i, special=False)) + 1).tofile(f)
        files.append(f)
    os.mkdir(d / "out")
    rt.tools.corvane([(2, files[0], files[1]), (1, files[2], files[3])], str(d / "out"),
                     grid=G2, res=2, npixel=N2, nyear_ref=3, nyear_fut=3, nyear_avg=3,
                     startyear_ref=0, startyear_fut=0)
    return d


def check(ds, folder, dated=True):
    assert list(ds.data_vars) == list(NAMES)
    for n in NAMES:
        base = n.removesuffix("_global")
        raw = np.fromfile(os.path.join(folder, n + ".bin"), "<f4").reshape(BANDS[base], N2)
        da = ds[n]
        assert da.dims == {"angle": ("pixel",), "magnitude": ("component", "pixel")}.get(
            base, ("time" if dated else "band", "pixel"))
        assert (da.values.reshape(raw.shape).view("u4") == raw.view("u4")).all(), n
    assert list(ds.magnitude.component.values)[0] == "future_percent_of_reference"
    if dated:
        assert list(ds.time.dt.year.values) == [1971, 1972, 1973]
    assert ds.lat.attrs["rastertools_convention"] == "centre"


def test_corvane_folder_with_a_grid(run):
    out = str(run / "out")
    check(rt.open_change(out, grid=G2, first_year=1971), out)
    check(rt.open_change(out, grid=G2), out, dated=False)
    with pytest.raises(rt.RawFileError, match="no npixel"):
        rt.open_change(out)


def test_folder_with_sidecars_through_the_backend(run, tmp_path):
    folder = tmp_path / "sc"
    shutil.copytree(run / "out", folder)
    for n in NAMES:
        series = "series" in n
        s = rt.Sidecar(samples=N2, bands=BANDS[n.removesuffix("_global")],
                       grid_file=os.path.relpath(G2, folder), resolution=2.0,
                       bands_per_year=1 if series else None, first_year=1971 if series else None)
        (folder / (n + ".hdr")).write_text(rt.format_sidecar(s))
    check(xr.open_dataset(folder, engine="rastertools"), folder)
    angle = xr.open_dataset(folder / "angle.bin", engine="rastertools")
    assert angle.angle.dims == ("band", "pixel") and angle.angle.shape == (1, N2)
    grid = xr.open_dataset(folder, engine="rastertools", to_grid=True)
    assert grid.angle.dims == ("lat", "lon") and int(grid.angle.notnull().sum()) == N2

    # The same outputs as NetCDF on the full grid, as `change` writes them by default.
    nc = tmp_path / "nc"
    os.mkdir(nc)
    for n in NAMES:
        rt.tools.export(folder / (n + ".bin"), nc / (n + ".nc"), var=n)
    from_nc = rt.open_change(nc, to_grid=True)
    for n in NAMES:
        np.testing.assert_array_equal(from_nc[n].values, grid[n].values)
    with pytest.raises(rt.RawFileError, match="open the folder with to_grid=True"):
        rt.open_change(nc)


def test_folder_refusals(run, tmp_path):
    folder = tmp_path / "bad"
    shutil.copytree(run / "out", folder)
    os.remove(folder / "magnitude_global.bin")
    with pytest.raises(rt.RawFileError, match="lacks magnitude_global.bin"):
        rt.open_change(folder, grid=G2)
    shutil.copy(folder / "angle_series.bin", folder / "magnitude_global.bin")
    with pytest.raises(rt.RawFileError, match="magnitude_global.bin holds 3 bands; the "
                                              "magnitude output holds 4"):
        rt.open_change(folder, grid=G2)


def test_entry_point_and_version():
    assert "rastertools" in xr.backends.list_engines()
    want = os.environ.get("RASTERTOOLS_VERSION")
    if want is None:
        pytest.skip("RASTERTOOLS_VERSION (the project's version) is set by ctest")
    assert importlib.metadata.version("rastertools") == want == rt.__version__
