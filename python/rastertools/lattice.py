"""Grid files and their place on a regular longitude/latitude lattice.

A grid file holds one record per pixel: longitude * 100, then latitude * 100, each a
little-endian int16. A lattice is (res, west, north): ``west`` is the western edge of column 0
(the column that holds longitude -180), ``north`` the northern edge of row 0 (the row that holds
latitude 90). Columns run east, rows run south. A record's latitude is the cell centre
(``centre``) or the cell's northern edge (``northedge``). This is the placement that
``rastertools export``, ``import``, ``map`` and ``info`` use.
"""

from __future__ import annotations

import math
import os
import stat
from dataclasses import dataclass
from fractions import Fraction

import numpy as np

# Records hold hundredths of a degree, so a coordinate on a 1/12 or 1/6 degree line is off by up
# to 1/300 degree; 0.005 accepts that and nothing a neighbouring line could claim.
TOLERANCE = 0.005 + 1e-9
# Resolutions tried, largest first, when a grid does not say which it is.
CANDIDATES = (2.0, 1.0, 0.5, 0.25, 1.0 / 6.0, 1.0 / 12.0)
CONVENTIONS = ("centre", "northedge")
# Largest denominator written as a fraction (arc-second grids are 1/3600).
MAX_DENOMINATOR = 3600


class GridError(ValueError):
    """A grid file or coordinates that cannot be placed on a lattice."""


def lround(x):
    """C's lround (halves away from zero), exact for every double, on arrays."""
    x = np.asarray(x, dtype=np.float64)
    whole = np.trunc(x)
    up = np.abs(x - whole) >= 0.5
    return (whole + np.where(up, np.sign(x), 0.0)).astype(np.int64)


def parse_convention(text: str) -> str:
    t = str(text).strip().lower()
    if t in ("centre", "center"):
        return "centre"
    if t == "northedge":
        return "northedge"
    raise GridError(f"unknown grid convention '{text}': give centre or northedge")


def shortest_decimal(x: float) -> str:
    """The shortest decimal that reads back as the same double, without an exponent where a
    plain number is as short (90, not 9e+01)."""
    t = repr(float(x))
    return t[:-2] if t.endswith(".0") else t


def exact_fraction(x: float) -> Fraction | None:
    """P/Q with a small Q whose double is exactly x, for values no short decimal writes."""
    for q in range(1, MAX_DENOMINATOR + 1):
        p = round(x * q)
        if p != 0 and p / q == x:
            return Fraction(p, q)
    return None


def format_degrees(x: float) -> str:
    """A decimal when a short one is exact (0.5, 2, -180.5), else P/Q (1/12, 2/3)."""
    d = shortest_decimal(x)
    digits = len(d.split("e")[0].replace("-", "").replace(".", "").lstrip("0"))
    if digits <= 8:
        return d
    f = exact_fraction(x)
    return f"{f.numerator}/{f.denominator}" if f is not None else d


def parse_degrees(text: str) -> float:
    """A number such as 0.5, 2 or 1/12 (what the sidecar and the command lines accept)."""
    t = str(text).strip()
    num, slash, den = t.partition("/")
    try:
        value = float(num) / (float(den) if slash else 1.0)
    except (ValueError, ZeroDivisionError):
        raise GridError(f"'{text}' is not a number of degrees such as 0.5, 2 or 1/12") from None
    if not math.isfinite(value):
        raise GridError(f"'{text}' is not a finite number of degrees")
    return value


def snap_resolution(res: float, tolerance: float = 1e-4) -> float:
    """The fraction with the smallest denominator near ``res`` (float coordinates of 1/12
    degree cells differ by 0.0833333...), else ``res`` itself."""
    for q in range(1, MAX_DENOMINATOR + 1):
        p = round(res * q)
        if p > 0 and abs(p / q - res) <= tolerance:
            return p / q
    return res


@dataclass(frozen=True)
class Lattice:
    """A regular, cell-centred lattice of ``res`` degrees with origin (west, north)."""

    res: float
    west: float = -180.0
    north: float = 90.0

    def __post_init__(self):
        res = float(self.res)
        if not (0 < res <= 180):
            raise GridError(f"resolution {self.res} is not a number of degrees in (0, 180]")
        west = -180.0 - _residue(-180.0 - float(self.west), res)
        north = 90.0 + _residue(float(self.north) - 90.0, res)
        object.__setattr__(self, "res", res)
        object.__setattr__(self, "west", west)
        object.__setattr__(self, "north", north)

    @property
    def is_default(self) -> bool:
        return self.west == -180.0 and self.north == 90.0

    @property
    def nlon(self) -> int:
        return int(lround(360.0 / self.res))

    @property
    def nlat(self) -> int:
        # Rows from row 0 southwards whose centre lies north of the south pole.
        k = (self.north + 90.0) / self.res - 0.5
        n = round(k)
        return int(n if abs(k - n) < 1e-9 else math.ceil(k))

    def lon_centres(self) -> np.ndarray:
        return self.west + (np.arange(self.nlon) + 0.5) * self.res

    def lat_centres(self) -> np.ndarray:
        return self.north - (np.arange(self.nlat) + 0.5) * self.res

    def columns(self, lon) -> np.ndarray:
        # The longitude wrapped into [west, west + 360), as an offset from west.
        east = np.mod(np.asarray(lon, dtype=np.float64) - self.west, 360.0)
        return lround(east / self.res - 0.5)

    def rows(self, lat, convention: str = "centre") -> np.ndarray:
        shift = 0.5 if convention == "centre" else 0.0
        return lround((self.north - np.asarray(lat, dtype=np.float64)) / self.res - shift)

    def misfits(self, lon, lat, convention: str) -> np.ndarray:
        """Whether each point lies more than the tolerance off the line the lattice puts it on."""
        return self.lon_misfits(lon) | self.lat_misfits(lat, convention)

    def lon_misfits(self, lon) -> np.ndarray:
        lon = np.asarray(lon, dtype=np.float64)
        at = self.west + (self.columns(lon) + 0.5) * self.res
        # Compared on the circle: a longitude may be written 360 degrees from its column.
        return np.abs(np.mod(lon - at + 180.0, 360.0) - 180.0) > TOLERANCE

    def lat_misfits(self, lat, convention: str) -> np.ndarray:
        lat = np.asarray(lat, dtype=np.float64)
        shift = 0.5 if convention == "centre" else 0.0
        at = self.north - (self.rows(lat, convention) + shift) * self.res
        return np.abs(lat - at) > TOLERANCE

    def origin_text(self) -> str:
        return f"{format_degrees(self.west)} {format_degrees(self.north)}"


def _residue(x: float, res: float) -> float:
    """x modulo res in [0, res), with residues within rounding of res taken as 0."""
    r = math.fmod(x, res)
    if r < 0:
        r += res
    return 0.0 if r < 1e-9 * max(1.0, res) or res - r < 1e-9 * max(1.0, res) else r


def parse_origin(text: str) -> tuple[float, float]:
    parts = str(text).split()
    if len(parts) != 2:
        raise GridError(f"lattice origin '{text}' is not 'WEST NORTH'")
    return parse_degrees(parts[0]), parse_degrees(parts[1])


# ---- grid files ----


def read_records(path) -> np.ndarray:
    """The (npixel, 2) int16 records of a grid file; GridError names the file when it is
    missing, not a regular file, empty, or not whole 4-byte records."""
    path = os.fspath(path)
    try:
        st = os.stat(path)
    except OSError as e:
        raise OSError(e.errno, f"cannot open grid file {path}: {e.strerror}") from None
    if not stat.S_ISREG(st.st_mode):
        raise GridError(f"grid file {path} is not a regular file")
    if st.st_size == 0:
        raise GridError(f"grid file {path} is empty")
    if st.st_size % 4:
        raise GridError(
            f"grid file {path} has {st.st_size} bytes, not a whole number of 4-byte records")
    return np.fromfile(path, dtype="<i2").reshape(-1, 2).astype(np.int16)


def _pixel_text(p: int, lon: float, lat: float) -> str:
    return f"pixel {p} (lon {lon:.2f}, lat {lat:.2f})"


def _on_lines(x, offset, res) -> np.ndarray:
    k = (np.asarray(x, dtype=np.float64) - offset) / res
    return np.abs(k - lround(k)) * res <= TOLERANCE


def infer_resolution(lon, west: float = -180.0) -> float | None:
    """The largest candidate resolution on whose cell centres every longitude lies."""
    lon = np.asarray(lon, dtype=np.float64)
    for res in CANDIDATES:
        if lon.size and _on_lines(lon, Lattice(res, west).west + res / 2, res).all():
            return res
    return None


def infer_convention(lon, lat, lattice: Lattice, where: str) -> str:
    """centre when every latitude lies on a cell centre, northedge when every one lies on a
    cell edge; GridError naming ``where`` and the first pixel that breaks pixel 0's pattern."""
    lat = np.asarray(lat, dtype=np.float64)
    centre = _on_lines(lat, lattice.north - lattice.res / 2, lattice.res)
    edge = _on_lines(lat, lattice.north, lattice.res)
    kind = np.where(centre, 0, np.where(edge, 1, -1))
    if kind[0] >= 0 and (kind == kind[0]).all():
        return CONVENTIONS[kind[0]]
    p = 0 if kind[0] < 0 else int(np.argmax(kind != kind[0]))
    what = ("fits the other convention than pixel 0" if kind[p] >= 0
            else "lies neither on a cell centre nor on a cell edge")
    raise GridError(f"{where}: the latitude of {_pixel_text(p, lon[p], lat[p])} {what} of a "
                    f"{format_degrees(lattice.res)} degree grid; give convention=")


class Grid:
    """A grid's records placed on a lattice: each pixel's row and column."""

    def __init__(self, records, lattice: Lattice, convention: str, path: str | None = None):
        self.records = np.asarray(records, dtype=np.int16).reshape(-1, 2)
        self.lattice = lattice
        self.convention = parse_convention(convention)
        self.path = path
        name = f"grid file {path}" if path else "grid"
        lon, lat = self.record_lon, self.record_lat
        of_grid = f"{format_degrees(lattice.res)} degree grid" + (
            "" if lattice.is_default else f" with origin {lattice.origin_text()}")
        for what, bad in (("longitude", lattice.lon_misfits(lon)),
                          ("latitude", lattice.lat_misfits(lat, self.convention))):
            if bad.any():
                p = int(np.argmax(bad))
                line = "a cell centre" if what == "longitude" or self.convention == "centre" \
                    else "a northern cell edge"
                raise GridError(f"{name}: the {what} of {_pixel_text(p, lon[p], lat[p])} is not "
                                f"{line} of a {of_grid}")
        self.cols = lattice.columns(lon)
        self.rows = lattice.rows(lat, self.convention)

    @classmethod
    def read(cls, path, res=None, origin=None, convention=None) -> "Grid":
        """Reads a grid file; the resolution and convention are inferred unless given."""
        path = os.fspath(path)
        records = read_records(path)
        west, north = origin if origin is not None else (-180.0, 90.0)
        lon = records[:, 0] / 100.0
        if res is None:
            res = infer_resolution(lon, west)
            if res is None:
                raise GridError(
                    f"grid file {path}: its longitudes fit none of the resolutions 2, 1, 0.5, "
                    "0.25, 1/6, 1/12 degrees; give res=")
        lattice = Lattice(res, west, north)
        if convention is None:
            convention = infer_convention(lon, records[:, 1] / 100.0, lattice,
                                          f"grid file {path}")
        return cls(records, lattice, convention, path)

    @classmethod
    def from_centres(cls, lon, lat, lattice: Lattice, convention: str) -> "Grid":
        """Records for pixels at cell centres (longitudes wrapped into [-180, 180)), as import
        writes them."""
        convention = parse_convention(convention)
        lon = np.asarray(lon, dtype=np.float64)
        lat = np.asarray(lat, dtype=np.float64)
        inside = (lon >= -180.0) & (lon < 180.0)
        wrapped = np.where(inside, lon, np.mod(lon + 180.0, 360.0) - 180.0)
        lon100 = lround(wrapped * 100.0)
        lon100 = np.where(lon100 >= 18000, lon100 - 36000, lon100)
        lat100 = lround((lat + (lattice.res / 2 if convention == "northedge" else 0.0)) * 100.0)
        if np.abs(lat100).max(initial=0) > 32767:
            raise GridError("a latitude does not fit a grid record (int16 hundredths)")
        return cls(np.stack([lon100, lat100], axis=1), lattice, convention)

    @property
    def npixel(self) -> int:
        return len(self.records)

    @property
    def record_lon(self) -> np.ndarray:
        return self.records[:, 0] / 100.0

    @property
    def record_lat(self) -> np.ndarray:
        return self.records[:, 1] / 100.0

    def lon_centres(self) -> np.ndarray:
        return self.lattice.west + (self.cols + 0.5) * self.lattice.res

    def lat_centres(self) -> np.ndarray:
        return self.lattice.north - (self.rows + 0.5) * self.lattice.res

    def cells(self) -> np.ndarray:
        """Each pixel's cell row * nlon + col; GridError for pixels off the globe or sharing a
        cell (the first of each named)."""
        return checked_cells(self.rows, self.cols, self.lattice, self.record_lon, self.record_lat,
                             f"grid file {self.path}" if self.path else "grid")

    def write(self, path) -> None:
        from .outputs import atomic_write

        atomic_write(os.fspath(path), self.records.astype("<i2").tobytes())


def checked_cells(rows, cols, lattice: Lattice, lon, lat, name: str) -> np.ndarray:
    off = (cols < 0) | (cols >= lattice.nlon) | (rows < 0) | (rows >= lattice.nlat)
    if off.any():
        p = int(np.argmax(off))
        raise GridError(f"{name}: {int(off.sum())} pixel(s) fall off the globe, the first "
                        f"{_pixel_text(p, lon[p], lat[p])}")
    cells = rows * lattice.nlon + cols
    order = np.argsort(cells, kind="stable")
    dup = np.zeros(len(cells), dtype=bool)
    dup[order[1:]] = cells[order[1:]] == cells[order[:-1]]
    if dup.any():
        p = int(np.argmax(dup))
        first = int(np.argmax(cells == cells[p]))
        raise GridError(f"{name}: {int(dup.sum())} pixel(s) share a cell with an earlier pixel, "
                        f"the first {_pixel_text(p, lon[p], lat[p])} with pixel {first}")
    return cells
