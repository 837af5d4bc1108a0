"""Speed of a sweep on Dask against the same variants one after another.

Forty one-year variants at 1-minute steps of examples/sweep/week.toml (ten
volumes x four plug limits) run once one after another in this process,
then as a sweep on a LocalCluster of two workers, its start-up included.
Prints both wall times, their ratio and the processor time each took (the
workers' own included), so that a run on a loaded machine can be judged; the
tables must agree.

    PYTHONPATH=build/python /usr/bin/python3 bench/sweep_speed.py [--days 365] [--workers 2]
"""

import argparse
import os
import pathlib
import resource
import time

import numpy as np

import plugstore
from plugstore.scenarios import define_texts
from plugstore.sweep import run_variant, variant_table

BASE = pathlib.Path(__file__).resolve().parents[1] / "examples" / "sweep" / "week.toml"


def children_cpu():
    """Processor seconds of the finished child processes (the cluster's)."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--days", type=float, default=365.0)
    parser.add_argument("--workers", type=int, default=2)
    args = parser.parse_args()
    grid = {"store.volume": [0.12, 0.15, 0.18, 0.2, 0.22, 0.25, 0.3, 0.35, 0.4, 0.5],
            "store.maxPlugs": [40, 80, 120, 200]}
    define = {"simulation.stop": 24.0 * args.days, "simulation.step": 1.0 / 60.0}
    aggregates = {"port1.outletTemperature": ["min"]}
    variants = variant_table(grid)
    print(f"{len(variants)} variants of {args.days:g} days at 1-minute steps; "
          f"load average before: {os.getloadavg()[0]:.2f}")

    began, cpu = time.perf_counter(), time.process_time()
    rows = []
    for _, variant in variants.iterrows():
        defines = define_texts(define) + define_texts(variant.to_dict())
        rows.append(run_variant(str(BASE), defines, True, False, aggregates)[0])
    serial, serial_cpu = time.perf_counter() - began, time.process_time() - cpu
    print(f"one after another in one process: {serial:.1f} s, {serial_cpu:.1f} s of processor; "
          f"load average: {os.getloadavg()[0]:.2f}")

    began, cpu, workers_cpu = time.perf_counter(), time.process_time(), children_cpu()
    table = plugstore.sweep(BASE, grid, define=define, aggregates=aggregates,
                            workers=args.workers, progress=False)
    swept = time.perf_counter() - began
    cpu, workers_cpu = time.process_time() - cpu, children_cpu() - workers_cpu
    print(f"sweep on a LocalCluster of {args.workers} workers, start-up included: {swept:.1f} s, "
          f"{workers_cpu:.1f} s of processor in the cluster and {cpu:.1f} s here")

    assert (table["status"] == 0).all(), table[["status", "error"]]
    one = np.array([r["port1.outletTemperature.min"] for r in rows])
    assert np.array_equal(one, table["port1.outletTemperature.min"].to_numpy())
    print(f"ratio sweep / one after another: {swept / serial:.3f}; "
          f"load average after: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
