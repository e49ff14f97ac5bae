"""``da.rastertools.to_grid()`` and ``da.rastertools.write(path)`` on xarray objects."""

from __future__ import annotations

import xarray as xr

from .raw import Written, place_on_grid, write_raw


@xr.register_dataarray_accessor("rastertools")
class RasterArrayAccessor:
    def __init__(self, obj: xr.DataArray):
        self._obj = obj

    def to_grid(self, **kwargs) -> xr.DataArray:
        """The pixels on the full regular grid (see rastertools.to_grid)."""
        return place_on_grid(self._obj, **kwargs)

    def write(self, path, **kwargs) -> Written:
        """Writes a raw file with grid file and sidecar (see rastertools.write_raw)."""
        return write_raw(self._obj, path, **kwargs)


@xr.register_dataset_accessor("rastertools")
class RasterDatasetAccessor:
    def __init__(self, obj: xr.Dataset):
        self._obj = obj

    def to_grid(self, **kwargs) -> xr.Dataset:
        """Every variable on pixels placed on the full regular grid."""
        return place_on_grid(self._obj, **kwargs)
