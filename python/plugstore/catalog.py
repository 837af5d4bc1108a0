"""Names of the component's 219 parameters, 69 inputs and 202 outputs, as
the runner and the reference page know them, and the arrays they index."""

import numpy as np

from . import _plugstore

_TABLES = {
    "parameters": _plugstore.parameter_catalog(),
    "inputs": _plugstore.input_catalog(),
    "outputs": _plugstore.output_catalog(),
}

PARAMETER_NAMES = tuple(e[1] for e in _TABLES["parameters"])
INPUT_NAMES = tuple(e[1] for e in _TABLES["inputs"])
OUTPUT_NAMES = tuple(e[1] for e in _TABLES["outputs"])

_INDEX = {
    "parameter": {n: i for i, n in enumerate(PARAMETER_NAMES)},
    "input": {n: i for i, n in enumerate(INPUT_NAMES)},
    "output": {n: i for i, n in enumerate(OUTPUT_NAMES)},
}


def catalog(kind="outputs"):
    """A DataFrame of "parameters", "inputs" or "outputs": number, unit and
    description, indexed by name."""
    import pandas as pd

    rows = _TABLES[kind]
    frame = pd.DataFrame(rows, columns=["number", "name", "unit", "description"])
    return frame.set_index("name")


def index_of(kind, name):
    """0-based position of a "parameter", "input" or "output" name; a
    KeyError names the nearest known one."""
    try:
        return _INDEX[kind][name]
    except KeyError:
        text = _plugstore.unknown_name_message(kind, str(name))
        # The runner's hint names a scenario's section; here the name is all.
        raise KeyError(text.split("; set it under")[0].split("; choose it under")[0]) from None


def values_by_name(kind, values, defaults):
    """An array of the defaults with `values` put in: a mapping of names, or
    a sequence of every value in the host's order."""
    array = np.array(defaults, dtype=float)
    if values is None:
        return array
    if hasattr(values, "items"):
        for name, value in values.items():
            array[index_of(kind, name)] = float(value)
        return array
    given = np.asarray(values, dtype=float)
    if given.shape != array.shape:
        raise ValueError(f"{len(array)} {kind} values expected, got {given.size}")
    return given.copy()
