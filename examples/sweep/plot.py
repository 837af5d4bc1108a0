"""Draws the results of volume-plugs.sweep.toml: what the week's tappings went short of,
and the coldest water at the outlet, against the store volume, one line per
plug setting.

    /usr/bin/python3 examples/sweep/plot.py results.csv -o plot.png
"""

import argparse

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import pandas as pd  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", help="results CSV of plugstore sweep")
    parser.add_argument("-o", "--output", default="plot.png", help="PNG file")
    args = parser.parse_args()
    table = pd.read_csv(args.results, index_col=0)
    fig, (short, cold) = plt.subplots(1, 2, figsize=(10, 4), constrained_layout=True)
    for plugs, rows in table.groupby("store.maxPlugs"):
        rows = rows.sort_values("store.volume")
        label = f"at most {plugs} plugs"
        short.plot(rows["store.volume"] * 1000, rows["tapping.short"], marker="o", label=label)
        cold.plot(rows["store.volume"] * 1000, rows["port1.outletTemperature.min"], marker="o",
                  label=label)
    short.set_yscale("log")
    short.set_ylabel("hot water short of the tappings, kWh in the week")
    cold.set_ylabel("coldest water at the outlet, °C")
    for ax in (short, cold):
        ax.set_xlabel("store volume, l")
        ax.grid(True, alpha=0.3)
        ax.legend()
    fig.suptitle("A week of tappings from a store heated at night: volume against plug settings")
    fig.savefig(args.output, dpi=100)


if __name__ == "__main__":
    main()
