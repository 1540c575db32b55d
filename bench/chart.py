#!/usr/bin/env python3
"""Draws bench/results/bench.png from bench/results/bench.json: `make bench-chart`.

One panel per family of kernels; in each, one line per kernel: NumPy's time
divided by ours, over the vector length n, both axes logarithmic. Above the
line at 1 we are faster; the shaded band below it is where NumPy is.
bench/run.py draws it after every run; this redraws it without measuring.

    .venv/bin/python bench/chart.py [bench.json [bench.png]]
"""
import json
import os
import pathlib
import sys

import provenance

RESULTS = pathlib.Path(__file__).resolve().parent / "results"

# The panels, in reading order: a title and the kernels it holds (typed rows
# by family: "sum" holds sum[i4] ... sum[c16]). A kernel of no panel goes to
# the last one, "other".
FAMILIES = (
    ("element-wise maps", ("sign", "csign", "fabs", "cabs", "sqrt", "csqrt")),
    ("sums and mean", ("sum", "mean")),
    ("products", ("prod", "cprod")),
    ("norms", ("norm2", "norm1", "norm3", "norm0", "norm_inf", "norm_-inf", "cnorm2", "cnorm_inf")),
    ("extremes", ("min", "max", "argmin", "argmax", "argminmax", "width", "cwidth")),
    ("equality", ("equal", "cequal")),
    ("closeness tests", ("allclose", "callclose", "anyclose", "canyclose")),
    ("sorting and gathering", ("sort", "argsort", "argsort_r", "permute")),
    ("cartesian product (pondistra)", ("product", "product-it")),
)
OTHER = "other"
FOOTNOTE = ("Each point: the best of {runs} timed runs. Our rows are called from C; NumPy's time "
            "includes its Python call, which is most of it at n = 8. The rows slower than NumPy, "
            "with their reasons, end the table that make bench prints.")
WIDTH_PX, DPI = 1600, 100
STYLES = [(color, marker) for marker, color in zip("osD^vP*Xh<", (
    "#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#17becf", "#8c564b", "#e377c2",
    "#7f7f7f", "#bcbd22"))]


def family_of(kernel):
    base = kernel.split("[", 1)[0]
    return next((title for title, kernels in FAMILIES if base in kernels), OTHER)


def size_label(n):
    """8, 1000, 1e5, 1e6, 1.6e7."""
    if n < 10**4:
        return str(n)
    e = len(str(n)) - 1
    return f"{n / 10**e:g}e{e}"


def ratio_label(r, _pos=None):
    return f"{r:g}×"


def panels(results):
    """{title: {kernel: [(n, ratio), ...]}} in the order of FAMILIES."""
    grouped = {title: {} for title, _ in FAMILIES + ((OTHER, ()),)}
    for r in results:
        grouped[family_of(r["kernel"])].setdefault(r["kernel"], []).append((r["n"], r["ratio"]))
    return {title: lines for title, lines in grouped.items() if lines}


def subtitle(machine):
    dispatch = machine.get("dispatch", "")
    if isinstance(dispatch, dict):
        dispatch = provenance.dispatch_text(dispatch)
    parts = [machine.get("processor", "unknown processor"), dispatch,
             f"NumPy {machine.get('numpy', '?')}, Python {machine.get('python', '?')}",
             f"commit {machine['commit']}" if "commit" in machine else "",
             machine.get("time", "")]
    return " · ".join(p for p in parts if p)


def draw(report, path):
    """Draws the report's rows into path (PNG, at most WIDTH_PX wide)."""
    import matplotlib  # noqa: PLC0415 - only the chart needs it
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt  # noqa: PLC0415
    from matplotlib.ticker import FixedLocator, FuncFormatter, NullLocator  # noqa: PLC0415

    groups = panels(report["results"])
    columns = min(3, len(groups))
    rows = -(-len(groups) // columns)
    sizes = sorted({r["n"] for r in report["results"]})
    ratios = [r["ratio"] for r in report["results"] if r["ratio"] > 0]
    low, high = min(min(ratios), 0.5) / 1.5, max(max(ratios), 2.0) * 1.5
    fig, axes = plt.subplots(rows, columns, figsize=(WIDTH_PX / DPI, 1.2 + 3.6 * rows),
                             sharex=True, sharey=True, squeeze=False)
    for ax, (title, lines) in zip(axes.flat, groups.items()):
        ax.axhspan(low, 1.0, color="#f4d6d6", zorder=0)
        ax.axhline(1.0, color="black", linewidth=1.2, zorder=1)
        for (kernel, points), (color, marker) in zip(lines.items(), STYLES * 3):
            points.sort()
            ax.plot([n for n, _ in points], [r for _, r in points], marker=marker, color=color,
                    markersize=5, linewidth=1.6, label=kernel, zorder=2)
        ax.set_title(title, fontsize=12, fontweight="bold", loc="left")
        ax.grid(True, which="major", color="#dddddd", linewidth=0.6)
        ax.legend(fontsize=8.5, ncol=2, loc="best", framealpha=0.85, handlelength=1.8,
                  borderaxespad=0.3, columnspacing=0.8)
    for ax in axes.flat[len(groups):]:
        ax.set_visible(False)
    ax = axes.flat[0]
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_ylim(low, high)
    ax.set_xlim(sizes[0] / 2, sizes[-1] * 2)
    ax.xaxis.set_major_locator(FixedLocator(sizes))
    ax.xaxis.set_major_formatter(FuncFormatter(lambda n, _pos: size_label(int(round(n)))))
    ax.xaxis.set_minor_locator(NullLocator())
    ax.yaxis.set_major_locator(FixedLocator([v for v in (0.1, 0.3, 1, 3, 10, 30, 100, 300, 1000)
                                             if low <= v <= high]))
    ax.yaxis.set_major_formatter(FuncFormatter(ratio_label))
    ax.yaxis.set_minor_locator(NullLocator())
    for a in axes[:, 0]:
        a.set_ylabel("NumPy's time / ours")
    for a in axes.flat:
        if a.get_visible():
            a.tick_params(labelbottom=True)
            a.set_xlabel("n (elements)", fontsize=9)
    height = fig.get_figheight()
    fig.text(0.008, 1 - 0.12 / height, "zalmor's native rows against NumPy: above 1× zalmor is "
             "faster, in the shaded band NumPy is", fontsize=15, ha="left", va="top")
    fig.text(0.008, 1 - 0.45 / height, subtitle(report.get("machine", {})), fontsize=9.5,
             color="#444444", ha="left", va="top")
    fig.text(0.008, 0.08 / height, FOOTNOTE.format(runs="3 short" if report.get("quick") else "5"),
             fontsize=9, color="#444444", ha="left", va="bottom")
    fig.tight_layout(rect=(0, 0.3 / height, 1, 1 - 0.6 / height), h_pad=1.2)
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=DPI)
    plt.close(fig)
    return path


def main(argv):
    source = pathlib.Path(argv[1]) if len(argv) > 1 else RESULTS / "bench.json"
    target = pathlib.Path(argv[2]) if len(argv) > 2 else source.with_suffix(".png")
    if not source.exists():
        sys.exit(f"{source} does not exist: run `make bench` first")
    report = json.loads(source.read_text())
    if not report.get("results"):
        sys.exit(f"{source} holds no rows to draw")
    print(f"chart: {os.path.relpath(draw(report, target))}")


if __name__ == "__main__":
    main(sys.argv)
