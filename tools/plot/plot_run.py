#!/usr/bin/env python3
"""Draw a run of `plugstore run` into a PNG picture.

    python3 tools/plot/plot_run.py OUT.csv [-o OUT.png] [--title TITLE]

Three panels share the time axis: the store's temperature profile over time
as a colour map (columns profile.t05 ... profile.t95), the temperatures of
the fluid leaving the ports and heat exchangers while they flow, and the
energy terms of the store in kW, with their totals in kWh in the legend.
A panel whose columns the CSV lacks says so instead of drawing. A run with
controllers or a tapping list (columns control.* and tapping.*) gets a fourth
panel: the sensor temperatures, the water at the tap while a tap is open, and
a band for each controller along the bottom while it is on.

Every row of the CSV holds the values of the step that ends at its time.
A run of several units (columns prefixed by the unit's name, as in
buffer.port1.heat) gets one column of panels per unit.
"""

import argparse
import csv
import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402


def read_run(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    if len(rows) < 2 or not rows[0] or rows[0][0] != "time":
        raise SystemExit(f"{path}: not a CSV of plugstore run (first column 'time')")
    header = rows[0]
    data = np.array([[float(v) for v in r] for r in rows[1:] if r], dtype=float)
    return {name: data[:, i] for i, name in enumerate(header)}


# The first part of a column's name that belongs to the component or the
# runner; anything else before it is the name of a unit.
GROUP = re.compile(r"((port|sensor|zone|hx|heatA|heatB|unused)\d+|profile|store|loss|entropy"
                   r"|exergy|balance|heatInputs|control|tapping)")


def split_units(run):
    """[(unit name, its columns without the prefix)], or [("", run)] for one store."""
    units = {}
    for name, values in run.items():
        head, _, rest = name.partition(".")
        if name == "time" or not rest or GROUP.fullmatch(head):
            continue
        units.setdefault(head, {"time": run["time"]})[rest] = values
    return list(units.items()) or [("", run)]


def step_edges(time):
    """Edges of the steps whose ends are `time`."""
    step = time[1] - time[0] if len(time) > 1 else 1.0
    return np.concatenate([[time[0] - step], time])


def numbered(run, pattern):
    """Columns matching pattern with one number group, ordered by it."""
    found = []
    for name in run:
        m = re.fullmatch(pattern, name)
        if m:
            found.append((int(m.group(1)), name))
    return sorted(found)


def no_data(ax, what):
    ax.text(0.5, 0.5, f"no {what} columns in this run", ha="center", va="center",
            transform=ax.transAxes, color="grey")


def profile_panel(fig, ax, run, time):
    names = [f"profile.t{h:02d}" for h in range(5, 100, 10)]
    if not all(n in run for n in names):
        no_data(ax, "profile.t05 ... profile.t95")
        return
    temps = np.array([run[n] for n in names])
    heights = np.linspace(0.0, 1.0, len(names) + 1)
    mesh = ax.pcolormesh(step_edges(time), heights, temps, cmap="inferno", shading="flat")
    fig.colorbar(mesh, ax=ax, label="°C", pad=0.01)
    ax.set_ylabel("relative height")
    ax.set_title("store temperature profile", loc="left", fontsize="medium")


def outlet_panel(ax, run, time):
    # One level per step, drawn over the step, so that a draw of one step shows.
    starts = step_edges(time)[:-1]
    drawn = False
    series = []
    for d, name in numbered(run, r"port(\d+)\.outletTemperature"):
        flow = run.get(f"port{d}.massFlow")
        if flow is not None and np.any(flow > 0):
            series.append((run[name], flow > 0, f"port {d} out"))
    for k, name in numbered(run, r"hx(\d+)\.outletTemperature"):
        heat = run.get(f"hx{k}.heatToFluid")
        if heat is not None and np.any(heat != 0):
            series.append((run[name], heat != 0, f"Hx {k} out"))
    for i, (values, flowing, label) in enumerate(series):
        ax.hlines(values[flowing], starts[flowing], time[flowing], color=f"C{i}", linewidth=2)
        ax.plot(time[flowing], values[flowing], "o", color=f"C{i}", markersize=3, label=label)
        drawn = True
    if "store.meanTemperature" in run:
        ax.plot(time, run["store.meanTemperature"], color="grey", linestyle="--",
                label="store mean")
        drawn = True
    if not drawn:
        no_data(ax, "outlet temperature")
        return
    ax.set_ylabel("°C")
    ax.legend(loc="best", fontsize="small", ncol=2)
    ax.set_title("leaving the store (while flowing)", loc="left", fontsize="medium")


def energy_panel(ax, run, time):
    step = time[1] - time[0] if len(time) > 1 else 1.0
    terms = [
        ("balance.portHeat", 1.0, "ports"),
        ("balance.heatIntoPlugs", 1.0, "Hx and heat inputs"),
        ("loss.heat", -1.0, "losses"),
        ("balance.storageRate", 1.0, "change of stored energy"),
    ]
    drawn = False
    for name, sign, label in terms:
        if name not in run:
            continue
        values = sign * run[name]
        total = float(np.sum(values) * step)
        ax.plot(time, values, drawstyle="steps-pre", label=f"{label}: {total:.2f} kWh")
        drawn = True
    if not drawn:
        no_data(ax, "energy (balance.*, loss.heat)")
        return
    ax.axhline(0.0, color="black", linewidth=0.5)
    ax.set_ylabel("kW into the store")
    ax.legend(loc="best", fontsize="small")
    ax.set_title("energy terms", loc="left", fontsize="medium")


def control_panel(ax, run, time):
    starts = step_edges(time)[:-1]
    for k, name in numbered(run, r"sensor(\d+)\.temperature"):
        ax.plot(time, run[name], drawstyle="steps-pre", linewidth=1, label=f"sensor {k}")
    if "tapping.temperature" in run and "tapping.asked" in run:
        open_ = run["tapping.asked"] > 0
        short = open_ & (run["tapping.useful"] < run["tapping.asked"] * 0.99)
        ax.plot(time[open_], run["tapping.temperature"][open_], "o", color="C2", markersize=3,
                label="at the tap, as needed")
        ax.plot(time[short], run["tapping.temperature"][short], "x", color="C3", markersize=5,
                label="at the tap, short")
    controllers = [n for n in run if n.startswith("control.")]
    for i, name in enumerate(controllers):
        on = run[name] > 0.5
        # One band per controller at the foot of the panel, over the steps it is on.
        ax.fill_between(np.ravel(np.column_stack([starts, time])),
                        0.02 + 0.07 * i, 0.07 + 0.07 * i,
                        where=np.repeat(on, 2), transform=ax.get_xaxis_transform(),
                        color=f"C{4 + i}", alpha=0.7, label=f"{name[8:]} on")
    ax.set_ylabel("°C")
    ax.legend(loc="best", fontsize="small", ncol=2)
    ax.set_title("control: sensors, taps and controllers", loc="left", fontsize="medium")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("csv", help="CSV written by plugstore run")
    parser.add_argument("-o", "--output", help="PNG file (default: the CSV's name with .png)")
    parser.add_argument("--title", default="", help="title of the picture")
    args = parser.parse_args(argv)
    output = args.output or re.sub(r"(\.csv)?$", ".png", args.csv, count=1)

    whole = read_run(args.csv)
    time = whole["time"]
    units = split_units(whole)
    control = any(n.startswith(("control.", "tapping.")) for _, run in units for n in run)
    panels = 4 if control else 3
    fig, grid = plt.subplots(panels, len(units), figsize=(10 * len(units), 3 * panels),
                             sharex=True, squeeze=False, constrained_layout=True)
    for column, (unit, run) in enumerate(units):
        axes = grid[:, column]
        profile_panel(fig, axes[0], run, time)
        outlet_panel(axes[1], run, time)
        energy_panel(axes[2], run, time)
        if control:
            control_panel(axes[3], run, time)
        if unit:
            for ax in axes:
                ax.set_title(f"{unit}: {ax.get_title(loc='left')}", loc="left", fontsize="medium")
        axes[-1].set_xlabel("time (h)")
        axes[-1].set_xlim(step_edges(time)[0], time[-1])
    if args.title:
        fig.suptitle(args.title)
    fig.savefig(output, dpi=100)
    print(f"wrote {output}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
