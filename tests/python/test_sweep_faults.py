"""Sweeps under faults: bad sweep files end in one line with status 2, a
stopped sweep keeps the variants done, --resume runs only the rest, and a
variant past its time limit gets a status of its own."""

import os
import signal
import subprocess
import sys

import pandas as pd

from conftest import SOURCE
from plugstore.sweep import TIMED_OUT, run_variant

WEEK = SOURCE / "examples" / "sweep" / "week.toml"


def sweep_command(*args):
    return [os.environ["PLUGSTORE_EXE"], "sweep", *map(str, args)]


def test_faults_of_a_sweep_file_end_in_one_line_with_status_2(tmp_path):
    (tmp_path / "private.csv").write_text("token: s3cr3t\n")
    cases = {
        "missing": 'variants = "missing.csv"',
        "private": 'variants = "private.csv"',
        "deep": "[grid]\n" + ".".join(["a"] * 40000) + " = [1]",
    }
    for name, text in cases.items():
        path = tmp_path / f"{name}.sweep.toml"
        path.write_text(f'base = "{WEEK}"\n{text}\n')
        done = subprocess.run(sweep_command(path, "-q"), capture_output=True, text=True, timeout=60)
        assert done.returncode == 2, (name, done.stderr)
        assert len(done.stderr.splitlines()) == 1 and "s3cr3t" not in done.stderr, done.stderr
    # The results may not replace the base scenario or the sweep file.
    path = tmp_path / "fine.sweep.toml"
    path.write_text(f'base = "{WEEK}"\n[grid]\n"store.volume" = [0.2]\n')
    for output in (WEEK, path):
        done = subprocess.run(sweep_command(path, "-q", "-o", output), capture_output=True,
                              text=True, timeout=60)
        assert done.returncode == 2 and "write the results to another file" in done.stderr
    # A variant with two faults says both in one line.
    row, _ = run_variant(str(WEEK), ["store.volume=-1", "port1.heightB=1.0"])
    assert row["status"] == 2 and "\n" not in row["error"] and row["error"].count("must") == 2


def test_a_stopped_sweep_keeps_what_is_done_and_resume_runs_the_rest(tmp_path):
    path = tmp_path / "long.sweep.toml"
    path.write_text(f'base = "{WEEK}"\n[grid]\n"simulation.stop" = [24, 1e7]\n')
    out = tmp_path / "long.csv"
    sweep = subprocess.Popen(sweep_command(path, "--workers", "2", "-o", out),
                             stderr=subprocess.PIPE, text=True)
    try:
        for line in sweep.stderr:  # the 1e7 h variant runs for minutes
            if "1 of 2 variants done" in line:
                sweep.send_signal(signal.SIGTERM)
                break
        said = sweep.stderr.read()
        assert sweep.wait(timeout=60) == 128 + signal.SIGTERM
    finally:
        sweep.kill()
    assert "wrote the 1 of 2 variants done" in said, said
    kept = pd.read_csv(out, index_col=0)
    assert kept.index.tolist() == [0] and kept["status"].tolist() == [0]

    # The variant done is taken as it stands (its steps marked), the other
    # runs into its time limit.
    kept.loc[0, "steps"] = 12345
    kept.to_csv(out)
    done = subprocess.run(sweep_command(path, "--workers", "2", "-o", out, "-q", "--resume",
                                        "--timeout", "1"), timeout=120)
    assert done.returncode == 3
    table = pd.read_csv(out, index_col=0)
    assert table["steps"][0] == 12345 and table["status"].tolist() == [0, TIMED_OUT]
    assert "time limit of 1 s" in table["error"][1]
