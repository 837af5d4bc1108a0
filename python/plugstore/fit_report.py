"""What a fit writes: the calibrated scenario, and its report (Markdown with a
plot per segment)."""

import json
import math
import os
import re
import tomllib

import numpy as np

from .catalog import PARAMETER_NAMES, catalog
from .scenarios import load, toml_value


def _key(k):
    return k if re.fullmatch(r"[A-Za-z0-9_-]+", k) else json.dumps(k)


def _dotted(table, prefix=()):
    """(dotted key, value) of every leaf of a table."""
    for k, v in table.items():
        if isinstance(v, dict) and v:
            yield from _dotted(v, prefix + (k,))
        else:
            yield ".".join(_key(p) for p in prefix + (k,)), v


def _tables(v):
    return isinstance(v, list) and v and all(isinstance(i, dict) for i in v)


def toml_document(doc):
    """A parsed scenario written out again: plain keys, then [tables] with
    dotted keys, then [[arrays of tables]]."""
    lines = [f"{_key(k)} = {toml_value(v)}" for k, v in doc.items()
             if not isinstance(v, dict) and not _tables(v)]
    for k, v in doc.items():
        if isinstance(v, dict):
            lines += ["", f"[{_key(k)}]"] + [f"{d} = {toml_value(x)}" for d, x in _dotted(v)]
        elif _tables(v):
            for item in v:
                lines += ["", f"[[{_key(k)}]]"] + [f"{d} = {toml_value(x)}"
                                                  for d, x in _dotted(item)]
    return "\n".join(lines) + "\n"


def _set(table, parts, value):
    """Sets a dotted name in a parsed table, wherever the file put it: as
    nested tables, or under a quoted key with dots."""
    for k in range(len(parts), 0, -1):
        key = ".".join(parts[:k])
        if key in table:
            if k == len(parts):
                table[key] = value
                return
            if isinstance(table[key], dict):
                _set(table[key], parts[k:], value)
                return
    for p in parts[:-1]:
        table = table.setdefault(p, {})
    table[parts[-1]] = value


def write_calibrated(problem, fit_path, result, path):
    """The base scenario with the fit file's settings and the fitted values,
    written to `path`. It is read back and must give the fitted parameters."""
    from .fit import FitError

    with open(problem.base, "rb") as f:
        doc = tomllib.load(f)
    for text in problem.defines:
        key, value = text.split("=", 1)
        parsed = tomllib.loads("v = " + value)["v"]
        if key.startswith("simulation."):
            doc.setdefault("simulation", {})[key[11:]] = parsed
        else:
            section = "parameters" if key in PARAMETER_NAMES or key == "store.initialProfile" \
                else "inputs"
            _set(doc.setdefault(section, {}), key.split("."), parsed)
    params = doc.setdefault("parameters", {})
    for key, value in result.settings.items():
        _set(params, key.split("."), float(value))
    rows = result.parameters
    head = [f"# Calibrated by plugstore fit from {os.path.basename(problem.base)} with "
            f"{os.path.basename(fit_path)}; written by it, comments of the base left out.",
            "# Fitted values (standard error):"]
    for n, r in rows.iterrows():
        head.append(f"#   {n} = {r['value']:.6g} ({r['stdError']:.2g})"
                    + (f" on its {r['onBound']} bound" if r["onBound"] else ""))
    if not result.success:
        head.append("# NOT TRUSTWORTHY: " + " ".join(result.findings))
    partial = path + ".partial"
    with open(partial, "w") as f:
        f.write("\n".join(head) + "\n" + toml_document(doc))
    want = load(problem.base, problem.defines + [f"{k}={toml_value(float(v))}"
                                                for k, v in result.settings.items()]).parameters
    got = load(partial).parameters
    if not np.array_equal(np.asarray(want), np.asarray(got)):
        raise FitError(f"{partial}: the written scenario does not read back as the fitted store")
    os.replace(partial, path)
    return path


def _fmt(x, digits=3):
    if x is None or (isinstance(x, float) and math.isnan(x)):
        return "–"
    return f"{x:.4g}" if abs(x) >= 1e4 else f"{x:.{digits}f}"


def plot_segment(path, problem, segment, frame, stats):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    units = catalog("outputs")["unit"]
    groups = {}
    for o in problem.outputs:
        groups.setdefault(units[o], []).append(o)
    fig, axes = plt.subplots(2 * len(groups), 1, figsize=(8.0, 1.2 + 2.4 * len(groups) * 2),
                             sharex=True, squeeze=False)
    axes = axes[:, 0]
    t = frame.index.to_numpy()
    colours = plt.cm.tab10(np.arange(len(problem.outputs)) % 10)
    for g, (unit, outputs) in enumerate(groups.items()):
        ax, res = axes[2 * g], axes[2 * g + 1]
        for o in outputs:
            c = colours[problem.outputs.index(o)]
            m = frame[f"measured.{o}"]
            # The model only where it is compared: an output such as a coil's
            # outlet temperature means nothing while nothing flows.
            before = frame[f"before.{o}"].where(m.notna())
            after = frame[f"after.{o}"].where(m.notna())
            ax.plot(t, m, "o", color=c, ms=2 if len(t) > 100 else 3, mfc="none", mew=0.6)
            ax.plot(t, before, "--", color=c, lw=0.9)
            ax.plot(t, after, "-", color=c, lw=1.3, label=o)
            res.plot(t, before - m, "--", color=c, lw=0.7, alpha=0.6)
            res.plot(t, after - m, "-", color=c, lw=1.0)
        ax.set_ylabel(unit)
        ax.legend(fontsize=6, ncol=3, loc="best",
                  title="dots: measured, dashed: before, lines: fitted", title_fontsize=6)
        res.axhline(0.0, color="black", lw=0.6)
        res.set_ylabel(f"model − measured, {unit}")
        for a in (ax, res):
            a.grid(alpha=0.3)
    before = stats["meanAbs.before"].mean()
    after = stats["meanAbs.after"].mean()
    axes[0].set_title(f"{segment.name} ({'fitted' if segment.use == 'fit' else 'held out'}): "
                      f"mean |Δ| {before:.3f} before, {after:.3f} after", fontsize=9)
    axes[-1].set_xlabel("time, h")
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


def write_report(problem, fit_path, result, path):
    """The report as Markdown at `path`, its plots in the folder of the same
    name less .md."""
    path = os.path.abspath(path)
    plots = path.removesuffix(".md")
    os.makedirs(plots, exist_ok=True)
    table, stats = result.parameters, result.statistics
    out = []
    w = out.append
    w(f"# Fit: {result.title or os.path.basename(fit_path)}\n")
    w(f"Fit file `{os.path.basename(fit_path)}`, base scenario "
      f"`{os.path.basename(problem.base)}`, calibrated scenario "
      f"`{os.path.basename(result.calibrated or '')}`.\n")
    verdict = "Converged" if result.success else "**Not trustworthy**"
    w(f"{verdict}: {result.message} {result.evaluations} evaluations in {result.seconds:.1f} s; "
      f"cost (half the sum of squared weighted residuals) {result.cost[0]:.6g} before, "
      f"{result.cost[1]:.6g} after.\n")
    w("## Fitted values\n")
    w("| parameter | sets | start | fitted | standard error | bounds |\n|---|---|---:|---:|---:|---|")
    for n, r in table.iterrows():
        sets = r["targets"] if r["kind"] == "value" else f"{r['kind']}: {r['targets']}"
        w(f"| {n} | {sets} | {r['start']:.6g} | {r['value']:.6g}"
          f"{' (on its ' + r['onBound'] + ' bound)' if r['onBound'] else ''} "
          f"| {r['stdError']:.2g} | {r['lower']:g} … {r['upper']:g} |")
    w("")
    if len(table) > 1:
        w("Correlations of the fitted values:\n")
        names = list(table.index)
        w("| | " + " | ".join(names) + " |\n|---|" + "---:|" * len(names))
        for a in names:
            w(f"| {a} | " + " | ".join(_fmt(result.correlation.loc[a, b], 2) for b in names) + " |")
        w("")
    w("The standard errors take the residuals as independent; residuals of a time series "
      "follow each other, so the true uncertainty is larger.\n")
    if result.findings:
        w("## Findings\n")
        for f in result.findings:
            w(f"- {f}")
        w("")
    if result.warnings:
        w("The component warned during the fit (count over all runs): " + "; ".join(
            f"\"{t}\" ({n})" for t, n in sorted(result.warnings.items())) + ".\n")
    w("## Residuals, model − measured\n")
    w("Before: the start values; after: the fitted ones. Held-out segments (use \"check\") "
      "are not fitted.\n")
    w("| segment | use | output | column | rows | gaps | mean Δ | mean \\|Δ\\| | RMS "
      "| largest \\|Δ\\| |\n|---|---|---|---|---:|---:|---:|---:|---:|---:|")
    for _, r in stats.iterrows():
        cells = " | ".join(f"{_fmt(r[q + '.before'])} → {_fmt(r[q + '.after'])}"
                           for q in ("mean", "meanAbs", "rms", "largestAbs"))
        w(f"| {r['segment']} | {r['use']} | {r['output']} | {r['column']} | {r['rows']} "
          f"| {r['gaps']} | {cells} |")
    w("")
    w("## Segments\n")
    for seg in problem.segments:
        png = os.path.join(plots, f"{seg.name}.png")
        plot_segment(png, problem, seg, result.series[seg.name], stats[stats["segment"] == seg.name])
        w(f"### {seg.name}\n")
        w(f"![{seg.name}]({os.path.basename(plots)}/{seg.name}.png)\n")
    partial = path + ".partial"
    with open(partial, "w") as f:
        f.write("\n".join(out))
    os.replace(partial, path)
    return path
