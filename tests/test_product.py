"""zalmor.utils.pondistra.product, from Python and from native code."""

import ctypes
import itertools
import random
import struct
import sys

import numpy as np
import pytest
from _testbuffer import ND_WRITABLE, ndarray

import zalmor.utils.pondistra as pondistra
from zalmor.utils.pondistra import product

from consumer_build import build


def reference(sizes):
    rows = list(itertools.product(*[range(n) for n in sizes]))
    return np.array(rows, dtype=np.uint32).reshape(len(rows), len(sizes))


def sizes(*values):
    return np.array(values, dtype=np.uint32)


@pytest.fixture(scope="module")
def native(tmp_path_factory):
    return build("c", tmp_path_factory.mktemp("consumer-product"))


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


def test_result_layout_and_ownership():
    ns = sizes(2, 3)
    t = product(ns)
    assert np.asarray(t).tolist() == [[0, 0], [0, 1], [0, 2], [1, 0], [1, 1], [1, 2]]
    assert (t.shape, t.strides, t.itemsize) == ((6, 2), (8, 4), 4)
    m = memoryview(t)
    assert (m.format, m.readonly, m.c_contiguous) == ("I", False, True)
    assert type(t.base).__name__ == "array"
    assert np.asarray(t.base).shape == (6, 2)  # the array that owns the memory
    t[0, 0] = 9
    assert ns.tolist() == [2, 3]
    assert isinstance(t[5, 1], int)


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


@pytest.mark.parametrize("fmt, accepted", [
    ("I", True), ("=I", True), ("<I", True), ("^I", True), ("@I", True), ("=L", True), ("<L", True),
    (">I", False), ("!I", False), ("i", False), ("L", False), ("H", False),
])
def test_size_formats(native, fmt, accepted):
    size = struct.calcsize(fmt.replace("^", "="))
    data = struct.pack(fmt.replace("^", "<").replace("@", "<"), 2) * 2 if size == 4 else \
        struct.pack("<" + fmt[-1] * 2, 2, 2)
    exporter = native.FormatBuffer(data, fmt, size, (2,))
    if accepted:
        assert np.asarray(product(exporter)).tolist() == [[0, 0], [0, 1], [1, 0], [1, 1]]
    else:
        with pytest.raises(ValueError):
            product(exporter)
    assert exporter.exports == 0  # the buffer is given back either way


def test_argument_errors():
    with pytest.raises(ValueError, match=r"expected 'unsigned int' but got 'int'"):
        product(np.array([2, 3], dtype=np.int32))
    with pytest.raises(ValueError, match=r"expected 'unsigned int' but got 'long'"):
        product(np.array([2, 3], dtype=np.int64))
    with pytest.raises(ValueError, match=r"wrong number of dimensions \(expected 1, got 2\)"):
        product(np.ones((2, 2), dtype=np.uint32))
    with pytest.raises(ValueError, match="Big-endian buffer not supported on little-endian compiler"):
        product(np.array([2, 3], dtype=">u4"))
    read_only = sizes(2, 3)
    read_only.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        product(read_only)
    with pytest.raises(BufferError):
        product(ndarray([2, 3], shape=[2], format="I"))
    with pytest.raises(TypeError):
        product()
    with pytest.raises(TypeError):
        product(sizes(2), sizes(2))
    with pytest.raises(TypeError):
        product(ns=sizes(2))


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
    names = []
    tb = err.value.__traceback__
    while tb is not None:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    assert "zalmor.utils.pondistra.product" in names

    monkeypatch.delattr(pondistra, "np")
    with pytest.raises(NameError, match=r"^name 'np' is not defined$"):
        product(sizes(2, 2))


class View(ctypes.Structure):
    _fields_ = [("memview", ctypes.c_void_p), ("data", ctypes.c_void_p),
                ("shape", ctypes.c_ssize_t * 8), ("strides", ctypes.c_ssize_t * 8),
                ("suboffsets", ctypes.c_ssize_t * 8)]


def native_product():
    capsule = pondistra.__pyx_capi__["product"]
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype, get.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
    address = get(capsule, b"__Pyx_memviewslice (__Pyx_memviewslice, int __pyx_skip_dispatch)")
    # PYFUNCTYPE keeps the interpreter lock held, as the row requires
    return ctypes.PYFUNCTYPE(View, View, ctypes.c_int)(address)


def test_native_row_returns_an_owned_view():
    call = native_product()
    ns = sizes(3, 2)
    arg = View(None, ns.ctypes.data, (2,) + (0,) * 7, (4,) + (0,) * 7, (-1,) * 8)
    out = call(arg, 0)
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

    bad = View(None, ns.ctypes.data, (0,) + (0,) * 7, (4,) + (0,) * 7, (-1,) * 8)
    with pytest.raises(ValueError, match=r"Invalid shape in axis 1: 0\."):
        call(bad, 0)
