"""Parameter sweeps: every variant of a base scenario run on a Dask cluster,
one row of results per variant."""

import contextlib
import itertools
import logging
import math
import numbers
import os
import sys
import time
from collections import Counter

from ._plugstore import ScenarioError
from .scenarios import define_texts, load, run

# Status of a variant whose run did not complete at all (its worker died, or
# the cluster lost it); 0 ... 3 are the exit statuses of `plugstore run`.
LOST = -1
# Status of a variant stopped at the time limit of its run.
TIMED_OUT = -2
_ALARM = 128 + 14  # the exit status of a run stopped by its time limit (SIGALRM)


class SweepInterrupted(KeyboardInterrupt):
    """A sweep stopped by Ctrl-C (or SIGTERM in `plugstore sweep`) before
    every variant was done: `table` holds the rows of those that were, as
    `sweep` returns them."""

    def __init__(self, table, total):
        super().__init__(f"{len(table)} of {total} variants done")
        self.table = table
        self.total = total


def variant_table(grid):
    """The variants as a DataFrame, one row each: `grid` maps names (as -D
    takes them) to lists of values, all combinations in order (the first
    name varies slowest); or it is a DataFrame of variants already."""
    import pandas as pd

    if isinstance(grid, pd.DataFrame):
        return grid
    names = list(grid)
    for name in names:
        if isinstance(grid[name], (str, bytes)) or not hasattr(grid[name], "__iter__"):
            raise TypeError(f"grid: {name} takes a list of values, not {grid[name]!r}")
    rows = list(itertools.product(*(list(grid[n]) for n in names)))
    table = pd.DataFrame(rows, columns=names)
    table.index.name = "variant"
    return table


def _defines(variant):
    return define_texts({k: (v.item() if hasattr(v, "item") else v) for k, v in variant.items()})


def _one_line(text):
    return "; ".join(line.strip() for line in str(text).splitlines() if line.strip())


def _fault(summary):
    """What stopped a run or makes it untrustworthy, in one line."""
    if summary["verdict"]:
        return summary["verdict"]
    for b in summary["badParameters"]:
        return f"bad parameter {b['number']} {b['name']}: {b['text']}"
    for m in summary["messages"]:
        if m["severity"] in ("FATAL", "Fatal"):
            return f"{m['severity']} at {m['first']:g} h: {m['text']}"
    return ""


def run_variant(base, defines, checks=True, allow_warnings=False, aggregates=None, series=False,
                timeout=None):
    """One variant, as a Dask task: its row of results and, if asked, its
    time series. Faults of the variant go into its row, never raise."""
    # Rows are kept only when something needs them: a year at 1-minute
    # steps has half a million.
    columns = None if series else list(aggregates or {})
    try:
        frame = run(load(base, defines, checks), allow_warnings=allow_warnings, columns=columns,
                    timeout=timeout)
    except ScenarioError as e:
        return {"status": 2, "error": _one_line(e)}, None
    except Exception as e:  # a file that cannot be read or written, say
        return {"status": 2, "error": _one_line(f"{type(e).__name__}: {e}")}, None
    summary = frame.attrs["summary"]
    row = {"status": summary["exitStatus"], "error": _one_line(_fault(summary)),
           "steps": summary["stepsDone"]}
    if row["status"] == _ALARM:
        row["status"] = TIMED_OUT
        row["error"] = (f"stopped at the time limit of {timeout:g} s after "
                        f"{summary['lastTime']:g} h of {summary['stop']:g} h")
    severities = Counter()
    for m in summary["messages"]:
        severities[m["severity"]] += m["count"]
    for severity, count in sorted(severities.items()):
        row[f"messages.{severity}"] = count
    row["badParameters"] = len(summary["badParameters"])
    account = summary["account"]
    for f in account["flows"]:
        row[f"account.{f['key']}.in"] = f["in"]
        row[f"account.{f['key']}.out"] = f["out"]
    for key in ("heatIntoPlugs", "temperatureLimit", "losses", "storedChange", "unexplained"):
        if key in account:
            row[f"account.{key}"] = account[key]
    for c in summary["controllers"]:
        row[f"control.{c['name']}.switchedOn"] = c["switchedOn"]
        row[f"control.{c['name']}.onHours"] = c["onHours"]
    for key, value in summary.get("tapping", {}).items():
        row[f"tapping.{key}"] = value
    for c in summary.get("collectors", []):
        for key in ("yield", "yieldPerArea", "pipeLoss", "stagnationHours", "maxTemperature"):
            row[f"collector.{c['name']}.{key}"] = c[key]
    for entry in summary.get("loads", []):
        for key in ("asked", "delivered", "short", "hoursShort"):
            row[f"load.{entry['name']}.{key}"] = entry[key]
    for key, value in summary.get("figures", {}).items():
        row[f"figures.{key}"] = value
    for column, functions in (aggregates or {}).items():
        for fn in [functions] if isinstance(functions, str) else functions:
            row[f"{column}.{fn}"] = frame[column].agg(fn) if len(frame) else float("nan")
    return row, (frame if series else None)


@contextlib.contextmanager
def _connected(workers, scheduler, client):
    from distributed import Client, LocalCluster

    if client is not None:
        yield client
        return
    if scheduler is not None:
        with Client(scheduler) as c:
            yield c
        return
    with LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                      processes=True, dashboard_address=None,
                      silence_logs=logging.ERROR) as cluster, Client(cluster) as c:
        yield c


def _same_setting(a, b):
    if isinstance(a, numbers.Number) and isinstance(b, numbers.Number):
        return float(a) == float(b) or (math.isnan(float(a)) and math.isnan(float(b)))
    return str(a) == str(b)


def _earlier_rows(variants, done):
    """Rows of `done` (an earlier results table) with status 0 for the
    variants of the same settings: variant index -> its row."""
    if done is None:
        return {}
    missing = [c for c in variants.columns if c not in done.columns]
    if missing or "status" not in done.columns:
        raise ValueError(f"resume: the earlier results have no column "
                         f"{(missing or ['status'])[0]!r}: they are not of this sweep")
    finished = done[done["status"] == 0]
    found = {}
    for i, settings in variants.iterrows():
        for _, row in finished.iterrows():
            if all(_same_setting(settings[c], row[c]) for c in variants.columns):
                found[i] = row.drop(labels=list(variants.columns)).to_dict()
                if not isinstance(found[i].get("error"), str):
                    found[i]["error"] = ""  # an empty text reads back as NaN
                break
    return found


class _Lines:
    """Progress as lines for a log: the first variant done, then at most one
    line every 5 s."""

    def __init__(self, done, total):
        self._done, self._total, self._count, self._last = done, total, 0, -math.inf

    def __iter__(self):
        for item in self._done:
            yield item  # said once the caller has taken it
            self._count += 1
            now = time.monotonic()
            if now - self._last >= 5.0 or self._count == self._total:
                self._last = now
                print(f"plugstore sweep: {self._count} of {self._total} variants done",
                      file=sys.stderr, flush=True)


def sweep(base, grid, *, define=None, aggregates=None, series=False, allow_warnings=False,
          checks=True, workers=None, scheduler=None, client=None, progress=None, timeout=None,
          done=None):
    """Runs every variant of the scenario `base` (a path, or a scenario from
    `load`) on Dask and returns a DataFrame with one row per variant: its
    settings, "status" (0 done, 1 stopped by the component, 2 a bad variant,
    3 not trustworthy, as `plugstore run` exits; -1 lost by the cluster),
    "error", the messages by severity ("messages.WARNING", ...), the energy
    account in kWh ("account.port1.in", ..., "account.unexplained"), what
    the controllers and the tapping list did, and the `aggregates` of output
    columns ({"port1.temperatureOut": ["mean", "min"]}
    gives "port1.temperatureOut.mean", ...). With `series`, returns the table
    and a list of each variant's DataFrame (None for a variant that failed).

    `grid` maps names to lists of values (every combination) or is a
    DataFrame of variants; `define` settles further settings for all. The
    cluster: `client` (a distributed.Client), or `scheduler` (an address
    such as "tcp://host:8786"), or else a LocalCluster of `workers` processes
    (default: one per core). A failed variant is reported in its row and
    never stops the others. `progress`: a progress bar on standard error
    (default: when it is a terminal; "lines" for a line every 5 s).

    `timeout`: seconds a variant may run; one that takes longer stops after
    the step under way and gets status -2 and the reason. `done`: the table
    of an earlier sweep; its variants of status 0 with the same settings are
    taken from it, not run again. Ctrl-C raises SweepInterrupted, whose
    `table` holds the variants done so far.
    """
    import pandas as pd

    if scheduler is not None and (workers is not None or client is not None):
        raise ValueError("sweep: give a scheduler, a client or a number of workers, not several")
    variants = variant_table(grid)
    if isinstance(base, (str, os.PathLike)):
        base = load(base, define, checks)
    elif define is not None:
        base = load(base.path, base.defines + define_texts(define), base.checks)
    tasks = [(base.path, base.defines + _defines(row), base.checks)
             for _, row in variants.iterrows()]
    # The names and the output columns are checked here, before any cluster
    # starts: a misspelt name would otherwise fail every variant.
    first = load(*tasks[0]) if tasks else base
    missing = [c for c in (aggregates or {}) if c not in first.columns]
    if missing:
        raise KeyError(f"aggregates: no output column {missing[0]!r} in the scenario's outputs")

    results = [None] * len(tasks)
    for k, row in _earlier_rows(variants, done).items():
        results[variants.index.get_loc(k)] = (row, None)
    todo = [i for i, r in enumerate(results) if r is None]
    try:
        if todo:
            _run_tasks(tasks, todo, results, (allow_warnings, aggregates, series, timeout),
                       (workers, scheduler, client), progress)
    except KeyboardInterrupt:
        finished = [i for i, r in enumerate(results) if r is not None]
        table = _table(pd, variants.iloc[finished], [results[i] for i in finished])
        raise SweepInterrupted(table, len(tasks)) from None
    table = _table(pd, variants, results)
    if series:
        return table, [r[1] for r in results]
    return table


def _run_tasks(tasks, todo, results, options, cluster, progress):
    from distributed import as_completed

    with _connected(*cluster) as c:
        futures = [c.submit(run_variant, *tasks[i], *options, pure=False) for i in todo]
        where = {f.key: i for f, i in zip(futures, todo)}
        try:
            finished = as_completed(futures)
            if progress == "lines":
                finished = _Lines(finished, len(futures))
            elif progress if progress is not None else sys.stderr.isatty():
                from tqdm import tqdm

                finished = tqdm(finished, total=len(futures), desc="variants", unit="run",
                                file=sys.stderr)
            for f in finished:
                i = where[f.key]
                try:
                    results[i] = f.result()
                except Exception as e:  # the worker died or the task was lost
                    results[i] = ({"status": LOST, "error": _one_line(f"{type(e).__name__}: {e}")},
                                  None)
                f.release()
        except KeyboardInterrupt:
            c.cancel(futures)  # a shared cluster runs nothing more of this sweep
            raise


def _table(pd, variants, results):
    rows = pd.DataFrame([r[0] for r in results], index=variants.index)
    counts = [c for c in rows.columns if c.startswith("messages.") or c == "badParameters"]
    rows[counts] = rows[counts].fillna(0).astype(int)
    return pd.concat([variants, rows], axis=1)
