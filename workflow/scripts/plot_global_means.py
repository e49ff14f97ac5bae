# The summary plot of the ensemble: the area-weighted global mean of the first band of the main
# change outputs, one bar per model x scenario. Run by snakemake (the `snakemake` object).
import csv
import sys

import matplotlib

matplotlib.use("Agg")  # no display on batch nodes
import matplotlib.pyplot as plt

PANELS = ["angle", "magnitude", "angle_global", "magnitude_global"]


def read_first_bands(path):
    """{output: {run: mean}} for the first band (0) of every output in PANELS."""
    values = {name: {} for name in PANELS}
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            if row["output"] in values and row["band"] == "0" and row["area_mean"] != "":
                run = f"{row['model']}\n{row['scenario']}"
                values[row["output"]][run] = float(row["area_mean"])
    return values


def plot(values, path):
    fig, axes = plt.subplots(2, 2, figsize=(9, 6), constrained_layout=True)
    for ax, name in zip(axes.flat, PANELS):
        runs = list(values[name])
        ax.bar(range(len(runs)), [values[name][r] for r in runs], color="#4477aa")
        ax.set_xticks(range(len(runs)), runs, fontsize=7)
        ax.set_title(f"{name} (first band)", fontsize=10)
        ax.grid(axis="y", alpha=0.3)
    fig.suptitle("Area-weighted global means")
    fig.savefig(path, dpi=80)


def main():
    with open(snakemake.log[0], "w") as log:
        sys.stderr = log
        values = read_first_bands(snakemake.input[0])
        for name in PANELS:
            print(f"{name}: {len(values[name])} runs", file=log)
        plot(values, snakemake.output[0])


main()
