"""Sweeps: the example's table, rows in grid order with a failing variant,
and the same table from a separately started scheduler and workers."""

import os
import subprocess
import sys
import time

import numpy as np
import pandas as pd
import pytest

import plugstore
from conftest import SOURCE

EXAMPLE = SOURCE / "examples" / "sweep"


def same_table(got, want):
    """Equal columns and texts; numbers within 1e-6 + 1e-6 |want|."""
    assert list(got.columns) == list(want.columns)
    numbers = got.select_dtypes("number").columns
    assert np.allclose(got[numbers], want[numbers], rtol=1e-6, atol=1e-6, equal_nan=True)
    others = [c for c in got.columns if c not in numbers]
    assert got[others].fillna("").astype(str).equals(want[others].fillna("").astype(str))


@pytest.mark.parametrize("folder, name", [("sweep", "volume-plugs"), ("solar-combi", "volume-area")])
def test_the_example_sweeps_give_their_reference_tables(tmp_path, folder, name):
    out, example = tmp_path / "results.csv", SOURCE / "examples" / folder
    done = subprocess.run([os.environ["PLUGSTORE_EXE"], "sweep", str(example / f"{name}.sweep.toml"),
                           "--workers", "2", "-q", "-o", str(out)], timeout=300)
    assert done.returncode == 0
    same_table(pd.read_csv(out, index_col=0), pd.read_csv(example / "results.csv", index_col=0))


def start(args, env):
    """`dask scheduler ...` or `dask worker ...`, as a user starts them."""
    return subprocess.Popen([sys.executable, "-m", "dask"] + args, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def test_rows_failures_and_a_separate_cluster(tmp_path):
    from distributed import Client

    grid = {"store.volume": [0.15, 0.3], "port1.heightB": [0.97, 1.0]}
    define = {"simulation.stop": 24}
    asked = {"port1.outletTemperature": ["min"]}
    local = plugstore.sweep(EXAMPLE / "week.toml", grid, define=define, aggregates=asked,
                            workers=2, progress=False)
    assert local[list(grid)].values.tolist() == [[0.15, 0.97], [0.15, 1.0], [0.3, 0.97],
                                                 [0.3, 1.0]]
    assert local["status"].tolist() == [0, 2, 0, 2]
    assert "port1.heightB must lie from 0 to below 1, not 1" in local["error"][3]
    assert local["steps"][0] == 720 and local["port1.outletTemperature.min"][2] > 50.0
    assert abs(local["account.unexplained"][0]) < 1e-6 * local["account.heatA1.in"][0]

    # The same on a scheduler and two workers started apart, on loopback. Should
    # this test be killed, the scheduler stops when idle and the workers without it.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    address = tmp_path / "scheduler.json"
    processes = [start(["scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                        "--idle-timeout", "300", "--scheduler-file", str(address)], env)]
    try:
        deadline = time.monotonic() + 60
        while not address.exists() and time.monotonic() < deadline:
            time.sleep(0.2)
        for _ in range(2):
            processes.append(start(["worker", "--scheduler-file", str(address), "--nthreads", "1",
                                    "--no-dashboard", "--host", "127.0.0.1",
                                    "--death-timeout", "60"], env))
        with Client(scheduler_file=str(address), timeout=60) as client:
            client.wait_for_workers(2, timeout=120)
            remote = plugstore.sweep(EXAMPLE / "week.toml", grid, define=define,
                                     aggregates=asked, client=client, progress=False)
    finally:
        for p in reversed(processes):
            p.terminate()
        for p in processes:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
    same_table(remote, local)


def test_a_sweep_varies_a_controllers_set_point():
    grid = {"controller.topup.on": [40.0, 55.0], "tapping.delivery": [45.0]}
    table = plugstore.sweep(SOURCE / "examples" / "solar-controlled" / "solar-controlled.toml",
                            grid, workers=1, progress=False)
    assert table["status"].tolist() == [0, 0]
    assert table["control.topup.switchedOn"].tolist() == [1, 8]
