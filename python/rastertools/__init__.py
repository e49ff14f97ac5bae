"""rastertools in Python: the suite's raw raster files as xarray objects, and its commands.

    import rastertools as rt
    da = rt.open_raw("tas.bin")                  # (time, pixel), grid and years from tas.hdr
    g = da.rastertools.to_grid()                 # (time, lat, lon), as `rastertools export`
    rt.write_raw(da - 273.15, "tas_c.bin")       # raw file, grid file and sidecar
    ds = rt.open_change("out/", grid="grid.bin") # corvane's or `change`'s eight outputs
    rt.tools.export("tas.bin", "tas.nc")         # the suite's commands

``xr.open_dataset("tas.bin", engine="rastertools")`` opens raw files and change folders too.
"""

from . import accessor, tools  # accessor registers da.rastertools
from .change import open_change
from .lattice import Grid, GridError, Lattice
from .outputs import OutputError
from .raw import (RasterWarning, RawFileError, Written, open_raw, place_on_grid,
                  write_raw)
from .sidecar import Sidecar, SidecarError, format_sidecar, parse_sidecar, read_sidecar
from .timeaxis import TimeAxisError
from .tools import ToolError, ToolWarning

to_grid = place_on_grid
try:
    from importlib.metadata import version as _version

    __version__ = _version("rastertools")
except Exception:  # metadata missing: a copy of the package without its .dist-info
    __version__ = "unknown"

__all__ = ["accessor", "open_raw", "to_grid", "write_raw", "open_change", "tools", "Grid", "Lattice",
           "Sidecar", "read_sidecar", "parse_sidecar", "format_sidecar", "Written",
           "GridError", "RawFileError", "SidecarError", "OutputError", "TimeAxisError",
           "ToolError", "ToolWarning", "RasterWarning"]
