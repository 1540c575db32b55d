"""zalmor.utils.pondistra.product, from Python and from native code."""

import ctypes
import itertools
import random
import sys

import numpy as np
import pytest
from _testbuffer import ND_WRITABLE, ndarray

import zalmor.utils.pondistra as pondistra
from conftest import MemViewSlice, bind_row, traceback_entries, vector_view
from zalmor.utils.pondistra import product


def reference(sizes):
    rows = list(itertools.product(*[range(n) for n in sizes]))
    return np.array(rows, dtype=np.uint32).reshape(len(rows), len(sizes))


def sizes(*values):
    return np.array(values, dtype=np.uint32)


def test_random_size_vectors_match_a_reference_enumeration():
    rng = random.Random(99)
    for _ in range(300):
        values = [rng.randint(1, 7) for _ in range(rng.randint(1, 6))]
        expected = reference(values)
        assert np.array_equal(np.asarray(product(sizes(*values))), expected), values
        spread = np.zeros(3 * len(values), dtype=np.uint32)
        spread[::3] = values
        assert np.array_equal(np.asarray(product(spread[::3])), expected), values
        backwards = sizes(*values[::-1])[::-1]  # a negative stride
        assert np.array_equal(np.asarray(product(backwards)), expected), values
        other = ndarray(spread.tolist(), shape=[len(spread)], format="I", flags=ND_WRITABLE)[::3]
        assert np.array_equal(np.asarray(product(other)), expected), values


@pytest.mark.parametrize("values", [
    [2, 3], [5], [1, 1, 1], [4, 1, 3], [1000, 3], [3, 7000], [2] * 18, [7, 3, 100000 // 7],
    [1] * 40 + [3], [300, 200],
])
def test_tables_of_every_shape(values):
    got = np.asarray(product(sizes(*values)))
    rows = int(np.prod(values))
    assert got.shape == (rows, len(values))
    # digit d of row i in the mixed radix of the sizes
    i = np.arange(rows, dtype=np.uint64)[:, None]
    steps = np.array([int(np.prod(values[d + 1:])) for d in range(len(values))], dtype=np.uint64)
    assert np.array_equal(got, (i // steps) % np.array(values, dtype=np.uint64))


@pytest.mark.parametrize("values", [[3, 0, 2], [0], [0, 65536, 65536], [2, 3, 0]])
def test_a_zero_size_gives_the_empty_table(values):
    t = product(sizes(*values))
    assert t.shape == (0, 0)
    assert np.asarray(t).shape == (0, 0) and np.asarray(t).dtype == np.uint32


@pytest.mark.parametrize("arg, message", [
    (None, "Invalid shape in axis 1: 0."),
    (np.zeros(0, dtype=np.uint32), "Invalid shape in axis 1: 0."),
    (sizes(65536, 65536), "Invalid shape in axis 0: 0."),
    (sizes(65536, 65536, 3, 5), "Invalid shape in axis 0: 0."),
])
def test_zero_extents_are_refused_by_the_array(arg, message):
    with pytest.raises(ValueError) as err:
        product(arg)
    assert str(err.value) == message


@pytest.mark.parametrize("values", [[65536, 65537], [2**31, 3], [4294967295, 4294967295, 7]])
def test_tables_of_2_to_the_32_rows_or_more_are_refused(values):
    with pytest.raises(ValueError, match="too many rows"):
        product(sizes(*values))


def test_module_globals_are_looked_up_at_every_call(monkeypatch):
    calls = []

    class FakeNumpy:
        uint32 = np.uint32

        @staticmethod
        def empty(shape, dtype):
            calls.append((shape, dtype))
            return np.empty(shape, dtype)

    monkeypatch.setattr(pondistra, "np", FakeNumpy)
    product(sizes(2, 2))
    assert calls == [((0, 0), np.uint32)]  # made on every call, zero size or not

    FakeNumpy.empty = staticmethod(lambda shape, dtype: [])
    with pytest.raises(TypeError, match=r"^Cannot convert list to numpy.ndarray$"):
        product(sizes(2, 2))
    FakeNumpy.empty = staticmethod(lambda shape, dtype: np.empty((0,), np.uint32))
    with pytest.raises(ValueError, match=r"wrong number of dimensions \(expected 2, got 1\)"):
        product(sizes(2, 2))
    FakeNumpy.empty = staticmethod(lambda shape, dtype: np.empty((0, 0), np.int32))
    with pytest.raises(ValueError, match=r"expected 'uint32_t' but got 'int'"):
        product(sizes(2, 2))

    def failing(shape, dtype):
        raise KeyError("from empty")
    FakeNumpy.empty = staticmethod(failing)
    with pytest.raises(KeyError, match="from empty") as err:
        product(sizes(2, 2))
    assert traceback_entries(err, "zalmor.utils.pondistra.product")

    monkeypatch.delattr(pondistra, "np")
    with pytest.raises(NameError, match=r"^name 'np' is not defined$"):
        product(sizes(2, 2))


def test_native_row_returns_an_owned_view():
    # the interpreter lock stays held, as the row requires
    call = bind_row(pondistra, "product", MemViewSlice, MemViewSlice, ctypes.c_int, lock=True)
    ns = sizes(3, 2)
    out = call(vector_view(ns.ctypes.data, 2, 4), 0)
    assert out.memview and out.shape[:2] == [6, 2] and out.strides[:2] == [8, 4]
    assert list(out.suboffsets[:2]) == [-1, -1]
    values = (ctypes.c_uint32 * 12).from_address(out.data)
    assert list(values) == [0, 0, 0, 1, 1, 0, 1, 1, 2, 0, 2, 1]
    owner = ctypes.cast(out.memview, ctypes.py_object).value
    assert type(owner).__name__ == "memoryview"
    count = ctypes.c_int.from_address(out.memview + object.__basicsize__)
    assert count.value == 1
    refs = sys.getrefcount(owner)
    ctypes.pythonapi.Py_DecRef(ctypes.py_object(owner))  # what zalmor_view_release does last
    assert sys.getrefcount(owner) == refs - 1
    del owner

    with pytest.raises(ValueError, match=r"Invalid shape in axis 1: 0\."):
        call(vector_view(ns.ctypes.data, 0, 4), 0)
