"""Shared helpers: fresh interpreters, native callers of the modules' rows built
from tests/consumer/ (and bench/), ctypes access to the native tables (from
native_access), vectors in every memory layout, and checks shared by the files."""

import contextlib
import json
import math
import os
import pathlib
import resource
import struct
import subprocess
import sys
import textwrap
import threading
import traceback

import numpy as np
import pytest

from consumer_build import ROOT, build  # noqa: F401  (ROOT re-exported)
from native_access import (  # noqa: F401  (re-exported for the tests)
    Complex, MemViewSlice, bind_row, capsule_context, capsule_destructor, capsule_name,
    row_address, vector_view)

TESTS = pathlib.Path(__file__).resolve().parent
SANITIZED = os.environ.get("ZALMOR_SANITIZED") == "1"
# Under a memory checker freed memory is kept aside: resident sizes say nothing.
MEMORY_CHECKED = SANITIZED or os.environ.get("ZALMOR_VALGRIND") == "1"
LONG = os.environ.get("ZALMOR_LONG_TESTS") == "1"  # the long loops of CI's reliability run

# ---- fresh interpreters ----------------------------------------------------------

# Helpers available to every snippet run by `run_py`. The snippet runs in a new
# interpreter of this environment; it reports back by calling emit() once.
CHILD_PRELUDE = r'''
import ctypes, importlib, importlib.util, json, os, sys, traceback, types, warnings
sys.path.append(%r)
from native_access import Complex, capsule, capsule_name, fake_module, sized_type, table


def failure(exc):
    frames = traceback.extract_tb(exc.__traceback__)
    return {"type": type(exc).__name__, "message": str(exc),
            "frames": [[f.name, f.filename, f.lineno] for f in frames]}


def try_import(name):
    """None on success, else a description of the exception."""
    try:
        importlib.import_module(name)
    except BaseException as exc:
        return failure(exc)
    return None


def load_extension(name, path):
    """Imports the extension module built at `path` (a native caller of the tests)."""
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def emit(obj):
    sys.stdout.write("\n@@RESULT@@" + json.dumps(obj) + "\n")
    sys.stdout.flush()
''' % str(TESTS)


def run_python(code, *flags, timeout=120):
    """Runs `code` (after the helper prelude) in a fresh interpreter.

    The environment is inherited unchanged, so that runs with a preloaded
    sanitizer runtime or a PYTHONPATH-selected build test the same modules.
    Returns the object passed to emit(); fails the test if the child crashes.
    """
    source = CHILD_PRELUDE + "\n" + textwrap.dedent(code)
    proc = subprocess.run([sys.executable, *flags, "-c", source], capture_output=True,
                          text=True, env=dict(os.environ), timeout=timeout)
    marker = "@@RESULT@@"
    lines = [line for line in proc.stdout.splitlines() if line.startswith(marker)]
    if proc.returncode != 0 or len(lines) != 1:
        pytest.fail(f"child interpreter failed (exit {proc.returncode})\n"
                    f"--- stdout\n{proc.stdout}\n--- stderr\n{proc.stderr}")
    return json.loads(lines[0][len(marker):])


@pytest.fixture
def run_py():
    return run_python


@pytest.fixture
def preload(tmp_path, monkeypatch):
    """preload(name) compiles tests/fakes/<name>.c, a stand-in for a function of
    another C library, and preloads it in the interpreters run_py starts."""
    def use(name):
        if os.environ.get("ZALMOR_VALGRIND") == "1":
            pytest.skip("under valgrind its own preloaded libraries come first")
        lib = tmp_path / f"{name}.so"
        source = os.path.join(os.path.dirname(__file__), "fakes", f"{name}.c")
        subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", str(lib), source, "-lm", "-ldl"], check=True)
        monkeypatch.setenv("LD_PRELOAD", " ".join(filter(None, [os.environ.get("LD_PRELOAD"), str(lib)])))
    return use


# ---- native callers ----------------------------------------------------------------

@pytest.fixture(scope="session")
def native_caller(tmp_path_factory):
    """native_caller(source, name, language="c"): the caller built once a session."""
    built = {}

    def get(source, name, language="c"):
        if (source, name, language) not in built:
            built[source, name, language] = build(source, name, tmp_path_factory.mktemp(name), language)
        return built[source, name, language]
    return get


@pytest.fixture(scope="session")
def kernels(native_caller):
    """tests/consumer/kernels.c: call(row, buffers, opt) calls a brenthosca row
    natively; hammer(...) calls one from many threads."""
    return native_caller("tests/consumer/kernels.c", "_zalmor_kernels")


@pytest.fixture(scope="session")
def consumer(native_caller):
    """tests/consumer/consumer.c as C: the header's bindings, maps with their
    returned views held, buffers of any description (FormatBuffer)."""
    return native_caller("tests/consumer/consumer.c", "_zalmor_consumer_c")


# ---- vectors in every memory layout, and checks of results ----------------------------

LAYOUTS = ("contiguous", "every second", "reversed", "unaligned", "shifted")


def laid_out(values, dtype, layout):
    """A one-dimensional array holding `values` in the given memory layout:
    contiguous; every second element of a larger array (the others poisoned);
    a negative stride; an odd byte stride from a misaligned address; or
    contiguous from a misaligned address."""
    base = np.asarray(values, dtype=dtype)
    n, size = base.size, base.itemsize
    if layout == "contiguous":
        return base.copy()
    if layout == "every second":
        out = np.empty(2 * n, dtype=dtype)
        out[1::2] = 7 if base.dtype.kind in "iu" else np.nan
        out[::2] = base
        return out[::2]
    if layout == "reversed":
        return base[::-1].copy()[::-1]
    stride = size + 3 if layout == "unaligned" else size
    raw = np.full(1 + n * stride + size, 0x5A, dtype=np.uint8)
    out = np.ndarray((n,), dtype=dtype, buffer=raw, offset=1, strides=(stride,))
    out[...] = base
    return out


def random_values(rng, dtype, n):
    """n values of the type: integers over the whole range, normal floats,
    complex values with normal parts."""
    dt = np.dtype(dtype)
    if dt.kind in "iu":
        info = np.iinfo(dt)
        return rng.integers(info.min, info.max, n, dtype=dt, endpoint=True)
    if dt.kind == "c":
        return rng.standard_normal(n) + 1j * rng.standard_normal(n)
    return rng.standard_normal(n).astype(dt)


def same_bits(a, b, fmt="d"):
    """Bitwise equality of floating values or of arrays of them (any NaN equals
    any NaN; the signs of zeros count)."""
    if isinstance(a, (np.ndarray, list)) or isinstance(b, (np.ndarray, list)):
        a, b = np.asarray(a), np.asarray(b)
        return a.shape == b.shape and all(same_bits(x, y, fmt) for x, y in zip(a.tolist(), b.tolist()))
    if isinstance(a, complex) or isinstance(b, complex):
        a, b = complex(a), complex(b)
        return same_bits(a.real, b.real, fmt) and same_bits(a.imag, b.imag, fmt)
    if math.isnan(a) and math.isnan(b):
        return True
    return struct.pack("<" + fmt, a) == struct.pack("<" + fmt, b)


def traceback_entries(error, name):
    """The entries of the function `name` in the error's traceback that are
    placed in a C++ source (an ExceptionInfo or an exception)."""
    error = getattr(error, "value", error)
    return [f for f in traceback.extract_tb(error.__traceback__)
            if f.name == name and f.filename.endswith(".cpp")]


# ---- threads and memory -----------------------------------------------------------

def run_threads(target, args):
    """Runs target(*a) for every a of `args`, each in a thread of its own, all at once."""
    threads = [threading.Thread(target=target, args=a) for a in args]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def blocks_left(run, first=None):
    """Interpreter memory blocks that `run()` leaves behind, after `first()` (by
    default `run` itself) has settled caches."""
    (first or run)()
    before = sys.getallocatedblocks()
    run()
    return sys.getallocatedblocks() - before


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize() // 1024


@contextlib.contextmanager
def _collect_unraisable():
    seen = []
    previous = sys.unraisablehook
    sys.unraisablehook = lambda report: seen.append(
        (report.object, report.exc_type, str(report.exc_value), report.exc_value))
    try:
        yield seen
    finally:
        sys.unraisablehook = previous


@pytest.fixture
def unraisable():
    """A context manager collecting unraisable reports as (context, type,
    message, exception). Enter it in the test body: some pytest versions
    install their own hook around the test call, after the fixtures are set up."""
    return _collect_unraisable


# ---- a call of every row of brenthosca's table ------------------------------------

def _row_calls():
    """(row, buffers, opt) calls of every row, on inputs laid out contiguously,
    every second element and backwards: rows that return numbers, rows that
    return views, and sort (which works in place)."""
    rng = np.random.default_rng(12)
    x = rng.standard_normal(128)
    z = x + 1j * rng.standard_normal(128)
    typed = [x.astype(t) for t in (np.int32, np.uint32, np.int64, np.uint64, np.float32, np.float64)] + [z]
    ragged = np.round(x * 3)  # ties, for the ordering rows
    ragged[::17] = np.nan
    numbers = (
        [(f"__pyx_fuse_{k}{family}", (typed[k][::2],), None) for family in ("sum", "prod") for k in range(7)]
        + [(f"__pyx_fuse_{k}equal", (typed[k], typed[k].copy()), None) for k in range(6)]
        + [("cequal", (z[::-1], z[::-1].copy()), None), ("cprod", (z,), None), ("mean", (x[::-1],), None)]
        + [(row, (v,), (1, order)) for row, v in (("norm", x), ("cnorm", z[::2]))
           for order in (2.0, 1.0, 3.0, 0.0, math.inf, -math.inf)]
        + [(row, (ragged,), None) for row in ("min", "max", "argmin", "argmax", "argminmax", "width")]
        + [("cwidth", (z,), None)]
        + [(row, (v, v * (1 + 1e-9)), (2, 1e-6, 0.0)) for row, v in
           (("allclose", x), ("anyclose", x[::2]), ("callclose", z), ("canyclose", z[::-1]))])
    views = (
        [(row, (x[::2],), None) for row in ("sign", "fabs", "sqrt")]
        + [(row, (z[::-1],), None) for row in ("cabs", "csign", "csqrt")]
        + [("permute", (x, rng.permutation(128).astype(np.intp)), None),
           ("argsort", (ragged,), None), ("argsort", (ragged[::-2],), (1, 1))])
    sorts = [("sort", (ragged.copy(),), None), ("sort", (ragged.copy()[::-3],), None)]
    return numbers, views, sorts


NUMBER_ROWS, VIEW_ROWS, SORT_ROWS = _row_calls()


def row_ids(cases):
    return [f"{case[0]}-{i}" for i, case in enumerate(cases)]
