"""The xarray backend: ``xr.open_dataset("x.bin", engine="rastertools")`` opens a raw file with
its sidecar, and a change output folder as one Dataset."""

from __future__ import annotations

import os

from xarray.backends import BackendEntrypoint
from xarray.core import indexing

from .change import NAMES, open_change
from .raw import RawBands, build_array, describe, place_on_grid
from .sidecar import sidecar_path

_OPTIONS = ("npixel", "grid", "res", "origin", "convention", "bands_per_year", "first_year",
            "calendar", "name", "units", "long_name")


class RastertoolsBackendEntrypoint(BackendEntrypoint):
    description = "Raw raster files of rastertools (float32 bands with an ENVI sidecar and grid)"
    open_dataset_parameters = ("filename_or_obj", "drop_variables", *_OPTIONS, "to_grid")

    def open_dataset(self, filename_or_obj, *, drop_variables=None, npixel=None, grid=None,
                     res=None, origin=None, convention=None, bands_per_year=None,
                     first_year=None, calendar=None, name=None, units=None, long_name=None,
                     to_grid=False):
        path = os.fspath(filename_or_obj)
        if os.path.isdir(path):
            ds = open_change(path, grid=grid, npixel=npixel, res=res, origin=origin,
                             convention=convention, first_year=first_year, calendar=calendar,
                             chunks=None, to_grid=to_grid)
        else:
            info = describe(path, npixel=npixel, grid=grid, res=res, origin=origin,
                            convention=convention, bands_per_year=bands_per_year,
                            first_year=first_year, calendar=calendar, name=name, units=units,
                            long_name=long_name)
            # Lazy: xarray reads what is indexed, and chunks it with dask when asked to.
            data = indexing.LazilyIndexedArray(RawBands(info.path, info.nbands, info.npixel))
            da = build_array(info, data)
            ds = (place_on_grid(da) if to_grid else da).to_dataset()
        if drop_variables:
            ds = ds.drop_vars(drop_variables, errors="ignore")
        return ds

    def guess_can_open(self, filename_or_obj) -> bool:
        try:
            path = os.fspath(filename_or_obj)
        except TypeError:
            return False
        if os.path.isdir(path):
            return all(os.path.exists(os.path.join(path, n + ".bin")) for n in NAMES)
        return path.endswith(".bin") and os.path.exists(sidecar_path(path))
