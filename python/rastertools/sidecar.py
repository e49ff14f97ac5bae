"""The sidecar of a raw raster file: an ENVI header NAME.hdr beside NAME.bin, with the suite's
optional ``rastertools ...`` keys (grid file, resolution, lattice origin, convention, time axis,
calendar, variable). Read and written in the layout of the C++ tools."""

from __future__ import annotations

import os
import re
from dataclasses import dataclass, field

from .lattice import format_degrees, parse_convention, parse_degrees, parse_origin
from .timeaxis import parse_calendar


class SidecarError(ValueError):
    """A sidecar that is not an ENVI header the suite reads."""


@dataclass
class Sidecar:
    samples: int = 0  # npixel
    lines: int = 1
    bands: int = 0
    header_offset: int = 0
    data_type: int = 4  # float32
    interleave: str = "bsq"
    byte_order: int = 0  # little-endian
    description: str = "rastertools raster file"
    grid_file: str | None = None  # as written: relative to the header's folder, or absolute
    resolution: float | None = None
    origin: tuple[float, float] | None = None  # (west, north); None is the default -180 90
    convention: str | None = None
    bands_per_year: int | None = None
    first_year: int | None = None
    calendar: str | None = None
    variable: str | None = None
    units: str | None = None
    long_name: str | None = None
    unknown: dict = field(default_factory=dict)  # keys this reader does not know


def sidecar_path(raw_path) -> str:
    """NAME.hdr for NAME.EXT (the last extension replaced), NAME.hdr for NAME."""
    root, ext = os.path.splitext(os.fspath(raw_path))
    return root + ".hdr"


def _fields(text: str, path: str) -> dict[str, str]:
    lines = text.split("\n")
    if not lines or lines[0].strip() != "ENVI":
        raise SidecarError(f"sidecar {path} is not an ENVI header (its first line is not 'ENVI')")
    fields: dict[str, str] = {}
    i = 1
    while i < len(lines):
        line = lines[i]
        i += 1
        if not line.strip():
            continue
        key, eq, value = line.partition("=")
        if not eq:
            raise SidecarError(f"sidecar {path}: line '{line.strip()}' is not 'key = value'")
        key = re.sub(" +", " ", key.strip().lower())
        value = value.strip()
        if value.startswith("{"):
            while "}" not in value and i < len(lines):
                value += "\n" + lines[i]
                i += 1
            if "}" not in value:
                raise SidecarError(f"sidecar {path}: the value of '{key}' has no closing '}}'")
            value = value[1:value.index("}")].strip()
        fields[key] = value
    return fields


def _int(v: str, key: str, path: str) -> int:
    if not re.fullmatch(r"-?[0-9]+", v):
        raise SidecarError(f"sidecar {path}: '{key}' is not a whole number: '{v}'")
    return int(v)


_KNOWN = {"description", "samples", "lines", "bands", "header offset", "data type", "interleave",
          "byte order", "file type"}


def parse_sidecar(text: str, path: str = "sidecar") -> Sidecar:
    f = _fields(text, path)
    s = Sidecar()
    if "description" in f:
        s.description = f["description"]
    for key, attr in (("samples", "samples"), ("lines", "lines"), ("bands", "bands"),
                      ("header offset", "header_offset"), ("data type", "data_type"),
                      ("byte order", "byte_order")):
        if key in f:
            setattr(s, attr, _int(f[key], key, path))
    if "interleave" in f:
        s.interleave = f["interleave"].lower()
    if s.data_type != 4 or s.byte_order != 0 or s.header_offset != 0 or s.lines != 1:
        raise SidecarError(f"sidecar {path} describes a layout other than the suite's (float32 "
                           "little-endian, one line, no header offset)")
    if s.interleave != "bsq":
        raise SidecarError(f"sidecar {path}: interleave is not bsq")

    def get(key):
        return f.get("rastertools " + key)

    try:
        if get("grid file") is not None:
            s.grid_file = get("grid file")
        if get("resolution") is not None:
            s.resolution = parse_degrees(get("resolution"))
            if not s.resolution > 0:
                raise ValueError(f"'rastertools resolution' is not a positive number: "
                                 f"'{get('resolution')}'")
        if get("lattice origin") is not None:
            s.origin = parse_origin(get("lattice origin"))
        if get("grid convention") is not None:
            s.convention = parse_convention(get("grid convention"))
        if get("calendar") is not None:
            s.calendar = parse_calendar(get("calendar"))
    except ValueError as e:
        raise SidecarError(f"sidecar {path}: {e}") from None
    for key, attr in (("bands per year", "bands_per_year"), ("first year", "first_year")):
        if get(key) is not None:
            setattr(s, attr, _int(get(key), "rastertools " + key, path))
    s.variable, s.units, s.long_name = get("variable"), get("units"), get("long name")
    known = _KNOWN | {"rastertools " + k for k in (
        "grid file", "resolution", "lattice origin", "grid convention", "calendar",
        "bands per year", "first year", "variable", "units", "long name")}
    s.unknown = {k: v for k, v in f.items() if k not in known}
    return s


def format_sidecar(s: Sidecar) -> str:
    """The header text in the suite's layout (the rastertools keys only when set)."""
    out = ["ENVI",
           f"description = {{{s.description}}}",
           f"samples = {s.samples}",
           f"lines = {s.lines}",
           f"bands = {s.bands}",
           f"header offset = {s.header_offset}",
           "file type = ENVI Standard",
           f"data type = {s.data_type}",
           f"interleave = {s.interleave}",
           f"byte order = {s.byte_order}"]
    optional = [
        ("grid file", s.grid_file),
        ("resolution", None if s.resolution is None else format_degrees(s.resolution)),
        ("lattice origin", None if s.origin in (None, (-180.0, 90.0)) else
         f"{format_degrees(s.origin[0])} {format_degrees(s.origin[1])}"),
        ("grid convention", s.convention),
        ("bands per year", s.bands_per_year),
        ("first year", s.first_year),
        ("calendar", s.calendar),
        ("variable", s.variable),
        ("units", s.units),
        ("long name", s.long_name),
    ]
    out += [f"rastertools {k} = {v}" for k, v in optional if v is not None]
    return "\n".join(out) + "\n"


def read_sidecar(raw_path) -> Sidecar | None:
    """The sidecar of ``raw_path``, or None when there is none."""
    path = sidecar_path(raw_path)
    if path == os.fspath(raw_path) or not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        text = f.read().decode("utf-8", errors="replace")
    return parse_sidecar(text, path)


def grid_path_from_sidecar(raw_path, grid_file: str) -> str:
    """The grid file a sidecar names, as a path usable from the working folder."""
    if os.path.isabs(grid_file):
        return grid_file
    folder = os.path.dirname(sidecar_path(raw_path))
    return os.path.normpath(os.path.join(folder, grid_file)) if folder else grid_file


def grid_file_for_sidecar(raw_path, grid_path) -> str:
    """The name to write for ``grid_path`` into the sidecar of ``raw_path``: relative to the
    header's folder when the grid was given as a relative path, as given when absolute."""
    grid_path = os.fspath(grid_path)
    if os.path.isabs(grid_path):
        return grid_path
    folder = os.path.dirname(sidecar_path(raw_path)) or "."
    return os.path.relpath(os.path.normpath(grid_path), os.path.normpath(folder))
