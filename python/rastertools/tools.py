"""The suite's commands from Python: ``run(name, *args)`` runs ``rastertools NAME ARGS...`` and
raises ToolError (the tool's message and exit status) when it fails; typed functions build the
command lines of the named commands (info, export, import, map) and the positional tools.

The front command ``rastertools`` is looked for in this order: the folder in the environment
variable RASTERTOOLS_BINDIR; the installation this package belongs to; the build tree of the
source checkout (build/bin); PATH. A new named command takes a few lines::

    def climatology(input, output, *, years, sd=False) -> Result:
        return run("climatology", input, *options(output=output, years=years, sd=sd))
"""

from __future__ import annotations

import csv
import io
import numbers
import os
import shutil
import subprocess
import warnings
from dataclasses import dataclass
from typing import Sequence

from .change import NAMES as CHANGE_OUTPUTS


class ToolError(RuntimeError):
    """A command that ended with a non-zero status; ``message`` is what it wrote to stderr."""

    def __init__(self, command: list[str], status: int, stdout: str, stderr: str):
        self.command, self.status, self.stdout, self.stderr = command, status, stdout, stderr
        self.message = stderr.strip()
        super().__init__(f"rastertools {command[1]} failed with exit status {status}"
                         + (f": {self.message}" if self.message else ""))


class ToolWarning(UserWarning):
    """What a command that succeeded wrote to stderr (counts of changed or ignored values)."""


@dataclass
class Result:
    command: list[str]
    status: int
    stdout: str
    stderr: str


# ---- finding and running the programs ----


def _installed_bindir() -> str | None:
    try:
        from ._location import BIN_FROM_PACKAGE
    except ImportError:
        return None
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.normpath(os.path.join(here, BIN_FROM_PACKAGE)) if BIN_FROM_PACKAGE else None


def _candidates():
    if os.environ.get("RASTERTOOLS_BINDIR"):
        yield os.path.join(os.environ["RASTERTOOLS_BINDIR"], "rastertools")
        return
    installed = _installed_bindir()
    if installed:
        yield os.path.join(installed, "rastertools")
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    yield os.path.join(source, "build", "bin", "rastertools")
    on_path = shutil.which("rastertools")
    if on_path:
        yield on_path


def front_command() -> str:
    """The path of the front command ``rastertools``; FileNotFoundError lists where it was
    looked for."""
    tried = []
    for c in _candidates():
        if os.path.isfile(c) and os.access(c, os.X_OK):
            return c
        tried.append(c)
    raise FileNotFoundError("the rastertools command is not found (looked for "
                            + ", ".join(tried or ["RASTERTOOLS_BINDIR", "PATH"])
                            + "): build it with make, install it, or set RASTERTOOLS_BINDIR")


def _text(x) -> str:
    """An argument as the tools read it: paths as given, whole numbers in decimal, other
    numbers as the shortest text that reads back as the same double."""
    if isinstance(x, bool):
        raise TypeError(f"{x!r}: give 0 or 1, or use the typed function's flag")
    if isinstance(x, numbers.Integral):
        return str(int(x))
    if isinstance(x, numbers.Real):
        return repr(float(x))
    return os.fspath(x)


def run(name: str, *args, check: bool = True, cwd=None) -> Result:
    """Runs ``rastertools NAME ARGS...``. A non-zero status raises ToolError (unless
    check=False); what a successful run writes to stderr is issued as a ToolWarning."""
    command = [front_command(), name, *(_text(a) for a in args)]
    p = subprocess.run(command, capture_output=True, text=True, cwd=cwd)
    if p.returncode != 0 and check:
        raise ToolError(command, p.returncode, p.stdout, p.stderr)
    if p.returncode == 0 and p.stderr.strip():
        warnings.warn(f"rastertools {name}: {p.stderr.strip()}", ToolWarning, stacklevel=2)
    return Result(command, p.returncode, p.stdout, p.stderr)


def options(**kwargs) -> list[str]:
    """Named options: foo_bar=1 -> --foo-bar 1; True -> a flag; None and False left out; a
    tuple or list -> the option followed by each value; band ranges (a, b) -> "a-b"."""
    out = []
    for key, value in kwargs.items():
        flag = "--" + key.rstrip("_").replace("_", "-")
        if value is None or value is False:
            continue
        if value is True:
            out.append(flag)
        elif isinstance(value, (tuple, list)):
            out += [flag, *(_text(v) for v in value)]
        else:
            out += [flag, _text(value)]
    return out


def band_range(bands) -> str | None:
    """"A-B" from (A, B), an int or the text itself."""
    if bands is None or isinstance(bands, str):
        return bands
    if isinstance(bands, numbers.Integral):
        return str(int(bands))
    a, b = bands
    return f"{int(a)}-{int(b)}"


# ---- the named commands ----


def info(file=None, *, grid=None, npixel: int | None = None, res=None, convention=None,
         bands_per_year: int | None = None, first_year: int | None = None, bands=None,
         csv_rows: bool = False):
    """``rastertools info``: the description (text), or with csv_rows=True one dict per band."""
    args = [] if file is None else [file]
    r = run("info", *args, *options(grid=grid, npixel=npixel, res=res, convention=convention,
                                    bands_per_year=bands_per_year, first_year=first_year,
                                    bands=band_range(bands), csv=csv_rows))
    return list(csv.DictReader(io.StringIO(r.stdout))) if csv_rows else r.stdout


def export(raw, output, *, format=None, grid=None, res=None, convention=None,
           npixel: int | None = None, bands_per_year: int | None = None,
           first_year: int | None = None, calendar=None, var=None, units=None, long_name=None,
           bands=None, keep_nan: bool = False) -> Result:
    """``rastertools export``: NetCDF-4 (CF), GeoTIFF or COG; NaN pixels become the fill value
    unless keep_nan=True."""
    return run("export", raw, "-o", output, *options(
        format=format, grid=grid, res=res, convention=convention, npixel=npixel,
        bands_per_year=bands_per_year, first_year=first_year, calendar=calendar, var=var,
        units=units, long_name=long_name, bands=band_range(bands), keep_nan=keep_nan))


@dataclass
class Imported:
    npixel: int
    bands_per_year: int
    nyears: int
    first_year: int | None
    result: Result


def import_(input, output, *, var=None, grid=None, grid_out=None, res=None, convention=None,
            years=None) -> Imported:
    """``rastertools import``: NetCDF or GeoTIFF to a raw file with grid file and sidecar."""
    if years is not None and not isinstance(years, str):
        years = band_range(years)
    r = run("import", input, "-o", output, *options(
        var=var, grid=grid, grid_out=grid_out, res=res, convention=convention, years=years))
    last = r.stdout.strip().splitlines()[-1].split()
    fields = dict(zip(last[0::2], last[1::2]))
    return Imported(int(fields["npixel"]), int(fields["nbandsyear"]), int(fields["nyears"]),
                    None if fields["firstyear"] == "NA" else int(fields["firstyear"]), r)


def map_(raw, output, *, band: int | None = None, bands=None, grid=None, res=None,
         convention=None, npixel: int | None = None, extent=None, scale: int | None = None,
         cmap=None, center=None, range=None, percentiles=None, title=None,
         units=None) -> Result:
    """``rastertools map``: one band (or a range, one PNG each) as a PNG map."""
    return run("map", raw, "-o", output, *options(
        band=band, bands=band_range(bands), grid=grid, res=res, convention=convention,
        npixel=npixel, extent=extent, scale=scale, cmap=cmap, center=center, range=range,
        percentiles=percentiles, title=title, units=units))


# ---- the positional tools ----


def _int(x, name: str) -> int:
    if isinstance(x, bool) or not isinstance(x, numbers.Integral):
        raise TypeError(f"{name} must be a whole number, not {x!r}")
    if not -2**31 <= int(x) < 2**31:
        raise ValueError(f"{name} {x} does not fit the tools' int")
    return int(x)


def _real(x, name: str) -> float:
    if isinstance(x, bool) or not isinstance(x, numbers.Real):
        raise TypeError(f"{name} must be a number, not {x!r}")
    return float(x)


def _ranges(*ranges) -> list[int]:
    """The band arguments: every range given (each (first, last), 0-based) or none."""
    given = [r is not None for r in ranges]
    if any(given) and not all(given):
        raise ValueError("give every band range or none (the tools read them together)")
    return [_int(b, "band") for r in ranges if r is not None for b in r]


def sum(ifile1, ifile2, ofile, npixel: int, bands1=None, bands2=None) -> Result:
    return run("sum", ifile1, ifile2, ofile, _int(npixel, "npixel"), *_ranges(bands1, bands2))


def mult(ifile1, ifile2, ofile, npixel: int, bands1=None, bands2=None) -> Result:
    return run("mult", ifile1, ifile2, ofile, _int(npixel, "npixel"), *_ranges(bands1, bands2))


def div(ifile1, ifile2, ofile, npixel: int, bands1=None, bands2=None,
        nanvalue: float | None = None) -> Result:
    """file1 / file2; ``nanvalue`` (where file2 is 0; -1 takes file1) needs the band ranges."""
    extra = [] if nanvalue is None else [_real(nanvalue, "nanvalue")]
    if extra and (bands1 is None or bands2 is None):
        raise ValueError("div reads nanvalue only after both band ranges")
    return run("div", ifile1, ifile2, ofile, _int(npixel, "npixel"), *_ranges(bands1, bands2),
               *extra)


def add(ifile, ofile, value: float, npixel: int, bands=None) -> Result:
    return run("add", ifile, ofile, _real(value, "value"), _int(npixel, "npixel"),
               *_ranges(bands))


def scale(ifile, ofile, factor: float, npixel: int, bands=None) -> Result:
    return run("scale", ifile, ofile, _real(factor, "factor"), _int(npixel, "npixel"),
               *_ranges(bands))


def limits(ifile, ofile, npixel: int, lower: float, upper: float, bands=None) -> Result:
    return run("limits", ifile, ofile, _int(npixel, "npixel"), _real(lower, "lower"),
               _real(upper, "upper"), *_ranges(bands))


def logistic(ifile, ofile, npixel: int, maxgrowth: float = 3.0, growthrate: float = 2.0,
             lower: float = 0.0, upper: float = 1.0, bands=None) -> Result:
    reals = [_real(v, n) for v, n in ((maxgrowth, "maxgrowth"), (growthrate, "growthrate"),
                                      (lower, "lower"), (upper, "upper"))]
    return run("logistic", ifile, ofile, _int(npixel, "npixel"), *reals, *_ranges(bands))


def slivet(ifile, ofile, npixel: int, nbands: int, startband: int, endband: int) -> Result:
    return run("slivet", ifile, ofile, _int(npixel, "npixel"), _int(nbands, "nbands"),
               _int(startband, "startband"), _int(endband, "endband"))


def mean(ifile, ofile, npixel: int, startyear: int, endyear: int, nbandsyear: int,
         sd: bool = False, annual: bool = False) -> Result:
    """Per-band means over years startyear..endyear (0-based); ``sd`` adds the standard
    deviations, ``annual`` the annual mean (-sd, -gm)."""
    flags = (["-gm"] if annual else []) + (["-sd"] if sd else [])
    return run("mean", ifile, ofile, _int(npixel, "npixel"), _int(startyear, "startyear"),
               _int(endyear, "endyear"), _int(nbandsyear, "nbandsyear"), *flags)


def fennick(fpcfile1, fpcfile2, outfile, nyear_file1: int, nyear_file2: int, npixel: int,
            startyear1: int, startyear2: int, similarity: bool = False) -> Result:
    ints = [_int(v, n) for v, n in ((nyear_file1, "nyear_file1"), (nyear_file2, "nyear_file2"),
                                    (npixel, "npixel"), (startyear1, "startyear1"),
                                    (startyear2, "startyear2"))]
    return run("fennick", fpcfile1, fpcfile2, outfile, *ints, *(["sim"] if similarity else []))


@dataclass
class Param:
    """One variable of corvane: its weight, reference and future files, and optionally the
    mean and standard deviation to normalise it by."""

    weight: float
    ref: str
    fut: str
    mean: float | None = None
    std: float | None = None


def corvane(params: Sequence, outputs, *, grid, res: float, npixel: int, nyear_ref: int,
            nyear_fut: int, nyear_avg: int, startyear_ref: int, startyear_fut: int,
            natveg=None) -> Result:
    """Multi-variable change. ``params``: Param or (weight, ref, fut[, mean, std]) each, all with
    mean and std or none; ``outputs``: a folder (the eight outputs get their usual names,
    angle.bin ...) or eight paths."""
    ps = [p if isinstance(p, Param) else Param(*p) for p in params]
    ranged = {(p.mean is not None, p.std is not None) for p in ps}
    if ranged not in ({(True, True)}, {(False, False)}):
        raise ValueError("give mean and std for every parameter or for none")
    ranged = {p.mean is not None for p in ps}
    if isinstance(outputs, (str, os.PathLike)):
        outputs = [os.path.join(outputs, n + ".bin") for n in CHANGE_OUTPUTS]
    if len(outputs) != 8:
        raise ValueError(f"corvane writes 8 outputs, {len(outputs)} paths given")
    args = [len(ps), int(ranged == {True}), int(natveg is not None),
            *([natveg] if natveg is not None else []),
            *(_int(v, n) for v, n in ((nyear_ref, "nyear_ref"), (nyear_fut, "nyear_fut"),
                                      (nyear_avg, "nyear_avg"), (startyear_ref, "startyear_ref"),
                                      (startyear_fut, "startyear_fut"))),
            grid, _real(res, "res")]
    for p in ps:
        args += [_real(p.weight, "weight"), p.ref, p.fut]
        if ranged == {True}:
            args += [_real(p.mean, "mean"), _real(p.std, "std")]
    return run("corvane", *args, _int(npixel, "npixel"), *outputs)
