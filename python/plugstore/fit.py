"""Calibration to measured data: free parameters of a base scenario fitted by
least squares so that the store's outputs follow measured time series.

    table, result = plugstore.fit("tank.fit.toml")

A fit file names the base scenario, the measured CSV files, which measured
column drives which input and which is compared with which output, the free
parameters with their bounds, and the segments (time windows) to fit or to
hold out. Each segment starts from the measured sensors of the row before it.
The model is stepped over each segment with the measured inputs; the
residuals (model - measured, times the column's weight) of the fitted
segments go to scipy's least_squares, whose Jacobian is taken by forward
differences, all segments and all differences of one Jacobian at once on
local processes or a Dask cluster.
"""

import atexit
import contextlib
import csv
import ctypes
import difflib
import fnmatch
import math
import os
import shutil
import sys
import tempfile
import threading
import time
import uuid
import tomllib
from dataclasses import dataclass

import numpy as np

from ._plugstore import ScenarioError
from .catalog import INPUT_NAMES, OUTPUT_NAMES, PARAMETER_NAMES, index_of
from .scenarios import define_texts, load, same_file, toml_value
from .store import FatalError, Store

TIME_UNITS = {"h": 1.0, "min": 1.0 / 60.0, "s": 1.0 / 3600.0}
LOSSES = ("linear", "soft_l1", "huber", "cauchy", "arctan")
# Above this |correlation| the data cannot tell two parameters apart.
CORRELATED = 0.95
# A forward difference of this share of the bounds' width. The store is a
# stack of plugs, so outputs move in jumps with a height (a heater that moves
# within a plug heats the same plug); a difference that sees no change is
# widened by fours.
DIFFERENCE = 0.001
# Points across the bounds at which such a value is tried.
SCAN = 41

STOPPED = 1  # the component stopped a simulation
BAD = 2  # a bad fit file, data file or command line
NOT_TRUSTWORTHY = 3  # no convergence, a parameter on a bound, or the time limit


class FitError(ValueError):
    """A bad fit file or data file; the message names the file, and the
    column and line where there is one."""


class ModelStopped(FitError):
    """The component stopped a simulation of a segment, or refused a
    parameter, at some point of the fit."""


class _TimeUp(Exception):
    pass


# ---------------------------------------------------------------- the fit file


def _only(table, where, known):
    for key in table:
        if key not in known:
            near = difflib.get_close_matches(key, known, 1)
            hint = f"; did you mean '{near[0]}'?" if near else f" (known: {', '.join(known)})"
            raise FitError(f"{where}: unknown key '{key}'{hint}")


def _number(value, where):
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
        raise FitError(f"{where}: {value!r} is not a finite number")
    return float(value)


def _above_zero(doc, key, default, path, whole=False):
    """A setting of the fit that must be above 0 (and a whole number)."""
    value = _number(doc.get(key, default), f"{path}: {key}")
    if not value > 0 or (whole and not value.is_integer()):
        raise FitError(f"{path}: {key} must be a {'whole number' if whole else 'number'} "
                       f"above 0, not {doc[key]!r}")
    return int(value) if whole else value


def _name(kind, name, where):
    """Index of a catalog name; a FitError names the nearest known one."""
    try:
        return index_of(kind, name)
    except KeyError as e:
        raise FitError(f"{where}: {e.args[0]}") from None


class DataFile:
    """A measured CSV file: a header row, then one row per time; lines that
    are empty or begin with '#' are left out. Cells are read when a column is
    asked for: an empty cell is a gap (NaN), any other text must be a finite
    number."""

    def __init__(self, path, name, time_column, unit):
        self.path, self.name = path, name
        try:
            with open(path, newline="") as f:
                lines = [(n, r) for n, r in enumerate(csv.reader(f), 1)
                         if r and not r[0].lstrip().startswith("#")]
        except OSError as e:
            raise FitError(f"{path}: cannot read: {e.strerror}") from None
        if len(lines) < 3:
            raise FitError(f"{path}: a header and at least two rows are needed")
        self.header = [h.strip() for h in lines[0][1]]
        self.lines = np.array([n for n, _ in lines[1:]])
        self.rows = [r for _, r in lines[1:]]
        self._columns = {}
        for line, row in zip(self.lines, self.rows):
            if len(row) != len(self.header):
                raise FitError(f"{path}:{line}: {len(row)} cells, the header has "
                               f"{len(self.header)}")
        if unit not in TIME_UNITS:
            raise FitError(f"{path}: timeUnit must be one of {', '.join(TIME_UNITS)}, not {unit!r}")
        self.unit = unit
        times = self.column(time_column, "the time")
        gaps = np.flatnonzero(np.isnan(times))
        if gaps.size:
            raise FitError(f"{path}:{self.lines[gaps[0]]}: column '{time_column}': "
                           "the time is empty")
        back = np.flatnonzero(np.diff(times) <= 0)
        if back.size:
            raise FitError(f"{path}:{self.lines[back[0] + 1]}: column '{time_column}': "
                           f"{times[back[0] + 1]:g} does not follow {times[back[0]]:g}")
        self.times = times * TIME_UNITS[unit]  # h

    def column(self, name, why):
        """The values of a column (NaN at gaps); `why` says what needs it."""
        if name in self._columns:
            return self._columns[name]
        if name not in self.header:
            near = difflib.get_close_matches(name, self.header, 1)
            hint = f"; did you mean '{near[0]}'?" if near else ""
            raise FitError(f"{self.path}: no column '{name}' ({why}){hint}")
        i = self.header.index(name)
        values = np.empty(len(self.rows))
        bad = []
        for k, row in enumerate(self.rows):
            text = row[i].strip()
            if not text:
                values[k] = math.nan
                continue
            try:
                values[k] = float(text)
            except ValueError:
                values[k] = math.nan
            if not math.isfinite(values[k]):
                bad.append(k)
        if bad:
            more = f" ({len(bad) - 1} more cells of the column)" if len(bad) > 1 else ""
            raise FitError(f"{self.path}:{self.lines[bad[0]]}: column '{name}': "
                           f"{self.rows[bad[0]][i].strip()!r} is not a number{more}; "
                           "leave the cell empty for a gap")
        self._columns[name] = values
        return values


@dataclass
class Mapping:
    """A measured column (or a constant) turned into model units:
    value = cell * scale + offset."""

    column: str = None
    value: float = None
    scale: float = 1.0
    offset: float = 0.0
    empty: float = None  # the value of an empty cell (inputs only)
    weight: float = 1.0  # of the residual (compared columns only)

    def values(self, data, why):
        if self.column is None:
            return np.full(len(data.rows), self.value)
        raw = data.column(self.column, why)
        return raw * self.scale + self.offset


def _mapping(given, where, extra):
    """A column name, a number, or a table with `column` and some of
    scale, offset and the keys in `extra`."""
    if isinstance(given, str):
        return Mapping(column=given)
    if isinstance(given, (int, float)) and not isinstance(given, bool) and "empty" in extra:
        return Mapping(value=_number(given, where))
    if not isinstance(given, dict) or not isinstance(given.get("column"), str):
        raise FitError(f"{where}: give a column name, or a table with column = \"NAME\""
                       + (", or a number" if "empty" in extra else ""))
    _only(given, where, ("column", "scale", "offset") + extra)
    m = Mapping(column=given["column"])
    for key in ("scale", "offset") + extra:
        if key in given:
            setattr(m, key, _number(given[key], f"{where}: {key}"))
    if m.weight < 0:
        raise FitError(f"{where}: weight must not be negative")
    return m


@dataclass
class Free:
    """A free parameter of the fit: the value of one catalog parameter, or
    tied: a factor on ("scale") or an offset to ("shift") the base values of
    several, or one value they all take ("set")."""

    name: str
    kind: str  # "value", "scale", "shift" or "set"
    targets: list  # parameter indices
    start: float
    lower: float
    upper: float
    step: float

    def apply(self, x, base, values):
        for j in self.targets:
            values[j] = (base[j] * x if self.kind == "scale" else
                         base[j] + x if self.kind == "shift" else x)


def _free(key, given, base, where):
    if not isinstance(given, dict):
        raise FitError(f"{where}: give a table, as {{ start = 0.5, bounds = [0.2, 0.8] }}")
    _only(given, where, ("start", "bounds", "step", "scale", "shift", "set"))
    kinds = [k for k in ("scale", "shift", "set") if k in given]
    if len(kinds) > 1:
        raise FitError(f"{where}: give one of scale, shift and set")
    kind = kinds[0] if kinds else "value"
    if kind == "value":
        targets = [_name("parameter", key, where)]
    else:
        patterns = given[kind]
        if isinstance(patterns, str):
            patterns = [patterns]
        targets = []
        for p in patterns:
            found = [i for i, n in enumerate(PARAMETER_NAMES) if fnmatch.fnmatchcase(n, p)]
            if not found:
                found = [_name("parameter", p, f"{where}: {kind}")]
            targets += [i for i in found if i not in targets]
    bounds = given.get("bounds")
    if not isinstance(bounds, list) or len(bounds) != 2:
        raise FitError(f"{where}: bounds = [lower, upper] is needed")
    lower, upper = (_number(b, f"{where}: bounds") for b in bounds)
    if not lower < upper:
        raise FitError(f"{where}: the lower bound {lower:g} is not below the upper {upper:g}")
    default = {"scale": 1.0, "shift": 0.0}.get(kind, base[targets[0]])
    start = _number(given.get("start", default), f"{where}: start")
    if not lower <= start <= upper:
        raise FitError(f"{where}: the start value {start:g} lies outside the bounds "
                       f"[{lower:g}, {upper:g}]")
    step = _number(given.get("step", DIFFERENCE * (upper - lower)), f"{where}: step")
    if not 0 < step < upper - lower:
        raise FitError(f"{where}: step must lie above 0 and below the bounds' width")
    return Free(key, kind, targets, start, lower, upper, step)


def _is_state(output):
    """Outputs that are the store's state at the end of a step (as against
    means over the step, such as heats, flows and outlet temperatures)."""
    return (output.startswith(("sensor", "zone", "profile.", "heatA", "heatB"))
            or output in ("store.energy", "store.entropy", "store.exergy",
                          "store.meanTemperature", "store.averageTemperature"))


@dataclass
class Segment:
    name: str
    use: str  # "fit" or "check"
    data: str  # the data file's path
    lines: np.ndarray  # line numbers of its rows in the file
    times: np.ndarray  # h, the time of each row
    start: float  # h, the simulation's start
    step: float  # h
    inputs: np.ndarray  # (rows, 69)
    measured: np.ndarray  # (rows, compared columns), NaN at gaps
    before: np.ndarray  # the compared columns in the row before the segment
    mask: np.ndarray  # the cells that are compared
    profile: list  # (sensor height parameter index, temperature) of the start profile
    gaps: np.ndarray  # per compared column, the rows skipped for a gap


@dataclass
class Problem:
    """Everything a worker needs to simulate a segment (picklable)."""

    base: str
    defines: list
    parameters: np.ndarray  # the base's 219 parameters
    timing: str
    frees: list
    outputs: list  # compared output names
    columns: list  # the measured columns they are compared with
    weights: np.ndarray
    state: np.ndarray  # which compared outputs are states (averaged with "mean" timing)
    segments: list
    start_file: str = None  # startProfile.ini of the base, for segments started from it
    token: str = ""  # tells the fit's start-profile folders from those of other fits

    @property
    def indices(self):
        return [OUTPUT_NAMES.index(o) for o in self.outputs]

    def values(self, x):
        """The parameter values of a point: {index: value}."""
        values = {}
        for f, v in zip(self.frees, x):
            f.apply(float(v), self.parameters, values)
        return values

    def model_rows(self, segment, out):
        """The model's compared values on the segment's rows, from its
        outputs at the end of each step: states read as the mean of a step's
        start and end when a row is the mean over its step."""
        if self.timing == "end":
            return out
        rows = out.copy()
        s = self.state
        rows[:, s] = 0.5 * (np.vstack([segment.before[s], out[:-1, s]]) + out[:, s])
        return rows

    def residuals(self, segment, out):
        return (self.weights * (self.model_rows(segment, out) - segment.measured))[segment.mask]


def read_fit_file(path):
    """The fit file at `path` as a Problem and its settings: {"title",
    "loss", "lossScale", "timeLimit", "maxEvaluations", "tolerance"}."""
    path = os.path.abspath(os.fspath(path))
    try:
        with open(path, "rb") as f:
            doc = tomllib.load(f)
    except OSError as e:
        raise FitError(f"{path}: cannot read: {e.strerror}") from None
    except tomllib.TOMLDecodeError as e:
        raise FitError(f"{path}: {e}") from None
    _only(doc, path, ("title", "base", "define", "data", "inputs", "compare", "free", "segment",
                      "timing", "startProfile", "loss", "lossScale", "timeLimit",
                      "maxEvaluations", "tolerance", "starts"))
    folder = os.path.dirname(path)
    if not isinstance(doc.get("base"), str):
        raise FitError(f"{path}: base = \"SCENARIO.toml\" names the base scenario")
    base_path = os.path.join(folder, doc["base"])
    define = define_texts(_flatten(doc.get("define", {})))
    try:
        base = load(base_path, define)
    except ScenarioError as e:
        raise FitError(str(e)) from None
    if base.unit_names:
        raise FitError(f"{base_path}: a fit calibrates one store; this scenario holds several "
                       f"units ({', '.join(base.unit_names)})")
    if base.drives_inputs:
        raise FitError(f"{base_path}: its controllers or tapping list would set inputs the "
                       "measured data give; leave them out of the base scenario of a fit")
    settings = {"title": str(doc.get("title", "")),
                "loss": doc.get("loss", "linear"),
                "lossScale": _above_zero(doc, "lossScale", 1.0, path),
                "timeLimit": _above_zero(doc, "timeLimit", 3600.0, path),
                "maxEvaluations": _above_zero(doc, "maxEvaluations", 200, path, whole=True),
                "tolerance": _above_zero(doc, "tolerance", 1e-6, path),
                "starts": _above_zero(doc, "starts", 4, path, whole=True)}
    if settings["loss"] not in LOSSES:
        raise FitError(f"{path}: loss must be one of {', '.join(LOSSES)}")
    timing = doc.get("timing", "end")
    if timing not in ("end", "mean"):
        raise FitError(f"{path}: timing must be \"end\" (a row holds the values at its time) "
                       "or \"mean\" (the means over the step that begins at its time)")
    start_profile = doc.get("startProfile", "sensors")
    if start_profile not in ("sensors", "scenario"):
        raise FitError(f"{path}: startProfile must be \"sensors\" or \"scenario\"")

    data_specs = doc.get("data")
    if isinstance(data_specs, dict):
        data_specs = [data_specs]
    if not isinstance(data_specs, list) or not data_specs:
        raise FitError(f"{path}: [[data]] with file, time and timeUnit names the measured file")
    files = {}
    for k, given in enumerate(data_specs, 1):
        where = f"{path}: data {k}"
        _only(given, where, ("name", "file", "time", "timeUnit"))
        for key in ("file", "time", "timeUnit"):
            if not isinstance(given.get(key), str):
                raise FitError(f"{where}: {key} = \"...\" is needed")
        name = given.get("name", given["file"])
        files[name] = DataFile(os.path.join(folder, given["file"]), name, given["time"],
                               given["timeUnit"])

    def inputs_of(table, where):
        found = {}
        for name, given in _flatten(table).items():
            found[_name("input", name, where)] = _mapping(given, f"{where}: {name}", ("empty",))
        return found

    inputs = inputs_of(doc.get("inputs", {}), f"{path}: [inputs]")
    compare = _flatten(doc.get("compare", {}))
    if not compare:
        raise FitError(f"{path}: [compare] names the outputs compared with measured columns")
    outputs, maps = [], []
    for name, given in compare.items():
        _name("output", name, f"{path}: [compare]")
        outputs.append(name)
        maps.append(_mapping(given, f"{path}: [compare]: {name}", ("weight",)))
    frees = [_free(k, v, base.parameters, f"{path}: [free]: {k}")
             for k, v in _flatten(doc.get("free", {}), keep=_FREE_KEYS).items()]
    if not frees:
        raise FitError(f"{path}: [free] names no parameter to fit")
    owner = {}
    for f in frees:
        for j in f.targets:
            if j in owner:
                raise FitError(f"{path}: [free]: {PARAMETER_NAMES[j]} is set by both "
                               f"{owner[j]} and {f.name}")
            owner[j] = f.name

    problem = Problem(base=base.path, defines=list(define), parameters=np.array(base.parameters),
                      timing=timing, frees=frees, outputs=outputs,
                      columns=[m.column for m in maps],
                      weights=np.array([m.weight for m in maps]),
                      state=np.array([_is_state(o) for o in outputs]), segments=[],
                      token=uuid.uuid4().hex)
    if start_profile == "scenario":
        ini = os.path.join(base.label1, "startProfile.ini")
        problem.start_file = ini if os.path.isfile(ini) else None
    segments = doc.get("segment")
    if not isinstance(segments, list) or not segments:
        raise FitError(f"{path}: [[segment]] tables name the time windows to fit")
    for k, given in enumerate(segments, 1):
        problem.segments.append(_segment(given, k, path, base, files, inputs, maps, problem,
                                         start_profile, inputs_of))
    names = [s.name for s in problem.segments]
    for n in names:
        if names.count(n) > 1:
            raise FitError(f"{path}: two segments are named {n}")
    if not any(s.use == "fit" for s in problem.segments):
        raise FitError(f"{path}: no segment has use = \"fit\"")
    if not any(s.mask.any() for s in problem.segments if s.use == "fit"):
        raise FitError(f"{path}: the compared columns have no value in the rows of the fitted "
                       "segments (all their cells are empty)")
    return problem, settings


# Keys of a [free] entry: a dotted parameter name ends where they begin.
_FREE_KEYS = ("start", "bounds", "step", "scale", "shift", "set")


def _flatten(table, prefix="", keep=()):
    """Dotted names of a TOML table, as the scenario's sections take them;
    a table holding any of the keys in `keep` is a value."""
    out = {}
    for key, value in table.items():
        name = f"{prefix}.{key}" if prefix else key
        if isinstance(value, dict) and not (keep and any(k in value for k in keep)) and \
                "column" not in value:
            out.update(_flatten(value, name, keep))
        else:
            out[name] = value
    return out


def _segment(given, k, path, base, files, inputs, maps, problem, start_profile, inputs_of):
    where = f"{path}: segment {given.get('name', k)}"
    _only(given, where, ("name", "data", "from", "to", "use", "inputs"))
    name = str(given.get("name", f"segment{k}"))
    if "data" in given:
        if given["data"] not in files:
            raise FitError(f"{where}: no data named {given['data']!r} (named: {', '.join(files)})")
        data = files[given["data"]]
    elif len(files) == 1:
        data = next(iter(files.values()))
    else:
        raise FitError(f"{where}: data = \"NAME\" says which measured file it takes")
    use = given.get("use", "fit")
    if use not in ("fit", "check"):
        raise FitError(f"{where}: use must be \"fit\" or \"check\" (held out)")
    unit = TIME_UNITS[data.unit]
    # Times written with a few digits (0.016667 h) still meet: within a
    # thousandth of the file's usual spacing.
    close = 1e-3 * float(np.median(np.diff(data.times)))
    ends = []
    for key in ("from", "to"):
        t = _number(given.get(key), f"{where}: {key}") * unit
        hit = np.flatnonzero(np.abs(data.times - t) <= close)
        if not hit.size:
            raise FitError(f"{where}: {data.path} has no row at {key} = {given[key]:g} {data.unit} "
                           f"(its rows run from {data.times[0] / unit:g} to "
                           f"{data.times[-1] / unit:g} {data.unit})")
        ends.append(int(hit[0]))
    first, last = ends
    if last <= first:
        raise FitError(f"{where}: 'to' must come after 'from'")
    if first == 0:
        raise FitError(f"{where}: the segment starts at the first row of {data.path}; the row "
                       "before it gives the start")
    rows = slice(first, last + 1)
    times = data.times[first - 1 : last + 1]
    step = float(np.median(np.diff(times)))
    uneven = np.flatnonzero(np.abs(np.diff(times) - step) > 1e-3 * step)
    if uneven.size:
        line = data.lines[first + uneven[0]]
        raise FitError(f"{data.path}:{line}: time {data.times[first + uneven[0]] / unit:g} "
                       f"{data.unit} is not one step ({step / unit:g} {data.unit}) after the "
                       f"row before: segment {name} needs evenly spaced rows")
    n = last - first + 1
    step = (times[-1] - times[0]) / n  # the mean: times written with few digits
    # Row k drives the step ending at its time ("end") or beginning at it ("mean").
    start = data.times[first] - (step if problem.timing == "end" else 0.0)
    matrix = np.empty((n, len(INPUT_NAMES)))
    for i in range(n):
        matrix[i] = base.inputs_over(start + i * step, start + (i + 1) * step)
    mapped = dict(inputs)
    mapped.update(inputs_of(given.get("inputs", {}), f"{where}: inputs"))
    for i, m in mapped.items():
        values = m.values(data, f"it drives {INPUT_NAMES[i]}")[rows]
        gaps = np.isnan(values)
        if gaps.any():
            if m.empty is None:
                line = data.lines[first + np.flatnonzero(gaps)[0]]
                raise FitError(f"{data.path}:{line}: column '{m.column}' is empty; it drives "
                               f"{INPUT_NAMES[i]} in segment {name}: give {{ column = "
                               f"\"{m.column}\", empty = VALUE }} for its empty cells")
            values[gaps] = m.empty
        matrix[:, i] = values
    measured = np.column_stack([m.values(data, f"compared with {o}")[first - 1 : last + 1]
                                for m, o in zip(maps, problem.outputs)])
    before, measured = measured[0], measured[1:]
    mask = ~np.isnan(measured)
    if problem.timing == "mean":
        mask[0, problem.state & np.isnan(before)] = False  # no start to average with
    profile = []
    if start_profile == "sensors":
        for o, t in zip(problem.outputs, before):
            if o.startswith("sensor") and o.endswith(".temperature") and not math.isnan(t):
                profile.append((PARAMETER_NAMES.index(o.split(".")[0] + ".height"), float(t)))
        if not profile:
            raise FitError(f"{where}: no compared sensor has a value in the row before the "
                           f"segment ({data.path}:{data.lines[first - 1]}) for its start "
                           "profile; compare sensorN.temperature, or startProfile = \"scenario\"")
    return Segment(name=name, use=use, data=data.path, lines=data.lines[rows],
                   times=data.times[rows], start=start, step=step, inputs=matrix,
                   measured=measured, before=before, mask=mask, profile=profile,
                   gaps=(~mask).sum(axis=0))


# ---------------------------------------------------------------- simulating a segment


_FOLDERS = {}  # label 1 folders of this process, by (thread, fit)


def _folder(problem):
    """The label 1 folder of this thread for this fit: the start profile of
    a segment is written there as startProfile.ini and read by the store's
    first step, so stores set up at once in several threads (descents from
    several starts, a Dask worker's threads) each need a folder of their own."""
    key = (threading.get_ident(), problem.token)
    folder = _FOLDERS.get(key)
    if folder is None:
        folder = _FOLDERS[key] = tempfile.mkdtemp(prefix="plugstore-fit-")
        atexit.register(shutil.rmtree, folder, True)
        if problem.start_file:
            shutil.copy(problem.start_file, os.path.join(folder, "startProfile.ini"))
    return folder


@contextlib.contextmanager
def _quiet_stdout():
    """The component's start-profile reader writes to standard output; in a
    fit of hundreds of runs that is noise."""
    sys.stdout.flush()
    saved = os.dup(1)
    with open(os.devnull, "wb") as null:
        os.dup2(null.fileno(), 1)
    try:
        yield
    finally:
        ctypes.CDLL(None).fflush(None)
        os.dup2(saved, 1)
        os.close(saved)


def simulate(problem, i, x):
    """Segment `i` at the point `x`: its compared outputs at the end of every
    step, (rows, columns), and the component's warnings. A fault of the
    model comes back as a text, so that it can travel from any worker."""
    segment = problem.segments[i]
    values = problem.values(x)
    defines = [f"{PARAMETER_NAMES[j]}={toml_value(v)}" for j, v in values.items()]
    if segment.profile:
        points = sorted((values.get(j, problem.parameters[j]), t) for j, t in segment.profile)
        defines.append(f"store.initialProfile={toml_value([list(p) for p in points])}")
    n = len(segment.inputs)
    defines += [f"simulation.start={segment.start!r}",
                f"simulation.stop={segment.start + n * segment.step!r}",
                f"simulation.step={segment.step!r}",
                f"simulation.label1={toml_value(_folder(problem))}"]
    indices = problem.indices
    out = np.empty((n, len(indices)))
    try:
        store = Store.from_scenario(load(problem.base, problem.defines + defines))
        with store:
            for k in range(n):
                store.step(segment.inputs[k])
                out[k] = store.outputs[indices]
    except FatalError as e:
        return None, [], ("stopped", f"the component stopped the simulation: {e}")
    except (ScenarioError, ValueError) as e:
        return None, [], ("refused", str(e))
    warnings = [m.text for m in store.messages if m.severity in ("WARNING", "Warning")]
    return out, warnings, None


def _quiet_worker():
    """A worker process has no use for its standard output."""
    global _WORKER_QUIET
    if not _WORKER_QUIET:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 1)
        _WORKER_QUIET = True


_WORKER_QUIET = False


def _task(problem, i, x, client=None):
    """A segment on a worker; `client` is the process id of a Dask client,
    whose own standard output stays as it is when a cluster runs tasks in
    its process."""
    if os.getpid() != client:
        _quiet_worker()
    return simulate(problem, i, x)


_WORKER_PROBLEM = None


def _start_worker(path):
    global _WORKER_PROBLEM
    import pickle

    with open(path, "rb") as f:
        _WORKER_PROBLEM = pickle.load(f)
    _quiet_worker()


def _worker_task(task):
    return _task(_WORKER_PROBLEM, *task)


class _Serial:
    """Runs in this process, its standard output silenced while the fit lasts."""

    def __init__(self, problem):
        self.problem = problem
        self.quiet = _quiet_stdout()
        self.quiet.__enter__()

    def map(self, tasks):
        return [simulate(self.problem, i, x) for i, x in tasks]

    def close(self):
        self.quiet.__exit__(None, None, None)


class _Processes:
    def __init__(self, problem, workers):
        import multiprocessing
        from concurrent.futures import ProcessPoolExecutor

        import pickle

        # The problem (all measured rows) reaches the workers as a file: a
        # worker that fails while it starts cannot leave a long write to its
        # pipe hanging.
        fd, path = tempfile.mkstemp(suffix=".pickle", dir=_folder(problem))
        with os.fdopen(fd, "wb") as f:
            pickle.dump(problem, f)
        self.pool = ProcessPoolExecutor(workers, mp_context=multiprocessing.get_context("spawn"),
                                        initializer=_start_worker, initargs=(path,))

    def map(self, tasks):
        return list(self.pool.map(_worker_task, tasks))

    def close(self):
        self.pool.shutdown(cancel_futures=True)


class _Dask:
    def __init__(self, problem, client):
        self.client = client
        self.problem = client.scatter(problem, broadcast=True)

    def map(self, tasks):
        futures = [self.client.submit(_task, self.problem, i, x, os.getpid(), pure=False)
                   for i, x in tasks]
        return self.client.gather(futures)

    def close(self):
        pass


# ---------------------------------------------------------------- the fit


class _Evaluator:
    """Outputs of segments at points, a round of them at a time on the
    pool, the latest kept."""

    def __init__(self, problem, pool, deadline, bar):
        self.problem, self.pool, self.deadline, self.bar = problem, pool, deadline, bar
        self.cache = {}
        self.warnings = {}
        self.evaluations = 0
        self.best = (math.inf, None)
        self.fitted = [i for i, s in enumerate(problem.segments) if s.use == "fit"]

    def fork(self):
        """An evaluator of its own on the same pool, for a descent in
        another thread."""
        return _Evaluator(self.problem, self.pool, self.deadline, self.bar)

    def join(self, other):
        """Counts the evaluations and warnings of a fork, and keeps its
        outputs."""
        self.evaluations += other.evaluations
        for text, n in other.warnings.items():
            self.warnings[text] = self.warnings.get(text, 0) + n
        self.cache.update(other.cache)
        if other.best[0] < self.best[0]:
            self.best = other.best

    def outputs(self, xs, which, force=False):
        keys = [(i, np.asarray(x, float).tobytes()) for x in xs for i in which]
        tasks = [(i, np.frombuffer(k)) for i, k in dict.fromkeys(keys) if (i, k) not in self.cache]
        if tasks:
            if not force and time.monotonic() > self.deadline:
                raise _TimeUp
            for (i, x), (out, warnings, error) in zip(tasks, self.pool.map(tasks)):
                if error is not None:
                    kind = ModelStopped if error[0] == "stopped" else FitError
                    raise kind(f"segment {self.problem.segments[i].name} at "
                               f"{self.describe(x)}: {error[1]}")
                if not np.isfinite(out).all():
                    raise FitError(f"segment {self.problem.segments[i].name} at "
                                   f"{self.describe(x)}: the model gave a value that is not "
                                   "a number")
                for w in warnings:
                    self.warnings[w] = self.warnings.get(w, 0) + 1
                self.cache[(i, x.tobytes())] = out
            self.evaluations += len({x.tobytes() for _, x in tasks})
            if self.bar is not None:
                self.bar.update(len({x.tobytes() for _, x in tasks}))
            # Keep the outputs of the last rounds only: a long segment's rows are many.
            keep = max(4 * len(self.problem.segments) * (len(self.problem.frees) + 1), len(keys))
            for key in list(self.cache)[: max(0, len(self.cache) - keep)]:
                del self.cache[key]
        return [self.cache[k] for k in keys]

    def describe(self, x):
        return ", ".join(f"{f.name} = {v:.6g}" for f, v in zip(self.problem.frees, x))

    def residuals(self, x):
        outs = self.outputs([x], self.fitted)
        r = np.concatenate([self.problem.residuals(self.problem.segments[i], o)
                            for i, o in zip(self.fitted, outs)])
        cost = 0.5 * float(r @ r)
        if cost < self.best[0]:
            self.best = (cost, np.array(x, float))
            if self.bar is not None:
                self.bar.set_postfix_str(f"cost {cost:.6g}")
        return r

    def jacobian(self, x, columns=None):
        """Forward differences of the free parameters `columns` (default:
        all), every one at once; towards the lower bound where the upper one
        is too near."""
        columns = list(range(len(self.problem.frees))) if columns is None else list(columns)
        frees = [self.problem.frees[j] for j in columns]
        x = np.asarray(x, float)
        steps = np.array([f.step if x[j] + f.step <= f.upper else -f.step
                          for f, j in zip(frees, columns)])
        points = [np.array(x, float) for _ in frees]
        for p, j, h in zip(points, columns, steps):
            p[j] += h
        self.outputs([x] + points, self.fitted)
        r0 = self.residuals(x)
        J = np.column_stack([(self.residuals(p) - r0) / h for p, h in zip(points, steps)])
        # A height that stays inside one plug changes nothing: such columns
        # are taken again over wider differences, up to a quarter of the bounds.
        for _ in range(5):
            flat = [j for j in range(len(frees)) if not J[:, j].any()
                    and abs(steps[j]) * 4 <= 0.25 * (frees[j].upper - frees[j].lower)]
            if not flat:
                break
            wider = []
            for j in flat:
                steps[j] *= 4
                if not frees[j].lower <= x[columns[j]] + steps[j] <= frees[j].upper:
                    steps[j] = -steps[j]
                p = np.array(x, float)
                p[columns[j]] += steps[j]
                wider.append(p)
            self.outputs(wider, self.fitted)
            for j, p in zip(flat, wider):
                J[:, j] = (self.residuals(p) - r0) / steps[j]
        return J

    def scan(self, x, columns):
        """`x` with each of the free parameters `columns` in turn moved to
        the best of SCAN points across its bounds; `x` itself where none is
        better."""
        best = x
        for j in columns:
            f = self.problem.frees[j]
            points = []
            for v in np.linspace(f.lower, f.upper, SCAN):
                p = np.array(best, float)
                p[j] = v
                points.append(p)
            self.outputs(points, self.fitted)
            cost = [float(r @ r) for r in map(self.residuals, points)]
            now = self.residuals(best)
            if min(cost) < float(now @ now):
                best = points[int(np.argmin(cost))]
        return best

    def flat_intervals(self, x):
        """Per free parameter, (below, above): how far it can move down and
        up from `x` before any compared value changes at all; (0, 0) for a
        parameter that moves them at once. Widened by fours from 1e-5 of the
        bounds' width, then halved between the last flat and the first
        changed distance to a tenth."""
        frees = self.problem.frees
        r0 = self.residuals(x)
        room = {(j, s): (x[j] - f.lower if s < 0 else f.upper - x[j])
                for j, f in enumerate(frees) for s in (-1, 1)}
        flat = {key: 0.0 for key in room}
        changed = {key: None for key in room}
        for _ in range(40):
            probes = {}
            for (j, s), r in room.items():
                c = changed[(j, s)]
                if c is None and flat[(j, s)] < r:
                    d = min(max(4 * flat[(j, s)], 1e-5 * (frees[j].upper - frees[j].lower)), r)
                elif c is not None and c - flat[(j, s)] > 0.1 * c and flat[(j, s)] > 0:
                    d = 0.5 * (flat[(j, s)] + c)
                else:
                    continue
                p = np.array(x, float)
                p[j] += s * d
                probes[(j, s)] = (d, p)
            if not probes:
                break
            self.outputs([p for _, p in probes.values()], self.fitted, force=True)
            for key, (d, p) in probes.items():
                if np.array_equal(self.residuals(p), r0):
                    flat[key] = d
                else:
                    changed[key] = d

        def extent(key):
            if changed[key] is None:
                return flat[key]
            return 0.5 * (flat[key] + changed[key]) if flat[key] else 0.0

        return [(extent((j, -1)), extent((j, 1))) for j in range(len(frees))]


def _uncertainties(J, residuals, cost, n):
    """Standard errors and correlations from the Jacobian at the solution:
    covariance s^2 (J^T J)^-1 with s^2 the residual variance; parameters
    that do not move the residuals get none."""
    m = len(residuals)
    dof = max(m - n, 1)
    s2 = 2.0 * cost / dof
    u, sv, vt = np.linalg.svd(J, full_matrices=False)
    tiny = sv <= sv.max() * 1e-10 if sv.size and sv.max() > 0 else np.ones(n, bool)
    inv = np.where(tiny, 0.0, 1.0 / np.where(tiny, 1.0, sv) ** 2)
    cov = (vt.T * inv) @ vt * s2
    se = np.sqrt(np.maximum(np.diag(cov), 0.0))
    dead = np.linalg.norm(J, axis=0) == 0
    se[dead | (se == 0)] = math.inf if tiny.any() else 0.0
    with np.errstate(invalid="ignore", divide="ignore"):
        corr = cov / np.outer(se, se)
    corr[~np.isfinite(corr)] = math.nan
    np.fill_diagonal(corr, 1.0)
    return se, corr, dead


@dataclass
class FitResult:
    """What a fit found. `parameters`: one row per free parameter (start,
    value, stdError, bounds, onBound); `correlation`: their correlation
    matrix; `statistics`: residual figures per segment and column, before
    and after; `series`: per segment a DataFrame of the measured and the
    model's values before and after; `settings`: the fitted values by
    catalog name; `success`: converged within the bounds; `status`: the exit
    status of `plugstore fit` (0, or 3); `findings`: what to know, in words."""

    title: str
    parameters: object
    correlation: object
    statistics: object
    series: dict
    settings: dict
    success: bool
    status: int
    message: str
    verdict: str  # why the fit is not trustworthy, or ""
    findings: list
    evaluations: int
    seconds: float
    cost: tuple  # (before, after)
    warnings: dict
    calibrated: str = None
    report: str = None


def _statistics(problem, outs_before, outs_after):
    import pandas as pd

    rows = []
    for seg, before, after in zip(problem.segments, outs_before, outs_after):
        for c, (output, column) in enumerate(zip(problem.outputs, problem.columns)):
            keep = seg.mask[:, c]
            row = {"segment": seg.name, "use": seg.use, "output": output, "column": column,
                   "rows": int(keep.sum()), "gaps": int(seg.gaps[c])}
            for stage, out in (("before", before), ("after", after)):
                d = (problem.model_rows(seg, out)[:, c] - seg.measured[:, c])[keep]
                have = d.size > 0
                row[f"mean.{stage}"] = d.mean() if have else math.nan
                row[f"meanAbs.{stage}"] = np.abs(d).mean() if have else math.nan
                row[f"rms.{stage}"] = math.sqrt((d * d).mean()) if have else math.nan
                row[f"largestAbs.{stage}"] = np.abs(d).max() if have else math.nan
            rows.append(row)
    return pd.DataFrame(rows)


def _series(problem, outs_before, outs_after):
    import pandas as pd

    series = {}
    for seg, before, after in zip(problem.segments, outs_before, outs_after):
        frame = pd.DataFrame(index=pd.Index(seg.times, name="time"))
        for c, output in enumerate(problem.outputs):
            frame[f"measured.{output}"] = seg.measured[:, c]
            frame[f"before.{output}"] = problem.model_rows(seg, before)[:, c]
            frame[f"after.{output}"] = problem.model_rows(seg, after)[:, c]
        series[seg.name] = frame
    return series


def _pool(problem, workers, scheduler, client):
    if client is not None or scheduler is not None:
        if client is None:
            from distributed import Client

            client = Client(scheduler)
            pool = _Dask(problem, client)
            pool.close = client.close
            return pool
        return _Dask(problem, client)
    fitted = sum(s.use == "fit" for s in problem.segments)
    most = max(fitted * len(problem.frees), len(problem.segments))
    workers = min(workers or os.cpu_count() or 1, most)
    return _Serial(problem) if workers <= 1 else _Processes(problem, workers)


def fit(path, *, workers=None, scheduler=None, client=None, progress=None, time_limit=None,
        write=True, report=None):
    """Fits the free parameters of the fit file at `path` and returns
    (parameters DataFrame, FitResult). Segments run on `workers` local
    processes (default: one per core, at most as many as a round needs), or
    on a Dask cluster (`scheduler` address or `client`). `time_limit` (s)
    replaces the file's timeLimit. With `write`, the calibrated scenario is
    written next to the base scenario (NAME.calibrated.toml, NAME the fit
    file's name less .fit.toml) and the report as `report` (default:
    NAME.report.md next to the fit file, its plots in NAME.report/). A bad
    fit file or data file raises FitError; a fit that ends without
    converging or on a bound returns with result.success False."""
    from scipy.optimize import least_squares

    if scheduler is not None and (workers is not None or client is not None):
        raise ValueError("fit: give a scheduler, a client or a number of workers, not several")
    clock = time.monotonic()
    problem, settings = read_fit_file(path)
    if report is not None and not os.fspath(report).endswith(".md"):
        raise FitError(f"the report {report} must be a Markdown file, its name ending in .md "
                       "(its plots go to the folder of the name less .md)")
    written = _written(problem, path, report)
    if write:
        _refuse_overwriting(problem, path, written)
    limit = settings["timeLimit"] if time_limit is None else float(time_limit)
    if not limit > 0:
        raise ValueError(f"fit: the time limit must be above 0 s, not {time_limit!r}")
    bar = None
    if progress if progress is not None else sys.stderr.isatty():
        from tqdm import tqdm

        bar = tqdm(desc="fit", unit=" evaluations", file=sys.stderr)
    pool = _pool(problem, workers, scheduler, client)
    try:
        ev = _Evaluator(problem, pool, clock + limit, bar)
        frees = problem.frees
        x0 = np.array([f.start for f in frees])
        lower = np.array([f.lower for f in frees])
        upper = np.array([f.upper for f in frees])
        everything = range(len(problem.segments))
        before = ev.outputs([x0], everything, force=True)
        r0 = ev.residuals(x0)
        J, flats = None, [(0.0, 0.0)] * len(frees)
        try:
            x, res = _solve(ev, x0, list(range(len(frees))), settings)
            flats = ev.flat_intervals(x)
            jumpy = [j for j, (a, b) in enumerate(flats) if a + b > 0]
            if jumpy and settings["starts"] > 1:
                x, res = _starts(ev, x0, (x, res), jumpy, settings)
            smooth = [j for j in range(len(frees)) if j not in jumpy]
            # A value that moves the outputs in jumps leaves the cost full of
            # steps and pits, which trap the descent: it is scanned across its
            # bounds and put in the middle of the interval where the outputs
            # stay the same, and the others are fitted again with it held
            # (across a jump differences mislead); again until the scan keeps it.
            for round_ in range(4 if jumpy else 0):
                scanned = ev.scan(x, jumpy)
                if scanned is x and round_ > 0:
                    break
                x = _centred(scanned, ev.flat_intervals(scanned), jumpy)
                if not smooth:
                    break
                x, res = _solve(ev, x, smooth, settings)
            flats = ev.flat_intervals(x)
            x = _centred(x, flats, jumpy)
            for j in jumpy:
                a, b = flats[j]
                flats[j] = (0.5 * (a + b), 0.5 * (a + b))
            converged, message = res.status > 0, res.message
            J = ev.jacobian(x)
        except _TimeUp:
            # The best point so far; intervals found at another point do not hold at it.
            x, converged, flats = ev.best[1], False, [(0.0, 0.0)] * len(frees)
            message = f"the time limit of {limit:g} s ran out"
        after = ev.outputs([x], everything, force=True)
    finally:
        pool.close()
        if bar is not None:
            bar.close()
    return _result(problem, settings, path, x0, r0, x, J, flats, converged, message, before,
                   after, ev, time.monotonic() - clock, written if write else None)


def _written(problem, path, report):
    """(calibrated scenario, report) a fit writes: NAME.calibrated.toml beside
    the base scenario, where its relative paths hold, and NAME.report.md
    beside the fit file unless `report` says otherwise."""
    name = os.path.basename(path).removesuffix(".toml").removesuffix(".fit")
    return (os.path.join(os.path.dirname(problem.base), name + ".calibrated.toml"),
            os.path.abspath(report or os.path.join(os.path.dirname(os.path.abspath(path)),
                                                   name + ".report.md")))


def _refuse_overwriting(problem, path, written):
    reads = [("the fit file", os.fspath(path))]
    reads += [("a file of the base scenario", f)
              for f in load(problem.base, problem.defines).input_files]
    reads += [("a measured file", f) for f in dict.fromkeys(s.data for s in problem.segments)]
    for what, out in zip(("the calibrated scenario", "the report"), written):
        for role, f in reads:
            if same_file(out, f):
                raise FitError(f"{what} {out} would replace {role} ({f}): rename the fit file"
                               + (" or give another --report" if what == "the report" else ""))


def _starts(ev, x0, found, jumpy, settings):
    """The best of the descent `found` and descents from further starts, in
    which the values that move the outputs in jumps are spread across their
    bounds: the same store can end in another pit from each. The descents
    run at once, each with an evaluator of its own on the same pool."""
    from concurrent.futures import ThreadPoolExecutor

    n = settings["starts"] - 1
    points = []
    for k in range(n):
        p = np.array(x0, float)
        for j in jumpy:
            f = ev.problem.frees[j]
            p[j] = f.lower + (k + 0.5) / n * (f.upper - f.lower)
        points.append(p)
    evaluators = [ev.fork() for _ in points]
    with ThreadPoolExecutor(n) as threads:
        runs = list(threads.map(lambda e, p: _solve(e, p, list(range(len(p))), settings),
                                evaluators, points))
    for e in evaluators:
        ev.join(e)

    def cost(run):
        r = ev.residuals(run[0])
        return float(r @ r)

    return min([found] + runs, key=cost)


def _centred(x, flats, columns):
    """`x` with the values `columns` in the middle of their flat intervals."""
    x = np.array(x, float)
    for j in columns:
        a, b = flats[j]
        x[j] += 0.5 * (b - a)
    return x


def _solve(ev, x, moving, settings):
    """least_squares over the free parameters `moving` (indices), the others
    held at their values in `x`; the full point and scipy's result, with
    `moving` added."""
    from scipy.optimize import least_squares

    frees = ev.problem.frees
    held = np.array(x, float)

    def point(y):
        p = held.copy()
        p[moving] = y
        return p

    lower = np.array([frees[j].lower for j in moving])
    upper = np.array([frees[j].upper for j in moving])
    res = least_squares(lambda y: ev.residuals(point(y)), held[moving],
                        jac=lambda y: ev.jacobian(point(y), moving), bounds=(lower, upper),
                        method="trf", loss=settings["loss"], f_scale=settings["lossScale"],
                        x_scale=upper - lower, max_nfev=settings["maxEvaluations"],
                        ftol=settings["tolerance"], xtol=settings["tolerance"],
                        gtol=settings["tolerance"])
    return point(res.x), res


def _result(problem, settings, path, x0, r0, x, J, flats, converged, message, before, after, ev,
            seconds, written):
    import pandas as pd

    frees = problem.frees
    names = [f.name for f in frees]
    fitted = [i for i, s in enumerate(problem.segments) if s.use == "fit"]
    r = np.concatenate([problem.residuals(problem.segments[i], after[i]) for i in fitted])
    cost = 0.5 * float(r @ r)
    findings = []
    if J is not None:
        se, corr, dead = _uncertainties(J, r, cost, len(frees))
        # Where the outputs do not move at all over an interval, the data
        # cannot place the value within it: its spread joins the error.
        width = np.array([a + b for a, b in flats])
        se = np.sqrt(se**2 + width**2 / 12.0)
    else:
        se, corr, dead = np.full(len(frees), math.nan), np.full((len(frees),) * 2, math.nan), \
            np.zeros(len(frees), bool)
        findings.append("No uncertainties: the fit stopped before its Jacobian at the end.")
    # scipy's steps stay strictly inside the bounds and slow down near one:
    # a value is on its bound when a Gauss-Newton step of the smooth values
    # from the end would cross it, or when its flat interval reaches it.
    smooth = [j for j, (a, b) in enumerate(flats) if a + b == 0]
    wanted = np.array(x, float)
    if J is not None and smooth:
        wanted[smooth] -= np.linalg.lstsq(J[:, smooth], r, rcond=None)[0]
    bound = []
    for f, v, w, (a, b) in zip(frees, x, wanted, flats):
        tol = 1e-6 * (f.upper - f.lower)
        bound.append("lower" if min(v - a, w) <= f.lower + tol else
                     "upper" if max(v + b, w) >= f.upper - tol else "")
    verdict = ""
    if not converged:
        verdict = f"the fit did not converge: {message}"
        findings.append(f"The fit did not converge: {message}.")
    for f, v, b in zip(frees, x, bound):
        if b:
            findings.append(f"{f.name} ended on its {b} bound {v:.6g}: the data ask for a value "
                            "beyond it, or the model cannot follow them there.")
    for f, v, (a, b) in zip(frees, x, flats):
        if a + b > 0:
            findings.append(f"{f.name} moves the compared values only in jumps (as it crosses "
                            f"plugs): they stay the same from {v - a:.6g} to {v + b:.6g}; its "
                            "standard error includes that interval.")
    for f, d in zip(frees, dead):
        if d:
            findings.append(f"{f.name} does not change any compared value: the data say nothing "
                            "about it.")
    for a in range(len(frees)):
        for b in range(a + 1, len(frees)):
            if abs(corr[a, b]) > CORRELATED:
                findings.append(f"{names[a]} and {names[b]} cannot be told apart from these data "
                                f"(correlation {corr[a, b]:+.3f}): the data fix a combination of "
                                "the two, not each.")
    table = pd.DataFrame({"name": names, "kind": [f.kind for f in frees],
                          "targets": [", ".join(PARAMETER_NAMES[j] for j in f.targets)
                                      for f in frees],
                          "start": x0, "value": x, "stdError": se,
                          "flatFrom": [v - a for v, (a, _) in zip(x, flats)],
                          "flatTo": [v + b for v, (_, b) in zip(x, flats)],
                          "lower": [f.lower for f in frees], "upper": [f.upper for f in frees],
                          "onBound": bound}).set_index("name")
    correlation = pd.DataFrame(corr, index=names, columns=names)
    values = problem.values(x)
    success = converged and not any(bound)
    if converged and any(bound):
        verdict = "ended on a bound: " + ", ".join(
            f"{f.name} ({b})" for f, b in zip(frees, bound) if b)
    result = FitResult(
        title=settings["title"], parameters=table, correlation=correlation,
        statistics=_statistics(problem, before, after), series=_series(problem, before, after),
        settings={PARAMETER_NAMES[j]: v for j, v in sorted(values.items())}, success=success,
        status=0 if success else NOT_TRUSTWORTHY, message=message, verdict=verdict,
        findings=findings,
        evaluations=ev.evaluations, seconds=seconds,
        cost=(0.5 * float(r0 @ r0), cost), warnings=ev.warnings)
    if written:
        from .fit_report import write_calibrated, write_report

        result.calibrated = write_calibrated(problem, path, result, written[0])
        result.report = write_report(problem, path, result, written[1])
    return table, result
