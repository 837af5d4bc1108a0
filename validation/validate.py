#!/usr/bin/env python3
"""Compare the store model with the measured draw tests of a 170 l water heater.

    /usr/bin/python3 validation/validate.py [--plugstore build/plugstore]
    /usr/bin/python3 validation/validate.py --check hvdt-draw-79

The first form writes, from validation/segments.toml and the measured files in
validation/data/, one scenario per segment into validation/scenarios/, runs
every segment with `plugstore run` under the assumed tank and under each
variation of it, and writes docs/validation.md with its plots and figures
(docs/validation/). `--check SEGMENT` runs only that segment, writes nothing,
and fails when a figure moved by more than 0.01 K (energies: 0.01 K of the
whole store) from docs/validation/figures.csv, or when the committed scenario
is not what the script writes.

A measured row is the mean over its minute (Time(min) to Time(min) + 1). A
time step of the model is that minute: it receives the row's flow, inlet and
ambient temperatures and element power, and its outlet temperature is the
mean of what it drew; sensor values are compared as the mean of the model's
values at the start and the end of the minute.
"""

import argparse
import copy
import csv
import io
import json
import math
import shutil
import subprocess
import sys
import tempfile
import tomllib
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
DOCS = ROOT / "docs"
FIGURES = DOCS / "validation" / "figures.csv"

GALLON = 3.785411784e-3  # m3 per US gallon
SENSORS = 6
OUTLET_MIN_FLOW = 0.5  # gal/min: minutes with less flow are not compared at the outlet
TOLERANCE_K = 0.01
REFERENCE_TEMPERATURE = 20.0  # degC, of the model's energy output
ZONE_HALF_WIDTH = 0.002  # relative height: a zone this narrow reads the plug at its centre

TESTS = {
    "HVDT": ("RE2HP50_HVDT_measured.csv", "RE2HP50_HVDT_testInfo.txt", "high-volume draw test"),
    "UEF67": ("RE2HP50_UEF67_measured.csv", "RE2HP50_UEF67_testInfo.txt", "24-hour test"),
}


# ---------------------------------------------------------------- measured data


def read_test(test):
    """The measured file of a test as arrays by column; empty cells are NaN."""
    with open(HERE / "data" / TESTS[test][0], newline="") as f:
        rows = list(csv.reader(f))
    header, body = rows[0], [r for r in rows[1:] if r]
    cols = {h: np.array([float(r[i]) if r[i] else math.nan for r in body]) for i, h in enumerate(header)}
    minutes = cols["Time(min)"]
    if not np.array_equal(minutes, np.arange(len(minutes))):
        raise SystemExit(f"{TESTS[test][0]}: rows are not one per minute from 0")
    flow = np.nan_to_num(cols["FlowRate(gal/min)"])
    return {
        "ambient": cols["AmbientT(C)"],
        "power": cols["PowerIn(W)"],
        "sensors": np.stack([cols[f"TankT{i}(C)"] for i in range(1, SENSORS + 1)], axis=1),
        "inlet": cols["InletT(C)"],
        "outlet": cols["OutletT(C)"],
        "flow": flow,
    }


def rows(data, first, last):
    return {k: v[first : last + 1] for k, v in data.items()}


# ---------------------------------------------------------------- the assumed tank


def capacitance(tank):
    """Heat capacitance of the water in the tank, kJ/K."""
    return tank["volume"] * tank["density"] * tank["specificHeat"]


def sensor_heights(tank):
    """Relative heights of sensors 1 (top) to 6 (bottom): centres of six equal volumes."""
    return [1.0 - (2 * i - 1) / (2 * SENSORS) + tank["sensorShift"] for i in range(1, SENSORS + 1)]


def fit_loss_ua(tank, data, segment):
    """Loss UA (W/K) from a cool-down: the mean of the six sensors falls as
    C dTm/dt = -UA (Tm - Tamb), so Tm against the integral of (Tm - Tamb)
    is a line of slope -UA/C."""
    d = rows(data, segment["first"], segment["last"])
    mean = d["sensors"].mean(axis=1)
    excess = mean - d["ambient"]
    integral = np.concatenate([[0.0], np.cumsum(0.5 * (excess[1:] + excess[:-1]) * 60.0)])
    slope = np.polyfit(integral, mean, 1)[0]
    # Rounded, so that the scenarios do not depend on the last bits of the fit.
    return round(-slope * capacitance(tank) * 1000.0, 4)


def loss_parameters(tank, ua):
    """The loss UA shared by area over the bottom, the three thirds of the side and the top."""
    diameter = math.sqrt(4.0 * tank["volume"] / (math.pi * tank["height"]))
    head = math.pi * diameter**2 / 4.0
    third = math.pi * diameter * tank["height"] / 3.0
    total = 2 * head + 3 * third
    ends, side = round(ua * head / total, 6), round(ua * third / total, 6)
    return {
        "loss.uaBottom": ends,
        "loss.uaSideLower": side,
        "loss.uaSideMiddle": side,
        "loss.uaSideUpper": side,
        "loss.uaTop": ends,
    }


def start_points(tank, sensors):
    """The start profile as points (relative height, degC), lowest first: a
    line through the sensors (the component holds the end values beyond the
    lowest and the highest), or six equal layers at the sensors' temperatures."""
    heights = sensor_heights(tank)[::-1]
    temps = [float(t) for t in sensors[::-1]]
    if tank["startShape"] == "layers":
        edges = [i / SENSORS for i in range(SENSORS + 1)]
        return [p for i, t in enumerate(temps) for p in ((edges[i], t), (edges[i + 1], t))]
    return list(zip(heights, temps))


def start_mean(points):
    """Mean temperature of the start profile over the height."""
    z = [0.0] + [h for h, _ in points] + [1.0]
    t = [points[0][1]] + [t for _, t in points] + [points[-1][1]]
    return sum((z[i + 1] - z[i]) * (t[i] + t[i + 1]) / 2.0 for i in range(len(z) - 1))


# ---------------------------------------------------------------- scenarios


def number(x):
    """A time exactly as Python holds it, so that steps and input rows meet."""
    return repr(float(x))


def value(x):
    """A parameter, short: whole numbers as integers, others to ten digits."""
    return str(int(x)) if float(x).is_integer() else f"{x:.10g}"


def tank_parameters(tank, ua):
    """The parameters of the assumed tank; tank["calibrated"] holds values
    a fit found, which replace the assumed ones."""
    params = {
        "store.volume": tank["volume"],
        "store.height": tank["height"],
        "store.density": tank["density"],
        "store.specificHeat": tank["specificHeat"],
        "store.conductivity": tank["conductivity"],
        "store.maxPlugs": tank["maxPlugs"],
        "store.minPlugs": tank["minPlugs"],
        "store.minDeltaT": tank["minDeltaT"],
        "store.referenceTemperature": REFERENCE_TEMPERATURE,
        **loss_parameters(tank, ua),
        "port1.heightA": tank["inletHeight"],
        "port1.heightB": tank["outletHeight"],
        "port1.inletMode": tank["inletMode"],
        **{f"sensor{i + 1}.height": h for i, h in enumerate(sensor_heights(tank))},
        "heatA1.height": tank["elementHeight"],
    }
    params.update(tank.get("calibrated", {}))
    return params


def scenario_text(segment, tank, ua, profile, zones=()):
    """The scenario of a segment, starting from the points `profile`; `zones`
    are heights at which narrow averaging zones read the plug there."""
    steps = segment["last"] - segment["first"] + 1
    params = tank_parameters(tank, ua)
    for i, h in enumerate(zones, 1):
        params[f"zone{i}.low"] = h - ZONE_HALF_WIDTH
        params[f"zone{i}.high"] = h + ZONE_HALF_WIDTH
    out = [
        "# Generated by validation/validate.py from validation/segments.toml; do not edit.",
        f"# Minutes {segment['first']} to {segment['last']} of the {TESTS[segment['test']][2]}"
        f" ({TESTS[segment['test']][0]}), one step per minute,",
        f"# starting from the six sensors of minute {segment['first'] - 1}.",
        f'title = "{segment["title"]}"',
        "",
        "[simulation]",
        "start = 0.0",
        f"stop = {number(steps / 60.0)}",
        f"step = {number(1.0 / 60.0)}",
        "",
        "[parameters]",
        *(f"{k} = {value(v)}" for k, v in params.items()),
        "store.initialProfile = [" + ", ".join(f"[{value(h)}, {value(t)}]" for h, t in profile) + "]",
        "",
        "[[series]]",
        'file = "inputs.csv"',
        'interpolation = "hold"',
        "",
        "[outputs]",
        "columns = [",
        '  "port1.outletTemperature", "port1.massFlow", "port1.heat",',
        "  " + ", ".join(f'"sensor{i}.temperature"' for i in range(1, SENSORS + 1)) + ",",
        '  "store.energy", "loss.heat", "heatInputs.power", "store.balance",',
        *(f'  "zone{i}.temperature",' for i in range(1, len(zones) + 1)),
        "]",
        "",
    ]
    return "\n".join(out)


def inputs_text(segment, tank, data):
    """The measured inputs of every minute, in the units of the component."""
    d = rows(data, segment["first"], segment["last"])
    # Minutes without flow have no inlet temperature: the nearest one stands in.
    inlet = d["inlet"].copy()
    known = np.flatnonzero(~np.isnan(inlet))
    if known.size == 0:
        inlet[:] = np.nanmean(data["inlet"])
    else:
        inlet = np.interp(np.arange(len(inlet)), known, inlet[known])
    kg_per_h = d["flow"] * GALLON * tank["flowDensity"] * 60.0
    if segment.get("element", False):
        element_kw = np.maximum(d["power"] - tank["controlsPower"], 0.0) / 1000.0
    else:
        element_kw = np.zeros(len(inlet))
    out = io.StringIO()
    out.write(f"# Minutes {segment['first']} to {segment['last']} of {TESTS[segment['test']][0]}"
              " (time from the segment's start); each row holds for its minute.\n")
    out.write("time,port1.massFlow,port1.temperatureA,ambient.temperature,heatA1.power\n")
    for k in range(len(inlet)):
        out.write(f"{number(k / 60.0)},{kg_per_h[k]:.6f},{inlet[k]:.6f},"
                  f"{d['ambient'][k]:.6f},{element_kw[k]:.6f}\n")
    return out.getvalue()


def write_scenario(folder, segment, tank, ua, data, zones=()):
    folder.mkdir(parents=True, exist_ok=True)
    files = {
        f"{segment['name']}.toml": scenario_text(
            segment, tank, ua, start_points(tank, data["sensors"][segment["first"] - 1]), zones),
        "inputs.csv": inputs_text(segment, tank, data),
    }
    for name, text in files.items():
        (folder / name).write_text(text)
    return folder / f"{segment['name']}.toml", files


def run(plugstore, scenario, output):
    done = subprocess.run([str(plugstore), "run", "-q", str(scenario), "-o", str(output)],
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"plugstore run {scenario} failed ({done.returncode}):\n{done.stderr}")
    with open(output, newline="") as f:
        table = list(csv.reader(f))
    return {name: np.array([float(r[i]) for r in table[1:] if r]) for i, name in enumerate(table[0])}


def simulate(plugstore, folder, segment, tank, ua, data):
    """Writes and runs the scenario of a segment. With tank["reading"] "plugs"
    the sensors are read as the plugs at their heights (narrow zones; five
    zones a run, so a second run reads the sixth) instead of the sensor
    outputs, which interpolate a 20-point profile between plug centres."""
    if tank["reading"] == "sensors":
        scenario, _ = write_scenario(folder, segment, tank, ua, data)
        return run(plugstore, scenario, folder / "out.csv")
    heights = sensor_heights(tank)
    sim = {}
    for part, group in (("a", range(0, 5)), ("b", range(5, SENSORS))):
        scenario, _ = write_scenario(folder / part, segment, tank, ua, data,
                                     [heights[i] for i in group])
        out = run(plugstore, scenario, folder / part / "out.csv")
        sim = sim or out
        for zone, i in enumerate(group, 1):
            sim[f"sensor{i + 1}.temperature"] = out[f"zone{zone}.temperature"]
    return sim


# ---------------------------------------------------------------- calibration

FIT = HERE / "fit"
# The figures of a segment pinned again for the calibrated tank, as "calibrated.NAME".
CALIBRATED = ["sensors.meanAbs", "sensors.largestAbs", "outletSettled.meanAbs", "stored.simulated",
              *(f"sensor{i}.meanAbs" for i in range(1, SENSORS + 1))]


def toml(x):
    """A value of the fit file: numbers short, strings quoted, lists and tables inline."""
    if isinstance(x, str):
        return json.dumps(x)
    if isinstance(x, dict):
        return "{ " + ", ".join(f"{k} = {toml(v)}" for k, v in x.items()) + " }"
    if isinstance(x, list):
        return "[" + ", ".join(toml(v) for v in x) + "]"
    return value(x) if isinstance(x, float) else str(x)


def fit_texts(config, tank, ua):
    """The base scenario of the assumed tank and the fit file that
    calibrates it, by file name."""
    head = "# Generated by validation/validate.py from validation/segments.toml; do not edit."
    base = [
        head,
        "# The assumed tank of the comparison: the base scenario of tank.fit.toml.",
        'title = "The assumed 170 l tank"',
        "",
        "[simulation]",
        f"step = {number(1.0 / 60.0)}",
        "",
        "[parameters]",
        *(f"{k} = {value(v)}" for k, v in tank_parameters(tank, ua).items()),
        "",
        "[outputs]",
        'columns = ["sensor*", "port1.outletTemperature", "store.energy"]',
        "",
    ]
    flow = GALLON * tank["flowDensity"] * 60.0  # kg/h per gal/min
    fit = [
        head,
        "# The loss split and the element height of the assumed tank fitted to the six sensors",
        "# of some segments; the others are held out.",
        'title = "Loss split and element height of the 170 l tank"',
        'base = "tank.toml"',
        'timing = "mean"       # a row is the mean over its minute',
        "",
    ]
    for test, (data, _, what) in TESTS.items():
        fit += ["[[data]]", f"name = {toml(test)}          # the {what}",
                f'file = "../data/{data}"', 'time = "Time(min)"', 'timeUnit = "min"', ""]
    fit += [
        "[inputs]",
        f'port1.massFlow = {{ column = "FlowRate(gal/min)", scale = {value(flow)}, empty = 0 }}'
        "   # kg/h",
        '# Empty only in the minutes without flow, where it has no effect.',
        'port1.temperatureA = { column = "InletT(C)", empty = 15.0 }',
        'ambient.temperature = "AmbientT(C)"',
        "",
        "[compare]",
        *(f'sensor{i}.temperature = "TankT{i}(C)"' for i in range(1, SENSORS + 1)),
        "",
        "[free]",
        *(f"{k if '.' not in k else json.dumps(k)} = {toml(v)}"
          for k, v in config["fit"]["free"].items()),
    ]
    for s in config["segment"]:
        fit += ["", "[[segment]]", f"name = {toml(s['name'])}", f"data = {toml(s['test'])}",
                f"from = {s['first']}", f"to = {s['last']}",
                f'use = "{"fit" if s["name"] in config["fit"]["fitted"] else "check"}"']
        if s.get("element", False):
            fit.append('inputs = { heatA1.power = { column = "PowerIn(W)", scale = 0.001, '
                       f'offset = {value(-tank["controlsPower"] / 1000.0)} }} }}   # kW, '
                       "less the controls")
    return {"tank.toml": "\n".join(base), "tank.fit.toml": "\n".join(fit) + "\n"}


def calibrate(plugstore, work):
    """Runs the fit with the Python package of the runner's build."""
    sys.path.insert(0, str(Path(plugstore).resolve().parent / "python"))
    import plugstore as package

    return package.fit(FIT / "tank.fit.toml", report=work / "fit" / "report.md", progress=False)


def calibrated_tank(config, settings):
    """The assumed tank with the fitted values, and its loss UA in all."""
    tank = tank_of(config, {"calibrated": settings})
    return tank, sum(v for k, v in settings.items() if k.startswith("loss."))


def calibrated_figures(segment, tank, ua, data, sim):
    f = figures(segment, tank, ua, data, sim)
    return {f"calibrated.{q}": f[q] for q in CALIBRATED if q in f}


# ---------------------------------------------------------------- figures


def compared(segment, tank, data, sim):
    """Measured and simulated series on the rows of the segment."""
    d = rows(data, segment["first"], segment["last"])
    start = data["sensors"][segment["first"] - 1]
    ends = np.stack([sim[f"sensor{i}.temperature"] for i in range(1, SENSORS + 1)], axis=1)
    if tank["timing"] == "mean":
        before = np.vstack([start, ends[:-1]])
        sim_sensors = 0.5 * (before + ends)
    else:
        sim_sensors = ends
    return d, sim_sensors, ends


def figures(segment, tank, ua, data, sim):
    d, sim_sensors, _ = compared(segment, tank, data, sim)
    f = {}
    diff = sim_sensors - d["sensors"]
    for i in range(SENSORS):
        f[f"sensor{i + 1}.mean"] = diff[:, i].mean()
        f[f"sensor{i + 1}.meanAbs"] = np.abs(diff[:, i]).mean()
        f[f"sensor{i + 1}.largest"] = diff[np.abs(diff[:, i]).argmax(), i]
    f["sensors.meanAbs"] = np.abs(diff).mean()
    f["sensors.largestAbs"] = np.abs(diff).max()
    at_outlet = d["flow"] >= OUTLET_MIN_FLOW
    flowing = d["flow"] > 0
    # The first minute of a draw also brings the water that cooled in the outlet pipe.
    settled = at_outlet & np.concatenate([[False], flowing[:-1]])
    for name, which in (("outlet", at_outlet), ("outletSettled", settled)):
        if which.any():
            od = sim["port1.outletTemperature"][which] - d["outlet"][which]
            f[f"{name}.minutes"] = float(which.sum())
            f[f"{name}.mean"] = od.mean()
            f[f"{name}.meanAbs"] = np.abs(od).mean()
            f[f"{name}.largest"] = od[np.abs(od).argmax()]
    if flowing.any():
        kg = d["flow"][flowing] * GALLON * tank["flowDensity"]  # drawn in the minute
        rise = d["outlet"][flowing] - d["inlet"][flowing]
        f["drawn.measured"] = (kg * tank["specificHeat"] * rise).sum() / 3600.0
        f["drawn.simulated"] = -sim["port1.heat"][flowing].sum() / 60.0
    # The stored energy from the six sensors, each the mean of a sixth of the water.
    sixth = capacitance(tank) / SENSORS / 3600.0  # kWh/K
    start = data["sensors"][segment["first"] - 1]
    f["stored.measured"] = sixth * (d["sensors"][-1] - start).sum()
    f["stored.simulated"] = sixth * (sim_sensors[-1] - start).sum()
    # The model's own stored energy (MJ over the reference temperature of the scenario).
    mean = start_mean(start_points(tank, start))
    initial = capacitance(tank) * (mean - REFERENCE_TEMPERATURE) / 3600.0
    f["stored.model"] = sim["store.energy"][-1] / 3.6 - initial
    element = sim["heatInputs.power"].sum() / 60.0
    if segment.get("element", False):
        f["element.energy"] = element
    # What the measurements themselves say the store gained: the element's heat less the
    # heat drawn and the losses of the fitted UA at the mean sensor temperature.
    excess = d["sensors"].mean(axis=1) - d["ambient"]
    f["stored.balance"] = element - f.get("drawn.measured", 0.0) - ua * excess.sum() / 60000.0
    return {k: float(v) for k, v in f.items()}


def tolerance(quantity, tank):
    quantity = quantity.removeprefix("calibrated.")
    if quantity.split(".")[0] in ("drawn", "stored", "element"):
        return TOLERANCE_K * capacitance(tank) / 3600.0  # 0.01 K of the whole store, kWh
    if quantity.endswith(".minutes"):
        return 0.0
    return TOLERANCE_K


# ---------------------------------------------------------------- plots


def plot_segment(path, segment, tank, data, sim):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    d, _, ends = compared(segment, tank, data, sim)
    first = segment["first"]
    n = len(d["flow"])
    centres = first + np.arange(n) + (0.5 if tank["timing"] == "mean" else 1.0)
    edges = first + np.arange(n + 1)
    sim_line = np.vstack([data["sensors"][first - 1], ends])
    flowing = d["flow"] > 0
    panels = 3 if flowing.any() or segment.get("element", False) else 2
    fig, axes = plt.subplots(panels, 1, figsize=(8.0, 2.4 * panels + 0.6), sharex=True,
                             gridspec_kw={"height_ratios": [2.2, 1.2, 1.4][:panels]})
    colours = plt.cm.coolwarm(np.linspace(1.0, 0.0, SENSORS))
    ax = axes[0]
    for i in range(SENSORS):
        ax.plot(edges, sim_line[:, i], color=colours[i], lw=1.4, label=f"T{i + 1}")
        ax.plot(centres, d["sensors"][:, i], "o", color=colours[i], ms=2.5 if n > 60 else 3.5,
                mfc="none" if n <= 60 else colours[i], mew=0.8)
    ax.set_ylabel("sensors, °C")
    ax.set_title(f"{segment['name']}: {segment['title']}", fontsize=10)
    ax.legend(ncol=6, fontsize=7, loc="best", title="lines: model, dots: measured",
              title_fontsize=7)
    ax.grid(alpha=0.3)
    ax = axes[1]
    _, sim_sensors, _ = compared(segment, tank, data, sim)
    for i in range(SENSORS):
        ax.plot(centres, sim_sensors[:, i] - d["sensors"][:, i], color=colours[i], lw=1.0)
    ax.axhline(0.0, color="black", lw=0.6)
    ax.set_ylabel("model − measured, K")
    ax.grid(alpha=0.3)
    if panels == 3:
        ax = axes[2]
        at_outlet = d["flow"] >= OUTLET_MIN_FLOW
        if at_outlet.any():
            ax.plot(centres[at_outlet], d["outlet"][at_outlet], "o", color="black", ms=3.5,
                    mfc="none", label="outlet, measured")
            ax.plot(centres[at_outlet], sim["port1.outletTemperature"][at_outlet], "s",
                    color="tab:red", ms=3, label="outlet, model")
            ax.plot(centres[flowing], d["inlet"][flowing], "v", color="tab:blue", ms=3,
                    label="inlet")
        ax.set_ylabel("°C")
        ax.set_xlabel(f"minute of the {TESTS[segment['test']][2]}")
        ax.grid(alpha=0.3)
        twin = ax.twinx()
        twin.bar(first + np.arange(n), d["flow"], width=1.0, align="edge", color="tab:blue",
                 alpha=0.15, label="flow, gal/min")
        if segment.get("element", False):
            twin.step(edges, np.append(sim["heatInputs.power"], sim["heatInputs.power"][-1]),
                      where="post", color="tab:orange", lw=1.0, label="element, kW")
        twin.set_ylabel("gal/min, kW")
        lines = ax.get_legend_handles_labels()
        more = twin.get_legend_handles_labels()
        ax.legend(lines[0] + more[0], lines[1] + more[1], fontsize=7, ncol=3, loc="best")
    else:
        axes[-1].set_xlabel(f"minute of the {TESTS[segment['test']][2]}")
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


def plot_variants(path, segment, tank, data, runs, names, labels):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    first = segment["first"]
    n = segment["last"] - first + 1
    edges = first + np.arange(n + 1)
    centres = first + np.arange(n) + 0.5
    shown = [1, 2, 3, 4]  # the sensors the front passes in a large draw
    fig, axes = plt.subplots(1, len(shown), figsize=(10.0, 3.9), sharey=True)
    for ax, i in zip(axes, shown):
        ax.plot(centres, data["sensors"][first : first + n, i], "o", color="black", mfc="none",
                ms=4, label="measured")
        for name in names:
            ends = runs[name][f"sensor{i + 1}.temperature"]
            ax.plot(edges, np.concatenate([[data["sensors"][first - 1, i]], ends]), lw=1.2,
                    label=labels[name])
        ax.set_title(f"T{i + 1}", fontsize=9)
        ax.set_xlabel("minute")
        ax.grid(alpha=0.3)
    axes[0].set_ylabel("°C")
    fig.legend(*axes[0].get_legend_handles_labels(), loc="lower center", ncol=3, fontsize=7)
    fig.suptitle(f"{segment['name']}: the front at sensors 2 to 5 under other assumptions",
                 fontsize=10)
    fig.tight_layout(rect=(0.0, 0.16, 1.0, 1.0))
    fig.savefig(path, dpi=90)
    plt.close(fig)


# ---------------------------------------------------------------- the page


def fmt(x, digits=2):
    return "–" if x is None else f"{x:.{digits}f}"


def write_page(config, tank, ua, results, variant_results, fit):
    segments = config["segment"]
    by_name = {s["name"]: s for s in segments}
    out = []
    w = out.append
    w("# Validation against measured data\n")
    w("<!-- Generated by `/usr/bin/python3 validation/validate.py`; do not edit. -->\n")
    w("The model is compared here with 1-minute lab measurements of a water heater with a "
      "170 l tank (50 gal nominal): a 24-hour efficiency test and an 18-hour high-volume draw "
      "test, with six thermocouples in the tank, inlet and outlet temperatures, the draw flow, "
      "the ambient temperature and the electric input. The files, their source and their "
      "licence are in [`validation/data/`](../validation/data/README.md). Only segments in "
      "which the heat entering the water is known are compared: draws before any heating, "
      "cool-downs, and the minutes in which only the electric element heats (its heat taken as "
      "the electric input less the controls' standby watts).\n")
    w("Everything on this page, its plots and its figures come from one command, which also "
      "writes the scenarios of [`validation/scenarios/`](../validation/scenarios/) (run any of "
      "them with `build/plugstore run`):\n")
    w("```sh\n/usr/bin/python3 validation/validate.py        # after a build (bash tools/dev.sh test)\n```\n")
    w("The test `validation_figures_unchanged` runs one segment again and fails when a figure "
      "moves by more than 0.01 K from [`docs/validation/figures.csv`](validation/figures.csv): "
      "a change of the model shows up as a change of this page, to be reviewed and "
      "committed with it.\n")

    w("## Assumptions\n")
    w("The data leave the tank's geometry open. The model runs with these assumptions; the "
      "last section shows how the results move with the ones that matter.\n")
    w("| assumption | value | why |\n|---|---|---|")
    heights = ", ".join(f"{h:.3f}" for h in sensor_heights(tank))
    c = capacitance(tank)
    rowsA = [
        ("water volume", f"{tank['volume']:.3f} m³", "50 gal nominal; the volume the data's source fits to this tank"),
        ("water height", f"{tank['height']:.2f} m", "a bore of 0.43 m; only conduction between layers depends on it"),
        ("water properties", f"{tank['density']} kg/m³, {tank['specificHeat']} kJ/(kg K), "
         f"{tank['conductivity']} W/(m K)", "water at 40 °C; heat capacitance "
         f"{c:.0f} kJ/K"),
        ("metered flow", f"gal/min × 3.785 l × {tank['flowDensity']} kg/m³",
         "the flow taken as cold water"),
        ("sensor heights (T1 … T6)", heights, "centres of six equal volumes, as the test "
         "procedure places them; T1 the top"),
        ("start profile", "`store.initialProfile` through the six sensors of the minute before "
         "the segment", "linear between the sensors, constant above T1 and below T6, in as many "
         "plugs as the uniform store has"),
        ("inlet", f"port 1, connection A at {tank['inletHeight']}, "
         + ("entering at its height and mixing" if tank["inletMode"] == 0 else "seeking its layer"),
         "the dip tube ends at the bottom (a port needs a height above 0)"),
        ("outlet", f"port 1, connection B at {tank['outletHeight']}", "the hot outlet leaves "
         "through the top (a port needs a height below 1)"),
        ("loss UA", f"{ua:.3f} W/K", f"fitted to the mean of the six sensors in "
         f"`{tank['lossFit']}`; shared by area over bottom, the three side thirds and top"),
        ("element", f"heat input A1 at {tank['elementHeight']}", "the element heats sensors "
         "T1 to T3 together while T4 lags: it sits between T3 and T4"),
        ("element heat", f"electric input − {tank['controlsPower']} W",
         "only in whole minutes of element heating, when the compressor is off"),
        ("plugs", f"{tank['minPlugs']} to {tank['maxPlugs']}, merged below {tank['minDeltaT']} K",
         "the component's defaults"),
        ("model sensors", "the component's sensor outputs" if tank["reading"] == "sensors"
         else "the plug at each sensor height", "what a user of the component would compare"),
        ("timing", "a row is the mean over its minute", "the files are 1-minute means of "
         "10-second samples; a model sensor value is the mean of the minute's start and end"),
    ]
    for a, b, why in rowsA:
        w(f"| {a} | {b} | {why} |")
    w("")

    w("## Summary\n")
    w("Differences are model − measured. Sensors: over the six sensors and all minutes of the "
      f"segment. Outlet: over the minutes with at least {OUTLET_MIN_FLOW} gal/min of flow, and "
      "over those after the first minute of each draw (the first minute also brings the water "
      "that cooled in the outlet pipe since the last draw, which the model has not). Energies in "
      "kWh: the heat drawn above the inlet temperature, from the same flows and inlet "
      "temperatures for model and tank; the change of the stored energy from the six sensors "
      "(each the mean of a sixth of the water), for model and tank alike.\n")
    w("| segment | test, minutes | sensors mean \\|Δ\\| K | sensors largest \\|Δ\\| K "
      "| outlet mean \\|Δ\\| K, all / after first minute "
      "| outlet largest \\|Δ\\| K, all / after first minute | drawn kWh measured / model "
      "| stored change kWh measured / model |")
    w("|---|---|---:|---:|---:|---:|---:|---:|")

    def pair(f, a, b, op=lambda x: x, digits=2):
        if a not in f and b not in f:
            return "–"
        return f"{fmt(op(f[a]) if a in f else None, digits)} / {fmt(op(f[b]) if b in f else None, digits)}"

    for s in segments:
        f = results[s["name"]]
        drawn = pair(f, "drawn.measured", "drawn.simulated", digits=3)
        w(f"| [{s['name']}](#{s['name']}) | {s['test']} {s['first']}–{s['last']} "
          f"| {fmt(f['sensors.meanAbs'])} | {fmt(f['sensors.largestAbs'])} "
          f"| {pair(f, 'outlet.meanAbs', 'outletSettled.meanAbs')} "
          f"| {pair(f, 'outlet.largest', 'outletSettled.largest', abs)} "
          f"| {drawn} | {pair(f, 'stored.measured', 'stored.simulated', digits=3)} |")
    w("")

    for kind, heading in (("draw", "Draws"), ("cooldown", "Cool-downs"), ("element", "Element heating")):
        w(f"## {heading}\n")
        for s in (s for s in segments if s["kind"] == kind):
            f = results[s["name"]]
            w(f"### {s['name']}\n")
            w(f"**{s['title']}.** Minutes {s['first']} to {s['last']} of the "
              f"{TESTS[s['test']][2]}. " + " ".join(s["note"].split()) + "\n")
            w(f"![{s['name']}](validation/{s['name']}.png)\n")
            w("| | mean Δ K | mean \\|Δ\\| K | largest Δ K |\n|---|---:|---:|---:|")
            for i in range(1, SENSORS + 1):
                w(f"| T{i} at {sensor_heights(tank)[i - 1]:.3f} | {fmt(f[f'sensor{i}.mean'])} "
                  f"| {fmt(f[f'sensor{i}.meanAbs'])} | {fmt(f[f'sensor{i}.largest'])} |")
            for key, what in (("outlet", "outlet"), ("outletSettled", "outlet after a draw's first minute")):
                if f"{key}.mean" in f:
                    w(f"| {what} ({int(f[f'{key}.minutes'])} min) | {fmt(f[f'{key}.mean'])} "
                      f"| {fmt(f[f'{key}.meanAbs'])} | {fmt(f[f'{key}.largest'])} |")
            w("")
            facts = []
            if "drawn.measured" in f:
                facts.append(f"heat drawn {fmt(f['drawn.measured'], 3)} measured, "
                             f"{fmt(f['drawn.simulated'], 3)} model")
            if "element.energy" in f:
                facts.append(f"element {fmt(f['element.energy'], 3)}")
            facts.append(f"change of the stored energy from the six sensors "
                         f"{fmt(f['stored.measured'], 3)} measured, {fmt(f['stored.simulated'], 3)} "
                         f"model; the model's own stored energy changed by "
                         f"{fmt(f['stored.model'], 3)}, and the measured heat balance (element − "
                         f"drawn − losses of the fitted UA) gives {fmt(f['stored.balance'], 3)}")
            w("Energies in kWh: " + "; ".join(facts) + ".\n")

    w("## How the results move with the assumptions\n")
    w("Each variation changes one assumption of the table above and runs every segment "
      "again (the loss UA is fitted again when the volume changes). The cells give the mean "
      "|Δ| in K over the six sensors, and for segments with draws over the outlet minutes "
      "after the first minute of each draw.\n")
    names = [v["name"] for v in config["variant"]]
    labels = {"base": "as assumed above", **{v["name"]: v["label"] for v in config["variant"]}}
    for kind, heading in (("draw", "Draws"), ("cooldown", "Cool-downs"), ("element", "Element heating")):
        group = [s["name"] for s in segments if s["kind"] == kind]
        cols = []
        for name in group:
            cols.append((name, "sensors.meanAbs", f"{name} sensors"))
            if "outletSettled.meanAbs" in results[name]:
                cols.append((name, "outletSettled.meanAbs", f"{name} outlet"))
        w(f"**{heading}**\n")
        w("| variation | " + " | ".join(c[2] for c in cols) + " |")
        w("|---|" + "---:|" * len(cols))
        for v in ["base"] + names:
            res = results if v == "base" else variant_results[v]
            w(f"| {labels[v]} | " + " | ".join(fmt(res[n].get(q)) for n, q, _ in cols) + " |")
        w("")
    w("![The large draw under other assumptions](validation/variants-hvdt-draw-79.png)\n")

    write_fit_section(w, config, ua, results, fit)

    w("## Reading the comparison\n")
    for paragraph in config["findings"].strip().split("\n\n"):
        w(" ".join(paragraph.split()) + "\n")
    (DOCS / "validation.md").write_text("\n".join(out))
    del by_name


def write_fit_section(w, config, ua, results, fit):
    table, result, fitted_ua = fit
    segments = config["segment"]
    held = [s["name"] for s in segments if s["name"] not in config["fit"]["fitted"]]
    w("## Calibration with `plugstore fit`\n")
    how = {"scale": "a factor on", "shift": "an offset to", "set": "one value for"}
    frees = [f"`{n}`" + (f" ({how[r['kind']]} {r['targets']})" if r["kind"] in how else "")
             for n, r in table.iterrows()]
    w("[`plugstore fit`](fit.md) fits " + ", ".join(frees[:-1]) + " and " + frees[-1]
      + " to the six sensors of " + ", ".join(f"`{n}`" for n in config["fit"]["fitted"])
      + " (the factors act on the loss UAs as shared by area above); the other "
      f"{len(held)} segments are held out. The fit file and its base scenario are in "
      "[`validation/fit/`](../validation/fit/), written by the same command, and so is the "
      "calibrated scenario `tank.calibrated.toml`; [docs/fit.md](fit.md) explains the fit file "
      "with this one as its example.\n")
    w("```sh\nbuild/plugstore fit validation/fit/tank.fit.toml\n```\n")
    verdict = ("It converged" if result.success else f"It is **not trustworthy**: "
               f"{result.verdict}") + f" after {result.evaluations} runs of the fitted segments."
    w(verdict + f" The loss UA in all goes from {ua:.3f} to {fitted_ua:.3f} W/K.\n")
    w("| free value | sets | start | fitted | standard error |\n|---|---|---:|---:|---:|")
    for name, r in table.iterrows():
        sets = r["targets"] if r["kind"] == "value" else f"{r['kind']} {r['targets']}"
        w(f"| {name} | {sets} | {r['start']:.3g} | {r['value']:.4f} | {r['stdError']:.2g} |")
    w("")
    for text in result.findings:
        w(f"- {text}")
    w("\nThe standard errors take the minutes' residuals as independent; they are not (the "
      "misfit of one minute persists into the next), so they understate what the data fix.\n")
    w("Sensor figures of every segment with the assumed tank and with the calibrated one "
      "(mean |Δ| in K over the six sensors, and of the bottom sensor T6):\n")
    w("| segment | use | sensors mean \\|Δ\\| assumed → calibrated | largest \\|Δ\\| "
      "| T6 mean \\|Δ\\| | stored change kWh measured / assumed → calibrated |")
    w("|---|---|---:|---:|---:|---:|")
    for s in segments:
        f = results[s["name"]]
        use = "fitted" if s["name"] in config["fit"]["fitted"] else "held out"
        w(f"| {s['name']} | {use} | {fmt(f['sensors.meanAbs'])} → "
          f"{fmt(f['calibrated.sensors.meanAbs'])} | {fmt(f['sensors.largestAbs'])} → "
          f"{fmt(f['calibrated.sensors.largestAbs'])} | {fmt(f['sensor6.meanAbs'])} → "
          f"{fmt(f['calibrated.sensor6.meanAbs'])} | {fmt(f['stored.measured'], 3)} / "
          f"{fmt(f['stored.simulated'], 3)} → {fmt(f['calibrated.stored.simulated'], 3)} |")
    before = np.mean([results[n]["sensors.meanAbs"] for n in held])
    after = np.mean([results[n]["calibrated.sensors.meanAbs"] for n in held])
    w(f"\nOver the {len(held)} held-out segments the sensors' mean |Δ| goes from {before:.3f} K "
      f"to {after:.3f} K on average.\n")
    for name in config["fit"]["shown"]:
        w(f"![{name} before and after the calibration](validation/fit-{name}.png)\n")
    for paragraph in config["fit"]["findings"].strip().split("\n\n"):
        if paragraph.strip():
            w(" ".join(paragraph.split()) + "\n")


# ---------------------------------------------------------------- driver


def tank_of(config, overrides):
    tank = copy.deepcopy(config["tank"])
    tank.update(overrides)
    return tank


def loss_ua(config, tank, tests):
    fit = next(s for s in config["segment"] if s["name"] == tank["lossFit"])
    return fit_loss_ua(tank, tests[fit["test"]], fit)


def write_figures(results):
    """The figures of the assumed tank and of the calibrated one (and, as
    segment "fit", the fitted values), which --check compares against."""
    FIGURES.parent.mkdir(parents=True, exist_ok=True)
    with open(FIGURES, "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["segment", "quantity", "value"])
        for segment, figs in results.items():
            for quantity, value in figs.items():
                out.writerow([segment, quantity, f"{value:.10g}" if segment == "fit" else
                              f"{value:.6f}"])


def check(config, tests, plugstore, names):
    committed = {}
    with open(FIGURES, newline="") as f:
        for r in csv.DictReader(f):
            committed[(r["segment"], r["quantity"])] = float(r["value"])
    tank = tank_of(config, {})
    ua = loss_ua(config, tank, tests)
    failures = []
    for file, text in fit_texts(config, tank, ua).items():
        if not (FIT / file).is_file() or (FIT / file).read_text() != text:
            failures.append(f"{(FIT / file).relative_to(ROOT)} is not what the script writes")
    settings = {q.removeprefix("set."): v for (s, q), v in committed.items()
                if s == "fit" and q.startswith("set.")}
    fitted, fitted_ua = calibrated_tank(config, settings)
    with tempfile.TemporaryDirectory() as work:
        for name in names:
            segment = next((s for s in config["segment"] if s["name"] == name), None)
            if segment is None:
                raise SystemExit(f"no segment {name} in segments.toml")
            _, files = write_scenario(Path(work) / "scenario", segment, tank, ua, tests[segment["test"]])
            for file, text in files.items():
                kept = HERE / "scenarios" / name / file
                if not kept.is_file() or kept.read_text() != text:
                    failures.append(f"{kept.relative_to(ROOT)} is not what the script writes")
            sim = simulate(plugstore, Path(work) / name, segment, tank, ua, tests[segment["test"]])
            now = figures(segment, tank, ua, tests[segment["test"]], sim)
            sim = simulate(plugstore, Path(work) / "calibrated" / name, segment, fitted, fitted_ua,
                           tests[segment["test"]])
            now.update(calibrated_figures(segment, fitted, fitted_ua, tests[segment["test"]], sim))
            keys = set(now) | {q for s, q in committed if s == name}
            for q in sorted(keys):
                was, new = committed.get((name, q)), now.get(q)
                if was is None or new is None:
                    failures.append(f"{name} {q}: committed {was}, now {new}")
                elif abs(new - was) > tolerance(q, tank):
                    failures.append(f"{name} {q}: committed {was:.6f}, now {new:.6f}")
            print(f"{name}: {len(keys)} figures compared")
    if failures:
        print("The validation moved (review, then rerun validation/validate.py and commit):")
        print("\n".join("  " + x for x in failures))
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--plugstore", default=str(ROOT / "build" / "plugstore"),
                        help="the runner (default: build/plugstore)")
    parser.add_argument("--work", default=str(ROOT / "build" / "validation"),
                        help="folder for the runs' CSV files and the variations' scenarios")
    parser.add_argument("--check", nargs="+", metavar="SEGMENT",
                        help="run these segments only and compare with the committed figures")
    args = parser.parse_args()

    with open(HERE / "segments.toml", "rb") as f:
        config = tomllib.load(f)
    tests = {t: read_test(t) for t in TESTS}
    plugstore = Path(args.plugstore)
    if not plugstore.is_file():
        raise SystemExit(f"{plugstore}: no runner; build first (bash tools/dev.sh test)")
    if args.check:
        return check(config, tests, plugstore, args.check)

    work = Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    tank = tank_of(config, {})
    ua = loss_ua(config, tank, tests)
    results, runs = {}, {}
    (DOCS / "validation").mkdir(parents=True, exist_ok=True)
    for s in config["segment"]:
        write_scenario(HERE / "scenarios" / s["name"], s, tank, ua, tests[s["test"]])
        sim = simulate(plugstore, work / "base" / s["name"], s, tank, ua, tests[s["test"]])
        results[s["name"]] = figures(s, tank, ua, tests[s["test"]], sim)
        runs[("base", s["name"])] = sim
        plot_segment(DOCS / "validation" / f"{s['name']}.png", s, tank, tests[s["test"]], sim)
        print(f"{s['name']}: sensors mean |d| {results[s['name']]['sensors.meanAbs']:.3f} K")

    variant_results = {}
    for v in config["variant"]:
        vt = tank_of(config, v["set"])
        vua = loss_ua(config, vt, tests)
        variant_results[v["name"]] = {}
        for s in config["segment"]:
            folder = work / "variants" / v["name"] / s["name"]
            sim = simulate(plugstore, folder, s, vt, vua, tests[s["test"]])
            variant_results[v["name"]][s["name"]] = figures(s, vt, vua, tests[s["test"]], sim)
            runs[(v["name"], s["name"])] = sim
        print(f"variation {v['name']} done")

    FIT.mkdir(exist_ok=True)
    for file, text in fit_texts(config, tank, ua).items():
        (FIT / file).write_text(text)
    table, fit = calibrate(plugstore, work)
    fitted, fitted_ua = calibrated_tank(config, fit.settings)
    for s in config["segment"]:
        sim = simulate(plugstore, work / "calibrated" / s["name"], s, fitted, fitted_ua,
                       tests[s["test"]])
        results[s["name"]].update(calibrated_figures(s, fitted, fitted_ua, tests[s["test"]], sim))
    results["fit"] = {**{f"free.{n}": v for n, v in table["value"].items()},
                      **{f"set.{k}": v for k, v in fit.settings.items()}}
    for name in config["fit"]["shown"]:
        shutil.copy(Path(fit.report).with_suffix("") / f"{name}.png",
                    DOCS / "validation" / f"fit-{name}.png")
    print(f"fit: {fit.evaluations} evaluations in {fit.seconds:.1f} s, "
          f"{'converged' if fit.success else 'NOT TRUSTWORTHY: ' + fit.verdict}")

    draw = next(s for s in config["segment"] if s["name"] == "hvdt-draw-79")
    shown = ["base", "inlet-0.15-mixing", "start-layers", "reading-plugs", "plugs-fine"]
    labels = {"base": "model as assumed", **{v["name"]: v["label"] for v in config["variant"]}}
    plot_variants(DOCS / "validation" / "variants-hvdt-draw-79.png", draw, tank, tests["HVDT"],
                  {n: runs[(n, draw["name"])] for n in shown}, shown, labels)
    write_figures(results)
    write_page(config, tank, ua, results, variant_results, (table, fit, fitted_ua))
    print(f"wrote {DOCS / 'validation.md'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
