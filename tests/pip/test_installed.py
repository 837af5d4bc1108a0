"""The package as pip installed it in a fresh environment: its run gives the
runner's rows, and its command `plugstore run` writes the runner's CSV."""

import csv
import os
import pathlib
import subprocess
import sys

import plugstore

SOURCE = pathlib.Path(os.environ.get("PLUGSTORE_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
DRAW_OFF = SOURCE / "examples" / "dhw-draw-off" / "dhw-draw-off.toml"


def test_the_installed_package_runs_as_the_runner(tmp_path):
    assert pathlib.Path(plugstore.__file__).is_relative_to(sys.prefix)
    subprocess.run([os.environ["PLUGSTORE_EXE"], "run", "-q", DRAW_OFF, "-o", tmp_path / "cli.csv"],
                   check=True)
    with open(tmp_path / "cli.csv") as f:
        rows = list(csv.reader(f))
    frame = plugstore.run(DRAW_OFF)
    assert ["time", *frame.columns] == rows[0] and len(frame) == len(rows) - 1 == 480
    for (time, values), row in zip(frame.iterrows(), rows[1:]):
        assert [f"{time:.10g}", *(f"{v:.9g}" for v in values)] == row
    command = pathlib.Path(sys.executable).parent / "plugstore"
    subprocess.run([command, "run", "-q", DRAW_OFF, "-o", tmp_path / "pip.csv"], check=True)
    assert (tmp_path / "pip.csv").read_text() == (tmp_path / "cli.csv").read_text()
