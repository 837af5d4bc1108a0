"""The Python API: names, fatal messages, identity with the runner, threads."""

import os
import subprocess
import threading

import numpy as np
import pytest

import plugstore


def test_bad_names_say_the_nearest_known_one(tmp_path):
    with pytest.raises(KeyError, match="did you mean 'store.volume'"):
        plugstore.Store({"store.volum": 0.3})
    with pytest.raises(KeyError, match="it is an input"):
        plugstore.Store({"port1.massFlow": 100.0})
    store = plugstore.Store()
    with pytest.raises(KeyError, match="did you mean 'port1.massFlow'"):
        store.step({"port1.masFlow": 100.0})
    with pytest.raises(ValueError, match="219 parameter values expected"):
        plugstore.Store([0.3] * 5)
    bad = tmp_path / "bad.toml"
    bad.write_text("[parameters]\nstore.volume = 0.3\nstore.heigth = 1.2\n")
    with pytest.raises(plugstore.ScenarioError, match=r"bad.toml:3:7: .*'store.height'"):
        plugstore.load(bad)
    with pytest.raises(plugstore.ScenarioError, match="store.volum"):
        plugstore.load(bad, define={"store.volum": 0.4})


def test_fatal_messages_raise_and_stop_the_store():
    with pytest.raises(plugstore.FatalError) as rejected:
        plugstore.Store({"store.volume": -0.3}, checks=False)  # the component judges
    assert rejected.value.severity == "Fatal"
    assert "bad parameter 1 store.volume" in rejected.value.text

    store = plugstore.Store({"store.volume": 0.3}, step=0.5)
    store.step({"port1.massFlow": 0.0})
    with pytest.raises(plugstore.FatalError) as stopped:
        store.step(dt=2e6)  # no simulation's time step
    assert stopped.value.severity == "FATAL"
    assert "Time step of the simulation is out of range" in stopped.value.text
    assert stopped.value.time == pytest.approx(0.5 + 2e6)
    assert stopped.value.message in store.messages and store.stopped
    with pytest.raises(plugstore.FatalError):
        store.step()
    with pytest.raises(ValueError, match="no step forward"):
        plugstore.Store().step(dt=-1.0)


def test_a_stepped_store_gives_the_runners_bits(draw_off, tmp_path):
    scenario = plugstore.load(draw_off)
    assert not scenario.drives_inputs
    frame = plugstore.run(scenario)
    columns = [plugstore.OUTPUT_NAMES.index(c) for c in frame.columns]
    rows = []
    with plugstore.Store.from_scenario(scenario) as store:
        for k in range(1, scenario.steps + 1):
            t = scenario.start + k * scenario.step
            store.step(scenario.inputs_over(t - scenario.step, t))
            rows.append(store.outputs[columns])
            assert store.time == frame.index[k - 1]
    assert np.array_equal(np.array(rows), frame.to_numpy())  # every bit
    summary = frame.attrs["summary"]
    assert summary["stepsDone"] == 480 and summary["exitStatus"] == 0
    assert summary["account"]["closes"]

    # The command line's CSV is the same table, written with 9 digits.
    csv = tmp_path / "cli.csv"
    subprocess.run([os.environ["PLUGSTORE_EXE"], "run", "-q", str(draw_off), "-o", str(csv)],
                   check=True)
    ours = ["time," + ",".join(frame.columns)]
    for t, values in zip(frame.index, frame.to_numpy()):
        ours.append("%.10g," % t + ",".join("%.9g" % v for v in values))
    assert csv.read_text().splitlines() == ours


def test_stores_in_threads_give_what_they_give_one_by_one():
    def day(volume, results, i):
        store = plugstore.Store({"store.volume": volume, "port1.heightA": 0.02,
                                 "port1.heightB": 0.98, "heatA1.height": 0.5},
                                step=0.1)
        out = []
        for k in range(240):
            out.append(store.step({"port1.temperatureA": 10.0,
                                   "port1.massFlow": 200.0 if k % 24 < 3 else 0.0,
                                   "heatA1.power": 3.0 if k % 24 > 12 else 0.0})["store.energy"])
        results[i] = out

    volumes = [0.2, 0.3, 0.4, 0.5]
    alone = [None] * 4
    for i, v in enumerate(volumes):
        day(v, alone, i)
    together = [None] * 4
    threads = [threading.Thread(target=day, args=(v, together, i)) for i, v in enumerate(volumes)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert together == alone
    assert len(set(a[-1] for a in alone)) == 4
