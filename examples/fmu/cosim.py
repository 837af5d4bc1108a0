"""A day of the store of fmu.toml as an FMU, co-simulated with its heater's
thermostat written in Python, through the project's test master.

    build/plugstore fmu examples/fmu/fmu.toml -o store.fmu
    PYTHONPATH=build/python /usr/bin/python3 examples/fmu/cosim.py store.fmu -o cosim.csv

The draws come from the scenario's schedule (the Python package reads it);
the thermostat switches the 3 kW element between the steps from the sensor
reading of the step that ended, as the scenario's controller does in
`plugstore run`, so the rows equal reference.csv.
"""

import argparse
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "tests" / "fmu"))

import plugstore  # noqa: E402
from fmi2_master import OK, Fmu  # noqa: E402


class Thermostat:
    """On below `on`, off from `off` upwards; it keeps its state between."""

    def __init__(self, on, off):
        self.on, self.off, self.state = on, off, False

    def decide(self, temperature):
        self.state = not temperature >= self.off if self.state else temperature < self.on


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("fmu")
    parser.add_argument("-o", "--output", default="cosim.csv")
    args = parser.parse_args()

    scenario = plugstore.load(HERE / "fmu.toml")
    fmu = Fmu(args.fmu)
    store = fmu.instance("store")
    assert store.initialize() == OK, store.messages
    thermostat = Thermostat(on=50.0, off=55.0)
    draw = plugstore.INPUT_NAMES.index("port1.massFlow")
    columns = ["port1.outletTemperature", "port1.heat", "heatInputs.power", "sensor1.temperature",
               "sensor2.temperature", "sensor3.temperature", "store.energy", "store.balance"]
    h = fmu.step_size  # s
    rows = []
    for k in range(1, scenario.steps + 1):
        t = scenario.start + k * scenario.step  # h, the end of the step
        store.set({"port1.massFlow": scenario.inputs_over(t - scenario.step, t)[draw],
                   "heatA1.power": 3.0 if thermostat.state else 0.0})
        if store.step(h) != OK:
            sys.exit(f"the store stopped at {t} h: {store.messages}")
        values = store.get(columns)
        rows.append([t, *values, 1.0 if thermostat.state else 0.0])
        thermostat.decide(values[columns.index("sensor2.temperature")])
    store.terminate()
    store.free()

    with open(args.output, "w") as f:
        f.write(",".join(["time", *columns, "control.heater"]) + "\n")
        for t, *values in rows:
            f.write(",".join([f"{t:.10g}"] + [f"{v:.9g}" for v in values]) + "\n")
    print(f"wrote {args.output} ({len(rows)} rows)", file=sys.stderr)


if __name__ == "__main__":
    main()
