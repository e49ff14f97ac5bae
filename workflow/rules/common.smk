# The configuration, checked against the schema, and the values and helpers the rules share.

import csv
import math
import re
import os
import shlex

import jsonschema
from snakemake.exceptions import WorkflowError
from snakemake.utils import validate


def config_error(text):
    raise WorkflowError(f"configuration error: {text}")


def schema_path(error):
    """Where a schema error sits, as a user writes it: variables[1].weight."""
    where = ""
    for part in error.absolute_path:
        where += f"[{part}]" if isinstance(part, int) else (f".{part}" if where else str(part))
    return where or "top level"


def validate_config():
    # snakemake's validate dumps the whole schema with an error; name the key and the fault.
    try:
        validate(config, "../schemas/config.schema.yaml")
    except WorkflowError as e:
        cause = e.__context__
        if not isinstance(cause, jsonschema.ValidationError):
            raise
        message = cause.message
        if cause.validator == "pattern" and "pattern_text" in cause.schema:
            message = f"{cause.instance!r} {cause.schema['pattern_text']}"
        config_error(f"{schema_path(cause)}: {message}")


if not config:
    config_error("no configuration: give one with --configfile (see workflow/config/example.yaml)")
validate_config()

# The corvane outputs, in corvane's order, with a description for maps and NetCDF.
OUTPUTS = {
    "angle": "cosine of the angle of change",
    "magnitude": "magnitude of change",
    "angle_series": "cosine of the angle of change per year",
    "magnitude_series": "magnitude of change per year",
    "angle_global": "cosine of the angle of change, globally normalised",
    "magnitude_global": "magnitude of change, globally normalised",
    "angle_series_global": "cosine of the angle of change per year, globally normalised",
    "magnitude_series_global": "magnitude of change per year, globally normalised",
}
OUTPUT_NAMES = list(OUTPUTS)
SERIES_OUTPUTS = {"angle_series", "magnitude_series", "angle_series_global", "magnitude_series_global"}

RASTERTOOLS = config["rastertools"]
OUT = config["outdir"].rstrip("/") or "."
RUN = OUT + "/runs/{model}/{scenario}"
IMPORTED = OUT + "/imported/{model}"
LOGS = OUT + "/logs"
GLOBAL_MEANS = OUT + "/global_means.csv"
GLOBAL_MEANS_PLOT = OUT + "/global_means.png"

MODELS = config["models"]
SCENARIOS = config["scenarios"]
VARIABLES = {v["name"]: v for v in config["variables"]}
if len(VARIABLES) != len(config["variables"]):
    config_error("variables: a name is given twice")

wildcard_constraints:
    model="|".join(map(re.escape, MODELS)),
    scenario="|".join(map(re.escape, SCENARIOS)),
    period="|".join(map(re.escape, ["reference"] + SCENARIOS)),
    variable="|".join(map(re.escape, VARIABLES)),
    output="|".join(OUTPUT_NAMES),


def grid_pixels():
    if "npixel" in config:
        return config["npixel"]
    try:
        size = os.path.getsize(config["grid"])
    except OSError as e:
        config_error(f"grid: cannot read {config['grid']}: {e.strerror}")
    if size == 0 or size % 4:
        config_error(f"grid: {config['grid']} has {size} bytes, not a whole number of 4-byte pixels")
    return size // 4


NPIXEL = grid_pixels()


def slice_start(period):
    """The slice's first year as an index into the period's files."""
    p = config[period]
    start = p["slice_start"] - p["first_year"]
    last = p["first_year"] + p["years"] - 1
    if start < 0 or start + config["slice_years"] > p["years"]:
        config_error(
            f"{period}: a slice of {config['slice_years']} years from {p['slice_start']} does not"
            f" fit into the files' years {p['first_year']}-{last}"
        )
    return start


SLICE_START = {period: slice_start(period) for period in ("reference", "future")}

ranges = [("mean" in v) for v in config["variables"]]
if any(ranges) and not all(ranges):
    config_error("variables: give mean and std for every variable or for none")
RANGE_SPEC = all(ranges)


def is_netcdf(path):
    return path.lower().endswith(".nc")


def input_file(period, model, variable):
    """The file as configured: a raw file or a NetCDF file to import."""
    section = "reference" if period == "reference" else "future"
    return config[section]["files"].format(model=model, scenario=period, variable=variable)


def raw_input(period, model, variable):
    """The raw file corvane reads: the configured one, or its import."""
    path = input_file(period, model, variable)
    if is_netcdf(path):
        return IMPORTED.format(model=model) + f"/{period}/{variable}.bin"
    return path


def corvane_inputs(w):
    files = {}
    for name in VARIABLES:
        files[f"ref_{name}"] = raw_input("reference", w.model, name)
        files[f"fut_{name}"] = raw_input(w.scenario, w.model, name)
    if "natveg" in config:
        files["natveg"] = config["natveg"]
    return files


def shell_quote(value):
    return shlex.quote(str(value))


def corvane_arguments(w, input, output):
    """corvane's positional command line for one model x scenario."""
    natveg = [1, input.natveg] if "natveg" in config else [0]
    args = [len(VARIABLES), int(RANGE_SPEC), *natveg]
    args += [config["reference"]["years"], config["future"]["years"], config["slice_years"]]
    args += [SLICE_START["reference"], SLICE_START["future"], config["grid"], config["resolution"]]
    for name, v in VARIABLES.items():
        args += [v["weight"], input[f"ref_{name}"], input[f"fut_{name}"]]
        if RANGE_SPEC:
            args += [v["mean"], v["std"]]
    args += [NPIXEL, *output]
    return " ".join(shell_quote(a) for a in args)


def corvane_mem_mb(w):
    # A few arrays of npixel values per variable plus one year of one input (about 33 MiB on
    # the 0.5 degree land grid with 3 variables); 256 bytes per pixel and variable and a fixed
    # share cover both the 0.5 degree and the 5 arcmin benchmark figures.
    if "mem_mb" in config:
        return config["mem_mb"]
    return 64 + math.ceil(NPIXEL * len(VARIABLES) * 256 / 2**20)


def grid_options(npixel=True):
    options = ["--grid", config["grid"], "--res", config["resolution"]]
    if "convention" in config:
        options += ["--convention", config["convention"]]
    if npixel:
        options += ["--npixel", NPIXEL]
    return " ".join(shell_quote(o) for o in options)


def export_description(w):
    options = ["--var", w.output, "--long-name", f"{OUTPUTS[w.output]} ({w.model} {w.scenario})"]
    if w.output in SERIES_OUTPUTS:
        # One band per year of the reference files.
        options += ["--bands-per-year", 1, "--first-year", config["reference"]["first_year"]]
    return " ".join(shell_quote(o) for o in options)


def read_area_means(path):
    """(band, area_mean) of every row of `rastertools info --csv`."""
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    if rows and "area_mean" in rows[0]:
        header, rows = rows[0], rows[1:]
    else:
        header = "band,year,band_of_year,min,max,mean,area_mean,nan,inf,fill".split(",")
    band, mean = header.index("band"), header.index("area_mean")
    return [(row[band], row[mean]) for row in rows if row]


def write_global_means(inputs, output, log):
    with open(output, "w", newline="") as f, open(log, "w") as logf:
        table = csv.writer(f, lineterminator="\n")
        table.writerow(["model", "scenario", "output", "band", "area_mean"])
        for path in inputs:
            parts = path.split("/")
            model, scenario, name = parts[-4], parts[-3], parts[-1][: -len(".csv")]
            means = read_area_means(path)
            for band, mean in means:
                table.writerow([model, scenario, name, band, mean])
            print(f"{path}: {len(means)} bands", file=logf)
