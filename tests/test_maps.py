"""The element-wise maps, called the way a native caller calls them."""

import ctypes
import ctypes.util
import math
import sys

import numpy as np
import pytest

from conftest import same_bits, traceback_entries

# The C library's cabs; on x86-64 a double complex argument travels as two doubles.
libm_cabs = ctypes.CDLL(ctypes.util.find_library("m")).cabs
libm_cabs.restype, libm_cabs.argtypes = ctypes.c_double, [ctypes.c_double, ctypes.c_double]

NAN = float("nan")
INF = float("inf")


RESULT_DTYPE = {"sign": np.int32, "fabs": np.float64, "sqrt": np.float64,
                "cabs": np.float64, "csign": np.complex128, "csqrt": np.complex128}
REAL_MAPS = ["sign", "fabs", "sqrt"]
COMPLEX_MAPS = ["cabs", "csign", "csqrt"]


def call(consumer, row, xs):
    """Calls `row` on `xs` and returns the result as a NumPy copy, released."""
    held = consumer.call_map(row, xs)
    n, stride, suboffset, count = consumer.view_info(held)
    dtype = np.dtype(RESULT_DTYPE[row])
    assert (n, stride, suboffset, count) == (len(xs), dtype.itemsize, -1, 1)
    return np.frombuffer(consumer.view_bytes(held), dtype=dtype).copy()


def test_documented_values(consumer):
    assert call(consumer, "sign", np.array([-2.5, 0.0, -0.0, 3.0, NAN, INF, -INF])).tolist() == \
        [-1, 0, 0, 1, 0, 1, -1]
    assert same_bits(call(consumer, "fabs", np.array([-0.0, -INF, -3.0, NAN])), [0.0, INF, 3.0, NAN])
    assert same_bits(call(consumer, "sqrt", np.array([4.0, -1.0, -0.0, INF, NAN])), [2.0, NAN, -0.0, INF, NAN])
    assert call(consumer, "cabs", np.array([3 + 4j, -5 + 0j])).tolist() == [5.0, 5.0]
    assert same_bits(call(consumer, "csqrt", np.array([-4 + 0j, complex(-4, -0.0), 3 + 4j])),
                [complex(0, 2), complex(0, -2), 2 + 1j])


@pytest.mark.parametrize("z, expected", [
    (2 + 0j, 1 + 0j),
    (1 + 1j, complex(math.sqrt(0.5), math.sqrt(0.5))),
    (-3 - 4j, -0.6 - 0.8j),
    (0j, 0j),
    (complex(INF, 3), 1 + 0j),
    (complex(-INF, INF), complex(-math.sqrt(0.5), math.sqrt(0.5))),
    (complex(3, -INF), complex(0, -1)),
    (complex(NAN, 1), complex(NAN, NAN)),
    (complex(1, NAN), complex(NAN, NAN)),
    (complex(1e308, 1e308), complex(math.sqrt(0.5), math.sqrt(0.5))),
    (complex(-1.7e308, 1.7e308), complex(-math.sqrt(0.5), math.sqrt(0.5))),
    (complex(5e-324, 5e-324), complex(math.sqrt(0.5), math.sqrt(0.5))),
    (complex(3e-320, -4e-320), complex(0.6, -0.8)),
])
def test_csign_values(consumer, z, expected):
    got = complex(call(consumer, "csign", np.array([z]))[0])
    if math.isnan(expected.real):
        assert math.isnan(got.real) and math.isnan(got.imag)
    else:
        assert got.real == pytest.approx(expected.real, rel=4e-16, abs=1e-300)
        assert got.imag == pytest.approx(expected.imag, rel=4e-16, abs=1e-300)
        assert abs(got) == pytest.approx(1.0 if z else 0.0, rel=4e-16)


def test_maps_agree_with_the_c_library_and_numpy(consumer):
    rng = np.random.default_rng(7)
    x = np.concatenate([rng.normal(size=500) * 10.0 ** rng.integers(-300, 300, size=500),
                        [0.0, -0.0, INF, -INF, NAN, 5e-324, -5e-324, 1.7e308]])
    z = np.empty(len(x), dtype=np.complex128)  # (inf * 1j would bring NaNs in)
    z.real, z.imag = x, rng.permutation(x)
    signs = call(consumer, "sign", x)
    finite = ~np.isnan(x)
    assert np.array_equal(signs[finite], np.sign(x[finite]).astype(np.int32))
    assert not signs[~finite].any()
    assert same_bits(call(consumer, "fabs", x), np.abs(x))
    with np.errstate(invalid="ignore"):
        assert same_bits(call(consumer, "sqrt", x), np.sqrt(x))
        # NumPy's complex sqrt agrees with the C library's csqrt here.
        assert same_bits(call(consumer, "cabs", z), [libm_cabs(v.real, v.imag) for v in z])
        assert same_bits(call(consumer, "csqrt", z), np.sqrt(z))


@pytest.mark.parametrize("row", REAL_MAPS + COMPLEX_MAPS)
def test_strided_input_gives_a_contiguous_result(consumer, row):
    dtype = np.complex128 if row in COMPLEX_MAPS else np.float64
    base = (np.arange(1, 21) * (-1.0) ** np.arange(20)).astype(dtype)
    if row in COMPLEX_MAPS:
        base = base + 1j * base[::-1]
    for view in (base[::2], base[::-3], base[5:6]):
        expected = call(consumer, row, np.ascontiguousarray(view))
        assert same_bits(call(consumer, row, view), expected)
    before = base.copy()
    out = call(consumer, row, base)
    out[...] = 0
    assert same_bits(base, before)  # the input is never written


@pytest.mark.parametrize("row", REAL_MAPS + COMPLEX_MAPS)
def test_empty_input_fails_with_the_shape_error(consumer, row):
    dtype = np.complex128 if row in COMPLEX_MAPS else np.float64
    with pytest.raises(ValueError, match=r"^Invalid shape in axis 0: 0\.$") as err:
        consumer.call_map(row, np.zeros(0, dtype=dtype))
    assert traceback_entries(err, f"zalmor.ops.brenthosca.{row}")


def test_result_is_owned_by_the_caller_and_freed_once(consumer):
    held = consumer.call_map("sqrt", np.arange(4.0))
    owner = consumer.view_owner(held)
    assert type(owner).__name__ == "memoryview"
    assert type(owner).__module__ == "zalmor.ops.brenthosca"
    refs = sys.getrefcount(owner)
    # a copy of the record takes an acquisition of its own; emptied records
    # release nothing, the last release drops the records' reference
    assert consumer.copy_and_release(held) == (2, 1)
    assert sys.getrefcount(owner) == refs - 1
    assert consumer.view_bytes(held) is None
    assert np.asarray(owner).tolist() == [0.0, 1.0, math.sqrt(2.0), math.sqrt(3.0)]
    del owner, held


def test_another_c_library_turns_the_complex_lanes_off(run_py, preload):
    preload("other_cabs")  # a cabs rounded otherwise: the cabs row must follow it
    result = run_py("""
        import numpy as np
        import zalmor.ops.brenthosca as b
        from native_access import MemViewSlice, bind_row, vector_view
        cabs = ctypes.CDLL(None).cabs  # the preloaded one comes first
        cabs.restype, cabs.argtypes = ctypes.c_double, [ctypes.c_double, ctypes.c_double]
        hypot = ctypes.CDLL("libm.so.6").hypot  # GNU libc's own
        hypot.restype, hypot.argtypes = ctypes.c_double, [ctypes.c_double, ctypes.c_double]
        zs = np.random.default_rng(5).standard_normal((3000, 2)).view(complex)[:, 0]
        zs[::7] = zs[::7].real * (1 + 1j)  # equal parts, where hypot is hardest
        out = bind_row(b, "cabs", MemViewSlice, MemViewSlice)(vector_view(zs.ctypes.data, len(zs), 16))
        got = np.ctypeslib.as_array((ctypes.c_double * len(zs)).from_address(out.data))
        want = [cabs(z.real, z.imag) for z in zs]
        emit([int(np.sum(got != want)), sum(w != hypot(z.real, z.imag) for z, w in zip(zs, want))])
    """)
    assert result[0] == 0 and result[1] > 0  # the preloaded cabs was in effect
