"""The stepped store's guards: the runner's checks at construction and at
each step, refused steps that change nothing, one store from two threads."""

import subprocess
import sys
import threading

import numpy as np
import pytest

import plugstore

PORT = {"port1.heightA": 0.02, "port1.heightB": 0.98, "heatA1.height": 0.5}


@pytest.mark.parametrize("setting, message", [
    ({"iterations": 0}, "iterations must be 1 ... 1000"),
    ({"iterations": -3}, "iterations must be 1 ... 1000"),
    ({"unit": 0}, "unit must be 1 ... 999"),
    ({"unit": -5}, "unit must be 1 ... 999"),
    ({"start": float("nan")}, "start must be a number of hours, not nan"),
    ({"start": 1e300}, "the clock would not move by a step"),
    ({"step": 0.0}, "step must be above 0 h"),
])
def test_settings_the_runner_refuses_are_refused(setting, message):
    with pytest.raises(ValueError, match=message):
        plugstore.Store(PORT, **setting)


def test_parameters_and_inputs_are_checked_as_the_runner_checks_them():
    with pytest.raises(ValueError, match="port1.heightA must lie above 0 and at most 1, not 2"):
        plugstore.Store({"port1.heightA": 2.0, "port1.heightB": 0.5})
    with pytest.warns(UserWarning, match="was it given in J/"):
        plugstore.Store({"store.specificHeat": 4190})
    store = plugstore.Store(PORT)
    with pytest.raises(ValueError, match="port2.massFlow is given but port 2 is not in use"):
        store.step({"port2.massFlow": 100.0})
    with pytest.raises(ValueError, match="heatA2.power is given but heatA2.height is 0"):
        store.step({"heatA2.power": 1.0})
    with pytest.raises(KeyError, match="did you mean 'port1.outletTemperature'"):
        store.step()["port1.outletTemp"]
    # Without the checks the component judges.
    with pytest.raises(plugstore.FatalError, match="bad parameter 22 port1.heightB"):
        plugstore.Store({"port1.heightA": 2.0}, checks=False)


def test_a_refused_step_changes_nothing():
    store = plugstore.Store(PORT)
    before = store.inputs
    for bad in ({"port1.temperatureA": 60.0, "port1.masFlow": 100.0},
                {"port1.temperatureA": 60.0, "port1.massFlow": "much"},
                {"port1.temperatureA": 60.0, "port2.massFlow": 100.0},
                {"port1.temperatureA": 60.0, "heatA1.power": float("nan")}):
        with pytest.raises((KeyError, ValueError)):
            store.step(bad)
        assert store.inputs == before and store.time == 0.0
    with pytest.raises(ValueError, match="no step forward"):
        store.step({"port1.temperatureA": 60.0}, dt=-1.0)
    assert store.inputs == before
    fresh = plugstore.Store(PORT)
    assert store.step({}) == fresh.step({})


def test_one_store_stepped_from_two_threads_takes_its_steps_in_turn():
    inputs = {"port1.temperatureA": 10.0, "port1.massFlow": 50.0, "heatA1.power": 2.0}
    alone = plugstore.Store(PORT, step=0.05)
    for _ in range(1000):
        alone.step(inputs)
    shared = plugstore.Store(PORT, step=0.05)
    threads = [threading.Thread(target=lambda: [shared.step(inputs) for _ in range(500)])
               for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert shared.time == alone.time
    assert np.array_equal(shared.outputs, alone.outputs)
    assert [m.severity for m in shared.messages] == [m.severity for m in alone.messages]


def test_a_run_needs_little_more_memory_than_its_frame(tmp_path):
    # In a process of its own: the peak of this one is that of earlier tests.
    scenario = tmp_path / "long.toml"
    scenario.write_text('[simulation]\nstop = 20000\nstep = 0.1\n'
                        '[outputs]\ncolumns = ["profile.*", "store.energy", "sensor1.temperature"]\n')
    script = f"""
import resource, numpy as np, pandas as pd, plugstore
pd.DataFrame(np.ones((3, 3)), index=pd.Index([0.0, 1, 2], name="t"), columns=list("abc"))
s = plugstore.load({str(scenario)!r})
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
frame = plugstore.run(s)
rise = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) * 1024
print(rise / frame.memory_usage(index=True).sum())
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert float(done.stdout) < 1.3, done.stdout
