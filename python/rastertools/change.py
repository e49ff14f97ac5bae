"""The eight outputs of a change run (``corvane``, or ``rastertools change``) in one folder as one
Dataset: raw files NAME.bin with their sidecars (or a grid given here, for corvane's own outputs,
which have none), or the NetCDF files NAME.nc that ``change`` writes by default."""

from __future__ import annotations

import os

import xarray as xr

from .raw import RawFileError, open_raw, place_on_grid

# The outputs in corvane's order (ofile1 .. ofile8), with what their bands hold.
NAMES = ("angle", "magnitude", "angle_series", "magnitude_series", "angle_global",
         "magnitude_global", "angle_series_global", "magnitude_series_global")
COMPONENTS = ("future_percent_of_reference", "difference_length", "future_length",
              "reference_length")
_LONG_NAMES = {
    "angle": "cosine of the angle between the future and the reference vector",
    "magnitude": "magnitude of change",
    "angle_series": "cosine of the angle between each reference year's vector and the "
                    "reference vector",
    "magnitude_series": "length of each reference year's vector",
}
_GLOBAL = " (parameters normalised by their global means)"


def long_name(name: str) -> str:
    base = name.removesuffix("_global")
    return _LONG_NAMES[base] + (_GLOBAL if name.endswith("_global") else "")


def change_files(folder) -> dict[str, str]:
    """NAME -> the file of each output in ``folder`` (NAME.bin before NAME.nc); RawFileError
    naming the outputs that are missing."""
    folder = os.fspath(folder)
    found, missing = {}, []
    for n in NAMES:
        for ext in (".bin", ".nc"):
            p = os.path.join(folder, n + ext)
            if os.path.isfile(p):
                found[n] = p
                break
        else:
            missing.append(n)
    if missing:
        raise RawFileError(f"{folder} is not a change output folder: it lacks "
                           f"{', '.join(m + '.bin' for m in missing)} (or .nc)")
    return found


def _netcdf_variable(path: str, chunks) -> xr.DataArray:
    ds = xr.open_dataset(path, chunks=None if chunks == "auto" else chunks)
    cands = [v for k, v in ds.data_vars.items()
             if {"lat", "lon"} <= set(v.dims) and not k.endswith("_bnds")]
    if len(cands) != 1:
        raise RawFileError(f"{path} holds {len(cands)} gridded variables; a change output "
                           "holds one")
    return cands[0]


def _shape(name: str, da: xr.DataArray, path: str) -> xr.DataArray:
    """The band axis by what the output holds: none for the angle, the four components of the
    magnitude, the years of the series."""
    dim = next(d for d in da.dims if d not in ("pixel", "lat", "lon"))
    n = da.sizes[dim]
    base = name.removesuffix("_global")
    if base == "angle" and n != 1:
        raise RawFileError(f"{path} holds {n} bands; the angle output holds 1")
    if base == "magnitude" and n != 4:
        raise RawFileError(f"{path} holds {n} bands; the magnitude output holds 4")
    if base == "angle":
        da = da.isel({dim: 0}, drop=True)
    elif base == "magnitude":
        da = da.drop_vars(dim, errors="ignore").rename({dim: "component"})
        da = da.assign_coords(component=list(COMPONENTS))
    attrs = dict(da.attrs)
    attrs.setdefault("long_name", long_name(name))
    return da.rename(name).assign_attrs(attrs)


def open_change(folder, *, grid=None, npixel=None, res=None, origin=None, convention=None,
                first_year=None, calendar=None, chunks="auto", to_grid=False) -> xr.Dataset:
    """The eight outputs in ``folder`` as one Dataset: ``angle`` (pixel), ``magnitude``
    (component, pixel), the series (time or band, pixel), and the same with ``_global``. Grid,
    npixel and the series' first year come from the sidecars unless given (corvane writes no
    sidecars: give grid=, and first_year= for dated series). ``to_grid=True`` places every
    output on the full grid (needed for a folder of NetCDF outputs)."""
    files = change_files(folder)
    arrays = {}
    for name, path in files.items():
        if path.endswith(".nc"):
            if not to_grid:
                raise RawFileError(f"{path} is on the full grid (NetCDF): open the folder with "
                                   "to_grid=True")
            da = _netcdf_variable(path, chunks)
        else:
            series = "series" in name
            da = open_raw(path, grid=grid, npixel=npixel, res=res, origin=origin,
                          convention=convention, chunks=chunks, calendar=calendar,
                          first_year=first_year if series else None,
                          bands_per_year=1 if series and first_year is not None else None)
            if to_grid:
                da = place_on_grid(da)
        arrays[name] = _shape(name, da, path)
    _check_same_pixels(arrays, files)
    return xr.Dataset(arrays, attrs={"title": "change between a reference and a future period",
                                     "source": os.fspath(folder)})


def _check_same_pixels(arrays, files) -> None:
    first = arrays[NAMES[0]]
    for name in NAMES[1:]:
        da = arrays[name]
        for c in ("pixel", "lat", "lon"):
            if first.sizes.get(c) != da.sizes.get(c):
                raise RawFileError(f"{files[name]} has {da.sizes.get(c)} {c} where "
                                   f"{files[NAMES[0]]} has {first.sizes.get(c)}")
        for c in ("lon", "lat"):
            if (c in first.coords) != (c in da.coords) or (
                    c in first.coords and not first[c].equals(da[c])):
                raise RawFileError(f"{files[name]} is not on the pixels of {files[NAMES[0]]} "
                                   f"({c} differs)")
    series = [n for n in NAMES if "series" in n]
    dims = {arrays[n].dims[0] for n in series}
    sizes = {arrays[n].shape[0] for n in series}
    coords = [arrays[n][arrays[n].dims[0]] for n in series if arrays[n].dims[0] in arrays[n].coords]
    if len(dims) > 1 or len(sizes) > 1 or any(not c.equals(coords[0]) for c in coords):
        raise RawFileError("the series outputs differ in their time axis: " + ", ".join(
            f"{files[n]} {arrays[n].dims[0]} {arrays[n].shape[0]}" for n in series))
