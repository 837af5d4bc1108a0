"""The plot script: long runs drawn by day and month of the host's clock,
outlets while they flow, heat inputs by name, heat in and out of the store
apart, and files it cannot draw refused in one line."""

import os
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "plot"))
import plot_run  # noqa: E402

SCRIPT = plot_run.__file__


def run_script(*args):
    return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True)


def test_periods_follow_the_hosts_calendar():
    # Hourly rows from 30 April 12:00 to 2 May 06:00, 1 kW throughout.
    time = np.arange(2869.0, 2919.0)
    hours = np.ones_like(time)
    days = plot_run.Periods(time, hours, monthly=False)
    assert list(days.energy(hours)) == [12.0, 24.0, 14.0]
    assert list(days.edges()) == [2868.0, 2880.0, 2904.0, 2918.0]
    months = plot_run.Periods(time, hours, monthly=True)
    assert months.labels == ["Apr", "May"]
    assert list(months.energy(hours)) == [12.0, 38.0]


def test_ten_weeks_of_hourly_means_are_drawn_by_month(tmp_path):
    time = np.arange(0.0, 70 * 24 + 1.0)  # the first row: the state at the start
    profile = [f"profile.t{h:02d}" for h in range(5, 100, 10)]
    header = ["time", *profile, "port1.outletTemperature", "port1.massFlow", "port1.heat",
              "heatInputs.power", "loss.heat", "balance.storageRate"]
    csv = tmp_path / "year.csv"
    with open(csv, "w") as f:
        f.write(",".join(header) + "\n" + ",".join(["h"] + ["-"] * (len(header) - 1)) + "\n")
        for t in time:
            draw = 1.0 if t % 24 == 8 else 0.0
            row = [t, *[40.0 + h for h in range(10)], 50.0, 100 * draw, -5 * draw, 0.3, 0.1, 0.0]
            f.write(",".join(f"{v:g}" for v in row) + "\n")
    png = tmp_path / "year.png"
    done = run_script(str(csv), "-o", str(png), "--initial-row", "--name", "port1=DHW")
    assert done.returncode == 0, done.stderr
    assert png.stat().st_size > 10000
    assert not [p for p in os.listdir(tmp_path) if p.endswith(".part")]


def test_files_it_cannot_draw_give_one_line(tmp_path):
    bad = tmp_path / "bad.csv"
    bad.write_text("time,store.energy\n1,2\n2,x\n")
    torn = tmp_path / "torn.csv"
    torn.write_text("time,store.energy\n1,2\n2")
    for path, why in [(tmp_path / "absent.csv", "cannot read"), (bad, "line 3: a field is not"),
                      (torn, "line 3: 1 fields instead of 2")]:
        done = run_script(str(path), "-o", str(tmp_path / "x.png"))
        assert done.returncode == 2
        assert done.stderr.count("\n") == 1 and why in done.stderr, done.stderr


def test_outlets_show_only_while_their_own_flow_runs():
    run = {"port1.outletTemperature": np.array([50.0, 51.0, 52.0]),
           "port1.massFlow": np.array([0.0, 200.0, 0.0]),
           "hx1.outletTemperature": np.array([30.0, 31.0, 32.0]),
           "hx1.heatToFluid": np.array([-1.0, 0.0, 0.0])}
    (_, port, weights, label), (_, hx, _, _) = plot_run.outlets(run, {"port1": "DHW"})
    assert list(port) == [False, True, False] and list(weights) == [0.0, 200.0, 0.0]
    assert label == "port 1 (DHW) out" and list(hx) == [True, False, False]


def test_heat_inputs_are_labelled_by_their_names():
    run = {"heatInputs.power": np.ones(2)}
    label = lambda names: plot_run.energy_terms(run, names)[0][0][0]  # noqa: E731
    assert label({"heatA1": "electric heater", "port1": "DHW"}) == "electric heater"
    assert label({"heatB1": "gas", "heatA10": "heat input A10", "heatA2": "rod"}) == \
        "heat inputs (rod, heat input A10, gas)"
    assert label({}) == "heat inputs"


def test_heat_a_coil_takes_out_is_drawn_not_netted():
    # 2 kW into the store for 3 h, then 1 kW out of it for 2 h, within one day.
    time = np.arange(1.0, 6.0)
    run = {"time": time, "hx1.heatToStore": np.array([2.0, 2.0, 2.0, -1.0, -1.0])}
    fig, ax = plot_run.plt.subplots()
    plot_run.energy_panel(ax, run, time, {"hx1": "solar coil"})
    assert ax.get_legend_handles_labels()[1] == ["Hx 1 (solar coil): in 6.00, out 2.00 kWh"]
    ax.clear()
    plot_run.period_energy_panel(ax, run, plot_run.Periods(time, np.ones(5), False),
                                 {}, "day")
    assert sorted(p.get_height() for p in ax.patches) == [-2.0, 6.0]
    assert ax.get_legend_handles_labels()[1] == ["Hx 1: in 6.0, out 2.0 kWh"]
