#!/usr/bin/env python3
"""Draw a run of `plugstore run` into a PNG picture.

    python3 tools/plot/plot_run.py OUT.csv [-o OUT.png] [--title TITLE]
        [--name port1=DHW ...] [--initial-row]

Three panels share the time axis: the store's temperature profile over time
as a colour map (columns profile.t05 ... profile.t95), the temperatures of
the fluid leaving the ports and heat exchangers while they flow, and the
energy terms of the store in kW, with their totals in kWh in the legend (a
flow that brings heat and takes it, a coil say, with both: "in ..., out ...").
Heat inputs are labelled by the names given (--name heatA1=...).
A panel whose columns the CSV lacks says so instead of drawing. A run with
controllers or a tapping list (columns control.* and tapping.*) gets a fourth
panel: the sensor temperatures, the water at the tap while a tap is open, and
a band for each controller along the bottom while it is on.

A run of more than four days is drawn by the day instead: the profile as
daily means, the outlet temperatures as daily means while flowing, and the
energy terms as bars per day (each flow's heat in upwards and out
downwards, hatched), or per month of the host's clock (simulation
time is the hour of a non-leap year) for runs of more than two months.

Every row of the CSV holds the values of the step (or the interval of
`[outputs] interval`) that ends at its time; `--initial-row` says that the
first row is the state at the start, which covers no time. A second header
row of units (`run --units`) is skipped. A run of several units (columns
prefixed by the unit's name, as in buffer.port1.heat) gets one column of
panels per unit.
"""

import argparse
import csv
import os
import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

LONG_RUN = 96.0  # h: longer runs are drawn by the day
MONTHLY_RUN = 61 * 24.0  # h: longer runs get energy bars per month
MONTH_START = np.array([0, 744, 1416, 2160, 2880, 3624, 4344, 5088, 5832, 6552, 7296, 8016])
MONTH_NAMES = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


class BadRun(Exception):
    """A CSV that cannot be drawn; the message says why in one line."""


def read_run(path):
    try:
        with open(path, newline="") as f:
            rows = [r for r in csv.reader(f) if r]
    except (OSError, UnicodeDecodeError, csv.Error) as e:
        raise BadRun(f"cannot read {path}: {getattr(e, 'strerror', None) or e}") from None
    if not rows or rows[0][0] != "time":
        raise BadRun(f"{path}: not a CSV of plugstore run (first column 'time')")
    header = rows[0]
    body = rows[1:]
    if body and body[0][0] == "h":  # the units row of run --units
        body = body[1:]
    if not body:
        raise BadRun(f"{path}: no rows")
    values = []
    for line, r in enumerate(body, start=len(rows) - len(body) + 1):
        if len(r) != len(header):
            raise BadRun(f"{path}, line {line}: {len(r)} fields instead of {len(header)}")
        try:
            values.append([float(v) for v in r])
        except ValueError:
            raise BadRun(f"{path}, line {line}: a field is not a number") from None
    data = np.array(values, dtype=float)
    return {name: data[:, i] for i, name in enumerate(header)}


# The first part of a column's name that belongs to the component or the
# runner; anything else before it is the name of a unit.
GROUP = re.compile(r"((port|sensor|zone|hx|heatA|heatB|unused)\d+|profile|store|loss|entropy"
                   r"|exergy|balance|heatInputs|control|tapping|load|collector)")


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


def labelled(names, key, text):
    """'port 1 (DHW)' when the scenario names port1."""
    return f"{text} ({names[key]})" if key in names else text


def no_data(ax, what):
    ax.text(0.5, 0.5, f"no {what} columns in this run", ha="center", va="center",
            transform=ax.transAxes, color="grey")


def heat_input_label(names):
    """The sum of the heat inputs by the names the scenario gives them."""
    given = [names[k] for k in sorted((k for k in names if re.fullmatch(r"heat[AB]\d+", k)),
                                      key=lambda k: (k[4], int(k[5:])))]
    if len(given) == 1:
        return given[0]
    return "heat inputs" + (f" ({', '.join(given)})" if given else "")


def energy_terms(run, names):
    """(label, kW into the store) of every energy term the columns give, each
    flow on its own where its column is there; then the change of stored
    energy, or None."""
    terms = []
    ports = numbered(run, r"port(\d+)\.heat")
    if ports:
        terms += [(labelled(names, f"port{d}", f"port {d}"), run[n]) for d, n in ports]
    elif "balance.portHeat" in run:
        terms.append(("ports", run["balance.portHeat"]))
    coils = numbered(run, r"hx(\d+)\.heatToStore")
    terms += [(labelled(names, f"hx{k}", f"Hx {k}"), run[n]) for k, n in coils]
    heat = heat_input_label(names)
    if "heatInputs.power" in run:
        terms.append((heat, run["heatInputs.power"]))
    elif "balance.heatIntoPlugs" in run:
        # What the plugs took from the Hx and heat inputs, less the Hx drawn.
        rest = run["balance.heatIntoPlugs"] - sum(run[n] for _, n in coils)
        if not coils:
            terms.append(("Hx and " + heat, rest))
        elif np.any(np.abs(rest) > 1e-9):
            terms.append((heat, rest))
    if "balance.limitHeat" in run and np.any(run["balance.limitHeat"] != 0):
        terms.append(("temperature limit", run["balance.limitHeat"]))
    if "loss.heat" in run:
        terms.append(("losses", -run["loss.heat"]))
    change = run.get("balance.storageRate")
    return terms, change


def in_and_out(label, kwh_in, kwh_out, decimals):
    """A term's legend: heat into and out of the store apart, so that a flow
    that gives and takes shows both."""
    if round(kwh_out, decimals) == 0 or round(kwh_in, decimals) == 0:
        return f"{label}: {kwh_in + kwh_out:.{decimals}f} kWh"
    return f"{label}: in {kwh_in:.{decimals}f}, out {-kwh_out:.{decimals}f} kWh"


def profile_panel(fig, ax, run, edges, groups=None):
    names = [f"profile.t{h:02d}" for h in range(5, 100, 10)]
    if not all(n in run for n in names):
        no_data(ax, "profile.t05 ... profile.t95")
        return
    temps = np.array([run[n] for n in names])
    if groups is not None:
        temps = np.array([groups.mean(t) for t in temps])
    heights = np.linspace(0.0, 1.0, len(names) + 1)
    mesh = ax.pcolormesh(edges, heights, temps, cmap="inferno", shading="flat")
    fig.colorbar(mesh, ax=ax, label="°C", pad=0.01)
    ax.set_ylabel("relative height")
    title = "store temperature profile" + (", daily means" if groups is not None else "")
    ax.set_title(title, loc="left", fontsize="medium")


def outlets(run, names):
    """(values, flowing, weights, label) of each outlet temperature column:
    weights are the port's mass flow, or 1 while flowing. Without a flow
    column every row counts as flowing."""
    series = []
    for d, name in numbered(run, r"port(\d+)\.outletTemperature"):
        flow = run.get(f"port{d}.massFlow")
        flowing = flow != 0 if flow is not None else np.ones(len(run[name]), dtype=bool)
        weights = np.abs(flow) if flow is not None else flowing.astype(float)
        if np.any(flowing):
            label = labelled(names, f"port{d}", f"port {d}") + " out"
            series.append((run[name], flowing, weights, label))
    for k, name in numbered(run, r"hx(\d+)\.outletTemperature"):
        heat = run.get(f"hx{k}.heatToFluid")
        flowing = heat != 0 if heat is not None else np.ones(len(run[name]), dtype=bool)
        if np.any(flowing):
            label = labelled(names, f"hx{k}", f"Hx {k}") + " out"
            series.append((run[name], flowing, flowing.astype(float), label))
    return series


def outlet_panel(ax, run, time, names):
    # One level per step, drawn over the step, so that a draw of one step shows.
    starts = step_edges(time)[:-1]
    drawn = False
    for i, (values, flowing, _, label) in enumerate(outlets(run, names)):
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


def energy_panel(ax, run, time, names):
    step = np.diff(step_edges(time))
    terms, change = energy_terms(run, names)
    if not terms and change is None:
        no_data(ax, "energy (balance.*, loss.heat, port#.heat, hx#.heatToStore)")
        return
    for label, values in terms:
        kwh = values * step
        text = in_and_out(label, float(np.sum(kwh[kwh > 0])), float(np.sum(kwh[kwh < 0])), 2)
        ax.plot(time, values, drawstyle="steps-pre", label=text)
    if change is not None:  # a net figure: what the store kept
        ax.plot(time, change, drawstyle="steps-pre",
                label=f"change of stored energy: {float(np.sum(change * step)):.2f} kWh")
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


# ---------------------------------------------------------------- long runs


class Periods:
    """Rows grouped by day or month of the host's clock, by the middle of the
    time each row covers."""

    def __init__(self, time, hours, monthly):
        middle = time - hours / 2.0
        year = np.floor(middle / 8760.0)
        if monthly:
            month = np.searchsorted(MONTH_START, middle - year * 8760.0, side="right") - 1
            key = year * 12 + month
        else:
            key = np.floor(middle / 24.0)
        self.keys, self.index = np.unique(key, return_inverse=True)
        self.hours = hours
        self.covered = np.bincount(self.index, weights=hours)
        if monthly:
            years, months = np.divmod(self.keys, 12)
            starts = years * 8760.0 + MONTH_START[months.astype(int)]
            ends = np.where(months == 11, (years + 1) * 8760.0,
                            years * 8760.0 + MONTH_START[np.minimum(months + 1, 11).astype(int)])
            self.labels = [MONTH_NAMES[int(m)] + (f" {int(y) + 1}" if years.max() > years.min()
                                                  else "") for y, m in zip(years, months)]
        else:
            starts, ends = self.keys * 24.0, self.keys * 24.0 + 24.0
            self.labels = None
        # What the run covers of each period (a run may start or end inside one).
        first, last = time[0] - hours[0], time[-1]
        self.starts = np.maximum(starts, first)
        self.ends = np.minimum(ends, last)

    def energy(self, kw):
        """kWh of each period."""
        return np.bincount(self.index, weights=kw * self.hours, minlength=len(self.keys))

    def mean(self, values, weights=None):
        w = self.hours if weights is None else self.hours * weights
        total = np.bincount(self.index, weights=w, minlength=len(self.keys))
        sums = np.bincount(self.index, weights=values * w, minlength=len(self.keys))
        with np.errstate(invalid="ignore", divide="ignore"):
            return np.where(total > 0, sums / np.where(total > 0, total, 1.0), np.nan)

    def edges(self):
        return np.concatenate([self.starts, [self.ends[-1]]])


def day_axis(ax, first, last):
    """Hours on the axis, ticks at month starts for long spans, else at days."""
    if last - first > MONTHLY_RUN:
        years = range(int(first // 8760), int(last // 8760) + 1)
        ticks = [y * 8760.0 + m for y in years for m in MONTH_START]
        ticks = [t for t in ticks if first <= t <= last]
        ax.set_xticks(ticks)
        ax.set_xticklabels([MONTH_NAMES[MONTH_START.tolist().index(t % 8760)] for t in ticks])
        ax.set_xlabel("month of the host's clock")
    else:
        step = max(1, int((last - first) / 24 / 15))
        ticks = np.arange(np.ceil(first / 24), np.floor(last / 24) + 1, step) * 24.0
        ax.set_xticks(ticks)
        ax.set_xticklabels([f"{int(t // 24)}" for t in ticks])
        ax.set_xlabel("day of the host's clock (t / 24 h)")


def daily_outlet_panel(ax, run, days, names):
    drawn = False
    middle = (days.starts + days.ends) / 2.0
    for i, (values, _, weights, label) in enumerate(outlets(run, names)):
        ax.plot(middle, days.mean(values, weights), "o-", color=f"C{i}", markersize=2,
                linewidth=1, label=label)
        drawn = True
    if "store.meanTemperature" in run:
        ax.plot(middle, days.mean(run["store.meanTemperature"]), color="grey",
                linestyle="--", label="store mean, daily")
        drawn = True
    if not drawn:
        no_data(ax, "outlet temperature")
        return
    ax.set_ylabel("°C")
    ax.legend(loc="best", fontsize="small")
    ax.set_title("leaving the store, daily means while flowing", loc="left", fontsize="medium")


def period_energy_panel(ax, run, periods, names, what):
    terms, change = energy_terms(run, names)
    if not terms and change is None:
        no_data(ax, "energy (balance.*, loss.heat, port#.heat, hx#.heatToStore)")
        return
    x = (periods.starts + periods.ends) / 2.0
    width = (periods.ends - periods.starts) * 0.8
    up = np.zeros(len(x))
    down = np.zeros(len(x))
    for i, (label, kw) in enumerate(terms):
        # What a flow brings and what it takes, each step on its own: into
        # the store stacks upwards, out of it downwards, neither netted away.
        kwh_in, kwh_out = periods.energy(np.maximum(kw, 0)), periods.energy(np.minimum(kw, 0))
        text = in_and_out(label, np.sum(kwh_in), np.sum(kwh_out), 1)
        if np.any(kwh_in > 0) or not np.any(kwh_out < 0):
            ax.bar(x, kwh_in, width, bottom=up, color=f"C{i}", label=text)
            text = None
        if np.any(kwh_out < 0):
            ax.bar(x, kwh_out, width, bottom=down, color=f"C{i}", hatch="//", edgecolor="white",
                   label=text)
        up += kwh_in
        down += kwh_out
    if change is not None:
        kwh = periods.energy(change)
        ax.plot(x, kwh, "D", color="black", markersize=3,
                label=f"change of stored energy: {np.sum(kwh):.1f} kWh")
    ax.axhline(0.0, color="black", linewidth=0.5)
    # Head room above the bars for the legend.
    low, high = min(down.min(), 0.0), max(up.max(), 0.0)
    ax.set_ylim(low - 0.05 * (high - low), high + 0.45 * (high - low))
    ax.set_ylabel(f"kWh per {what} into the store")
    ax.legend(loc="best", fontsize="small", ncol=2)
    ax.set_title(f"energy terms per {what}", loc="left", fontsize="medium")


def draw_long(fig, axes, run, time, hours, names):
    monthly = time[-1] - (time[0] - hours[0]) > MONTHLY_RUN
    days = Periods(time, hours, monthly=False)
    periods = Periods(time, hours, monthly=True) if monthly else days
    profile_panel(fig, axes[0], run, days.edges(), groups=days)
    daily_outlet_panel(axes[1], run, days, names)
    period_energy_panel(axes[2], run, periods, names, "month" if monthly else "day")
    first, last = time[0] - hours[0], time[-1]
    axes[-1].set_xlim(first, last)
    day_axis(axes[-1], first, last)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("csv", help="CSV written by plugstore run")
    parser.add_argument("-o", "--output", help="PNG file (default: the CSV's name with .png)")
    parser.add_argument("--title", default="", help="title of the picture")
    parser.add_argument("--name", action="append", default=[], metavar="KEY=LABEL",
                        help="a name for a port, Hx or heat input (port1=DHW, or buffer.port1=DHW "
                        "for the unit buffer); repeatable")
    parser.add_argument("--initial-row", action="store_true",
                        help="the first row is the state at the start")
    args = parser.parse_args(argv)
    output = args.output or re.sub(r"(\.csv)?$", ".png", args.csv, count=1)
    names = dict(n.split("=", 1) for n in args.name if "=" in n)

    try:
        run = read_run(args.csv)
        if args.initial_row and len(run["time"]) > 1:
            run = {k: v[1:] for k, v in run.items()}
        time = run["time"]
        hours = np.diff(step_edges(time))
        if len(time) > 1 and np.any(hours <= 0):
            raise BadRun(f"{args.csv}: the times do not rise")
    except BadRun as e:
        print(f"plot: {e}", file=sys.stderr)
        return 2

    units = split_units(run)
    long = time[-1] - (time[0] - hours[0]) > LONG_RUN
    control = not long and any(n.startswith(("control.", "tapping.")) for _, r in units for n in r)
    panels = 4 if control else 3
    width, height = (12, 10) if long else (10, 3 * panels)
    fig, grid = plt.subplots(panels, len(units), figsize=(width * len(units), height),
                             sharex=True, squeeze=False, constrained_layout=True)
    for column, (unit, part) in enumerate(units):
        axes = grid[:, column]
        # A unit's own names ("buffer.port1=DHW") before those of every unit.
        own = {k: v for k, v in names.items() if "." not in k}
        own.update({k[len(unit) + 1:]: v for k, v in names.items() if unit and
                    k.startswith(unit + ".")})
        if long:
            draw_long(fig, axes, part, time, hours, own)
        else:
            profile_panel(fig, axes[0], part, step_edges(time))
            outlet_panel(axes[1], part, time, own)
            energy_panel(axes[2], part, time, own)
            if control:
                control_panel(axes[3], part, time)
            axes[-1].set_xlabel("time (h)")
            axes[-1].set_xlim(step_edges(time)[0], time[-1])
        if unit:
            for ax in axes:
                ax.set_title(f"{unit}: {ax.get_title(loc='left')}", loc="left", fontsize="medium")
    if args.title:
        fig.suptitle(args.title)
    # Under a temporary name first, so that the picture appears whole or not at all.
    folder, base = os.path.split(output)
    partial = os.path.join(folder, f".{base}.{os.getpid()}.part")
    try:
        fig.savefig(partial, dpi=100, format="png")
        os.replace(partial, output)
    except OSError as e:
        if os.path.exists(partial):
            os.remove(partial)
        print(f"plot: cannot write {output}: {e.strerror or e}", file=sys.stderr)
        return 2
    print(f"wrote {output}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
