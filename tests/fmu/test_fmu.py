"""The store's FMU through the test master: its model description, a day
against the runner, two instances in one process, and refused calls."""

import csv
import math
import os
import pathlib
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

import plugstore
from fmi2_master import ERROR, OK, Fmu

SOURCE = pathlib.Path(os.environ.get("PLUGSTORE_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
EXE = os.environ.get("PLUGSTORE_EXE", "plugstore")
DRAW_OFF = SOURCE / "examples" / "dhw-draw-off" / "dhw-draw-off.toml"


@pytest.fixture(scope="module")
def draw_off(tmp_path_factory):
    folder = tmp_path_factory.mktemp("fmu")
    subprocess.run([EXE, "fmu", DRAW_OFF, "-o", folder / "dhw.fmu"], check=True)
    return Fmu(folder / "dhw.fmu")


def runner_rows(tmp_path, *define):
    out = tmp_path / f"run{len(define)}.csv"
    subprocess.run([EXE, "run", "-q", DRAW_OFF, "-o", out, *define], check=False)
    with open(out) as f:
        return list(csv.reader(f))


# What the standard allows: causality -> variability -> initial values.
ALLOWED = {
    "parameter": {"fixed": {"exact"}, "tunable": {"exact"}},
    "calculatedParameter": {"fixed": {"approx", "calculated"}, "tunable": {"approx", "calculated"}},
    "input": {"discrete": {None}, "continuous": {None}},
    "output": {"constant": {"exact"}, "discrete": {"approx", "calculated"},
               "continuous": {"approx", "calculated"}},
    "independent": {"continuous": {None}},
}
DEFAULT_INITIAL = {"parameter": "exact", "output": "calculated", "calculatedParameter": "calculated"}
NAME = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*(\.[A-Za-z_][A-Za-z0-9_]*)*$")


def test_the_model_description_follows_the_rules_it_is_checked_for(draw_off):
    root = draw_off.description
    assert root.get("fmiVersion") == "2.0"
    assert re.fullmatch(r"\{[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\}", root.get("guid"))
    units = {u.get("name") for u in root.find("UnitDefinitions")}
    types = {t.get("name"): t.find("Real").get("unit") for t in root.find("TypeDefinitions")}
    assert set(types.values()) <= units
    variables = list(root.find("ModelVariables"))
    names = [v.get("name") for v in variables]
    refs = [v.get("valueReference") for v in variables]
    assert len(set(names)) == len(names) and len(set(refs)) == len(refs)
    outputs = []
    for index, v in enumerate(variables, 1):
        causality, variability = v.get("causality"), v.get("variability")
        initial = v.get("initial", DEFAULT_INITIAL.get(causality))
        assert NAME.match(v.get("name")), v.get("name")
        assert initial in ALLOWED[causality][variability], ET.tostring(v)
        real = v.find("Real")
        needs_start = initial in ("exact", "approx") or causality == "input"
        assert (real.get("start") is not None) == needs_start, ET.tostring(v)
        if real.get("start") is not None:
            assert math.isfinite(float(real.get("start")))
        assert real.get("unit") is None or real.get("unit") in units
        assert real.get("declaredType") is None or real.get("declaredType") in types
        if causality == "output":
            outputs.append(index)
    structure = root.find("ModelStructure")
    assert [int(u.get("index")) for u in structure.find("Outputs")] == outputs
    assert [int(u.get("index")) for u in structure.find("InitialUnknowns")] == outputs
    # The scenario's inputs in use, with the scenario's values to start with.
    assert draw_off.names("input") == ["port1.temperatureA", "port1.massFlow",
                                       "port1.temperatureB", "ambient.temperature"]
    assert draw_off.variables["port1.temperatureA"][2] == 10.0
    assert draw_off.variables["store.volume"][2] == 0.3
    assert types[draw_off.description.find(
        ".//ScalarVariable[@name='port1.outletTemperature']/Real").get("declaredType")] == "degC"


def test_a_day_equals_the_runner_and_two_instances_keep_their_own_stores(draw_off, tmp_path):
    want = {0.3: runner_rows(tmp_path), 0.4: runner_rows(tmp_path, "-D", "store.volume=0.4")}
    # Outputs that have an input's name take "Output" after it.
    columns = [c + "Output" if c in plugstore.INPUT_NAMES else c for c in want[0.3][0][1:]]
    assert columns == draw_off.names("output")
    scenario = plugstore.load(DRAW_OFF)
    inputs = draw_off.names("input")
    where = [plugstore.INPUT_NAMES.index(n) for n in inputs]
    stores = {v: draw_off.instance(f"store{v}") for v in want}
    for volume, store in stores.items():
        assert store.initialize(parameters={"store.volume": volume}) == OK
    h = scenario.step * 3600.0
    assert draw_off.step_size == h
    for k in range(1, scenario.steps + 1):
        t = scenario.start + k * scenario.step
        x = scenario.inputs_over(t - scenario.step, t)
        for volume, store in stores.items():
            store.set({n: x[i] for n, i in zip(inputs, where)})
            assert store.step(h) == OK, store.messages
            row = [f"{t:.10g}"] + [f"{v:.9g}" for v in store.get(columns)]
            assert row == want[volume][k], (volume, k)
    for store in stores.values():
        assert store.terminate() == OK
        store.free()
    assert len(want[0.3]) == scenario.steps + 1 and want[0.3][-1] != want[0.4][-1]


def test_bad_calls_give_an_error_with_the_reason_and_the_instance_stops(draw_off):
    store = draw_off.instance("bad")
    assert store.initialize() == OK
    assert store.set({"port1.massFlow": math.nan}) == ERROR
    assert "port1.massFlow takes a finite number, not nan" in store.messages[-1][2]
    assert store.step(180.0) == ERROR
    assert "only fmi2Reset and fmi2FreeInstance" in store.messages[-1][2]
    assert store.reset() == OK and store.initialize() == OK
    assert store.step(-180.0) == ERROR
    assert "step size -180 s is refused" in store.messages[-1][2]
    assert store.reset() == OK and store.initialize() == OK
    assert store.step(180.0) == OK
    assert store.step(7.2e9) == ERROR  # 2e6 h: no time step of a simulation
    fatal = [m for s, c, m in store.messages if s == ERROR and "FATAL" in m]
    assert fatal and "Time step of the simulation is out of range" in fatal[0]
    assert store.reset() == OK
    assert store.initialize(parameters={"store.volume": -0.3}) == ERROR
    assert any("bad parameter 1 store.volume" in m for _, _, m in store.messages)
    store.free()
    guid, draw_off.guid = draw_off.guid, "{00000000-0000-0000-0000-000000000000}"
    try:
        with pytest.raises(RuntimeError, match="is not this FMU's"):
            draw_off.instance("other")
    finally:
        draw_off.guid = guid


def test_the_example_thermostat_in_python_gives_the_reference_rows(tmp_path):
    example = SOURCE / "examples" / "fmu"
    subprocess.run([EXE, "fmu", example / "fmu.toml", "-o", tmp_path / "store.fmu"], check=True)
    subprocess.run([sys.executable, example / "cosim.py", tmp_path / "store.fmu", "-o",
                    tmp_path / "cosim.csv"], check=True)
    assert (tmp_path / "cosim.csv").read_text() == (example / "reference.csv").read_text()
