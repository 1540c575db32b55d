#!/usr/bin/env python3
"""zalmor's native rows against their NumPy equivalents: `make bench`.

Our side is timed from native code (bench/native_bench.c, built here into
build/bench/), which binds each row through include/zalmor/capi.h and calls it
in a C loop, releasing every returned view as a real caller does. NumPy's side
is the Python statement a user would write, timed with timeit on the same data
in the same run. Each figure is the best of several runs. The machine's bounds
(read and write bandwidth, the latency of a strictly ordered double sum) are
measured in the same run too.

Adding a row: append a Row to ROWS (see the Row fields). A row whose name is
not yet in its module's __pyx_capi__ is skipped with a note.

    .venv/bin/python bench/run.py [--quick] [--only REGEX] [--sizes 8,1000]
"""
import os
import sys

# Set on some machines, these slow NumPy down; NumPy is measured at its best,
# so this process runs again without them (only this process).
SLOW_ENV = ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")
if __name__ == "__main__" and any(k in os.environ for k in SLOW_ENV):
    _env = {k: v for k, v in os.environ.items() if k not in SLOW_ENV}
    _env["ZALMOR_BENCH_UNSET"] = " ".join(f"{k}={os.environ[k]}" for k in SLOW_ENV if k in os.environ)
    os.execve(sys.executable, [sys.executable, os.path.abspath(__file__), *sys.argv[1:]], _env)

import argparse  # noqa: E402
import dataclasses  # noqa: E402
import importlib  # noqa: E402
import importlib.util  # noqa: E402
import json  # noqa: E402
import pathlib  # noqa: E402
import platform  # noqa: E402
import re  # noqa: E402
import statistics  # noqa: E402
import subprocess  # noqa: E402
import sysconfig  # noqa: E402
import timeit  # noqa: E402
from typing import Callable, Optional  # noqa: E402

import numpy as np  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parent.parent
RESULTS = ROOT / "bench" / "results"
SIZES = (8, 1000, 10**6, 16 * 10**6)
TARGET = 0.05  # seconds one timed run should last
RUNS = 5  # timed runs per figure (3 when a single call takes longer than TARGET)
BRENTHOSCA = "zalmor.ops.brenthosca"
PONDISTRA = "zalmor.utils.pondistra"


# ---- inputs: data(n, rng, dtype) -> tuple of arrays --------------------------

def normal(n, rng, dtype):
    x = rng.standard_normal(n)
    if np.dtype(dtype).kind == "c":
        x = x + 1j * rng.standard_normal(n)
    return (x.astype(dtype),)


def positive(n, rng, dtype):
    return (np.abs(normal(n, rng, dtype)[0]),)


def unit(n, rng, dtype):
    """Values whose running product stays near 1 (integers just wrap)."""
    dt = np.dtype(dtype)
    if dt.kind in "iu":
        x = rng.integers(1, 8, n) * (rng.choice([-1, 1], n) if dt.kind == "i" else 1)
    elif dt.kind == "f":
        x = rng.uniform(0.5, 2.0, n)
        x[1::2] = 1.0 / x[0::2][: n // 2]
    else:
        x = np.exp(1j * rng.uniform(0.0, 2 * np.pi, n))
    return (x.astype(dt),)


def twins(n, rng, dtype):
    """Two equal vectors: an equality test must read both to the end."""
    x = normal(n, rng, dtype)[0]
    return (x, x.copy())


def shuffled(n, rng, dtype):
    """A vector and a random order of its positions, as argsort would give them.
    The positions are NumPy's own index type, so that np.take need not convert
    them; our rows read them as the 8-byte integers they are."""
    return (normal(n, rng, dtype)[0], rng.permutation(n).astype(np.intp))


# ---- the rows ----------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Row:
    row: str  # name in the module's __pyx_capi__ (its C shape follows from its signature)
    dtype: str  # element type of the inputs (NumPy notation)
    numpy: str  # NumPy's equivalent, a statement over x (and y)
    data: Callable = normal  # makes the inputs
    label: str = ""  # name in the table; default: row
    out: str = ""  # element type of a returned view
    opt: Optional[tuple] = None  # optional-argument record: (n, fields...)
    module: str = BRENTHOSCA
    bound: str = "read"  # also "seqadd" (strictly ordered sums) or "write" (fills)
    setup: str = ""  # NumPy statement run untimed before each call (in-place rows)
    expect: str = ""  # NumPy expression our result must match; default: `numpy`
    rtol: float = 1e-12

    @property
    def name(self):
        return self.label or self.row


TYPES = ("i4", "u4", "i8", "u8", "f4", "f8", "c16")  # the order of __pyx_fuse_<k>
RTOL = {"f4": 1e-3, "f8": 1e-9, "c16": 1e-9}


def fused(family, numpy, data=normal, **kw):
    """The seven typed instances __pyx_fuse_<k><family>."""
    return [Row(f"__pyx_fuse_{k}{family}", t, numpy, data, f"{family}[{t}]",
                rtol=RTOL.get(t, 0.0), **kw) for k, t in enumerate(TYPES)]


ROWS = [
    Row("sign", "f8", "np.sign(x)", out="i4"),
    Row("csign", "c16", "np.sign(x)", out="c16"),
    Row("fabs", "f8", "np.abs(x)", out="f8"),
    Row("cabs", "c16", "np.abs(x)", out="f8"),
    Row("sqrt", "f8", "np.sqrt(x)", positive, out="f8"),
    Row("csqrt", "c16", "np.sqrt(x)", out="c16"),
    Row("permute", "f8", "np.take(x, y)", shuffled, out="f8"),
    Row("sort", "f8", "w.sort()", setup="w = x.copy()", expect="np.sort(x)"),
    Row("argsort", "f8", "np.argsort(x)", out="u8"),
    Row("argsort", "f8", "np.argsort(x)[::-1]", opt=(1, 1), label="argsort_r", out="u8"),
    *fused("prod", "np.prod(x, dtype=x.dtype)", unit),
]


# ---- measuring ---------------------------------------------------------------

def build_native():
    """Compiles native_bench.c into build/bench/ and imports it."""
    name = "_zalmor_bench"
    out = ROOT / "build" / "bench"
    out.mkdir(parents=True, exist_ok=True)
    target = out / (name + sysconfig.get_config_var("EXT_SUFFIX"))
    command = ["cc", "-x", "c", "-std=c99", "-O2", "-shared", "-fPIC", "-Wall", "-Wextra",
               "-I", str(ROOT / "include"), "-I", sysconfig.get_paths()["include"],
               str(ROOT / "bench" / "native_bench.c"), "-o", str(target)]
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode:
        sys.exit(f"building the native bench failed:\n{' '.join(command)}\n{done.stderr}")
    spec = importlib.util.spec_from_file_location(name, target)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def best_per_call(run):
    """(best, median) seconds per call; run(k) gives the total for k calls."""
    number, total = 1, run(1)  # the first call also warms up
    while total < TARGET / 10:
        number *= 10
        total = run(number)
    number = max(1, round(number * TARGET / total))
    runs = 3 if total / number > TARGET else RUNS
    times = [run(number) / number for _ in range(runs)]
    return min(times), statistics.median(times)


def machine_bounds(nb):
    x = np.ones(2**24, dtype=np.float64)  # 128 MiB, far beyond the caches
    seq = nb.seqadd_pass(x, 5) / x.size
    read = x.nbytes / nb.read_pass(x, 7)
    w = np.zeros_like(x)
    write = w.nbytes / nb.write_pass(w, 7)
    store = w.nbytes / nb.store_pass(w, 7)
    return {"read_GBps": read / 1e9, "write_GBps": write / 1e9, "store_GBps": store / 1e9,
            "seqadd_ns": seq * 1e9}


WRITERS = {"map", "vv_view", "argsort", "product", "sort"}  # kinds that write a vector


def as_array(row, value):
    """Our result as NumPy sees it (views arrive as view_value() gives them)."""
    if isinstance(value, tuple) and len(value) == 5 and isinstance(value[4], bytes):
        n0, n1, _, _, raw = value
        a = np.frombuffer(raw, dtype=row.out)
        return a.reshape(n0, n1) if n1 else a
    if isinstance(value, bytes):  # sorted in place
        return np.frombuffer(value, dtype=row.dtype)
    return np.asarray(value)


def agrees(row, ours, theirs):
    a, b = np.asarray(ours), np.asarray(theirs)
    if a.shape != b.shape:
        return False
    if a.dtype.kind in "iub" and b.dtype.kind in "iub":
        return bool(np.array_equal(a, b))
    return bool(np.allclose(a, b, rtol=row.rtol, atol=0.0, equal_nan=True))


def measure(nb, row, n, bounds, rng):
    inputs = row.data(n, rng, row.dtype)
    space = {"np": np, "x": inputs[0], "y": inputs[-1]}
    args = (row.module, row.row, inputs, row.opt)
    ours_value = as_array(row, nb.call(*args))
    ours = best_per_call(lambda k: nb.time(*args, k) * k)
    if row.setup:
        timer = timeit.Timer(row.numpy, row.setup, globals=space)
        theirs = best_per_call(lambda k: sum(timer.repeat(repeat=k, number=1)))
        exec(row.setup, space)
    else:
        timer = timeit.Timer(row.numpy, globals=space)
        theirs = best_per_call(timer.timeit)
    expected = eval(row.expect or row.numpy, space)
    read = sum(a.nbytes for a in inputs)
    kind = nb.kind(row.row)
    written = ours_value.nbytes if kind in WRITERS else 0
    t = ours[0]
    bound_t = {"read": (read + written) / (bounds["read_GBps"] * 1e9),
               "write": written / (bounds["write_GBps"] * 1e9),
               "seqadd": n * bounds["seqadd_ns"] * 1e-9}[row.bound]
    return {"kernel": row.name, "row": row.row, "module": row.module, "kind": kind,
            "dtype": row.dtype, "n": n, "ours_s": t, "ours_median_s": ours[1],
            "numpy_s": theirs[0], "numpy_median_s": theirs[1], "ratio": theirs[0] / t,
            "bytes": read + written, "GBps": (read + written) / t / 1e9,
            "frac_read": (read + written) / t / 1e9 / bounds["read_GBps"],
            "bound": row.bound, "frac_bound": bound_t / t,
            "agrees": agrees(row, ours_value, expected)}


# ---- reporting ---------------------------------------------------------------

def fmt_time(s):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("µs", 1e-6)):
        if s >= scale:
            return f"{s / scale:7.3g} {unit}"
    return f"{s / 1e-9:7.3g} ns"


def fmt_n(n):
    """1000000 as 1e6, 16000000 as 1.6e7; other sizes as they are."""
    e = len(str(n)) - 1
    return f"{n / 10**e:g}e{e}" if n >= 10**6 and n % 10 ** (e - 1) == 0 else str(n)


HEADER = (f"{'kernel':<11} {'n':>5} {'ours':>10} {'numpy':>10} {'ratio':>7} {'GB/s':>7} "
          f"{'%read':>6}  {'other bound':<12} check")


def table_line(r):
    other = f"{r['bound']} {100 * r['frac_bound']:.0f}%" if r["bound"] != "read" else ""
    return (f"{r['kernel']:<11} {fmt_n(r['n']):>5} {fmt_time(r['ours_s']):>10} "
            f"{fmt_time(r['numpy_s']):>10} {r['ratio']:6.2f}x {r['GBps']:7.2f} "
            f"{100 * r['frac_read']:5.0f}%  {other:<12} {'ok' if r['agrees'] else 'DIFFERS'}")


def chart(results, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no chart")
        return
    kernels = list(dict.fromkeys(r["kernel"] for r in results))
    sizes = sorted({r["n"] for r in results})
    ratio = {(r["kernel"], r["n"]): r["ratio"] for r in results}
    width = 0.8 / len(sizes)
    fig, ax = plt.subplots(figsize=(max(6, 0.9 * len(kernels)), 4.5))
    for j, n in enumerate(sizes):
        xs = [i + (j - (len(sizes) - 1) / 2) * width for i in range(len(kernels))]
        ax.bar(xs, [ratio.get((k, n), float("nan")) for k in kernels], width, label=f"n = {fmt_n(n)}")
    ax.axhline(1.0, color="black", linewidth=0.8)
    ax.set_yscale("log")
    ax.set_xticks(range(len(kernels)), kernels, rotation=45, ha="right")
    ax.set_ylabel("NumPy time / our time")
    ax.set_title("zalmor native rows against NumPy (above 1: we are faster)")
    ax.legend(fontsize="small")
    fig.tight_layout()
    fig.savefig(path, dpi=120)
    print(f"chart: {path.relative_to(ROOT)}")


# ---- main --------------------------------------------------------------------

def published(module_name, cache={}):
    if module_name not in cache:
        try:
            cache[module_name] = set(importlib.import_module(module_name).__pyx_capi__)
        except (ImportError, AttributeError) as error:
            print(f"{module_name}: {error}")
            cache[module_name] = set()
    return cache[module_name]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="leave out n = 1.6e7")
    parser.add_argument("--only", default="", help="regex on the kernel names")
    parser.add_argument("--sizes", default="", help="comma-separated sizes, e.g. 8,1000")
    options = parser.parse_args()
    sizes = [int(float(s)) for s in options.sizes.split(",")] if options.sizes else list(SIZES)
    if options.quick:
        sizes = [n for n in sizes if n < 10**7]

    unset = os.environ.get("ZALMOR_BENCH_UNSET")
    print(f"unset for this run: {unset}" if unset else
          f"not set, nothing to unset: {', '.join(SLOW_ENV)}")
    nb = build_native()
    bounds = machine_bounds(nb)
    print(f"NumPy {np.__version__}, Python {platform.python_version()}, {platform.machine()}; "
          f"read {bounds['read_GBps']:.1f} GB/s, write {bounds['write_GBps']:.1f} GB/s (memset; "
          f"{bounds['store_GBps']:.1f} in a store loop), "
          f"sequential add {bounds['seqadd_ns']:.2f} ns/element "
          f"({8 / bounds['seqadd_ns']:.1f} GB/s of doubles)\n")

    rows = [r for r in ROWS if re.search(options.only, r.name)]
    missing = [r.name for r in rows if r.row not in published(r.module)]
    print(HEADER)
    results, failed = [], []
    rng = np.random.default_rng(20240601)
    for row in rows:
        if row.name in missing:
            continue
        for n in sizes:
            try:
                results.append(measure(nb, row, n, bounds, rng))
            except Exception as error:  # a broken row is reported, the others still run
                failed.append(f"{row.name} at n = {fmt_n(n)}: {type(error).__name__}: {error}")
                print(f"FAILED {failed[-1]}", flush=True)
                break
            print(table_line(results[-1]), flush=True)
    if missing:
        print(f"\nskipped, not published yet: {', '.join(missing)}")
    wrong = sorted({r["kernel"] for r in results if not r["agrees"]})
    if wrong:
        print(f"results that differ from NumPy's: {', '.join(wrong)}")

    RESULTS.mkdir(parents=True, exist_ok=True)
    report = {"machine": {"python": platform.python_version(), "numpy": np.__version__,
                          "processor": platform.processor() or platform.machine(),
                          "cpus": os.cpu_count(), "unset": unset or "", **bounds},
              "sizes": sizes, "results": results, "skipped": missing, "failed": failed}
    (RESULTS / "bench.json").write_text(json.dumps(report, indent=1) + "\n")
    print(f"\ntable: {(RESULTS / 'bench.json').relative_to(ROOT)}")
    if results:
        chart(results, RESULTS / "ratios.png")
    if failed:
        sys.exit("failed rows:\n  " + "\n  ".join(failed))


if __name__ == "__main__":
    main()
