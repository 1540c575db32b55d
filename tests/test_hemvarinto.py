"""The scalar closeness tests of zalmor.ops.hemvarinto, called through its
native table the way brenthosca calls them: |a - b| <= atol + rtol * |b|, NaN
never close, equal values (infinities too) always close; defaults rtol 1e-05 and
atol 1e-08 for the fields the record does not supply."""

import ctypes
import math

import pytest

import zalmor.ops.hemvarinto as hemvarinto
from conftest import Complex, bind_row, run_threads

INF, NAN = math.inf, math.nan


class Tolerances(ctypes.Structure):
    """The optional-argument record of both tests."""
    _fields_ = [("__pyx_n", ctypes.c_int), ("rtol", ctypes.c_double), ("atol", ctypes.c_double)]


_ISCLOSE = bind_row(hemvarinto, "isclose", ctypes.c_int, ctypes.c_double, ctypes.c_double,
                    ctypes.POINTER(Tolerances))
_CISCLOSE = bind_row(hemvarinto, "cisclose", ctypes.c_int, Complex, Complex, ctypes.POINTER(Tolerances))


def isclose(a, b, record=None):
    return _ISCLOSE(a, b, record)


def cisclose(a, b, record=None):
    return _CISCLOSE(Complex.of(a), Complex.of(b), record)


def record(n, rtol, atol):
    return ctypes.pointer(Tolerances(n, rtol, atol))


@pytest.mark.parametrize("a, b, rtol, atol, close", [
    (0.0, 0.5, 0.0, 0.5, True),            # the bound is inclusive
    (0.0, 0.5000001, 0.0, 0.5, False),
    (15.0, 16.0, 0.0625, 0.0, True),       # relative to |b| = 16: bound 1
    (16.0, 15.0, 0.0625, 0.0, False),      # relative to |b| = 15: bound 0.9375
    (-15.0, -16.0, 0.0625, 0.0, True),     # magnitudes, not signed values
    (10.0, 11.0, 0.0625, 0.375, True),     # both terms add: 0.6875 + 0.375
    (10.0, 11.0, 0.0625, 0.25, False),
    (1.0, 1.0, 0.0, 0.0, True),
    (1.0, math.nextafter(1.0, 2.0), 0.0, 0.0, False),
    (0.0, -0.0, 0.0, 0.0, True),
    (NAN, NAN, 0.0, 0.0, False),
    (NAN, 1.0, 1e300, 1e300, False),
    (1.0, NAN, 1e300, 1e300, False),
    (NAN, NAN, INF, INF, False),
    (INF, INF, 0.0, 0.0, True),
    (-INF, -INF, 0.0, 0.0, True),
    (INF, -INF, 1e-05, 1e-08, False),
    (INF, 1e308, 1e-05, 1e-08, False),
    (-INF, 0.0, 1e-05, 1e-08, False),
    # complex values: by the modulus
    (0j, 3 + 4j, 0.0, 5.0, True),            # |a - b| is the modulus 5 ...
    (0j, 3 + 4j, 0.0, 4.99, False),          # ... not the larger part 4
    (0j, 3 + 4j, 1.0, 0.0, True),            # relative to |b| = 5
    (9 + 12j, 12 + 16j, 0.25, 0.0, True),    # |a - b| = 5 <= 0.25 * 20
    (12 + 16j, 9 + 12j, 0.25, 0.0, False),   # 5 > 0.25 * 15
    (1 + 1j, 1 + 1j, 0.0, 0.0, True),
    (1 + 1j, 1 - 1j, 0.0, 1.99, False),
    (complex(NAN, 0), complex(NAN, 0), 1.0, 1.0, False),
    (complex(1, NAN), complex(1, NAN), 1.0, 1.0, False),
    (complex(0, 0), complex(0, NAN), 1e300, 1e300, False),
    (complex(INF, 0), complex(INF, 0), 0.0, 0.0, True),
    (complex(INF, -INF), complex(INF, -INF), 0.0, 0.0, True),
    (complex(1, INF), complex(1, INF), 0.0, 0.0, True),
    (complex(INF, 0), complex(-INF, 0), 1e-05, 1e-08, False),
    (complex(INF, 0), complex(INF, 1), 1e-05, 1e-08, False),
])
def test_closeness_rule(a, b, rtol, atol, close):
    check = cisclose if isinstance(a, complex) else isclose
    assert bool(check(a, b, record(2, rtol, atol))) is close


WIDE = (1.0, 10.0)  # tolerances that would make (1, 2) close


@pytest.mark.parametrize("make_record, a, b, close", [
    # all defaults: rtol 1e-05, atol 1e-08
    (lambda: None, 0.0, 1e-08, True),
    (lambda: None, 0.0, 2e-08, False),
    (lambda: None, 100000.0, 100000.9, True),
    (lambda: None, 100000.0, 100001.1, False),
    (lambda: record(0, *WIDE), 1.0, 2.0, False),
    (lambda: record(-1, *WIDE), 1.0, 2.0, False),
    (lambda: record(0, *WIDE), 0.0, 1e-08, True),
    # one field: the record's rtol, the default atol whatever the record holds
    (lambda: record(1, 1.0, 10.0), 1.0, 2.0, True),
    (lambda: record(1, 0.0, 10.0), 0.0, 1.0, False),
    (lambda: record(1, 0.0, 10.0), 0.0, 1e-08, True),
    # two or more fields: both from the record
    (lambda: record(2, 0.0, 10.0), 0.0, 1.0, True),
    (lambda: record(7, 0.0, 10.0), 0.0, 1.0, True),
    (lambda: record(2, 0.0, 0.0), 0.0, 1e-08, False),
], ids=["null-atol-in", "null-atol-out", "null-rtol-in", "null-rtol-out", "n0", "n-1",
        "n0-defaults", "n1-rtol", "n1-atol-ignored", "n1-default-atol", "n2", "n7", "n2-zero"])
def test_record_fields_beyond_the_count_are_ignored(make_record, a, b, close):
    assert bool(isclose(a, b, make_record())) is close
    assert bool(cisclose(complex(a), complex(b), make_record())) is close
    assert bool(cisclose(complex(0, a), complex(0, b), make_record())) is close


def test_callable_from_threads_without_the_interpreter_lock():
    # ctypes releases the interpreter lock around each call.
    failures = []

    def work(seed):
        for i in range(2000):
            x = float(seed * 1000 + i)
            if not (isclose(x, x + 1e-06 * x, record(2, 1e-05, 0.0))
                    and not isclose(x, x + 1.0, record(2, 0.0, 0.5))
                    and cisclose(complex(x, -x), complex(x, -x))):
                failures.append(x)

    run_threads(work, [(seed,) for seed in range(1, 5)])
    assert failures == []
