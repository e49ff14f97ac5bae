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

# The change outputs, in corvane's order, with a description for maps and NetCDF.
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
# The series compare every year of the reference files with the reference slice: they depend on
# the model's reference only, so they are made once per model (runs/MODEL/reference/); the slice
# outputs once per model x scenario.
SERIES_OUTPUTS = ["angle_series", "magnitude_series", "angle_series_global", "magnitude_series_global"]
SLICE_OUTPUTS = [o for o in OUTPUT_NAMES if o not in SERIES_OUTPUTS]

RASTERTOOLS = config["rastertools"]
OUT = config["outdir"].rstrip("/") or "."
RUN = OUT + "/runs/{model}/{scenario}"
REFERENCE = OUT + "/runs/{model}/reference"
# Where an output lives: a series in the model's reference folder, a slice output in the run's.
OUTPUT_DIR = OUT + "/runs/{model}/{run}"
LOGS = OUT + "/logs"
GLOBAL_MEANS = OUT + "/global_means.csv"
GLOBAL_MEANS_PLOT = OUT + "/global_means.png"
# Yearly global totals of one variable per run (optional key `totals`), and their plot.
TOTALS = config.get("totals")
TOTALS_TABLE = OUT + "/totals/{model}/{scenario}.csv"
TOTALS_PLOT = OUT + "/yearly_totals.png"

MODELS = config["models"]
SCENARIOS = config["scenarios"]
VARIABLES = {v["name"]: v for v in config["variables"]}
if len(VARIABLES) != len(config["variables"]):
    config_error("variables: a name is given twice")

wildcard_constraints:
    model="|".join(map(re.escape, MODELS)),
    scenario="|".join(map(re.escape, SCENARIOS)),
    run="|".join(map(re.escape, ["reference"] + SCENARIOS)),
    output="|".join(OUTPUT_NAMES),


def outputs_of(run):
    """The outputs kept in a run's folder: the series in reference/, the slice outputs else."""
    return SERIES_OUTPUTS if run == "reference" else SLICE_OUTPUTS


def every_output(pattern, outputs=OUTPUT_NAMES):
    """`pattern` (with {model}, {run}, {output}) for every model and every output in `outputs`,
    each in the folder it lives in."""
    return [
        pattern.format(model=m, run=run, output=o)
        for m in MODELS
        for run in ["reference"] + SCENARIOS
        for o in outputs_of(run)
        if o in outputs
    ]


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


def slice_range(period):
    """The slice compared by change, as calendar years "A-B"; it must lie in the files' years."""
    p = config[period]
    last = p["first_year"] + p["years"] - 1
    end = p["slice_start"] + config["slice_years"] - 1
    if p["slice_start"] < p["first_year"] or end > last:
        config_error(
            f"{period}: a slice of {config['slice_years']} years from {p['slice_start']} does not"
            f" fit into the files' years {p['first_year']}-{last}"
        )
    return f"{p['slice_start']}-{end}"


def sidecar_keys(path):
    """The 'key = value' lines of an ENVI header, keys in lower case."""
    keys = {}
    with open(path) as f:
        for line in f:
            key, eq, value = line.partition("=")
            if eq:
                keys[key.strip().lower()] = value.strip()
    return keys


# Time steps of every NetCDF input: change decodes them into memory.
NETCDF_STEPS = {}


def netcdf_years(path):
    """First and last calendar year of a NetCDF file's time axis, and its number of years."""
    import cftime
    import netCDF4

    with netCDF4.Dataset(path) as nc:
        for v in nc.variables.values():
            attrs = v.ncattrs()
            if v.ndim == 1 and ("axis" in attrs and v.axis == "T" or v.name == "time"):
                dates = cftime.num2date(v[:], v.units, getattr(v, "calendar", "standard"))
                years = sorted({d.year for d in dates})
                NETCDF_STEPS[path] = len(dates)
                return years[0], years[-1], len(years)
    return None


def raw_years(path):
    """The same from a raw file's sidecar (its first year, bands and bands per year)."""
    hdr = os.path.splitext(path)[0] + ".hdr"
    keys = sidecar_keys(hdr) if os.path.exists(hdr) else {}
    if "rastertools first year" not in keys:
        return None
    first = int(keys["rastertools first year"])
    per_year = int(keys.get("rastertools bands per year", "1"))
    nyears = int(keys["bands"]) // per_year
    return first, first + nyears - 1, nyears


def check_file_years(section, path):
    """The configured first_year and years must be those of the file's time axis: the slices are
    calendar years, and a configuration that misplaces the files is refused, not followed."""
    if not os.path.exists(path):
        return  # snakemake names missing inputs itself
    try:
        found = netcdf_years(path) if is_netcdf(path) else raw_years(path)
    except (OSError, ValueError, AttributeError) as e:
        config_error(f"{section}.files: cannot read the years of {path}: {e}")
    p = config[section]
    want_last = p["first_year"] + p["years"] - 1
    if found is None:
        config_error(f"{section}.files: {path} has no time axis (a sidecar without a first year)")
    first, last, nyears = found
    if first != p["first_year"]:
        config_error(
            f"{section}.first_year: {p['first_year']}, but {path} holds the years {first}-{last}"
        )
    if nyears != p["years"]:
        config_error(
            f"{section}.years: {p['years']} ({p['first_year']}-{want_last}), but {path} holds"
            f" {nyears} years ({first}-{last})"
        )


ranges = [("mean" in v) for v in config["variables"]]
if any(ranges) and not all(ranges):
    config_error("variables: give mean and std for every variable or for none")
RANGE_SPEC = all(ranges)


def is_netcdf(path):
    return path.lower().endswith(".nc")


def input_file(period, model, variable):
    """The file as configured: a NetCDF file, or a raw file with its sidecar."""
    section = "reference" if period == "reference" else "future"
    return config[section]["files"].format(model=model, scenario=period, variable=variable)


for _m in MODELS:
    for _v in VARIABLES:
        check_file_years("reference", input_file("reference", _m, _v))
        for _s in SCENARIOS:
            check_file_years("future", input_file(_s, _m, _v))

# After the files' years: a slice outside them is the configuration's own contradiction.
SLICE_YEARS = {period: slice_range(period) for period in ("reference", "future")}


def run_of(w):
    """The run a job belongs to: a scenario, or "reference" for the model's series."""
    return getattr(w, "scenario", "reference")


def change_inputs(w):
    """The files of one change run; the reference run compares the reference with itself."""
    files = {}
    future = run_of(w)
    for name in VARIABLES:
        files[f"ref_{name}"] = input_file("reference", w.model, name)
        files[f"fut_{name}"] = input_file(future, w.model, name)
    if "natveg" in config:
        files["natveg"] = config["natveg"]
    return files


def shell_quote(value):
    return shlex.quote(str(value))


def change_arguments(w, input):
    """rastertools change's options for one run: the slices in calendar years, each parameter by
    its NetCDF variable (or its name, for raw files), the grid's pixels."""
    future = SLICE_YEARS["reference"] if run_of(w) == "reference" else SLICE_YEARS["future"]
    args = ["--ref-years", SLICE_YEARS["reference"], "--fut-years", future]
    for name, v in VARIABLES.items():
        args += ["--param", v.get("netcdf_name", name), v["weight"]]
        args += [input[f"ref_{name}"], input[f"fut_{name}"]]
        if RANGE_SPEC:
            args += ["--norm", v.get("netcdf_name", name), v["mean"], v["std"]]
    if "natveg" in config:
        args += ["--natveg", input.natveg]
    args += ["--grid", config["grid"], "--format", "raw"]
    return " ".join(shell_quote(a) for a in args)


def change_mem_mb(w):
    # A few arrays of npixel values per variable plus one year of one input (about 33 MiB on
    # the 0.5 degree land grid with 3 variables), and the NetCDF inputs, which change decodes
    # into memory (raw inputs are read where they are).
    if "mem_mb" in config:
        return config["mem_mb"]
    decoded = sum(NETCDF_STEPS.get(path, 0) for path in change_inputs(w).values()) * NPIXEL * 4
    return 64 + math.ceil((NPIXEL * len(VARIABLES) * 256 + decoded) / 2**20)


def grid_options(npixel=True):
    options = ["--grid", config["grid"], "--res", config["resolution"]]
    if "convention" in config:
        options += ["--convention", config["convention"]]
    if npixel:
        options += ["--npixel", NPIXEL]
    return " ".join(shell_quote(o) for o in options)


def export_description(w):
    options = ["--var", w.output, "--long-name", f"{OUTPUTS[w.output]} ({w.model} {w.run})"]
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


def totals_targets():
    """The yearly totals of every run and their plot, when the configuration asks for them."""
    if not TOTALS:
        return []
    runs = [TOTALS_TABLE.format(model=m, scenario=s) for m in MODELS for s in SCENARIOS]
    return runs + [TOTALS_PLOT]


def totals_input(w):
    return input_file(w.scenario, w.model, TOTALS["variable"])


def totals_arguments(w, input):
    """--var for a NetCDF input, and the scale and units of the totals."""
    args = []
    if is_netcdf(str(input[0])):
        v = VARIABLES.get(TOTALS["variable"], {})
        args += ["--var", v.get("netcdf_name", TOTALS["variable"])]
    return " ".join(shell_quote(str(a)) for a in args)
