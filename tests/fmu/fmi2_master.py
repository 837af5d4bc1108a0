"""A minimal FMI 2.0 co-simulation master in ctypes, for the tests and the
example: it unpacks an FMU, reads its variables from modelDescription.xml,
loads the Linux binary once and makes as many instances of it as asked."""

import ctypes
import pathlib
import tempfile
import xml.etree.ElementTree as ET
import zipfile

OK, WARNING, DISCARD, ERROR, FATAL = range(5)
CO_SIMULATION = 1

_LOGGER = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p,
                           ctypes.c_char_p)


class _Callbacks(ctypes.Structure):
    _fields_ = [("logger", _LOGGER), ("allocateMemory", ctypes.c_void_p),
                ("freeMemory", ctypes.c_void_p), ("stepFinished", ctypes.c_void_p),
                ("componentEnvironment", ctypes.c_void_p)]


class Fmu:
    """An unpacked FMU: `variables` maps names to (value reference,
    causality, start)."""

    def __init__(self, path):
        self._folder = tempfile.TemporaryDirectory(prefix="fmu-")
        self.root = pathlib.Path(self._folder.name)
        with zipfile.ZipFile(path) as z:
            z.extractall(self.root)
        self.description = ET.parse(self.root / "modelDescription.xml").getroot()
        self.guid = self.description.get("guid")
        cs = self.description.find("CoSimulation")
        self.variables = {}
        for v in self.description.find("ModelVariables"):
            start = v.find("Real").get("start")
            self.variables[v.get("name")] = (int(v.get("valueReference")), v.get("causality"),
                                             None if start is None else float(start))
        experiment = self.description.find("DefaultExperiment")
        self.start_time = float(experiment.get("startTime"))
        self.stop_time = float(experiment.get("stopTime"))
        self.step_size = float(experiment.get("stepSize"))
        self.lib = ctypes.CDLL(str(self.root / "binaries" / "linux64" /
                                   (cs.get("modelIdentifier") + ".so")))
        self.lib.fmi2Instantiate.restype = ctypes.c_void_p
        self.lib.fmi2Instantiate.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p,
                                             ctypes.c_char_p, ctypes.POINTER(_Callbacks),
                                             ctypes.c_int, ctypes.c_int]
        self.lib.fmi2FreeInstance.argtypes = [ctypes.c_void_p]
        self.lib.fmi2SetupExperiment.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_double,
                                                 ctypes.c_double, ctypes.c_int, ctypes.c_double]
        self.lib.fmi2DoStep.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_double,
                                        ctypes.c_int]
        for name in ("fmi2GetReal", "fmi2SetReal"):
            getattr(self.lib, name).argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint),
                                                ctypes.c_size_t, ctypes.POINTER(ctypes.c_double)]
        for name in ("fmi2EnterInitializationMode", "fmi2ExitInitializationMode",
                     "fmi2Terminate", "fmi2Reset"):
            getattr(self.lib, name).argtypes = [ctypes.c_void_p]

    def names(self, causality):
        return [n for n, (_, c, _) in self.variables.items() if c == causality]

    def instance(self, name, logging_on=False):
        return Instance(self, name, logging_on)


class Instance:
    """One instance: `messages` collects what the FMU logged as (status,
    category, text); every call returns the FMU's status."""

    def __init__(self, fmu, name, logging_on):
        self.fmu = fmu
        self.messages = []

        def logger(env, instance, status, category, message):
            text = message.decode().replace("%%", "%").replace("##", "#")
            self.messages.append((status, category.decode(), text))

        self._logger = _LOGGER(logger)  # kept alive as long as the instance
        self._callbacks = _Callbacks(self._logger, None, None, None, None)
        location = (fmu.root / "resources").as_uri().encode()
        self.handle = fmu.lib.fmi2Instantiate(name.encode(), CO_SIMULATION, fmu.guid.encode(),
                                              location, ctypes.byref(self._callbacks), 0,
                                              int(logging_on))
        if not self.handle:
            raise RuntimeError(f"fmi2Instantiate failed: {self.messages}")
        self.time = fmu.start_time

    def _refs(self, names):
        refs = (ctypes.c_uint * len(names))(*(self.fmu.variables[n][0] for n in names))
        return refs, len(names)

    def set(self, values):
        refs, n = self._refs(list(values))
        array = (ctypes.c_double * n)(*values.values())
        return self.fmu.lib.fmi2SetReal(self.handle, refs, n, array)

    def get(self, names):
        refs, n = self._refs(names)
        array = (ctypes.c_double * n)()
        status = self.fmu.lib.fmi2GetReal(self.handle, refs, n, array)
        if status != OK:
            raise RuntimeError(f"fmi2GetReal gave {status}: {self.messages}")
        return list(array)

    def initialize(self, start=None, parameters=None):
        """Setup, the parameters, initialization mode and out of it."""
        self.time = self.fmu.start_time if start is None else start
        status = self.fmu.lib.fmi2SetupExperiment(self.handle, 0, 0.0, self.time, 0, 0.0)
        if parameters:
            status = max(status, self.set(parameters))
        status = max(status, self.fmu.lib.fmi2EnterInitializationMode(self.handle))
        return max(status, self.fmu.lib.fmi2ExitInitializationMode(self.handle))

    def step(self, h):
        status = self.fmu.lib.fmi2DoStep(self.handle, self.time, h, 1)
        if status <= WARNING:
            self.time += h
        return status

    def terminate(self):
        return self.fmu.lib.fmi2Terminate(self.handle)

    def reset(self):
        return self.fmu.lib.fmi2Reset(self.handle)

    def free(self):
        if self.handle:
            self.fmu.lib.fmi2FreeInstance(self.handle)
            self.handle = None
