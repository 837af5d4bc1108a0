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
and "error"), 2 a bad sweep file or command line.
"""

import argparse
import os
import sys
import tomllib

from . import ScenarioError
from .sweep import sweep

BAD = 2
SOME_FAILED = 3


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
            doc = tomllib.load(f)
    except OSError as e:
        raise SweepFileError(f"{path}: cannot read: {e.strerror}") from None
    except tomllib.TOMLDecodeError as e:
        raise SweepFileError(f"{path}: {e}") from None
    known = ("title", "base", "define", "grid", "variants", "aggregates")
    for key in doc:
        if key not in known:
            raise SweepFileError(f"{path}: unknown key '{key}' (known: {', '.join(known)})")
    if not isinstance(doc.get("base"), str):
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
        grid = pd.read_csv(os.path.join(folder, doc["variants"]))
    aggregates = _flatten(doc.get("aggregates", {}))
    return base, _flatten(doc.get("define", {})), grid, aggregates


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
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress bar")
    args = parser.parse_args(argv)
    if args.workers is not None and args.scheduler:
        parser.error("--workers and --scheduler exclude each other")
    if args.workers is not None and args.workers < 1:
        parser.error("--workers takes a number of at least 1")

    try:
        base, define, grid, aggregates = read_sweep_file(args.sweep)
        table = sweep(base, grid, define=define or None, aggregates=aggregates,
                      series=args.series is not None, allow_warnings=args.allow_warnings,
                      workers=args.workers, scheduler=args.scheduler,
                      progress=False if args.quiet else None)
    except (SweepFileError, ScenarioError, KeyError, TypeError, ValueError) as e:
        print(e.args[0] if isinstance(e, KeyError) else e, file=sys.stderr)
        return BAD
    if args.series is not None:
        table, frames = table
        os.makedirs(args.series, exist_ok=True)
        for variant, frame in zip(table.index, frames):
            if frame is not None:
                frame.to_csv(os.path.join(args.series, f"variant-{variant}.csv"))
    name = os.path.basename(args.sweep).removesuffix(".toml").removesuffix(".sweep")
    output = args.output or name + ".csv"
    # Written under a temporary name and renamed: never a half-written table.
    partial = output + ".partial"
    table.to_csv(partial, float_format="%.10g")
    os.replace(partial, output)
    failed = int((table["status"] != 0).sum())
    print(f"plugstore sweep: {len(table)} variants, {failed} not done or not trustworthy; "
          f"wrote {output}", file=sys.stderr)
    return SOME_FAILED if failed else 0


if __name__ == "__main__":
    sys.exit(main())
