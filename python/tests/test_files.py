"""Raw file, grid file and sidecar: bit-exact round trips through xarray, the sidecar layout,
the lattice arithmetic."""

import numpy as np
import pytest
import xarray as xr

import rastertools as rt
from rastertools.lattice import Lattice, format_degrees, parse_degrees
from conftest import data_grid, values, write_grid

HEADER = """ENVI
description = {{rastertools raster file}}
samples = {npixel}
lines = 1
bands = {nbands}
header offset = 0
file type = ENVI Standard
data type = 4
interleave = bsq
byte order = 0
rastertools grid file = {grid}
{extra}rastertools variable = tas
rastertools units = K
rastertools long name = Near-Surface Air Temperature
"""


def twelfth_grid(path):
    # A block of 1/12 degree cells whose records lie 0.0015 degrees north-east of the centres
    # (within the tolerance), not where the suite itself would round them.
    col, row = np.meshgrid(np.arange(2000, 2010), np.arange(300, 305))
    lon = -180 + (col + 0.5) / 12 + 0.0015
    lat = 90 - (row + 0.5) / 12 + 0.0015
    return write_grid(path, np.round(lon * 100).ravel(), np.round(lat * 100).ravel())


def r360x180_grid(path):
    # Cell centres on whole degrees (CDO's r360x180): 0..359 E written as -180..179.
    lon = np.array([0, 1, 179, -180, -179, -1, 90, 90])
    lat = np.array([89.5, 89.5, 0.5, -0.5, -89.5, 45.5, 45.5, 44.5])
    return write_grid(path, lon * 100, np.round(lat * 100))


# name: (grid maker or data file, header lines between grid file and variable, bands)
CASES = {
    "2deg-northedge-monthly": (data_grid("grid_2deg_northedge.bin"),
                               "rastertools resolution = 2\nrastertools grid convention = "
                               "northedge\nrastertools bands per year = 12\nrastertools first "
                               "year = 1971\nrastertools calendar = proleptic_gregorian\n", 24),
    "2deg-centre-bands": (data_grid("grid_2deg_centre.bin"),
                          "rastertools resolution = 2\nrastertools grid convention = centre\n",
                          3),
    "twelfth-noleap": (twelfth_grid, "rastertools resolution = 1/12\nrastertools grid "
                       "convention = centre\nrastertools bands per year = 1\nrastertools first "
                       "year = 2000\nrastertools calendar = noleap\n", 3),
    "r360x180-360day": (r360x180_grid, "rastertools resolution = 1\nrastertools lattice origin "
                        "= -180.5 90\nrastertools grid convention = centre\nrastertools bands "
                        "per year = 4\nrastertools first year = 1850\nrastertools calendar = "
                        "360_day\n", 9),
}


def make_case(tmp, name):
    grid, extra, nbands = CASES[name]
    if callable(grid):
        grid = grid(str(tmp / "in.grid.bin"))
    npixel = len(np.fromfile(grid, "<i4"))
    values(nbands, npixel).tofile("in.bin")
    header = HEADER.format(npixel=npixel, nbands=nbands, grid=grid, extra=extra)
    (tmp / "in.hdr").write_text(header)
    return grid, header


@pytest.mark.parametrize("chunks", [None, 2])
@pytest.mark.parametrize("name", CASES)
def test_round_trip_bit_for_bit(tmp, name, chunks):
    grid, header = make_case(tmp, name)
    da = rt.open_raw("in.bin", chunks=chunks)
    assert da.dims[0] == ("time" if "first year" in header else "band")
    assert (da.chunks is not None) == (chunks is not None)

    written = rt.write_raw(da, "out.bin")
    assert (tmp / "out.bin").read_bytes() == (tmp / "in.bin").read_bytes()
    assert (tmp / "out.grid.bin").read_bytes() == open(grid, "rb").read()
    assert (tmp / "out.hdr").read_text() == header.replace(grid, "out.grid.bin")
    assert written.grid == "out.grid.bin"

    # Through the full grid and back onto the same grid file's pixels.
    rt.write_raw(da.rastertools.to_grid(), "back.bin", grid=grid)
    assert (tmp / "back.bin").read_bytes() == (tmp / "in.bin").read_bytes()
    assert "rastertools grid file = " + grid + "\n" in (tmp / "back.hdr").read_text()


def test_centres_and_time_from_the_sidecar(tmp):
    make_case(tmp, "r360x180-360day")
    da = xr.open_dataset("in.bin", engine="rastertools")["tas"]
    assert list(da.lon.values) == [0, 1, 179, -180, -179, -1, 90, 90]
    assert list(da.lat.values) == [89.5, 89.5, 0.5, -0.5, -89.5, 45.5, 45.5, 44.5]
    # 360-day years in four slots of 90 days: the middle of the first is day 45.
    assert str(da.time.values[0]) == "1850-02-16 00:00:00" and da.time.dt.calendar == "360_day"
    assert da.attrs == {"units": "K", "long_name": "Near-Surface Air Temperature"}
    g = da.rastertools.to_grid()
    assert g.sizes == {"time": 9, "lat": 180, "lon": 360}
    assert (g.lon.values[[0, 180, 359]] == [-180, 0, 179]).all()
    raw = np.fromfile("in.bin", "<f4").reshape(9, -1)
    assert g.isel(time=1).sel(lat=45.5, lon=90).values.view("u4") == raw[1, 6].view("u4")
    assert int(g.isel(time=0).notnull().sum()) == 8 - 3  # three NaN patterns in band 0
    assert int(np.isfinite(g.isel(time=1)).sum()) == 8


@pytest.mark.parametrize("lattice, lon, lat, conv, row, col, shape", [
    ((0.5,), -179.75, 89.75, "centre", 0, 0, (360, 720)),
    ((0.5,), 179.75, -89.5, "northedge", 359, 719, (360, 720)),
    ((1, -180.5, 90), -180.0, 89.5, "centre", 0, 0, (180, 360)),
    ((1, -180.5, 90), 179.0, -89.5, "centre", 179, 359, (180, 360)),
    ((1, 179.5, 90), 0.0, 0.5, "centre", 89, 180, (180, 360)),  # origin taken modulo res
    ((2 / 3,), -179.67, 89.67, "centre", 0, 0, (270, 540)),
    ((2 / 3,), 179.67, -89.33, "northedge", 269, 539, (270, 540)),
])
def test_lattice_places_records(lattice, lon, lat, conv, row, col, shape):
    lt = Lattice(*lattice)
    assert (lt.nlat, lt.nlon) == shape
    assert (lt.rows(lat, conv), lt.columns(lon)) == (row, col)
    assert not lt.misfits(lon, lat, conv)
    assert lt.misfits(lon + 0.01, lat, conv) and lt.misfits(lon, lat - 0.01, conv)


@pytest.mark.parametrize("value, text", [(0.5, "0.5"), (2.0, "2"), (1 / 12, "1/12"),
                                         (2 / 3, "2/3"), (0.1, "0.1"), (-180.5, "-180.5"),
                                         (1 / 3600, "1/3600"), (np.pi, "3.141592653589793")])
def test_degrees_written_and_read_exactly(value, text):
    assert format_degrees(value) == text
    assert parse_degrees(text) == value


def test_sidecar_keeps_unknown_keys_aside():
    s = rt.parse_sidecar("ENVI\nsamples = 4\nbands = 2\nmap info = {Geographic Lat/Lon,\n 1, 1}"
                         "\nRastertools  Grid File = g.bin\nrastertools lattice origin = "
                         "-361/2 90\n", "x.hdr")
    assert (s.samples, s.bands, s.grid_file, s.origin) == (4, 2, "g.bin", (-180.5, 90.0))
    assert s.unknown == {"map info": "Geographic Lat/Lon,\n 1, 1"}
