#!/usr/bin/env python3
"""zalmor's native rows against their NumPy equivalents: `make bench`.

Our side is timed from native code (bench/native_bench.c, built here into
build/bench/), which binds each row through include/zalmor/capi.h and calls it
in a C loop, releasing every returned view as a real caller does. NumPy's side
is the Python statement a user would write, timed with timeit on the same data
in the same run. Each figure is the best of several runs. The machine's bounds
(read and write bandwidth, the latency of a strictly ordered double sum) are
measured in the same run too.

The rows are those of the list in include/zalmor/capi.h, as the native bench
was compiled with it; each is measured against its NumPy equivalents in
EQUIVALENTS (see the Row fields). A listed row without one, or not yet in its
module's __pyx_capi__, is skipped with a note. The table ends with the rows
slower than NumPy, each with its reason from SLOWER_BECAUSE; bench/chart.py
draws bench/results/bench.png from the results.

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
import itertools  # noqa: E402
import importlib.util  # noqa: E402
import json  # noqa: E402
import pathlib  # noqa: E402
import platform  # noqa: E402
import re  # noqa: E402
import statistics  # noqa: E402
import subprocess  # noqa: E402
import sysconfig  # noqa: E402
import timeit  # noqa: E402
import types  # noqa: E402
from typing import Callable, Optional  # noqa: E402

import numpy as np  # noqa: E402

import chart  # noqa: E402
import provenance  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parent.parent
RESULTS = ROOT / "bench" / "results"
SIZES = (8, 1000, 10**5, 10**6, 16 * 10**6)
TARGET = 0.05  # seconds one timed run should last
RUNS = 5  # timed runs per figure (3 when a single call takes longer than TARGET)
QUICK = {"max_n": 10**6, "target": 0.01, "runs": 3}  # --quick: a first look in under a minute
QUILLEMORA = "zalmor.ops.quillemora"


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


def grid(n, rng, dtype):
    """Three range sizes whose cartesian product has about n rows."""
    last = min(n, 100)
    middle = min(max(n // last, 1), 100)
    first = max(n // (last * middle), 1)
    return (np.array([first, middle, last], dtype=dtype),)


def apart(n, rng, dtype):
    """Two vectors that are nowhere close: an `any` test must read both to the end."""
    x = normal(n, rng, dtype)[0]
    return (x, x + 1)


def shuffled(n, rng, dtype):
    """A vector and a random order of its positions, as argsort would give them.
    The positions are NumPy's own index type, so that np.take need not convert
    them; our rows read them as the 8-byte integers they are."""
    return (normal(n, rng, dtype)[0], rng.permutation(n).astype(np.intp))


# ---- the rows ----------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Row:
    """One measured call: a row of the list the native bench was built with
    (the fields after max_n, filled in by rows_of) and a NumPy equivalent."""
    numpy: str  # NumPy's equivalent, a statement over x (and y)
    data: Callable = normal  # makes the inputs
    label: str = ""  # name in the table; default: row, or family[dtype] for a typed row
    opt: Optional[tuple] = None  # optional-argument record: (n, fields...)
    bound: str = "read"  # also "seqadd" (strictly ordered sums) or "write" (fills)
    setup: str = ""  # NumPy statement run untimed before each call (in-place rows)
    expect: str = ""  # NumPy expression our result must match; default: `numpy`
    rtol: float = 1e-12
    max_n: int = 0  # sizes above this are left out (0: no limit)
    row: str = ""  # name in the module's __pyx_capi__
    module: str = ""
    kind: str = ""  # the C shape it is called with, from its signature
    dtype: str = ""  # element type of the inputs (NumPy notation)
    out: str = ""  # element type of a returned view

    @property
    def name(self):
        return self.label or self.row


RTOL = {"f4": 1e-3, "f8": 1e-9, "c16": 1e-9}


def sums(dtype):
    """Floating sums are added strictly in order, so their result must equal
    np.cumsum's last element exactly (add.accumulate is sequential too); they
    are held against the latency bound of that order."""
    ordered = dtype in ("f4", "f8", "c16")
    return Row("np.sum(x, dtype=x.dtype)", expect="np.cumsum(x)[-1]" if ordered else "", rtol=0.0,
               bound="seqadd" if ordered else "read")


INF = float("inf")
PRODUCT = "np.ascontiguousarray(np.indices(x).reshape(x.size, -1).T, np.uint32)"
# NumPy's equivalents, keyed by row name; the typed rows __pyx_fuse_<k><family>
# by family, as a function of their element type. A row measured in several
# ways has a list.
EQUIVALENTS = {
    "sign": Row("np.sign(x)"),
    "csign": Row("np.sign(x)"),
    "fabs": Row("np.abs(x)"),
    "cabs": Row("np.abs(x)"),
    "sqrt": Row("np.sqrt(x)", positive),
    "csqrt": Row("np.sqrt(x)"),
    "permute": Row("np.take(x, y)", shuffled),
    "sort": Row("w.sort()", setup="w = x.copy()", expect="np.sort(x)"),
    "argsort": [Row("np.argsort(x)"), Row("np.argsort(x)[::-1]", opt=(1, 1), label="argsort_r")],
    "prod": lambda dtype: Row("np.prod(x, dtype=x.dtype)", unit, rtol=RTOL.get(dtype, 0.0)),
    "sum": sums,
    "cprod": Row("np.prod(x)", unit, rtol=1e-9),
    "mean": Row("np.mean(x)", bound="seqadd", expect="np.cumsum(x)[-1] / x.size", rtol=0.0),
    "norm": [
        Row("np.linalg.norm(x)", label="norm2", rtol=1e-9),
        Row("np.linalg.norm(x, 1)", opt=(1, 1.0), label="norm1", rtol=1e-9),
        Row("np.linalg.norm(x, 3)", opt=(1, 3.0), label="norm3", rtol=1e-9),
        Row("np.linalg.norm(x, 0)", opt=(1, 0.0), label="norm0"),
        Row("np.linalg.norm(x, np.inf)", opt=(1, INF), label="norm_inf"),
        Row("np.linalg.norm(x, -np.inf)", opt=(1, -INF), label="norm_-inf"),
    ],
    "cnorm": [
        Row("np.linalg.norm(x)", label="cnorm2", rtol=1e-9),
        Row("np.linalg.norm(x, np.inf)", opt=(1, INF), label="cnorm_inf"),
    ],
    "min": Row("np.min(x)"),
    "max": Row("np.max(x)"),
    "argmin": Row("np.argmin(x)"),
    "argmax": Row("np.argmax(x)"),
    "argminmax": Row("np.ptp(x)", expect="(np.argmin(x), np.argmax(x))"),
    "width": Row("np.ptp(x)"),
    "cwidth": Row("np.ptp(np.abs(x))"),
    "equal": Row("np.array_equal(x, y)", twins),
    "cequal": Row("np.array_equal(x, y)", twins),
    "allclose": Row("np.allclose(x, y)", twins),
    "callclose": Row("np.allclose(x, y)", twins),
    "anyclose": Row("np.isclose(x, y).any()", apart),
    "canyclose": Row("np.isclose(x, y).any()", apart),
    "product": [
        Row(PRODUCT, grid, bound="write"),
        Row("list(itertools.product(*[range(v) for v in x.tolist()]))", grid, label="product-it",
            bound="write", max_n=10**6, expect=PRODUCT),
    ],
}
# The list's C element types in NumPy notation.
DTYPES = {"int32_t": "i4", "uint32_t": "u4", "int64_t": "i8", "uint64_t": "u8", "float": "f4",
          "double": "f8", "zalmor_complex": "c16"}


def rows_of(nb):
    """The calls to measure: every row of the native bench's list (inv aside,
    which has a table of its own) with each of its NumPy equivalents; and the
    names of the rows that have none yet."""
    rows, unmatched = [], []
    for module, name, family, kind, element, result in nb.rows():
        if kind == "inv":
            continue
        dtype = DTYPES[element]
        equivalents = EQUIVALENTS.get(family or name)
        if equivalents is None:
            unmatched.append(name)
            continue
        if callable(equivalents):
            equivalents = equivalents(dtype)
        for row in equivalents if isinstance(equivalents, list) else [equivalents]:
            label = row.label or (f"{family}[{dtype}]" if family else "")
            rows.append(dataclasses.replace(row, row=name, module=module, kind=kind, dtype=dtype,
                                            out=DTYPES.get(result, ""), label=label))
    return rows, unmatched


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


def best_per_call_alternating(*runs):
    """best_per_call for several callables whose runs take turns, so that a
    busy spell of the machine falls on all of them alike."""
    counts = []
    for run in runs:
        number, total = 1, run(1)
        while total < TARGET / 10:
            number *= 10
            total = run(number)
        counts.append(max(1, round(number * TARGET / total)))
    times = [[] for _ in runs]
    for _ in range(RUNS):
        for run, number, out in zip(runs, counts, times):
            out.append(run(number) / number)
    return [(min(t), statistics.median(t)) for t in times]


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
    space = {"np": np, "itertools": itertools, "x": inputs[0], "y": inputs[-1]}
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
    written = ours_value.nbytes if row.kind in WRITERS else 0
    t = ours[0]
    bound_t = {"read": (read + written) / (bounds["read_GBps"] * 1e9),
               "write": written / (bounds["write_GBps"] * 1e9),
               "seqadd": n * bounds["seqadd_ns"] * 1e-9}[row.bound]
    return {"kernel": row.name, "row": row.row, "module": row.module, "kind": row.kind,
            "dtype": row.dtype, "n": n, "ours_s": t, "ours_median_s": ours[1],
            "numpy_s": theirs[0], "numpy_median_s": theirs[1], "ratio": theirs[0] / t,
            "bytes": read + written, "GBps": (read + written) / t / 1e9,
            "frac_read": (read + written) / t / 1e9 / bounds["read_GBps"],
            "bound": row.bound, "frac_bound": bound_t / t,
            "agrees": agrees(row, ours_value, expected)}


# ---- inv: its own cost beyond the SciPy and NumPy calls it makes --------------

@dataclasses.dataclass(frozen=True)
class InvCase:
    label: str
    method: int
    singular: bool  # a rank-deficient matrix: the direct methods fall back to pinv
    with_b: bool
    direct: str  # the calls inv makes, written in Python over A, b, m, np and sp


SINGULAR_TEST = "np.linalg.cond(A) > 1 / np.finfo(A.dtype).eps"
INV_CASES = [
    InvCase("inv·b", 0, False, True, f"{SINGULAR_TEST}; sp.linalg.inv(A).dot(b)"),
    InvCase("solve", 1, False, False, f"{SINGULAR_TEST}; sp.linalg.solve(A, np.eye(m))"),
    InvCase("lu", 2, False, False,
            f"{SINGULAR_TEST}; sp.linalg.lu_solve(sp.linalg.lu_factor(A), np.eye(m))"),
    InvCase("pinv", 3, False, False, "sp.linalg.pinv(A)"),
    InvCase("lstsq", 4, False, False, "sp.linalg.lstsq(A, np.eye(m))[0]"),
    InvCase("fallback", 0, True, False, f"{SINGULAR_TEST}; {SINGULAR_TEST}; sp.linalg.pinv(A)"),
]
INV_SIZES = (4, 200)
INV_TARGET = 2e-6  # seconds of inv's own per call


def stub_modules(A, b):
    """np and sp whose routines return at once, so that what remains of a call
    is the caller's own work."""
    m = A.shape[0]
    info, eye, out = np.finfo(A.dtype), np.eye(m), np.eye(m)
    np_ = types.SimpleNamespace(linalg=types.SimpleNamespace(cond=lambda a: 1.0),
                                finfo=lambda dtype: info, eye=lambda k: eye)
    la = types.SimpleNamespace(inv=lambda a: out, solve=lambda a, r: out, lu_factor=lambda a: out,
                               lu_solve=lambda lu, r: out, pinv=lambda a: out,
                               lstsq=lambda a, r: (out,))
    return np_, types.SimpleNamespace(linalg=la)


def measure_inv(nb, case, m, stubs, rng):
    import scipy  # noqa: PLC0415 - only the inv rows need it
    import scipy.linalg  # noqa: F401, PLC0415
    quillemora = importlib.import_module(QUILLEMORA)
    A = rng.standard_normal((m, m)) + m * np.eye(m)
    if case.singular:  # diagonal with a zero: the condition number is infinite, not just large
        A = np.diag(rng.uniform(1.0, 2.0, m))
        A[-1, -1] = 0.0
    b = rng.standard_normal((m, 2)) if case.with_b else None
    np_, sp_ = stub_modules(A, b) if stubs else (np, scipy)
    space = {"np": np_, "sp": sp_, "A": A, "b": b, "m": m}
    args = (QUILLEMORA, "inv", (A,), (3, b, case.method, 0))
    timer = timeit.Timer(case.direct, globals=space)
    saved = quillemora.np, quillemora.sp
    quillemora.np, quillemora.sp = np_, sp_
    try:
        ours_value = nb.call(*args)
        ours, theirs = best_per_call_alternating(lambda k: nb.time(*args, k) * k, timer.timeit)
    finally:
        quillemora.np, quillemora.sp = saved
    expected = eval(case.direct.rsplit("; ", 1)[-1], space)
    own = ours[0] - theirs[0]
    return {"case": case.label, "method": case.method, "singular": case.singular,
            "with_b": case.with_b, "m": m, "stubs": stubs, "ours_s": ours[0],
            "ours_median_s": ours[1], "direct_s": theirs[0], "direct_median_s": theirs[1],
            "own_s": own,
            "agrees": bool(np.allclose(ours_value, expected, rtol=1e-9, atol=1e-12))}


INV_HEADER = (f"{'inv':<9} {'m':>4} {'routines':<9} {'ours':>10} {'direct':>10} "
              f"{'own':>10}  check")


def inv_line(r):
    return (f"{r['case']:<9} {r['m']:>4} {'stubs' if r['stubs'] else 'real':<9} "
            f"{fmt_time(r['ours_s']):>10} {fmt_time(r['direct_s']):>10} "
            f"{fmt_signed_time(r['own_s']):>10}  {'ok' if r['agrees'] else 'DIFFERS'}")


def fmt_signed_time(s):
    return ("-" if s < 0 else "+") + fmt_time(abs(s)).strip()


def run_inv(nb, rng, sizes=INV_SIZES):
    """The inv rows: real routines on 4 x 4 and 200 x 200 matrices (--quick:
    4 x 4 alone), then stubs."""
    print(f"\n{INV_HEADER}")
    results, failed = [], []
    for stubs in (False, True):
        for case in INV_CASES:
            for m in (sizes if not stubs else INV_SIZES[:1]):
                try:
                    results.append(measure_inv(nb, case, m, stubs, rng))
                except Exception as error:  # reported; the other rows still run
                    failed.append(f"inv {case.label} at m = {m}: {type(error).__name__}: {error}")
                    print(f"FAILED {failed[-1]}", flush=True)
                    continue
                print(inv_line(results[-1]), flush=True)
    print(f"own = ours - direct: inv's cost beyond the calls it makes (target: at most "
          f"{fmt_time(INV_TARGET).strip()}); with stubs, ours itself bounds it from above")
    return results, failed


# ---- reporting ---------------------------------------------------------------

def fmt_time(s):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("µs", 1e-6)):
        if s >= scale:
            return f"{s / scale:7.3g} {unit}"
    return f"{s / 1e-9:7.3g} ns"


def fmt_n(n):
    """1000000 as 1e6, 16000000 as 1.6e7; other sizes as they are."""
    e = len(str(n)) - 1
    return f"{n / 10**e:g}e{e}" if n >= 10**5 and n % 10 ** (e - 1) == 0 else str(n)


HEADER = (f"{'kernel':<11} {'n':>5} {'ours':>10} {'numpy':>10} {'ratio':>7} {'GB/s':>7} "
          f"{'%read':>6}  {'other bound':<12} check")


def table_line(r):
    other = f"{r['bound']} {100 * r['frac_bound']:.0f}%" if r["bound"] != "read" else ""
    return (f"{r['kernel']:<11} {fmt_n(r['n']):>5} {fmt_time(r['ours_s']):>10} "
            f"{fmt_time(r['numpy_s']):>10} {r['ratio']:6.2f}x {r['GBps']:7.2f} "
            f"{100 * r['frac_read']:5.0f}%  {other:<12} {'ok' if r['agrees'] else 'DIFFERS'}")


def python_call_of_product():
    """What a Python caller pays for a small table."""
    from zalmor.utils.pondistra import product
    sizes = np.array([2, 3], dtype=np.uint32)
    best, _ = best_per_call(timeit.Timer(lambda: product(sizes)).timeit)
    print(f"\nproduct(np.array([2, 3], dtype=np.uint32)) from Python: {fmt_time(best).strip()} per call")


# ---- why a row is slower than NumPy -------------------------------------------

LIBM = "bit-exact libm bound ({} per element)"
ORDER = "specified left-to-right order (chained {})"
MEMORY = "memory bound (both sides stream the data)"
SORT = "vector quicksort against NumPy's own (about level on an AVX2 copy against AVX-512)"
# Why a kernel is slower than NumPy where it is, keyed by kernel (a typed row
# by family[dtype], else by family). The summary that ends the table quotes
# it; a slower kernel missing here is listed as unexplained.
SLOWER_BECAUSE = {
    **dict.fromkeys(("cabs", "cwidth", "cnorm_inf"), LIBM.format("cabs")),
    "norm3": LIBM.format("pow"),
    "norm2": LIBM.format("pow's squares") + ", in order",
    "cnorm2": LIBM.format("cabs, pow") + ", in order",
    **dict.fromkeys(("mean", "sum[f4]", "sum[f8]", "sum[c16]"), ORDER.format("additions")),
    **dict.fromkeys(("prod[f4]", "prod[f8]", "prod[c16]", "cprod"), ORDER.format("multiplications")),
    **dict.fromkeys(("sum", "prod", "equal", "cequal", "fabs", "sqrt", "min", "max", "argmin",
                     "argmax", "permute"), MEMORY),
    **dict.fromkeys(("sort", "argsort", "argsort_r"), SORT),
    "canyclose": "specified call of hemvarinto's cisclose per pair",
}


def slower_than_numpy(results):
    """The kernels slower than NumPy at some n, slowest first: dicts of the
    kernel, its [n, ratio] pairs where it is slower, and the reason."""
    slower = {}
    for r in results:
        if r["ratio"] < 1:
            slower.setdefault(r["kernel"], []).append([r["n"], r["ratio"]])
    found = [{"kernel": k, "ratios": ratios,
              "reason": SLOWER_BECAUSE.get(k) or SLOWER_BECAUSE.get(k.split("[")[0], "no reason recorded")}
             for k, ratios in slower.items()]
    return sorted(found, key=lambda e: min(ratio for _, ratio in e["ratios"]))


def print_slower(slower):
    if not slower:
        print("\nno row slower than NumPy")
        return
    print("\nslower than NumPy (ratio below 1), slowest first:")
    width = max(len(e["reason"]) for e in slower)
    for e in slower:
        where = ", ".join(f"{fmt_n(n)} {ratio:.2f}x" for n, ratio in e["ratios"])
        print(f"  {e['kernel']:<11} {e['reason']:<{width}}  {where}")


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
    parser.add_argument("--quick", action="store_true",
                        help="a first look: n up to 1e6, shorter and fewer timed runs")
    parser.add_argument("--only", default="", help="regex on the kernel names")
    parser.add_argument("--sizes", default="", help="comma-separated sizes, e.g. 8,1000")
    options = parser.parse_args()
    sizes = [int(float(s)) for s in options.sizes.split(",")] if options.sizes else list(SIZES)
    if options.quick:
        global TARGET, RUNS
        sizes = [n for n in sizes if n <= QUICK["max_n"]]
        TARGET, RUNS = QUICK["target"], QUICK["runs"]

    unset = os.environ.get("ZALMOR_BENCH_UNSET")
    print(f"unset for this run: {unset}" if unset else
          f"not set, nothing to unset: {', '.join(SLOW_ENV)}")
    nb = build_native()
    bounds = machine_bounds(nb)
    about = provenance.describe(ROOT)
    print(f"{about['processor']}; {provenance.dispatch_text(about['dispatch'])}")
    print(f"commit {about['commit']}, {about['time']}; modules built by {about['compiler']['modules']}")
    print(f"NumPy {np.__version__}, Python {platform.python_version()}, {platform.machine()}; "
          f"read {bounds['read_GBps']:.1f} GB/s, write {bounds['write_GBps']:.1f} GB/s (memset; "
          f"{bounds['store_GBps']:.1f} in a store loop), "
          f"sequential add {bounds['seqadd_ns']:.2f} ns/element "
          f"({8 / bounds['seqadd_ns']:.1f} GB/s of doubles)\n")

    listed, unmatched = rows_of(nb)
    rows = [r for r in listed if re.search(options.only, r.name)]
    missing = [r.name for r in rows if r.row not in published(r.module)]
    print(HEADER)
    results, failed = [], []
    rng = np.random.default_rng(20240601)
    for row in rows:
        if row.name in missing:
            continue
        for n in sizes:
            if row.max_n and n > row.max_n:
                continue
            try:
                results.append(measure(nb, row, n, bounds, rng))
            except Exception as error:  # a broken row is reported, the others still run
                failed.append(f"{row.name} at n = {fmt_n(n)}: {type(error).__name__}: {error}")
                print(f"FAILED {failed[-1]}", flush=True)
                break
            print(table_line(results[-1]), flush=True)
    inv_results = []
    if re.search(options.only, "inv"):
        if "inv" in published(QUILLEMORA):
            inv_results, inv_failed = run_inv(nb, rng, INV_SIZES[:1] if options.quick else INV_SIZES)
            failed += inv_failed
        else:
            missing.append("inv")
    if missing:
        print(f"\nskipped, not published yet: {', '.join(missing)}")
    if unmatched:
        print(f"\nno NumPy equivalent in bench/run.py yet: {', '.join(unmatched)}")
    if re.search(options.only, "product-python"):
        python_call_of_product()
    wrong = sorted({r["kernel"] for r in results if not r["agrees"]})
    if wrong:
        print(f"results that differ from NumPy's: {', '.join(wrong)}")
    slower = slower_than_numpy(results)
    print_slower(slower)

    RESULTS.mkdir(parents=True, exist_ok=True)
    report = {"machine": {**about, "unset": unset or "", **bounds}, "quick": options.quick,
              "sizes": sizes, "results": results, "slower": slower, "inv": inv_results,
              "skipped": missing, "unmatched": unmatched, "failed": failed}
    (RESULTS / "bench.json").write_text(json.dumps(report, indent=1) + "\n")
    print(f"\ntable: {(RESULTS / 'bench.json').relative_to(ROOT)}")
    if results:
        try:
            print(f"chart: {chart.draw(report, RESULTS / 'bench.png').relative_to(ROOT)}")
        except ImportError:
            print("no chart: matplotlib is missing (make bench installs bench/requirements.txt)")
    if failed:
        sys.exit("failed rows:\n  " + "\n  ".join(failed))


if __name__ == "__main__":
    main()
