"""Scenario files read and run exactly as the runner reads and runs them."""

import copyreg
import json
import math
import numbers
import os

from . import _plugstore


def toml_value(value):
    """`value` written as a TOML value, as a -D setting takes it: numbers so
    that they read back exactly, strings quoted, lists and tables (such as
    schedules) inline."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        v = float(value)
        if math.isnan(v):
            return "nan"
        if math.isinf(v):
            return "inf" if v > 0 else "-inf"
        return repr(v)
    if isinstance(value, str):
        return json.dumps(value)  # a TOML basic string
    if hasattr(value, "items"):
        return "{ " + ", ".join(f"{json.dumps(str(k))} = {toml_value(v)}"
                                for k, v in value.items()) + " }"
    if isinstance(value, (list, tuple)):
        return "[" + ", ".join(toml_value(v) for v in value) + "]"
    raise TypeError(f"{value!r} is no value a scenario can take")


def define_texts(define):
    """-D settings ("name=value") from a mapping of names to values, or a
    list of such texts as they are."""
    if define is None:
        return []
    if hasattr(define, "items"):
        return [f"{name}={toml_value(value)}" for name, value in define.items()]
    return [str(d) for d in define]


def load(path, define=None, checks=True):
    """Reads and checks a scenario file as `plugstore run` does; `define`
    replaces settings of the file as -D does ({"store.volume": 0.4}). Faults
    raise ScenarioError with one "file:line:column: message" line each."""
    path = os.path.abspath(os.fspath(path))
    if "\0" in path:
        raise ValueError(f"{path!r}: a path cannot hold a NUL character")
    defines = define_texts(define)
    scenario = _plugstore.load(path, defines, bool(checks))
    scenario.path = path
    scenario.defines = defines
    scenario.checks = bool(checks)
    return scenario


# A scenario travels to another process (a Dask worker) as what it was read
# from: the worker reads the file again.
copyreg.pickle(_plugstore.Scenario, lambda s: (load, (s.path, s.defines, s.checks)))


def run(scenario, define=None, checks=True, allow_warnings=False, columns=None, timeout=None):
    """Runs a scenario (from `load`, or a path) with the runner's own loop
    and a store in this process. Returns a DataFrame indexed by time (h)
    with the scenario's output columns, the rows `plugstore run` writes;
    `.attrs["summary"]` holds the run's summary as `plugstore run --summary`
    writes it (steps, messages, energy account, "exitStatus"). `columns`
    keeps only these of the scenario's columns (none: an empty frame). A
    run that takes more than `timeout` seconds stops after the step under
    way, with the rows it completed and "exitStatus" 142 (128 + SIGALRM).
    The frame holds the rows as one array of doubles; the run needs little
    more memory than the frame itself."""
    import pandas as pd

    if not isinstance(scenario, _plugstore.Scenario) or define is not None:
        base = scenario if not isinstance(scenario, _plugstore.Scenario) else scenario.path
        extra = [] if not isinstance(scenario, _plugstore.Scenario) else scenario.defines
        scenario = load(base, extra + define_texts(define), checks)
    names = scenario.columns
    keep = None
    if columns is not None:
        where = {name: i for i, name in enumerate(names)}
        missing = [c for c in columns if c not in where]
        if missing:
            raise KeyError(f"no column {missing[0]!r} in the scenario's outputs")
        keep = [where[c] for c in columns]
        names = list(columns)
    times, values, summary = _plugstore.run(scenario, bool(allow_warnings), keep,
                                            float(timeout or 0.0))
    frame = pd.DataFrame(values, index=pd.Index(times, name="time"), columns=names, copy=False)
    frame.attrs["summary"] = json.loads(summary)
    return frame
