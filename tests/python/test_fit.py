"""Calibration: a known store fitted back from its own noisy outputs, a fit
that ends on a bound, segments simulated at once in threads, and bad fit
files and data refused by name."""

import importlib
import os
import subprocess
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pandas as pd
import pytest

import plugstore

STORE = """
[simulation]
stop = 24.0
step = 0.0333333333333333333
[parameters]
store.volume = 0.3
store.height = 1.5
store.initialTemperature = 20.0
loss = {{ uaBottom = {b}, uaSideLower = {s}, uaSideMiddle = {s}, uaSideUpper = {s}, uaTop = {t} }}
heatA1.height = {height}
hx.count = 1
hx1 = {{ inletHeight = 0.35, outletHeight = 0.05, uaModel = 1, uaNominal = {ua} }}
sensor1.height = 0.06
sensor2.height = 0.31
sensor3.height = 0.56
sensor4.height = 0.69
sensor5.height = 0.94
[inputs]
ambient.temperature = 15.0
"""
SCHEDULES = """heatA1.power = { schedule = [[0, 0], [1, 3.0], [2.5, 0]] }
hx1.massFlow = { schedule = [[0, 0], [4, 300], [7, 0]] }
hx1.inletTemperature = 65.0
[outputs]
columns = ["sensor*", "hx1.outletTemperature"]
initialRow = true
"""
FIT = """base = "base.toml"
startProfile = "scenario"
[[data]]
file = "measured.csv"
time = "time"
timeUnit = "h"
[inputs]
heatA1.power = "heater"
hx1 = { massFlow = "coilFlow", inletTemperature = "coilIn" }
[compare]
hx1.outletTemperature = "coilOut"
[free]
loss = { scale = "loss.*", start = 1.0, bounds = [0.3, {top}] }
heatA1.height = { start = 0.5, bounds = [0.2, 0.8] }
hx1.uaNominal = { start = 1800, bounds = [300, 5000] }
[[segment]]
name = "day"
from = 0.0333333
to = 24
"""


@pytest.fixture(scope="module")
def measured(tmp_path_factory):
    """A day of a store heated by an element, then by a coil, then cooling;
    its sensors and coil outlet with 0.05 K of noise, the outlet empty while
    the coil stands still."""
    folder = tmp_path_factory.mktemp("fit")
    (folder / "truth.toml").write_text(STORE.format(b=0.32, s=0.8, t=0.48, height=0.62, ua=1200)
                                       + SCHEDULES)
    (folder / "base.toml").write_text(STORE.format(b=0.2, s=0.5, t=0.3, height=0.5, ua=1800))
    truth = plugstore.load(folder / "truth.toml")
    frame = plugstore.run(truth)
    inputs = np.array([truth.inputs_over(t - truth.step, t) for t in frame.index])
    rng = np.random.default_rng(1)
    data = pd.DataFrame({"time": frame.index})
    for column, name in (("heater", "heatA1.power"), ("coilFlow", "hx1.massFlow"),
                         ("coilIn", "hx1.inletTemperature")):
        data[column] = inputs[:, plugstore.INPUT_NAMES.index(name)]
    noisy = frame.to_numpy() + rng.normal(0.0, 0.05, frame.shape)
    for i in range(1, 6):
        data[f"T{i}"] = noisy[:, i - 1]
    data["coilOut"] = np.where(data["coilFlow"] > 0, noisy[:, -1], np.nan)
    data.to_csv(folder / "measured.csv", index=False, float_format="%.6f")
    compare = "".join(f'sensor{i}.temperature = "T{i}"\n' for i in range(1, 6))
    for name, top, starts in (("day", 4.0, 4), ("bound", 1.3, 1)):
        (folder / f"{name}.fit.toml").write_text(
            f"starts = {starts}\n" + FIT.replace("{top}", str(top))
            .replace("[compare]\n", "[compare]\n" + compare))
    return folder


def test_a_known_store_is_fitted_back_within_two_standard_errors(measured):
    table, result = plugstore.fit(measured / "day.fit.toml", workers=2, progress=False)
    known = {"loss": 1.6, "heatA1.height": 0.62, "hx1.uaNominal": 1200.0}
    assert result.success and result.status == 0
    for name, value in known.items():
        row = table.loc[name]
        assert abs(row["value"] - value) < 2 * row["stdError"], (name, row.to_dict())
        assert row["stdError"] < 0.02 * value
    stats = result.statistics.set_index("output")
    assert (stats["meanAbs.after"] < 0.06).all() and (stats["meanAbs.before"] > 0.5).all()
    assert stats.loc["hx1.outletTemperature", "gaps"] == 630  # the coil's idle rows
    calibrated = plugstore.load(result.calibrated).parameters
    assert calibrated[plugstore.PARAMETER_NAMES.index("loss.uaTop")] == pytest.approx(
        0.3 * table.loc["loss", "value"])
    assert os.path.exists(os.path.join(result.report.removesuffix(".md"), "day.png"))


def test_a_fit_that_ends_on_a_bound_exits_3(measured):
    done = subprocess.run([os.environ["PLUGSTORE_EXE"], "fit", str(measured / "bound.fit.toml"),
                           "--workers", "2", "-q"], capture_output=True, text=True, timeout=300)
    assert done.returncode == 3, done.stderr
    assert "not trustworthy: ended on a bound: loss (upper)" in done.stderr


def test_segments_set_up_at_once_in_threads_start_from_their_own_profiles(measured):
    fit = importlib.import_module("plugstore.fit")
    path = measured / "sensors.fit.toml"
    path.write_text((measured / "day.fit.toml").read_text().replace('startProfile = "scenario"', "")
                    + '[[segment]]\nname = "night"\nfrom = 12\nto = 24\n')
    problem, _ = fit.read_fit_file(path)
    x = np.array([f.start for f in problem.frees])
    alone = [fit.simulate(problem, i, x)[0] for i in (0, 1)]
    with ThreadPoolExecutor(4) as threads:
        together = list(threads.map(lambda i: fit.simulate(problem, i, x)[0], [0, 1] * 4))
    assert all(np.array_equal(t, alone[k % 2]) for k, t in enumerate(together))


@pytest.mark.parametrize("change, message", [
    (("T3", "T33"), "measured.csv: no column 'T33' (compared with sensor3.temperature); "
                    "did you mean 'T3'?"),
    (("heatA1.height = {", "heatA1.heigth = {"), "did you mean 'heatA1.height'"),
    (("start = 1800", "start = 200"), "the start value 200 lies outside the bounds [300, 5000]"),
    (("to = 24", "to = 24.5"), "has no row at to = 24.5 h"),
    (("starts = 4", "maxEvaluations = 0"), "maxEvaluations must be a whole number above 0"),
])
def test_bad_fit_files_are_refused_by_name(measured, change, message):
    path = measured / "bad.fit.toml"
    path.write_text((measured / "day.fit.toml").read_text().replace(*change))
    with pytest.raises(plugstore.FitError, match=message.replace("[", r"\[").replace("(", r"\(")
                       .replace(")", r"\)").replace("?", r"\?")):
        plugstore.fit(path, workers=1)


def test_bad_measured_rows_are_refused_by_file_column_and_line(measured):
    lines = (measured / "measured.csv").read_text().splitlines()
    for row, text, message in ((40, "nan", r"measured.csv:40: column 'T2': 'nan' is not a number"),
                               (50, None, r"measured.csv:50: time 1.63333 h is not one step")):
        bad = list(lines)
        cells = bad[row - 1].split(",")
        if text:
            cells[5] = text
        else:
            cells[0] = "1.63333"
            del bad[row]
        bad[row - 1] = ",".join(cells)
        (measured / "measured.csv").write_text("\n".join(bad) + "\n")
        try:
            with pytest.raises(plugstore.FitError, match=message):
                plugstore.fit(measured / "day.fit.toml", workers=1)
        finally:
            (measured / "measured.csv").write_text("\n".join(lines) + "\n")
