"""python -m plugstore sweep NAME.sweep.toml [--workers N] [--scheduler ADDR] [-o results.csv]
python -m plugstore run SCENARIO.toml [-o OUT.csv] [-D name=value ...]

The command `plugstore sweep` hands over to this; installed with pip, the
command `plugstore` is this, with `run` and `sweep`. A sweep file names the base
scenario and the variants (ending its name in .sweep.toml tells it apart
from scenarios; the results go to NAME.csv unless -o says otherwise):

    title = "Store volume against plug settings"   # optional
    base = "week.toml"                    # from this file's folder
    define = { "simulation.stop" = 168 }  # optional: settings of every variant
    [grid]                                # every combination; names as for -D
    store.volume = [0.2, 0.3, 0.4]
    store.minPlugs = [10, 30]
    # or: variants = "variants.csv"      # one row per variant, columns named as for -D
    [aggregates]                          # optional: columns of the results table
    port1.temperatureOut = ["mean", "min"]

Exit status: 0 every variant done, 3 some variant not (see its "status"
and "error"), 2 a bad sweep file or command line, 4 the results could not
be written; 130 or 143 stopped by SIGINT or SIGTERM, with the variants done
so far written (--resume runs the rest).
"""

import argparse
import os
import re
import signal
import sys
import tomllib

from . import ScenarioError, _plugstore
from .scenarios import load
from .sweep import SweepInterrupted, _one_line, sweep

BAD = 2
SOME_FAILED = 3
NOT_WRITTEN = 4
# A column of a variants table names a setting as -D does.
_SETTING = re.compile(r"[A-Za-z_][A-Za-z0-9_.\-]*")


class SweepFileError(Exception):
    pass


def _flatten(table, prefix=""):
    """Dotted names of a TOML table: [grid.port1] massFlow = ... and
    port1.massFlow = ... are the same."""
    out = {}
    for key, value in table.items():
        name = f"{prefix}.{key}" if prefix else key
        if isinstance(value, dict):
            out.update(_flatten(value, name))
        else:
            out[name] = value
    return out


def read_sweep_file(path):
    """(base scenario, define, grid or variants DataFrame, aggregates) of a
    sweep file; SweepFileError names what is wrong."""
    import pandas as pd

    try:
        with open(path, "rb") as f:
            data = f.read()
        # The parser and the flattening below recurse once per level.
        deep = _plugstore.toml_depth_fault(data.decode("utf-8", "replace"))
        if deep is not None:
            raise SweepFileError(f"{path}:{deep[0]}:{deep[1]}: {deep[2]}")
        doc = tomllib.loads(data.decode("utf-8"))
    except OSError as e:
        raise SweepFileError(f"{path}: cannot read: {e.strerror}") from None
    except UnicodeDecodeError:
        raise SweepFileError(f"{path}: not a text file in UTF-8") from None
    except tomllib.TOMLDecodeError as e:
        raise SweepFileError(f"{path}: {e}") from None
    known = ("title", "base", "define", "grid", "variants", "aggregates")
    for key in doc:
        if key not in known:
            raise SweepFileError(f"{path}: unknown key '{key}' (known: {', '.join(known)})")
    if not isinstance(doc.get("base"), str) or "\0" in doc["base"]:
        raise SweepFileError(f"{path}: 'base' must name the base scenario file")
    if ("grid" in doc) == ("variants" in doc):
        raise SweepFileError(f"{path}: give either [grid] or variants = \"FILE.csv\"")
    folder = os.path.dirname(os.path.abspath(path))
    base = os.path.join(folder, doc["base"])
    if "grid" in doc:
        grid = _flatten(doc["grid"])
        for name, values in grid.items():
            if not isinstance(values, list) or not values:
                raise SweepFileError(f"{path}: grid: {name} takes a list of values")
    else:
        grid = _variants(path, folder, doc["variants"])
    aggregates = _flatten(doc.get("aggregates", {}))
    return base, _flatten(doc.get("define", {})), grid, aggregates


def _variants(path, folder, name):
    """The variants table; a file that is not one is named, never quoted
    (it may be any file)."""
    import pandas as pd

    if not isinstance(name, str):
        raise SweepFileError(f"{path}: variants must name a CSV file")
    file = os.path.join(folder, name)
    if not os.path.isfile(file):
        raise SweepFileError(f"{path}: variants: {file} is not a file")
    try:
        table = pd.read_csv(file)
    except OSError as e:
        raise SweepFileError(f"{path}: variants: cannot read {file}: {e.strerror}") from None
    except (ValueError, UnicodeDecodeError, pd.errors.ParserError, pd.errors.EmptyDataError):
        table = None
    if table is None or table.empty or not all(
            isinstance(c, str) and _SETTING.fullmatch(c) for c in table.columns):
        raise SweepFileError(f"{path}: variants: {file} is not a variants table (a CSV with a "
                             f"header of settings named as -D names them, one row per variant)")
    table.index.name = "variant"
    table.attrs["file"] = file
    return table


def _exact(table, settings):
    """The table as written: settings in full (they are matched by --resume),
    results with 10 digits."""
    out = table.copy()
    for c in settings:
        if out[c].dtype.kind == "f":
            out[c] = [repr(float(v)) for v in out[c]]
    return out


def _write(table, settings, output):
    # Written under a temporary name and renamed: never a half-written table.
    partial = output + ".partial"
    try:
        _exact(table, settings).to_csv(partial, float_format="%.10g")
        os.replace(partial, output)
    except OSError as e:
        with_reason = f"plugstore sweep: cannot write {output}: {e.strerror}"
        try:
            os.remove(partial)
        except OSError:
            pass
        print(with_reason, file=sys.stderr)
        return False
    return True


def _collision(output, sweep_file, base, define, grid):
    """Why the results file may not be written where -o says, or None."""
    def same(a, b):
        if os.path.exists(a) and os.path.exists(b):
            return os.path.samefile(a, b)
        return os.path.realpath(a) == os.path.realpath(b)

    reads = [("the sweep file", sweep_file)]
    try:
        reads += [("a file of the base scenario", f) for f in load(base, define).input_files]
    except ScenarioError:
        reads.append(("the base scenario", base))  # its faults are reported by the sweep
    if hasattr(grid, "attrs") and "file" in grid.attrs:
        reads.append(("the variants table", grid.attrs["file"]))
    for role, f in reads:
        if same(output, f):
            return f"-o {output} is {role} ({f}): write the results to another file"
    return None


def run_main(argv=None):
    """`plugstore run` of the package: the runner's rows, its CSV format and
    its exit status; the summary is the run's verdict and its messages."""
    from .scenarios import load, run

    parser = argparse.ArgumentParser(prog="plugstore run",
                                     description="Run a scenario and write its outputs as CSV")
    parser.add_argument("scenario", help="scenario file (TOML)")
    parser.add_argument("-o", "--output", help="CSV file (default: SCENARIO-NAME.csv here)")
    parser.add_argument("-D", "--define", action="append", default=[], metavar="NAME=VALUE",
                        help="replaces a setting of the scenario (repeatable)")
    parser.add_argument("--allow-warnings", action="store_true",
                        help="exit with 0, not 3, when the component warned")
    parser.add_argument("-q", "--quiet", action="store_true", help="no summary")
    args = parser.parse_args(argv)
    try:
        frame = run(load(args.scenario, args.define), allow_warnings=args.allow_warnings)
    except (ScenarioError, OSError, RuntimeError) as e:
        print(e, file=sys.stderr)
        return BAD
    output = args.output or os.path.splitext(os.path.basename(args.scenario))[0] + ".csv"
    partial = output + ".partial"
    with open(partial, "w") as f:
        f.write(",".join(["time", *frame.columns]) + "\n")
        for time, row in zip(frame.index, frame.itertuples(index=False)):
            f.write(",".join([f"{time:.10g}"] + [f"{v:.9g}" for v in row]) + "\n")
    os.replace(partial, output)
    summary = frame.attrs["summary"]
    if not args.quiet or summary["exitStatus"] != 0:
        for m in summary["messages"]:
            print(f"  {m['severity']} x{m['count']} at {m['first']:g} h: {m['text']}",
                  file=sys.stderr)
        print(f"wrote {output} ({len(frame)} rows, {len(frame.columns)} outputs)", file=sys.stderr)
        if summary["verdict"]:
            print(summary["verdict"], file=sys.stderr)
    return summary["exitStatus"]


def main(argv=None):
    """The command `plugstore` of the installed package: run or sweep."""
    argv = sys.argv[1:] if argv is None else argv
    commands = {"run": run_main, "sweep": sweep_main}
    if not argv or argv[0] not in commands:
        print("usage: plugstore run SCENARIO.toml [options] | plugstore sweep SWEEP.toml "
              "[options]\n(the other commands are those of the CMake build's plugstore)",
              file=sys.stderr)
        return BAD
    return commands[argv[0]](argv[1:])


def sweep_main(argv=None):
    parser = argparse.ArgumentParser(prog="plugstore sweep",
                                     description="Run every variant of a base scenario on Dask")
    parser.add_argument("sweep", help="sweep file (TOML)")
    parser.add_argument("-o", "--output", help="results CSV (default: NAME.csv here)")
    parser.add_argument("--workers", type=int, help="local worker processes (default: one per core)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--series", metavar="DIR",
                        help="also write each variant's time series as DIR/variant-N.csv")
    parser.add_argument("--allow-warnings", action="store_true",
                        help="a variant whose component warned has status 0, not 3")
    parser.add_argument("--timeout", type=float, metavar="SECONDS",
                        help="time limit of each variant; one that takes longer gets status -2")
    parser.add_argument("--resume", action="store_true",
                        help="take the variants of status 0 from the results file, run the rest")
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress bar")
    args = parser.parse_args(argv)
    if args.workers is not None and args.scheduler:
        parser.error("--workers and --scheduler exclude each other")
    if args.workers is not None and args.workers < 1:
        parser.error("--workers takes a number of at least 1")

    if args.timeout is not None and not args.timeout > 0:
        parser.error("--timeout takes a number of seconds above 0")
    name = os.path.basename(args.sweep).removesuffix(".toml").removesuffix(".sweep")
    output = args.output or name + ".csv"

    # SIGTERM ends the sweep as Ctrl-C does: the variants done are written.
    terminating = [False]

    def terminate(number, frame):
        terminating[0] = True
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, terminate)
    try:
        base, define, grid, aggregates = read_sweep_file(args.sweep)
        clash = _collision(output, args.sweep, base, define or None, grid)
        if clash:
            raise SweepFileError(clash)
        done = None
        if args.resume and os.path.exists(output):  # none yet: every variant runs
            import pandas as pd

            try:
                done = pd.read_csv(output, index_col=0)
            except (OSError, ValueError, pd.errors.ParserError) as e:
                raise SweepFileError(f"--resume: cannot read {output}: "
                                     f"{getattr(e, 'strerror', None) or type(e).__name__}") from None
        progress = False if args.quiet else (None if sys.stderr.isatty() else "lines")
        try:
            table = sweep(base, grid, define=define or None, aggregates=aggregates,
                          series=args.series is not None, allow_warnings=args.allow_warnings,
                          workers=args.workers, scheduler=args.scheduler, progress=progress,
                          timeout=args.timeout, done=done)
        except SweepInterrupted as stop:
            signal.signal(signal.SIGTERM, signal.SIG_DFL)
            stopped_by = signal.SIGTERM if terminating[0] else signal.SIGINT
            written = _write(stop.table, list(grid), output) if len(stop.table) else False
            print(f"plugstore sweep: stopped by {stopped_by.name}: "
                  + (f"wrote the {len(stop.table)} of {stop.total} variants done to {output} "
                     f"(--resume runs the rest)" if written else
                     f"none of the {stop.total} variants was done; nothing written"),
                  file=sys.stderr)
            return 128 + stopped_by
    except (SweepFileError, ScenarioError, KeyError, TypeError, ValueError) as e:
        print(_one_line(e.args[0] if isinstance(e, KeyError) else e), file=sys.stderr)
        return BAD
    if args.series is not None:
        table, frames = table
        os.makedirs(args.series, exist_ok=True)
        for variant, frame in zip(table.index, frames):
            if frame is not None:
                frame.to_csv(os.path.join(args.series, f"variant-{variant}.csv"))
    if not _write(table, list(grid), output):
        return NOT_WRITTEN
    failed = int((table["status"] != 0).sum())
    print(f"plugstore sweep: {len(table)} variants, {failed} not done or not trustworthy; "
          f"wrote {output}", file=sys.stderr)
    return SOME_FAILED if failed else 0


if __name__ == "__main__":
    sys.exit(main())
