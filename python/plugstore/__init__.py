"""The plug-flow store component (Type 8642), run in this process.

- ``Store``: one store stepped from Python, one time step at a time, through
  the host's call protocol; for coupling to a controller or a building model.
- ``load`` and ``run``: scenario files read and run exactly as the runner
  (``plugstore run``) reads and runs them; ``run`` gives a DataFrame indexed
  by time, with the run's summary in ``.attrs["summary"]``.
- ``sweep``: every variant of a base scenario, on a Dask cluster.
"""

from ._plugstore import Scenario, ScenarioError
from .catalog import INPUT_NAMES, OUTPUT_NAMES, PARAMETER_NAMES, catalog
from .scenarios import load, run
from .store import FatalError, Message, Store
from .sweep import SweepInterrupted, sweep

__all__ = [
    "FatalError",
    "INPUT_NAMES",
    "Message",
    "OUTPUT_NAMES",
    "PARAMETER_NAMES",
    "Scenario",
    "ScenarioError",
    "SweepInterrupted",
    "Store",
    "catalog",
    "load",
    "run",
    "sweep",
]
