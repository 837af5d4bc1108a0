"""The compiled module plugstore._plugstore for `pip install .`: the
component's model, the runner's scenarios and run loop and the stand-in
host's in-process unit, compiled from the sources the CMake build uses."""

import pathlib
import re

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

ROOT = pathlib.Path(__file__).resolve().parent
VERSION = re.search(r"project\(plugstore VERSION (\S+)",
                    (ROOT / "CMakeLists.txt").read_text()).group(1)


def sources():
    model = [p for p in sorted((ROOT / "src").glob("*/*.cpp")) if p.name != "entry.cpp"]
    runner = [p for p in sorted((ROOT / "tools" / "plugstore").glob("*.cpp"))
              if p.name not in ("main.cpp", "fmu.cpp")]
    standin = [ROOT / "standin" / n for n in ("in_process.cpp", "protocol.cpp", "stores.cpp",
                                              "kernel.cpp")]
    python = sorted((ROOT / "python" / "src").glob("*.cpp"))
    return [str(p.relative_to(ROOT)) for p in model + runner + standin + python]


# Both cores (or NPY_NUM_BUILD_JOBS of them) compile at once.
ParallelCompile("NPY_NUM_BUILD_JOBS").install()

setup(
    version=VERSION,
    ext_modules=[Pybind11Extension(
        "plugstore._plugstore", sources(), cxx_std=20,
        include_dirs=["src", "tools", ".", "python/src"],
        define_macros=[("PLUGSTORE_VERSION", f'"{VERSION}"'), ("TOML_HEADER_ONLY", "0"),
                       ("TOML_SHARED_LIB", "1")],
        libraries=["tomlplusplus"])],
    cmdclass={"build_ext": build_ext},
    options={"build": {"build_base": "build-pip"}},
)
