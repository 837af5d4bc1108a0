#!/usr/bin/python3
"""Adversarial scenarios for the runner: structured mutation of the examples.

Each case copies one example folder into a scratch folder, mutates its
scenario (TOML), its CSV series and its start profile line by line and value
by value (special numbers, wrong types, hostile paths, deleted, doubled and
reordered lines, cut and flipped bytes, keys and values nested thousands
deep), and runs

    plugstore run SCENARIO -o OUT/run.csv --summary OUT/run.json -q

or, in some cases, with an output that names an input or another output
(the scenario, a series, the CSV as the summary, a link to the scenario).

with the scratch folder's own TMPDIR. What must hold:
  - the runner ends (exit status 0, 1, 2 or 3), never by a signal, and
    within the time limit unless the scenario asks for millions of steps;
  - status 2 (a bad scenario) begins a line with the file at fault and its
    position ("FILE:LINE:COLUMN: ", "FILE:LINE: ", or "FILE: " for the
    whole file);
  - the run writes nothing outside the output folder but the component's own
    files in the folder of label 1 (startProfile.ini for store.initialProfile,
    plug-table dumps) and leaves no temporary file behind;
  - a completed run's CSV holds numbers only, all finite;
  - an output that names an input or another output is refused (status 2).
A case that breaks one of these is kept in the findings folder with a note.

    /usr/bin/python3 fuzz/fuzz_scenarios.py build/plugstore [--seconds 60]
        [--cases N] [--seed S] [--findings DIR]
Exit status 0 when no case broke a rule, 1 otherwise.
"""
import argparse
import math
import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import tomllib

ROOT = pathlib.Path(__file__).resolve().parent.parent
TIME_LIMIT = 60  # s per run
MANY_STEPS = 2e6  # a scenario asking for more may take longer than the limit

NUMBERS = ["0", "-0.0", "1", "-1", "0.5", "1e308", "-1e308", "1e-320", "nan", "inf",
           "-inf", "1e400", "99999999999999999999", "2147483648", "-2147483649",
           "400", "10", "6", "7", "0.001", "1e12", "-1e12", "1e-12", "3600"]
OTHERS = ['""', '"x"', "true", "[]", "[[]]", "{}", "[1, 2, 3]", "[[0, 1], [1]]",
          '"../../../outside"', '"/dev/zero"', '"/dev/stdin"', '"/etc/passwd"',
          '"/nonexistent/folder"', '".."', '"."', '"' + "x" * 400 + '"',
          "[" + ", ".join(["[0, 1]"] * 2000) + "]", "[" * 300 + "]" * 300,
          '"\\u0000"', "'''\ntext\n'''", "1979-05-27T07:32:00Z"]
KEYS = ["store.volume", "store.maxPlugs", "store.startProfile", "store.initialProfile",
        "hx.count", "hx1.numberOfCv", "hx1.uaModel", "port1.heightA", "port1.massFlow",
        "heatA1.power", "ambient.temperature", "sensor1.height", "label1", "step",
        "start", "stop", "iterations", "unit", "file", "period", "interpolation",
        "columns", "interval", "totals", "no.such.name", "[simulation]", "[[series]]",
        "[[controller]]", "[outputs]", "[parameters]", "[inputs]"]
CSV_VALUES = ["", "nan", "inf", "-inf", "1e308", "-1e308", "abc", "1,2", '"7"', "0x10",
              "1e-320", "-1", "99999999999999999999", " 5 ", "\t"]
# Files the component itself writes into the folder of label 1.
COMPONENT_FILES = re.compile(r"(startProfile\.ini|\.startProfile\.ini\..*\.tmp|\d\d_\w+\.txt)$")


def mutate_lines(text, rng, values, rounds):
    """Structured mutation of a line-based text: values, lines, bytes."""
    lines = text.split("\n")
    for _ in range(rounds):
        op = rng.randrange(9)
        i = rng.randrange(len(lines)) if lines else 0
        if not lines:
            lines.append("")
        elif op <= 2:  # a value: after '=' in TOML, a field in CSV and ini files
            line = lines[i]
            if "=" in line and not line.lstrip().startswith("#"):
                key, _, _ = line.partition("=")
                lines[i] = key + "= " + rng.choice(values)
            else:
                fields = re.split(r"([,\s]+)", line)
                spots = [k for k in range(0, len(fields), 2) if fields[k]]
                if spots:
                    fields[rng.choice(spots)] = rng.choice(values)
                    lines[i] = "".join(fields)
        elif op == 3:
            del lines[i]
        elif op == 4:
            lines.insert(i, lines[i])
        elif op == 5:
            j = rng.randrange(len(lines))
            lines[i], lines[j] = lines[j], lines[i]
        elif op == 6:  # a number scaled: steps, times, sizes
            nums = list(re.finditer(r"-?\d+\.?\d*(e-?\d+)?", lines[i]))
            if nums:
                m = rng.choice(nums)
                factor = rng.choice([1e-6, 1e-3, 0.5, 2, 1e3, 1e6, -1])
                try:
                    new = repr(float(m.group()) * factor)
                except ValueError:
                    new = "0"
                lines[i] = lines[i][:m.start()] + new + lines[i][m.end():]
        elif op == 7:  # a new line of a known key or section
            key = rng.choice(KEYS)
            lines.insert(i, key if key.startswith("[") else key + " = " + rng.choice(values))
            if '"x"' in values and rng.random() < 0.3:  # TOML nested deep: key, table, array
                n = rng.choice([40, 70, 1000, 50000])
                lines[i] = rng.choice([".".join(["a"] * n) + " = 1",
                                       "[" + ".".join(["t"] * n) + "]",
                                       "x = " + "{a = " * n + "1" + "}" * n,
                                       "x = " + "[" * n + "]" * n])
        else:  # bytes: cut, flipped, inserted
            blob = "\n".join(lines)
            k = rng.randrange(len(blob) + 1)
            how = rng.randrange(3)
            if how == 0:
                blob = blob[:k]
            elif how == 1 and k < len(blob):
                blob = blob[:k] + chr(rng.randrange(1, 256)) + blob[k + 1:]
            else:
                blob = blob[:k] + rng.choice(["\r", "\ufeff", "\x00", "'", '"', "[", "{", "\\"]) + blob[k:]
            lines = blob.split("\n")
    return "\n".join(lines)


def snapshot(folder, skip):
    """Files under folder (not under skip): path -> (size, mtime)."""
    found = {}
    for path in folder.rglob("*"):
        if path.is_file() and skip not in path.parents:
            st = path.stat()
            found[path] = (st.st_size, st.st_mtime_ns)
    return found


def requested_steps(scenario):
    try:
        sim = tomllib.loads(scenario.read_text(errors="replace")).get("simulation", {})
        start, stop, step = (float(sim.get(k, d)) for k, d in
                             (("start", 0.0), ("stop", 24.0), ("step", 0.25)))
        steps = (stop - start) / step
        return steps if math.isfinite(steps) else math.inf
    except Exception:
        return math.inf  # unreadable here: the runner's time cannot be judged


def run_case(plugstore, example, rng, work):
    """Mutates one copy of an example and runs it; returns the broken rules."""
    case = work / "case"
    shutil.rmtree(case, ignore_errors=True)
    scn = case / "scn"
    out = case / "out"
    tmp = case / "tmp"
    shutil.copytree(example, scn)
    out.mkdir()
    tmp.mkdir()
    scenario = next(scn.glob("*.toml"))
    targets = [scenario] + sorted(scn.glob("*.csv")) + sorted(scn.glob("*.ini"))
    targets = [t for t in targets if t.name != "reference.csv"]
    for target in rng.sample(targets, rng.randint(1, len(targets))):
        values = NUMBERS + OTHERS if target.suffix == ".toml" else NUMBERS + CSV_VALUES
        text = target.read_text(errors="replace")
        target.write_text(mutate_lines(text, rng, values, rng.randint(1, 4)),
                          errors="surrogateescape")

    csv, summary = out / "run.csv", out / "run.json"
    collision = rng.random() < 0.1
    if collision:
        text = scenario.read_text(errors="replace")
        series = [t for t in targets if t.suffix == ".csv" and re.search(
            r'^\s*file\s*=\s*"%s"\s*$' % re.escape(t.name), text, re.M)]
        link = out / "link.csv"
        link.symlink_to(scenario)
        csv, summary = rng.choice([(scenario, summary), (link, summary), (csv, csv)] +
                                  [(s, summary) for s in series])
    before = snapshot(case, out)
    env = dict(os.environ, TMPDIR=str(tmp))
    cmd = [plugstore, "run", str(scenario), "-o", str(csv), "--summary", str(summary), "-q"]
    broken = []
    try:
        r = subprocess.run(cmd, cwd=out, env=env, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=TIME_LIMIT)
        status, err = r.returncode, r.stderr.decode(errors="replace")
    except subprocess.TimeoutExpired:
        status, err = None, ""
        if requested_steps(scenario) < MANY_STEPS:
            broken.append(f"no end within {TIME_LIMIT} s")

    if status is not None and status not in (0, 1, 2, 3):
        broken.append(f"exit status {status}" + (" (a signal)" if status < 0 else ""))
    if collision and status != 2:
        broken.append(f"an output naming an input or another output gave status {status}")
    if status == 2 and not (collision and re.search(r"^plugstore: ", err, re.M)):
        # FILE:LINE:COLUMN, FILE:LINE, or FILE alone for a fault of the whole file
        names = "|".join(re.escape(t.name) for t in targets)
        if not re.search(r"(^|/)(%s)(:\d+(:\d+)?)?: " % names, err, re.M):
            broken.append("a bad scenario without the file and position at fault")
    after = snapshot(case, out)
    for path in sorted(set(after) - set(before) | {p for p in before if after.get(p) != before[p]}):
        if path.parent == tmp or not COMPONENT_FILES.search(path.name):
            broken.append(f"wrote {path.relative_to(case)}")
    if any(tmp.iterdir()):
        broken.append("left temporary files")
    if status in (0, 3) and not collision:
        csv = out / "run.csv"
        rows = csv.read_text().splitlines()[1:] if csv.exists() else []
        for row in rows:
            try:
                if not all(math.isfinite(float(v)) for v in row.split(",")):
                    raise ValueError
            except ValueError:
                broken.append("a CSV row that is not all finite numbers: " + row[:80])
                break
    return broken, status, err


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("plugstore")
    ap.add_argument("--seconds", type=float, default=60.0)
    ap.add_argument("--cases", type=int, default=0, help="stop after this many (0: by time)")
    ap.add_argument("--seed", type=int, default=int(time.time()))
    ap.add_argument("--findings", default="fuzz-scenario-findings")
    args = ap.parse_args()
    plugstore = str(pathlib.Path(args.plugstore).resolve())
    examples = sorted(p for p in (ROOT / "examples").iterdir() if any(p.glob("*.toml")))
    rng = random.Random(args.seed)
    findings = pathlib.Path(args.findings)
    statuses = {}
    failures = 0
    began = time.monotonic()
    cases = 0
    with tempfile.TemporaryDirectory(prefix="plugstore-scenarios-") as scratch:
        work = pathlib.Path(scratch)
        while time.monotonic() - began < args.seconds and (not args.cases or cases < args.cases):
            cases += 1
            example = rng.choice(examples)
            broken, status, err = run_case(plugstore, example, rng, work)
            statuses[status] = statuses.get(status, 0) + 1
            if broken:
                failures += 1
                keep = findings / f"case-{args.seed}-{cases}"
                shutil.rmtree(keep, ignore_errors=True)
                shutil.copytree(work / "case", keep)
                (keep / "FINDING.txt").write_text(
                    f"example {example.name}, exit status {status}\n" + "\n".join(broken) +
                    "\n--- stderr ---\n" + err)
                print(f"case {cases}: {'; '.join(broken)} (kept in {keep})")
    shown = ", ".join(f"{k}: {v}" for k, v in sorted(statuses.items(), key=str))
    print(f"fuzz_scenarios: {cases} cases in {time.monotonic() - began:.0f} s (seed {args.seed}),"
          f" exit statuses {shown}; {failures} broke a rule")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
