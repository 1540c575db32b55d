"""Typed views as Python code meets them: the argument conversion of `product`
and the view objects it returns, checked against NumPy's basic indexing."""

import hashlib
import pickle
import random
import struct
import zlib

import numpy as np
import pytest
from _testbuffer import ND_PIL, ND_WRITABLE, ndarray

from zalmor.utils.pondistra import product


def table(*sizes):
    return product(np.array(sizes, dtype=np.uint32))


# ---- argument conversion ---------------------------------------------------

MISMATCH = "Buffer dtype mismatch, expected 'unsigned int' but got "
BIG_ENDIAN = "Big-endian buffer not supported on little-endian compiler"


@pytest.mark.parametrize("fmt, itemsize, refusal", [
    *[(fmt, 4, None) for fmt in ["I", "=I", "<I", "^I", "@I", "=L", "<L", " I", "\nI"]],
    ("i", 4, MISMATCH + "'int'"), ("L", 8, MISMATCH + "'unsigned long'"), ("H", 2, MISMATCH + "'unsigned short'"),
    ("Q", 8, MISMATCH + "'unsigned long long'"), ("f", 4, MISMATCH + "'float'"),
    (">I", 4, BIG_ENDIAN), ("!I", 4, BIG_ENDIAN),
])
def test_four_byte_unsigned_formats_are_accepted_and_others_refused(consumer, fmt, itemsize, refusal):
    exporter = consumer.FormatBuffer(struct.pack("<2I", 2, 3) if itemsize == 4 else bytes(2 * itemsize),
                                     fmt, itemsize, (2,))
    if refusal is None:
        assert np.asarray(product(exporter)).tolist() == [[0, 0], [0, 1], [0, 2], [1, 0], [1, 1], [1, 2]]
    else:
        with pytest.raises(ValueError) as err:
            product(exporter)
        assert str(err.value) == refusal
    assert exporter.exports == 0  # the buffer is given back either way


def test_arguments_that_are_not_a_writable_direct_vector_of_sizes_are_refused():
    for sizes, message in [
            (np.array([2, 3], dtype=np.int64), MISMATCH + "'long'"),
            (np.array([2, 3], dtype=">u4"), BIG_ENDIAN),
            (np.ones((2, 2), dtype=np.uint32), "Buffer has wrong number of dimensions (expected 1, got 2)"),
            (ndarray([1, 2, 3, 4], shape=[2, 2], format="I", flags=ND_WRITABLE),
             "Buffer has wrong number of dimensions (expected 1, got 2)")]:
        with pytest.raises(ValueError) as err:
            product(sizes)
        assert str(err.value) == message
    read_only = np.array([2, 3], dtype=np.uint32)
    read_only.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        product(read_only)
    with pytest.raises(BufferError):
        product(ndarray([2, 3], shape=[2], format="I"))  # no ND_WRITABLE
    # An exporter whose memory needs suboffsets refuses the direct request.
    with pytest.raises(BufferError, match="suboffsets"):
        product(ndarray([1, 2, 3, 4], shape=[2, 2], format="I", flags=ND_WRITABLE | ND_PIL)[0])
    for args, kwargs in [((), {}), (([2, 3],), {}), ((np.ones(2, np.uint32),) * 2, {}),
                         ((), {"ns": np.ones(2, np.uint32)})]:
        with pytest.raises(TypeError):
            product(*args, **kwargs)


def test_item_size_must_match_the_element_type():
    padded = np.zeros(2, dtype=np.dtype({"names": ["n"], "formats": ["<u4"], "itemsize": 8}))
    with pytest.raises(ValueError) as err:
        product(padded)
    # NumPy describes it as "T{I:n:}" with an item size of 8
    assert str(err.value) == "Item size of buffer (8 bytes) does not match size of 'unsigned int' (4 bytes)"


# ---- the view objects ------------------------------------------------------

def test_attributes_describe_the_result():
    t = table(3, 4, 5)
    a = np.asarray(t)
    assert (t.shape, t.strides, t.ndim, t.itemsize, t.size, t.nbytes) == (
        (60, 3), (12, 4), 2, 4, 180, 720)
    assert t.suboffsets == (-1, -1)
    assert type(t.base).__name__ == "array" and type(t.base).__module__ == "zalmor.utils.pondistra"
    assert np.asarray(t.base).shape == (60, 3)  # the array that owns the memory
    assert type(t).__name__ == "_memoryviewslice"
    assert len(t) == 60 and len(t[0]) == 3
    assert a.dtype == np.uint32 and a.flags.c_contiguous and a.flags.writeable
    m = memoryview(t)
    assert (m.format, m.strides, m.readonly, m.c_contiguous) == ("I", (12, 4), False, True)
    assert np.array_equal(np.asarray(t.T), a.T) and t.T.strides == (4, 12)
    assert repr(t) == f"<MemoryView of 'array' at {hex(id(t))}>"
    assert str(t) == "<MemoryView of 'array' object>"
    with pytest.raises(TypeError, match="no default __reduce__ due to non-trivial __cinit__"):
        pickle.dumps(t)


def random_index(rng, shape):
    """A random basic index for `shape`: integers in range, slices with any
    bounds and steps, new axes and at most one Ellipsis."""
    def one(n):
        if rng.random() < 0.35:
            return rng.randrange(-n, n)
        pick = lambda: rng.choice([None, rng.randrange(-2 * n - 2, 2 * n + 2)])
        return slice(pick(), pick(), rng.choice([None, 1, 2, 3, -1, -2, -5, 7]))
    items = [one(n) for n in shape]
    if rng.random() < 0.3:  # an Ellipsis stands for a run of whole dimensions
        p = rng.randrange(0, len(items) + 1)
        q = rng.randrange(p, len(items) + 1)
        items[p:q] = [Ellipsis]
    else:  # or the trailing dimensions are left out
        del items[rng.randrange(0, len(items) + 1):]
    for _ in range(rng.choice([0, 0, 1, 2])):
        items.insert(rng.randrange(0, len(items) + 1), None)
    return items[0] if len(items) == 1 and rng.random() < 0.5 else tuple(items)


def test_indexing_matches_numpy_basic_indexing():
    rng = random.Random(1234)
    for sizes in [(7,), (3, 4), (2, 3, 4), (5, 1, 3)]:
        t = table(*sizes)
        a = np.asarray(t)
        for _ in range(400):
            key = random_index(rng, a.shape)
            expected = a[key]
            got = t[key]
            if isinstance(expected, np.ndarray):
                assert type(got) is type(t), key
                got = np.asarray(got)
                assert got.shape == expected.shape, key
                assert np.array_equal(got, expected), key
                # a second step of indexing on the result agrees as well, and so does a copy
                if got.ndim and got.shape[0]:
                    assert np.array_equal(np.asarray(t[key][-1]), expected[-1]), key
                copy = t[key].copy()
                assert np.array_equal(np.asarray(copy), expected) and copy.is_c_contig(), key
            else:
                assert got == int(expected) and type(got) is int, key


def test_indexing_errors():
    # (test_hostile_inputs.py tries keys of every kind; these are the limits)
    t = table(3, 4)
    with pytest.raises(IndexError, match=r"^Index out of bounds \(axis 0\)$"):
        t[12]
    with pytest.raises(IndexError, match=r"^Index out of bounds \(axis 1\)$"):
        t[0, -3]
    with pytest.raises(TypeError, match=r"^Cannot index with type 'float'$"):
        t[1.0]
    with pytest.raises(IndexError):
        t[0, 0, 0]
    with pytest.raises(IndexError):
        t[..., 0, ...]
    assert list(t[2]) == [0, 2]  # iteration stops at the end of the dimension
    assert [list(row) for row in t] == np.asarray(t).tolist()


def test_integers_with_an_ellipsis_give_a_zero_dimensional_view():
    t = table(2, 3)
    v = t[1, 0, ...]
    assert (type(v), v.shape, v.ndim, v[()], np.asarray(v).shape) == (type(t), (), 0, 0, ())
    assert type(t[1, 0]) is int and t[..., 1, 0].shape == t[:, 1][3, ...].shape == ()
    with pytest.raises(TypeError, match="^0-dim memory has no length$"):
        len(v)
    v[()] = 5
    assert t[1, 0] == 5 and type(v[...]) is type(t) and v[...][()] == 5
    v[...] = 6
    t[2, 1, ...] = 7
    assert np.asarray(t)[1:3].tolist() == [[6, 1], [0, 7]] and v.copy()[()] == 6


def test_item_assignment_converts_and_checks_values():
    t = table(2, 3)
    t[0, 1] = 7
    t[-1] = 9                                      # one value over a row
    t[1:3, 0] = np.array([5, 6], dtype=np.uint32)  # from a buffer of the same type
    t[3:5] = table(1, 2)[0]                        # broadcast of a view over rows
    t[0, 0] = np.uint32(4294967295)
    assert np.asarray(t).tolist() == [[4294967295, 7], [5, 1], [6, 2], [0, 0], [0, 0], [9, 9]]
    for value, error, message in [
        (-1, OverflowError, "can't convert negative value to unsigned int"),
        (2 ** 32, OverflowError, "value too large to convert to unsigned int"),
        (2 ** 70, OverflowError, "value too large to convert to unsigned int"),
        (1.5, TypeError, "an integer is required"),
        ("1", TypeError, "an integer is required"),
    ]:
        with pytest.raises(error) as err:
            t[0, 0] = value
        assert str(err.value) == message
    with pytest.raises(ValueError, match=r"got differing extents in dimension 0 \(got 3 and 2\)"):
        t[0:3, 0] = np.array([1, 2], dtype=np.uint32)
    assert t[0, 0] == 4294967295  # failed assignments changed nothing


def test_overlapping_assignment_behaves_like_numpy():
    t = table(10)[:, 0]
    a = np.arange(10, dtype=np.uint32)
    t[1:] = t[:-1]
    a[1:] = a[:-1].copy()
    assert np.asarray(t).tolist() == a.tolist()
    t[::-1] = t[:]
    assert np.asarray(t).tolist() == a[::-1].tolist()


def test_copies_are_independent_and_contiguous():
    t = table(3, 4)
    c, f = t.copy(), t.copy_fortran()
    assert c.is_c_contig() and not c.is_f_contig()
    assert f.is_f_contig() and not f.is_c_contig()
    assert f.shape == (12, 2) and f.strides == (4, 48)
    assert np.array_equal(np.asarray(c), np.asarray(t)) and np.array_equal(np.asarray(f), np.asarray(t))
    col = t[:, 1]
    assert not col.is_c_contig() and col.copy().is_c_contig()
    c[0, 0] = 99
    f[0, 0] = 98
    assert t[0, 0] == 0 and c.base is not t.base


def test_buffer_requests_follow_the_memoryview_rules():
    t = table(3, 4)
    # the owning array exports only what a request can describe
    m = memoryview(t.base)
    assert (m.shape, m.strides, m.format, m.readonly) == ((12, 2), (8, 4), "I", False)
    with pytest.raises(ValueError, match=r"^Can only create a buffer that is contiguous in memory\.$"):
        zlib.crc32(t.base)  # a request for neither strides nor contiguity
    col = t[:, 1]
    m = memoryview(t)
    assert m.c_contiguous and not m.readonly and m.shape == (12, 2)
    assert np.asarray(col).tolist() == [0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3]
    with pytest.raises(BufferError):
        zlib.crc32(col)  # a simple request needs a contiguous view
    assert zlib.crc32(t[0]) == zlib.crc32(b"\0" * 8)
    assert bytes(col) == np.asarray(col).tobytes()
    shared = np.asarray(t)
    t[1, 1] = 5
    assert shared[1, 1] == 5


def test_requests_without_a_shape_get_one_dimension_of_bytes(run_py):
    t = table(2, 3)
    assert hashlib.sha1(t).digest() == hashlib.sha1(np.asarray(t)).digest()
    for strided in (t[::2], t.T):
        with pytest.raises(BufferError, match="^memoryview: underlying buffer is not C-contiguous$"):
            hashlib.sha1(strided)
    # A consumer that trusts ndim must not be handed two dimensions without a shape.
    assert run_py("""
        import numpy as np
        from _testbuffer import PyBUF_SIMPLE, ndarray
        from zalmor.utils.pondistra import product
        t = product(np.array([2, 3], dtype=np.uint32))
        plain = ndarray(t, getbuf=PyBUF_SIMPLE)
        emit([plain.ndim, plain.tobytes() == np.asarray(t).tobytes()])
    """) == [1, True]


def test_results_share_no_memory_with_the_sizes():
    sizes = np.array([2, 2], dtype=np.uint32)
    t = product(sizes)
    t[0, 0] = 1
    assert sizes.tolist() == [2, 2]
    assert not np.shares_memory(np.asarray(t), sizes)
    assert np.asarray(product(table(2, 3)[4])).tolist() == [[0, 0]]  # sizes from an earlier result
    assert np.asarray(product(table(3, 4)[:, 1][2:3])).tolist() == [[0], [1]]
