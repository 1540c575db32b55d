"""Equality and closeness of two vectors, called natively. The closeness tests
run against an instrumented zalmor.ops.hemvarinto in a fresh interpreter."""

import math

import numpy as np
import pytest

from conftest import LAYOUTS, laid_out, random_values, run_python

NAN = math.nan
EQUAL = {"i4": 0, "u4": 1, "i8": 2, "u8": 3, "f4": 4, "f8": 5}


@pytest.mark.parametrize("type_code", list(EQUAL) + ["c16"])
def test_equal_stops_at_any_difference(kernels, type_code):
    row = "cequal" if type_code == "c16" else f"__pyx_fuse_{EQUAL[type_code]}equal"
    rng = np.random.default_rng(8)
    for n in (0, 1, 17, 64, 200, 4099):
        a = random_values(rng, type_code, n)
        for layout_a, layout_b in zip(LAYOUTS, LAYOUTS[1:] + LAYOUTS[:1]):
            assert kernels.call(row, (laid_out(a, a.dtype, layout_a), laid_out(a, a.dtype, layout_b)))[0] == 1
        for at in {0, n // 3, n - 1} if n else ():
            b = a.copy()
            b[at] = b[at] + 1 if type_code != "c16" else b[at] + (1j if at % 2 else 1)
            assert kernels.call(row, (laid_out(a, a.dtype, "contiguous"), laid_out(b, b.dtype, "unaligned")))[0] == 0
        assert kernels.call(row, (a, a[:-1] if n else np.zeros(1, a.dtype)))[0] == 0


def test_floating_equality_is_ieee_equality(kernels):
    for k, dtype in ((4, np.float32), (5, np.float64)):
        row = f"__pyx_fuse_{k}equal"
        zeros = np.zeros(100, dtype)
        assert kernels.call(row, (zeros, -zeros))[0] == 1  # +0.0 == -0.0
        with_nan = np.ones(100, dtype)
        with_nan[70] = NAN
        assert kernels.call(row, (with_nan, with_nan.copy()))[0] == 0
    assert kernels.call("cequal", (np.array([1 + 2j]), np.array([1 + 3j])))[0] == 0
    assert kernels.call("cequal", (np.array([complex(NAN, 0)]),) * 2)[0] == 0
    assert kernels.call("cequal", (np.array([complex(-0.0, 0.0)]), np.array([complex(0.0, -0.0)])))[0] == 1


def test_signed_and_unsigned_instances_agree(kernels):
    rng = np.random.default_rng(9)
    for signed, unsigned, dtype in ((0, 1, np.int32), (2, 3, np.int64)):
        a = random_values(rng, dtype, 300)
        for b in (a.copy(), np.where(rng.random(300) < 0.01, -a, a)):
            answers = {kernels.call(f"__pyx_fuse_{k}equal", (a.view(dt), b.view(dt)))[0]
                       for k, dt in ((signed, a.dtype), (unsigned, np.dtype(a.dtype.str.replace("i", "u"))))}
            assert len(answers) == 1


def test_strided_views_compare_only_their_elements(kernels):
    a = np.arange(20.0)
    b = a.copy()
    b[1::2] = -1.0
    assert kernels.call("__pyx_fuse_5equal", (a[::2], b[::2]))[0] == 1
    assert kernels.call("__pyx_fuse_5equal", (a[1::2], b[1::2]))[0] == 0


# ---- closeness, against an instrumented sibling ------------------------------

SIBLING = r'''
import numpy as np

class Record(ctypes.Structure):
    _fields_ = [("n", ctypes.c_int), ("rtol", ctypes.c_double), ("atol", ctypes.c_double)]

calls, answers = [], []

def scalar(a, b, record):
    r = record.contents
    calls.append([a, b, r.n, r.rtol, r.atol])
    return answers.pop(0) if answers else 1

ISCLOSE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_double, ctypes.c_double, ctypes.POINTER(Record))(scalar)
CISCLOSE = ctypes.CFUNCTYPE(ctypes.c_int, Complex, Complex, ctypes.POINTER(Record))(
    lambda a, b, r: scalar([a.real, a.imag], [b.real, b.imag], r))
import zalmor.ops
real = importlib.import_module("zalmor.ops.hemvarinto")  # the fake takes its rows' names
fake = types.ModuleType(real.__name__)
fake.__pyx_capi__ = {k: capsule(capsule_name(real.__pyx_capi__[k]), ctypes.cast(f, ctypes.c_void_p).value)
                     for k, f in (("isclose", ISCLOSE), ("cisclose", CISCLOSE))}
sys.modules[real.__name__] = zalmor.ops.hemvarinto = fake
kernels = load_extension("_zalmor_kernels", KERNELS)

def run(row, a, b, opt=None, script=()):
    calls.clear()
    answers[:] = list(script)
    result, pending = kernels.call(row, (np.asarray(a), np.asarray(b)), opt)
    return [result, [list(c) for c in calls]]
'''


@pytest.fixture(scope="module")
def closeness(kernels):
    """Runs every closeness case in one fresh interpreter with the fake sibling."""
    cases = r'''
out = {}
for row in ("allclose", "anyclose", "callclose", "canyclose"):
    c = row.startswith("c")
    a = [1 + 2j, 3 + 4j, 5 + 6j] if c else [1.0, 2.0, 3.0]
    b = [-1 - 2j, -3 - 4j, -5 - 6j] if c else [-1.0, -2.0, -3.0]
    out[row] = {
        "records": [run(row, a[:1], b[:1], opt)[1][0][2:] for opt in
                    (None, (0, 0.5, 0.25), (-1, 0.5, 0.25), (1, 0.5, 99.0), (2, 0.5, 0.25), (3, 0.5, 0.25))],
        "order": run(row, a[:1], b[:1])[1][0][:2],
        "mismatch": run(row, a, b + b[:1]),
        "empty": run(row, np.zeros(0, complex if c else float), np.zeros(0, complex if c else float)),
        "decided at 1": run(row, a, b, script=[1, 0, 1] if row.startswith(("all", "call")) else [0, 1, 0]),
        "undecided": run(row, a, b, script=[1, 1, 1] if row.startswith(("all", "call")) else [0, 0, 0]),
    }
emit(out)
'''
    code = SIBLING.replace("KERNELS", repr(kernels.__file__)) + cases
    return run_python(code)


@pytest.mark.parametrize("row", ["allclose", "anyclose", "callclose", "canyclose"])
def test_closeness_calls_the_sibling(closeness, row):
    got = closeness[row]
    # rtol/atol resolution; the sibling always gets a record of two fields
    assert got["records"] == [[2, 1e-05, 1e-08], [2, 1e-05, 1e-08], [2, 1e-05, 1e-08],
                              [2, 0.5, 1e-08], [2, 0.5, 0.25], [2, 0.5, 0.25]]
    # a's element first, then b's
    assert got["order"] == ([[1.0, 2.0], [-1.0, -2.0]] if row.startswith("c") else [1.0, -1.0])
    assert got["mismatch"] == [0, []]
    every = row in ("allclose", "callclose")
    assert got["empty"] == [1 if every else 0, []]
    # stops at the first pair that decides; otherwise asks about every pair
    assert got["decided at 1"][0] == (0 if every else 1) and len(got["decided at 1"][1]) == 2
    assert got["undecided"][0] == (1 if every else 0) and len(got["undecided"][1]) == 3


def test_closeness_with_the_real_sibling(kernels):
    x = np.linspace(1, 2, 1000)
    y = x * (1 + 1e-7)
    far = x + 1
    assert [kernels.call(row, (x, v))[0] for row in ("allclose", "anyclose") for v in (y, far)] == [1, 0, 1, 0]
    assert kernels.call("allclose", (x, y), (1, 1e-9))[0] == 0
    z, w = x + 1j * x, y + 1j * y
    assert kernels.call("callclose", (laid_out(z, complex, "reversed"), laid_out(w, complex, "unaligned")))[0] == 1
    assert kernels.call("canyclose", (z, z + 1))[0] == 0
