# The yearly global totals of every run as one plot: a line per model x scenario over the years.
# Run by snakemake (the `snakemake` object); the tables are fldstat's CSV (year, zone, value,
# units, ...).
import csv
import sys

import matplotlib

matplotlib.use("Agg")  # no display on batch nodes
import matplotlib.pyplot as plt


def read_series(path):
    """(years, values, units) of the global zone of one table."""
    years, values, units = [], [], ""
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            if row["zone"] == "global":
                years.append(int(row["year"]))
                values.append(float(row["value"]))
                units = row["units"]
    return years, values, units


def main():
    with open(snakemake.log[0], "w") as log:
        sys.stderr = log
        fig, ax = plt.subplots(figsize=(8, 4.5), constrained_layout=True)
        units = ""
        for path in snakemake.input:
            years, values, units = read_series(path)
            model, scenario = path.removesuffix(".csv").split("/")[-2:]
            run = f"{model} {scenario}"
            ax.plot(years, values, marker="o", markersize=3, label=run)
            print(f"{run}: {len(years)} years", file=log)
        ax.set_xlabel("year")
        ax.set_ylabel(units)
        ax.set_title(f"Yearly global total of {snakemake.params.variable}")
        ax.grid(alpha=0.3)
        ax.legend(fontsize=8)
        fig.savefig(snakemake.output[0], dpi=80)


main()
