"""Wall time of `plugstore fit` on a 24-hour segment of 1-minute data with
three free parameters.

A store of 300 l heated by an element for 1.5 h, then by a coil for 3 h,
then cooling, with a loss UA, an element height and a coil UA that differ
from the fit's start values, gives the "measured" data: its eight sensors and
the coil outlet with 0.05 K of noise. The fit takes them back from the start
values. Prints the wall time, the processor time of the fit's processes and
the machine's load before and after, so that a run on a busy machine can be
judged.

    PYTHONPATH=build/python /usr/bin/python3 bench/fit_speed.py [--plugstore build/plugstore] [--workers 2]
"""

import argparse
import os
import pathlib
import resource
import subprocess
import tempfile
import time

import numpy as np
import pandas as pd

import plugstore

ROOT = pathlib.Path(__file__).resolve().parents[1]
STORE = """[simulation]
stop = 24.0
step = 0.016666666666666666
[parameters]
store = {{ volume = 0.3, height = 1.5, initialTemperature = 20.0 }}
loss = {{ uaBottom = {f2}, uaSideLower = {f5}, uaSideMiddle = {f5}, uaSideUpper = {f5}, uaTop = {f3} }}
heatA1.height = {height}
hx.count = 1
hx1 = {{ inletHeight = 0.35, outletHeight = 0.05, uaModel = 1, uaNominal = {ua} }}
{sensors}
[inputs]
ambient.temperature = 15.0
"""
DRIVE = """heatA1.power = { schedule = [[0, 0], [1, 3.0], [2.5, 0]] }
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
timeUnit = "min"
[inputs]
heatA1.power = "heater"
hx1 = { massFlow = "coilFlow", inletTemperature = "coilIn" }
[compare]
hx1.outletTemperature = "coilOut"
COMPARE
[free]
loss = { scale = "loss.*", start = 1.0, bounds = [0.3, 4.0] }
heatA1.height = { start = 0.5, bounds = [0.2, 0.8] }
hx1.uaNominal = { start = 1800, bounds = [300, 5000] }
[[segment]]
name = "day"
from = 1
to = 1440
"""
HEIGHTS = [0.06, 0.19, 0.31, 0.44, 0.56, 0.69, 0.81, 0.94]


def store(factor, height, ua):
    sensors = "\n".join(f"sensor{i}.height = {h}" for i, h in enumerate(HEIGHTS, 1))
    return STORE.format(f2=0.2 * factor, f3=0.3 * factor, f5=0.5 * factor, height=height, ua=ua,
                        sensors=sensors)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plugstore", default=str(ROOT / "build" / "plugstore"))
    parser.add_argument("--workers", type=int, default=2)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        folder = pathlib.Path(work)
        (folder / "truth.toml").write_text(store(1.6, 0.62, 1200) + DRIVE)
        (folder / "base.toml").write_text(store(1.0, 0.5, 1800))
        truth = plugstore.load(folder / "truth.toml")
        frame = plugstore.run(truth)
        inputs = np.array([truth.inputs_over(t - truth.step, t) for t in frame.index])
        rng = np.random.default_rng(1)
        data = pd.DataFrame({"time": np.round(frame.index * 60.0)})
        for column, name in (("heater", "heatA1.power"), ("coilFlow", "hx1.massFlow"),
                             ("coilIn", "hx1.inletTemperature")):
            data[column] = inputs[:, plugstore.INPUT_NAMES.index(name)]
        noisy = frame.to_numpy() + rng.normal(0.0, 0.05, frame.shape)
        for i in range(1, len(HEIGHTS) + 1):
            data[f"T{i}"] = noisy[:, i - 1]
        data["coilOut"] = np.where(data["coilFlow"] > 0, noisy[:, -1], np.nan)
        data.to_csv(folder / "measured.csv", index=False, float_format="%.6f")
        compare = "\n".join(f'sensor{i}.temperature = "T{i}"' for i in range(1, len(HEIGHTS) + 1))
        (folder / "day.fit.toml").write_text(FIT.replace("COMPARE", compare))

        load = os.getloadavg()
        cpu = resource.getrusage(resource.RUSAGE_CHILDREN)
        clock = time.monotonic()
        done = subprocess.run([args.plugstore, "fit", str(folder / "day.fit.toml"), "-q",
                               "--workers", str(args.workers)], capture_output=True, text=True)
        wall = time.monotonic() - clock
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        print(done.stderr, end="")
        print(f"exit status {done.returncode}; wall {wall:.1f} s, processor "
              f"{after.ru_utime + after.ru_stime - cpu.ru_utime - cpu.ru_stime:.1f} s on "
              f"{args.workers} workers; load average {load[0]:.2f} before, "
              f"{os.getloadavg()[0]:.2f} after, {os.cpu_count()} cores")


if __name__ == "__main__":
    main()
