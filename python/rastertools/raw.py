"""Raw raster files in xarray: open_raw (file -> DataArray), to_grid (pixels -> the full regular
grid, as ``rastertools export`` places them) and write_raw (DataArray -> raw file, grid file and
sidecar, as the C++ tools write them)."""

from __future__ import annotations

import os
import re
import stat
import warnings
from dataclasses import dataclass

import numpy as np
import xarray as xr
from xarray.backends import BackendArray
from xarray.core import indexing

from . import timeaxis
from .lattice import (Grid, GridError, Lattice, checked_cells, infer_resolution,
                      parse_convention, read_records, snap_resolution)
from .outputs import AtomicFile, OutputError, check_output
from .sidecar import (Sidecar, format_sidecar, grid_file_for_sidecar, grid_path_from_sidecar,
                      read_sidecar, sidecar_path)

# Target size of one dask chunk; files larger than this open as dask arrays of whole bands.
CHUNK_BYTES = 128 * 2**20
FLOAT32 = np.dtype("<f4")


class RawFileError(ValueError):
    """A raw file, or a request about one, that the suite's format cannot serve."""


class RasterWarning(UserWarning):
    """Data that is ignored or changed, counted (bytes after the last band, rounded values)."""


# ---- reading ----


@dataclass
class RawInfo:
    """What is known about a raw file from its size, its sidecar and the caller."""

    path: str
    npixel: int
    nbands: int
    grid: Grid | None
    bands_per_year: int | None
    first_year: int | None
    calendar: str
    name: str
    units: str | None
    long_name: str | None
    size: int
    mtime_ns: int


def _regular_size(path: str, what: str = "") -> os.stat_result:
    try:
        st = os.stat(path)
    except OSError as e:
        raise OSError(e.errno, f"cannot open {what}{path}: {e.strerror}") from None
    if not stat.S_ISREG(st.st_mode):
        raise RawFileError(f"{what}{path} is not a regular file")
    return st


def describe(path, *, npixel=None, grid=None, res=None, origin=None, convention=None,
             bands_per_year=None, first_year=None, calendar=None, name=None, units=None,
             long_name=None) -> RawInfo:
    """Settles npixel, grid, time axis and names: arguments first, then the sidecar, then the
    grid file's pixel count, as the C++ tools do."""
    path = os.fspath(path)
    if sidecar_path(path) == path:
        raise RawFileError(f"{path} is a sidecar: open the raw file it describes")
    st = _regular_size(path)
    sc = read_sidecar(path) or Sidecar(samples=0)
    npixel = npixel if npixel is not None else (sc.samples if sc.samples > 0 else None)
    if grid is None and sc.grid_file is not None:
        grid = grid_path_from_sidecar(path, sc.grid_file)
    res = res if res is not None else sc.resolution
    origin = origin if origin is not None else sc.origin
    convention = convention if convention is not None else sc.convention
    bands_per_year = bands_per_year if bands_per_year is not None else sc.bands_per_year
    first_year = first_year if first_year is not None else sc.first_year
    calendar = timeaxis.parse_calendar(calendar or sc.calendar or timeaxis.DEFAULT_CALENDAR)

    if grid is not None and not isinstance(grid, Grid):
        grid = os.fspath(grid)
        gst = _regular_size(grid, "grid file ")
        if gst.st_size == 0 or gst.st_size % 4:
            read_records(grid)  # its message: empty, or not whole records
        if npixel is None:
            npixel = gst.st_size // 4
        if npixel != gst.st_size // 4 or gst.st_size % 4:
            raise RawFileError(f"npixel {npixel} does not match grid file {grid} ({gst.st_size} "
                               f"bytes, {gst.st_size // 4} pixels)")
        grid = Grid.read(grid, res=res, origin=origin, convention=convention)
    elif isinstance(grid, Grid):
        npixel = grid.npixel if npixel is None else npixel
        if npixel != grid.npixel:
            raise RawFileError(f"npixel {npixel} does not match the grid's {grid.npixel} pixels")
    if npixel is None:
        raise RawFileError(f"no npixel for {path}: give npixel= or grid= (or a sidecar "
                           f"{sidecar_path(path)} that names them)")
    npixel = int(npixel)
    if npixel <= 0:
        raise RawFileError(f"npixel must be positive, not {npixel}")
    if bands_per_year is not None and bands_per_year <= 0:
        raise RawFileError(f"bands per year must be positive, not {bands_per_year}")
    if first_year is not None and bands_per_year is None:
        raise RawFileError(f"a first year ({first_year}) needs bands_per_year to place the bands "
                           "in time")
    if first_year is not None:
        timeaxis.check_calendar_years(calendar, first_year)

    nbands, leftover = divmod(st.st_size, 4 * npixel)
    if nbands == 0:
        raise RawFileError(f"{path} holds no whole band of {npixel} pixels ({st.st_size} bytes)")
    if leftover:
        warnings.warn(f"{path}: the last {leftover} bytes make no whole band of {npixel} pixels "
                      "and are ignored", RasterWarning, stacklevel=3)
    stem = os.path.splitext(os.path.basename(path))[0]
    return RawInfo(path, npixel, int(nbands), grid, bands_per_year, first_year, calendar,
                   name or sc.variable or stem, units if units is not None else sc.units,
                   long_name if long_name is not None else sc.long_name, st.st_size,
                   st.st_mtime_ns)


class RawBands(BackendArray):
    """The bands of a raw file as an array that reads only what is indexed (memory-mapped)."""

    def __init__(self, path: str, nbands: int, npixel: int):
        self.path = path
        self.shape = (nbands, npixel)
        self.dtype = FLOAT32

    def __getitem__(self, key):
        if isinstance(key, indexing.ExplicitIndexer):
            return indexing.explicit_indexing_adapter(
                key, self.shape, indexing.IndexingSupport.BASIC, self._read)
        return self._read(key)

    def _read(self, key):
        m = np.memmap(self.path, dtype=FLOAT32, mode="r", shape=self.shape)
        try:
            return np.array(m[key])
        finally:
            del m

    def mapped(self) -> np.ndarray:
        return np.memmap(self.path, dtype=FLOAT32, mode="r", shape=self.shape)


def _band_chunks(npixel: int, chunks) -> int:
    return max(1, int(chunks) if chunks not in ("auto", None) else CHUNK_BYTES // (4 * npixel))


def raw_data(info: RawInfo, chunks="auto"):
    """A memory map for files up to CHUNK_BYTES (or chunks=None), else a dask array of whole
    bands (``chunks`` bands a chunk when given as a number)."""
    bands = RawBands(info.path, info.nbands, info.npixel)
    if chunks is None or chunks is False or (chunks == "auto" and info.size <= CHUNK_BYTES):
        return bands.mapped()
    import dask.array
    from dask.base import tokenize

    k = _band_chunks(info.npixel, chunks)
    token = tokenize(info.path, info.size, info.mtime_ns, info.npixel)
    return dask.array.from_array(bands, chunks=(k, info.npixel), name=f"rastertools-raw-{token}",
                                 lock=False, meta=np.empty((0, 0), FLOAT32))


def lattice_attrs(lattice: Lattice, convention: str) -> tuple[dict, dict]:
    lon = {"standard_name": "longitude", "long_name": "longitude of the cell centre",
           "units": "degrees_east", "rastertools_resolution": lattice.res,
           "rastertools_west": lattice.west}
    lat = {"standard_name": "latitude", "long_name": "latitude of the cell centre",
           "units": "degrees_north", "rastertools_north": lattice.north,
           "rastertools_convention": convention}
    return lon, lat


def band_axis(info: RawInfo) -> tuple[str, xr.Variable]:
    """The time coordinate export writes for these bands, or the band numbers."""
    if info.first_year is None:
        return "band", xr.Variable("band", np.arange(info.nbands, dtype=np.int32),
                                   {"long_name": "band number in the raw file (0-based)"})
    _, mid, _ = timeaxis.band_times(info.calendar, info.first_year, info.bands_per_year,
                                    info.nbands)
    times = timeaxis.decode(mid, info.first_year, info.calendar)
    var = xr.Variable("time", times, {"standard_name": "time", "long_name": "time", "axis": "T"})
    var.encoding = {"units": timeaxis.time_units(info.first_year), "calendar": info.calendar,
                    "dtype": np.dtype("float64"), "rastertools_bands_per_year":
                    info.bands_per_year}
    return "time", var


def build_array(info: RawInfo, data) -> xr.DataArray:
    dim, axis = band_axis(info)
    coords = {dim: axis}
    if info.grid is not None:
        lon_attrs, lat_attrs = lattice_attrs(info.grid.lattice, info.grid.convention)
        coords["lon"] = xr.Variable("pixel", info.grid.lon_centres(), lon_attrs)
        coords["lat"] = xr.Variable("pixel", info.grid.lat_centres(), lat_attrs)
    attrs = {k: v for k, v in (("units", info.units), ("long_name", info.long_name)) if v}
    da = xr.DataArray(data, dims=(dim, "pixel"), coords=coords, name=info.name, attrs=attrs)
    da.encoding = {"source": info.path, "rastertools_grid": info.grid}
    return da


def open_raw(path, *, npixel=None, grid=None, res=None, origin=None, convention=None,
             bands_per_year=None, first_year=None, calendar=None, name=None, units=None,
             long_name=None, chunks="auto", to_grid=False) -> xr.DataArray:
    """A raw raster file as a DataArray (time or band, pixel) with lon/lat cell centres per
    pixel; every argument left out comes from the sidecar NAME.hdr (and npixel from the grid
    file). ``grid`` is a grid file or a Grid; ``origin`` is (west, north) of the lattice.
    ``chunks``: "auto" (a memory map, or dask chunks of whole bands above CHUNK_BYTES), a number
    of bands per dask chunk, or None for a memory map. ``to_grid=True`` returns (time, lat, lon)
    on the full grid."""
    info = describe(path, npixel=npixel, grid=grid, res=res, origin=origin,
                    convention=convention, bands_per_year=bands_per_year,
                    first_year=first_year, calendar=calendar, name=name, units=units,
                    long_name=long_name)
    da = build_array(info, raw_data(info, chunks))
    return place_on_grid(da) if to_grid else da


# ---- placing pixels on the full grid ----


def _lattice_of(obj, res=None, origin=None) -> Lattice:
    """The lattice given, or recorded on the lon/lat coordinates, or inferred from them."""
    lon, lat = obj["lon"], obj["lat"]
    res = res if res is not None else lon.attrs.get("rastertools_resolution")
    if origin is None and "rastertools_west" in lon.attrs:
        origin = (lon.attrs["rastertools_west"], lat.attrs.get("rastertools_north", 90.0))
    if res is not None:
        return Lattice(res, *(origin or (-180.0, 90.0)))
    return infer_lattice(lon.values, lat.values, origin)


def infer_lattice(lon, lat, origin=None) -> Lattice:
    """The lattice of cell-centre coordinates: the largest of the usual resolutions on the
    default origin that they fit, else their spacing with the origin of the first point."""
    lon = np.asarray(lon, dtype=np.float64).ravel()
    lat = np.asarray(lat, dtype=np.float64).ravel()
    if lon.size == 0:
        raise GridError("no coordinates to infer a lattice from; give res=")
    west = origin[0] if origin else -180.0
    north = origin[1] if origin else 90.0
    res = infer_resolution(lon, west)
    if res is not None and not Lattice(res, west, north).lat_misfits(lat, "centre").any():
        return Lattice(res, west, north)
    steps = [np.diff(np.unique(np.round(v, 9))) for v in (lon, lat)]
    steps = np.concatenate([s[s > 1e-6] for s in steps])
    if steps.size == 0:
        raise GridError("a single coordinate does not tell the resolution; give res=")
    res = snap_resolution(float(steps.min()))
    if origin is None:
        west, north = lon[0] - res / 2, lat[0] + res / 2
    return Lattice(res, west, north)


def _placement(lon, lat, lattice: Lattice, what: str):
    bad = lattice.misfits(lon, lat, "centre")
    if bad.any():
        p = int(np.argmax(bad))
        raise GridError(f"{what} is not on a regular grid: pixel {p} (lon {lon[p]:.6g}, lat "
                        f"{lat[p]:.6g}) is not a cell centre of the {lattice.res:g} degree "
                        f"lattice with origin {lattice.origin_text()}; give res= and origin=")
    return lattice.rows(lat, "centre"), lattice.columns(lon)


def pixel_cells(obj, res=None, origin=None, what="the array"):
    """(lattice, cells) of an object's pixels, refusing pixels off the lattice, off the globe
    or sharing a cell."""
    if "lon" not in obj.coords or "lat" not in obj.coords:
        raise GridError(f"{what} has no lon/lat coordinates per pixel: open it with its grid "
                        "file (grid=, or a sidecar that names one)")
    lattice = _lattice_of(obj, res, origin)
    lon, lat = obj["lon"].values, obj["lat"].values
    rows, cols = _placement(lon, lat, lattice, what)
    return lattice, checked_cells(rows, cols, lattice, lon, lat, what)


def grid_coords(lattice: Lattice, convention: str | None = None) -> dict:
    lon_attrs, lat_attrs = lattice_attrs(lattice, convention or "centre")
    lon_attrs.update(axis="X", long_name="longitude")
    lat_attrs.update(axis="Y", long_name="latitude")
    if convention is None:
        del lat_attrs["rastertools_convention"]
    return {"lat": xr.Variable("lat", lattice.lat_centres(), lat_attrs),
            "lon": xr.Variable("lon", lattice.lon_centres(), lon_attrs)}


def _scatter(block, cells, ncell, nlat, nlon):
    out = np.full(block.shape[:-1] + (ncell,), np.nan, dtype=block.dtype)
    out[..., cells] = block
    return out.reshape(block.shape[:-1] + (nlat, nlon))


def place_on_grid(obj, *, res=None, origin=None):
    """Pixels (dimension ``pixel`` with lon/lat cell centres) placed on the full regular grid of
    their lattice, (..., lat, lon) with latitudes from north to south and NaN in cells without a
    pixel: the cells ``rastertools export`` writes. A Dataset has each such variable placed."""
    if isinstance(obj, xr.Dataset):
        out = {k: place_on_grid(v, res=res, origin=origin) if "pixel" in v.dims else v
               for k, v in obj.data_vars.items()}
        return xr.Dataset(out, attrs=obj.attrs)
    da = obj
    name = f"'{da.name}'" if da.name is not None else "the array"
    lattice, cells = pixel_cells(da, res, origin, name)
    other = [d for d in da.dims if d != "pixel"]
    da = da.transpose(*other, "pixel")
    data = da.data
    if not np.issubdtype(data.dtype, np.floating):
        data = data.astype(np.float64)
    nlat, nlon = lattice.nlat, lattice.nlon
    args = (cells, nlat * nlon, nlat, nlon)
    if hasattr(data, "dask"):
        import dask.array

        data = data.rechunk({data.ndim - 1: -1})
        if other:
            per_band = max(1, CHUNK_BYTES // (nlat * nlon * data.dtype.itemsize))
            data = data.rechunk({0: min(per_band, data.chunksize[0])})
        grid = dask.array.map_blocks(
            _scatter, data, *args, dtype=data.dtype, drop_axis=data.ndim - 1,
            new_axis=[data.ndim - 1, data.ndim], chunks=data.chunks[:-1] + ((nlat,), (nlon,)))
    else:
        grid = _scatter(np.asarray(data), *args)
    coords = {k: v for k, v in da.coords.items() if "pixel" not in v.dims}
    coords.update(grid_coords(lattice, da["lat"].attrs.get("rastertools_convention")))
    return xr.DataArray(grid, dims=(*other, "lat", "lon"), coords=coords, name=da.name,
                        attrs=da.attrs)


# ---- writing ----


@dataclass
class Written:
    raw: str
    sidecar: str
    grid: str  # the grid file the sidecar names (written, or referenced)


_NC_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_.\-]*")


def valid_variable(name) -> bool:
    """Whether export can use ``name`` as a NetCDF variable name."""
    return (isinstance(name, str) and _NC_NAME.fullmatch(name) is not None
            and name not in ("lat", "lon", "time", "band") and "_bnds" not in name)


def default_grid_out(path: str) -> str:
    """NAME.grid.bin for NAME.bin, as import names the grid it writes."""
    return os.path.splitext(path)[0] + ".grid.bin"


def _as_array(obj) -> xr.DataArray:
    if isinstance(obj, xr.Dataset):
        vars_ = [v for v in obj.data_vars.values()
                 if "pixel" in v.dims or {"lat", "lon"} <= set(v.dims)]
        if len(vars_) != 1:
            raise RawFileError(f"the Dataset holds {len(vars_)} variables on pixels or a grid; "
                               "write one DataArray per raw file")
        return vars_[0]
    if isinstance(obj, xr.DataArray):
        return obj
    arr = np.asarray(obj)
    if arr.ndim not in (1, 2):
        raise RawFileError(f"an array of {arr.ndim} dimensions is neither (pixel) nor "
                           "(band, pixel)")
    return xr.DataArray(arr, dims=("band", "pixel")[2 - arr.ndim:])


def _band_dim(da: xr.DataArray, space: tuple[str, ...]) -> str | None:
    other = [d for d in da.dims if d not in space]
    if len(other) > 1:
        raise RawFileError(f"the array has dimensions {other} besides {'/'.join(space)}: a raw "
                           "file holds one band axis")
    return other[0] if other else None


def _cell_index(coord, lattice: Lattice, axis: str, what: str) -> np.ndarray:
    """For each row (or column) of the lattice, its position in the array's coordinate, -1 if
    absent; refuses coordinates off the lattice."""
    v = np.asarray(coord, dtype=np.float64)
    if axis == "lat":
        idx = lattice.rows(v, "centre")
        bad = lattice.lat_misfits(v, "centre")
        n = lattice.nlat
    else:
        idx = lattice.columns(v)
        bad = lattice.lon_misfits(v)
        n = lattice.nlon
    bad |= (idx < 0) | (idx >= n)
    if bad.any():
        p = int(np.argmax(bad))
        raise GridError(f"{what} is not on a regular grid: {axis} {v[p]:.6g} is not a cell "
                        f"centre of the {lattice.res:g} degree lattice with origin "
                        f"{lattice.origin_text()}")
    if len(np.unique(idx)) != len(idx):
        raise GridError(f"{what}: its {axis} coordinate holds a cell twice")
    pos = np.full(n, -1, dtype=np.int64)
    pos[idx] = np.arange(len(idx))
    return pos


def _grid_input(grid, da, res, origin, convention) -> Grid:
    """The grid file given, placed on the lattice given or recorded on the array's lon/lat."""
    if isinstance(grid, Grid):
        return grid
    lon = da["lon"].attrs if "lon" in da.coords else {}
    lat = da["lat"].attrs if "lat" in da.coords else {}
    if res is None:
        res = lon.get("rastertools_resolution")
    if origin is None and "rastertools_west" in lon:
        origin = (lon["rastertools_west"], lat.get("rastertools_north", 90.0))
    return Grid.read(grid, res=res, origin=origin, convention=convention)


def _from_grid_form(da, g: Grid, band, res, origin, what):
    """The pixels of grid ``g`` taken from an array on (band, lat, lon); warns about values in
    cells that hold no pixel (they are not written)."""
    lattice = g.lattice if res is None else Lattice(res, *(origin or (g.lattice.west,
                                                                     g.lattice.north)))
    ilat = _cell_index(da["lat"].values, lattice, "lat", what)[g.rows]
    ilon = _cell_index(da["lon"].values, lattice, "lon", what)[g.cols]
    missing = (ilat < 0) | (ilon < 0)
    if missing.any():
        p = int(np.argmax(missing))
        raise GridError(f"{what}: the cell of pixel {p} (lon {g.record_lon[p]:.2f}, lat "
                        f"{g.record_lat[p]:.2f}) of grid file {g.path} is not in its lat/lon "
                        "coordinates")
    pixels = da.isel(lat=xr.DataArray(ilat, dims="pixel"), lon=xr.DataArray(ilon, dims="pixel"))
    dims = (band, "lat", "lon") if band else ("lat", "lon")
    outside = np.ones((da.sizes["lat"], da.sizes["lon"]), dtype=bool)
    outside[ilat, ilon] = False
    outside = xr.DataArray(outside, dims=("lat", "lon"))
    dropped = int((da.transpose(*dims).notnull() & outside).sum())
    if dropped:
        warnings.warn(f"{what}: {dropped} values lie in cells that hold no pixel of grid file "
                      f"{g.path} and are not written", RasterWarning, stacklevel=3)
    return pixels.drop_vars([c for c in ("lat", "lon") if c in pixels.coords])


def _is_dates(coord) -> bool:
    return np.issubdtype(coord.dtype, np.datetime64) or (
        coord.dtype == object and coord.size > 0 and hasattr(coord.values[0], "calendar"))


def _time_axis(da, band, first_year, bands_per_year, calendar, what):
    """(first_year, bands_per_year, calendar) of a time axis that follows the suite's band
    layout exactly (each band at the middle of its period, from a year's first band); refuses
    dates that do not. Unless given, the first year is that of the first date, and the bands per
    year the recorded count, or the dates of the first year, or 12, 4, 2 or 1."""
    times = da[band].values
    enc = da[band].encoding
    if calendar is None:
        calendar = enc.get("calendar") or getattr(times[0], "calendar", None) \
            or timeaxis.DEFAULT_CALENDAR
    calendar = timeaxis.parse_calendar(calendar)
    cftime = hasattr(times[0], "year")
    years = np.array([t.year for t in times]) if cftime else \
        np.asarray(times, dtype="datetime64[Y]").astype(np.int64) + 1970
    first_year = int(first_year if first_year is not None else years[0])
    timeaxis.check_calendar_years(calendar, first_year)
    tries = [bands_per_year] if bands_per_year is not None else list(dict.fromkeys(
        [enc.get("rastertools_bands_per_year") or int((years == years[0]).sum()), 12, 4, 2, 1]))
    days = timeaxis.encode(times, first_year, calendar)
    for per_year in tries:
        _, mid, _ = timeaxis.band_times(calendar, first_year, per_year, len(times))
        off = np.abs(days - mid) > 1e-6
        if not off.any():
            return first_year, per_year, calendar
    p = int(np.argmax(off))
    raise timeaxis.TimeAxisError(
        f"{what}: its time axis does not follow {' or '.join(map(str, tries))} band(s) a year "
        f"from {first_year} in the {calendar} calendar (step {p} is {times[p]}, not the middle "
        "of its band); a raw file starts at a year's first band: give first_year= and "
        "bands_per_year=, or a band dimension")


def _float32(block: np.ndarray, allow_rounding: bool, first_band: int, what: str):
    """The block as little-endian float32 and the number of values rounded; refuses values that
    overflow, and values that float32 does not hold exactly unless rounding is allowed."""
    if block.dtype == FLOAT32 or block.dtype == np.float32:
        return block.astype(FLOAT32, copy=False), 0
    if not (np.issubdtype(block.dtype, np.floating) or np.issubdtype(block.dtype, np.integer)
            or block.dtype == bool):
        raise RawFileError(f"{what}: values of type {block.dtype} are not numbers a raw file "
                           "holds (float32)")
    wide = block.astype(np.longdouble) if np.issubdtype(block.dtype, np.integer) else block
    with np.errstate(over="ignore", invalid="ignore"):
        f32 = wide.astype(FLOAT32)
        back = f32.astype(wide.dtype)
    nan = np.isnan(wide) if np.issubdtype(wide.dtype, np.floating) else False
    overflow = np.isfinite(wide) & ~np.isfinite(f32)
    inexact = ~((back == wide) | nan) & ~overflow
    for bad, text in ((overflow, "lie beyond the float32 range"),
                      (inexact if not allow_rounding else np.zeros(0, bool),
                       "are not exactly float32 (give allow_rounding=True to round them to the "
                       "nearest float32)")):
        if bad.any():
            b, p = np.unravel_index(int(np.argmax(bad)), bad.shape)
            raise RawFileError(f"{what}: {int(bad.sum())} value(s) {text}; the first, "
                               f"{wide[b, p]!r}, in band {first_band + b}, pixel {p}")
    return f32, int(inexact.sum())


def write_raw(obj, path, *, grid=None, grid_out=None, res=None, origin=None, convention=None,
              bands_per_year=None, first_year=None, calendar=None, variable=None, units=None,
              long_name=None, allow_rounding=False) -> Written:
    """Writes ``obj`` as a raw file PATH (float32 LE, band after band), its sidecar PATH.hdr and,
    unless ``grid`` names an existing grid file, a grid file (``grid_out``, default
    NAME.grid.bin). ``obj`` is a DataArray on (band or time, pixel) with lon/lat cell centres,
    or on (band or time, lat, lon) together with ``grid``. Refuses pixels off a regular grid or
    sharing a cell, outputs that are devices, pipes or inputs, values that are not float32
    (unless ``allow_rounding``), and a time axis that is not the suite's. Every file is written
    under a temporary name and renamed when complete."""
    path = os.fspath(path)
    da = _as_array(obj)
    what = f"'{da.name}'" if da.name is not None else "the array"
    if sidecar_path(path) == path:
        raise OutputError(f"cannot write {path}: a raw file needs a name whose sidecar is "
                          "another file (NAME.bin)")
    gridded = "pixel" not in da.dims and {"lat", "lon"} <= set(da.dims)
    if "pixel" not in da.dims and not gridded:
        raise RawFileError(f"{what} has neither a pixel dimension nor lat and lon dimensions")
    band = _band_dim(da, ("lat", "lon") if gridded else ("pixel",))
    convention = None if convention is None else parse_convention(convention)
    source = da.encoding.get("source")
    inputs = [source, source and sidecar_path(source)]

    if gridded:
        if grid is None:
            raise RawFileError(f"{what} is on a lat/lon grid: give grid= the grid file of the "
                               "pixels to write")
        g = _grid_input(grid, da, res, origin, convention)
        da = _from_grid_form(da, g, band, res, origin, what)
    elif grid is not None:
        g = _grid_input(grid, da, res, origin, convention)
        if g.npixel != da.sizes["pixel"]:
            raise RawFileError(f"grid file {g.path} has {g.npixel} pixels, {what} "
                               f"{da.sizes['pixel']}")
        if "lon" in da.coords and "lat" in da.coords:
            _, cells = pixel_cells(da, g.lattice.res, (g.lattice.west, g.lattice.north), what)
            away = cells != g.rows * g.lattice.nlon + g.cols
            if away.any():
                p = int(np.argmax(away))
                raise GridError(f"{what}: pixel {p} (lon {da['lon'].values[p]:.6g}, lat "
                                f"{da['lat'].values[p]:.6g}) is not in the cell where grid file "
                                f"{g.path} puts its pixel {p}")
    else:
        lattice, cells = pixel_cells(da, res, origin, what)
        convention = convention or da["lat"].attrs.get("rastertools_convention", "northedge")
        g = da.encoding.get("rastertools_grid")
        same = (isinstance(g, Grid) and g.npixel == len(cells) and g.lattice == lattice
                and g.convention == convention
                and np.array_equal(g.rows * lattice.nlon + g.cols, cells))
        if not same:
            g = Grid.from_centres(da["lon"].values, da["lat"].values, lattice, convention)
        g = Grid(g.records, lattice, convention)  # written, not referenced
    g.cells()
    if g.path is not None:
        inputs.append(g.path)

    time_axis = None
    if band is not None and band in da.coords and _is_dates(da[band]):
        time_axis = _time_axis(da, band, first_year, bands_per_year, calendar, what)
    elif first_year is not None and bands_per_year is None:
        raise RawFileError(f"a first year ({first_year}) needs bands_per_year")
    elif first_year is not None:
        time_axis = (first_year, bands_per_year, timeaxis.parse_calendar(
            calendar or timeaxis.DEFAULT_CALENDAR))

    if variable is not None and not valid_variable(variable):
        raise RawFileError(f"variable name '{variable}' is not a usable NetCDF name (letters, "
                           "digits, _ . -; not lat, lon, time, band)")
    if variable is None and valid_variable(da.name):
        variable = da.name
    elif variable is None and da.name is not None:
        warnings.warn(f"the name {what} is not a usable NetCDF variable name and is not written "
                      "to the sidecar", RasterWarning, stacklevel=2)

    grid_path = g.path
    outputs = [path, sidecar_path(path)]
    if grid_path is None:
        grid_path = os.fspath(grid_out) if grid_out is not None else default_grid_out(path)
        outputs.append(grid_path)
    if len({os.path.normpath(o) for o in outputs}) != len(outputs):
        raise OutputError(f"the outputs {outputs} name one file twice")
    for o in outputs:
        check_output(o, [i for i in inputs if i])

    values = da.transpose(*((band,) if band else ()), "pixel").data
    if band is None:
        values = values[None, :]
    nbands, npixel = values.shape
    if npixel == 0 or nbands == 0:
        raise RawFileError(f"{what} holds no values")
    step = _band_chunks(npixel, "auto")
    rounded = 0
    with AtomicFile(path) as raw:
        for b0 in range(0, nbands, step):
            block = np.asarray(values[b0:b0 + step])
            f32, n = _float32(block, allow_rounding, b0, what)
            rounded += n
            raw.write(f32.tobytes())
        if rounded:
            warnings.warn(f"{what}: {rounded} value(s) rounded to the nearest float32",
                          RasterWarning, stacklevel=2)
        if g.path is None:
            g.write(grid_path)
        lattice = g.lattice
        sc = Sidecar(samples=npixel, bands=nbands,
                     grid_file=grid_file_for_sidecar(path, grid_path), resolution=lattice.res,
                     origin=None if lattice.is_default else (lattice.west, lattice.north),
                     convention=g.convention, variable=variable,
                     units=units if units is not None else da.attrs.get("units"),
                     long_name=long_name if long_name is not None else da.attrs.get("long_name"))
        if time_axis is not None:
            sc.first_year, sc.bands_per_year, sc.calendar = time_axis
        elif bands_per_year is not None:
            sc.bands_per_year = bands_per_year
        sidecar_bytes = format_sidecar(sc).encode()
        with AtomicFile(sidecar_path(path)) as side:
            side.write(sidecar_bytes)
    return Written(path, sidecar_path(path), grid_path)
