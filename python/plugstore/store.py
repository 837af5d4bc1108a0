"""One store stepped from Python through the host's call protocol."""

import os
import threading
import warnings
from typing import NamedTuple

import numpy as np

from . import _plugstore
from .catalog import INPUT_NAMES, OUTPUT_NAMES, PARAMETER_NAMES, index_of, values_by_name

_FATAL = ("FATAL", "Fatal")
# Inputs that drive the store; with a port, coil or heat input not in use
# they must stay 0.
_DRIVES = [i for i, n in enumerate(INPUT_NAMES) if n.endswith((".massFlow", ".power"))]


class Outputs(dict):
    """The outputs of a step by name; a misspelt name raises KeyError with
    the nearest known one."""

    def __missing__(self, name):
        index_of("output", name)
        raise KeyError(name)


class Message(NamedTuple):
    """A message of the component: its severity ("NOTICE", "WARNING",
    "Warning", "Fatal", "FATAL"), its text and the time of the call (h)."""

    severity: str
    text: str
    time: float


class FatalError(RuntimeError):
    """The component stopped the simulation: a fatal message, or a parameter
    it rejected. `message` is the first fatal one, `messages` all of them."""

    def __init__(self, messages):
        self.messages = list(messages)
        self.message = self.messages[0]
        self.severity, self.text, self.time = self.message
        more = f" (and {len(self.messages) - 1} more)" if len(self.messages) > 1 else ""
        super().__init__(f"{self.severity} at {self.time:g} h: {self.text}{more}")


class Store:
    """A store of the component in this process.

    `parameters`: a dict by catalog name (the rest keep the runner's
    defaults, a valid 300 l store) or all 219 values in the host's order.
    The simulation starts at `start` (h) with time steps of `step` (h) and
    `iterations` iterative calls per step; `label1` is the folder of
    startProfile.ini (default: the current folder).

    The settings are checked as the runner checks a scenario: a value the
    component would reject, or a time grid or unit the runner refuses,
    raises ValueError with the runner's words, one line each, and a value
    that is probably not meant (a specific heat in J/(kg K)) gives a
    UserWarning. `step` refuses inputs that could have no effect (a flow
    through a port not in use) and values that are not finite, before it
    changes anything. `checks=False` leaves all judgement to the component.

    A rejected parameter or a fatal message raises FatalError, here or in
    `step`; the store is stopped from then on. Steps of one store from
    several threads run one after the other.
    """

    def __init__(self, parameters=None, *, start=0.0, step=0.25, iterations=1, unit=1,
                 label1=None, checks=True):
        values = values_by_name("parameter", parameters, _plugstore.default_parameters())
        start, step, iterations, unit = (float(v) for v in (start, step, iterations, unit))
        self._checks = bool(checks)
        self._idle = np.array([], dtype=int)
        if self._checks:
            faults = _plugstore.grid_problems(start, step, iterations, unit)
            faults += [text for _, text in _plugstore.parameter_problems(values)]
            if faults:
                raise ValueError("\n".join(faults))
            for _, text in _plugstore.parameter_notes(values):
                warnings.warn(text, stacklevel=2)
            probe = np.array(_plugstore.default_inputs())
            probe[_DRIVES] = 1.0
            self._idle = np.array([n - 1 for n, _ in _plugstore.input_problems(values, probe)],
                                  dtype=int)
        self.messages = []
        self._parameters = values
        self._inputs = np.array(_plugstore.default_inputs())
        self._fatal = []
        self._lock = threading.Lock()
        self._store = _plugstore.SteppedStore(values, start, step, int(iterations), int(unit),
                                              os.fspath(label1 or os.getcwd()))
        self._take(start)

    @classmethod
    def from_scenario(cls, scenario):
        """A store with the parameters, time grid, unit and label 1 of a
        scenario from `load`; its start profile, if it gives one, is written
        as the runner writes it."""
        if scenario.unit_names:
            raise ValueError(f"{scenario.file} holds several units "
                             f"({', '.join(scenario.unit_names)}): one Store each")
        scenario.write_start_profile()
        return cls(scenario.parameters, start=scenario.start, step=scenario.step,
                   iterations=scenario.iterations, unit=scenario.unit, label1=scenario.label1,
                   checks=getattr(scenario, "checks", True))

    def step(self, inputs=None, dt=None):
        """One time step of `dt` hours (default: the store's step). `inputs`
        by name (a dict) or all 69 in the host's order; inputs not given keep
        the value of the step before, as a host keeps its arrays. Returns
        the outputs by name. A step refused (a misspelt name, a bad value,
        no step forward) leaves the inputs as they were."""
        with self._lock:
            if self._fatal:
                raise FatalError(self._fatal)
            if self._store.closed:
                raise RuntimeError("the store is closed")
            given = self._inputs
            if inputs is not None and hasattr(inputs, "items"):
                given = self._inputs.copy()
                for name, value in inputs.items():
                    given[index_of("input", name)] = float(value)
            elif inputs is not None:
                given = values_by_name("input", inputs, self._inputs)
            if self._checks and (np.any(given[self._idle] != 0.0)
                                 or not np.isfinite(given).all()):
                faults = _plugstore.input_problems(self._parameters, given)
                if faults:
                    raise ValueError("\n".join(text for _, text in faults))
            dt = self._store.step_length if dt is None else float(dt)
            steps = self._store.steps
            time = self._store.time + dt  # the step's end, if it stops before it ends
            if not self._store.step(given, dt):
                raise ValueError(
                    f"a time step of {dt:g} h after {self._store.time:g} h is no step forward: "
                    f"it must be above 0 and at most twice the time since the start "
                    f"({self._store.start:g} h)")
            self._inputs = given
            self._take(self._store.time if self._store.steps > steps else time)
            return Outputs(zip(OUTPUT_NAMES, self._store.outputs.tolist()))

    @property
    def outputs(self):
        """The 202 outputs of the last step, in the host's order
        (OUTPUT_NAMES names them)."""
        with self._lock:
            return self._store.outputs

    def output(self, name):
        index = index_of("output", name)
        with self._lock:
            return float(self._store.outputs[index])

    @property
    def inputs(self):
        """The inputs the next step gets unless told otherwise, by name."""
        return dict(zip(INPUT_NAMES, self._inputs.tolist()))

    @property
    def time(self):
        """End of the last step, h."""
        return self._store.time

    @property
    def stopped(self):
        return bool(self._fatal)

    def close(self):
        """The end-of-simulation call; the store takes no more steps."""
        with self._lock:
            self._store.close()
            self._take(self._store.time, raise_fatal=False)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _take(self, time, raise_fatal=True):
        messages, bad = self._store.take_record()
        fresh = [Message(severity, text, time) for severity, text in messages]
        for number, severity, text in bad:
            name = PARAMETER_NAMES[number - 1] if 1 <= number <= len(PARAMETER_NAMES) else "?"
            fresh.append(Message(severity, f"bad parameter {number} {name}: {text}", time))
        self.messages.extend(fresh)
        self._fatal.extend(m for m in fresh if m.severity in _FATAL)
        if raise_fatal and self._fatal and self._store.stopped:
            raise FatalError(self._fatal)
