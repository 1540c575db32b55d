"""Typed views as Python code meets them: the argument conversion of `product`
and the view objects it returns, checked against NumPy's basic indexing."""

import hashlib
import pickle
import random
import zlib

import numpy as np
import pytest
from _testbuffer import ND_PIL, ND_WRITABLE, ndarray

from zalmor.utils.pondistra import product


def table(*sizes):
    return product(np.array(sizes, dtype=np.uint32))


# ---- argument conversion ---------------------------------------------------

@pytest.mark.parametrize("fmt", ["I", "=I", "<I", "@I", "=L", "<L", " I", "\nI"])
def test_four_byte_unsigned_formats_are_accepted(fmt):
    sizes = ndarray([2, 3], shape=[2], format=fmt, flags=ND_WRITABLE)
    assert np.asarray(product(sizes)).tolist() == [[0, 0], [0, 1], [0, 2], [1, 0], [1, 1], [1, 2]]


@pytest.mark.parametrize("fmt, message", [
    ("i", "Buffer dtype mismatch, expected 'unsigned int' but got 'int'"),
    ("L", "Buffer dtype mismatch, expected 'unsigned int' but got 'unsigned long'"),
    ("Q", "Buffer dtype mismatch, expected 'unsigned int' but got 'unsigned long long'"),
    ("f", "Buffer dtype mismatch, expected 'unsigned int' but got 'float'"),
    (">I", "Big-endian buffer not supported on little-endian compiler"),
    ("!I", "Big-endian buffer not supported on little-endian compiler"),
])
def test_other_formats_are_refused_with_the_dtype_message(fmt, message):
    sizes = ndarray([2, 3], shape=[2], format=fmt, flags=ND_WRITABLE)
    with pytest.raises(ValueError) as err:
        product(sizes)
    assert str(err.value) == message


def test_dimension_and_direct_access_checks():
    with pytest.raises(ValueError, match=r"^Buffer has wrong number of dimensions \(expected 1, got 2\)$"):
        product(ndarray([1, 2, 3, 4], shape=[2, 2], format="I", flags=ND_WRITABLE))
    # An exporter whose memory needs suboffsets refuses the direct request.
    with pytest.raises(BufferError, match="suboffsets"):
        product(ndarray([1, 2, 3, 4], shape=[2, 2], format="I", flags=ND_WRITABLE | ND_PIL)[0])


def test_item_size_must_match_the_element_type():
    padded = np.zeros(2, dtype=np.dtype({"names": ["n"], "formats": ["<u4"], "itemsize": 8}))
    with pytest.raises(ValueError) as err:
        product(padded)
    # NumPy describes it as "T{I:n:}" with an item size of 8
    assert str(err.value) == "Item size of buffer (8 bytes) does not match size of 'unsigned int' (4 bytes)"


def test_read_only_sizes_are_refused_by_the_exporter():
    sizes = np.array([2, 3], dtype=np.uint32)
    sizes.flags.writeable = False
    with pytest.raises((ValueError, BufferError)):
        product(sizes)
    with pytest.raises(BufferError):
        product(ndarray([2, 3], shape=[2], format="I"))  # no ND_WRITABLE
    with pytest.raises(TypeError):
        product([2, 3])


def test_strided_and_reversed_sizes_are_walked_through_their_stride():
    base = np.array([2, 99, 3, 99, 4], dtype=np.uint32)
    assert np.array_equal(np.asarray(product(base[::2])), np.asarray(table(2, 3, 4)))
    assert np.array_equal(np.asarray(product(base[::-2])), np.asarray(table(4, 3, 2)))
    assert np.array_equal(np.asarray(product(ndarray([2, 9, 3], shape=[3], format="I",
                                                     flags=ND_WRITABLE)[::2])),
                          np.asarray(table(2, 3)))


def test_a_view_of_the_same_module_is_taken_as_it_is():
    sizes = table(2, 3)[4]  # the row (1, 1) of an earlier result
    assert np.asarray(product(sizes)).tolist() == [[0, 0]]
    assert np.asarray(product(table(3, 4)[:, 1][2:3])).tolist() == [[0], [1]]


# ---- the view objects ------------------------------------------------------

def test_attributes_describe_the_result():
    t = table(3, 4, 5)
    a = np.asarray(t)
    assert (t.shape, t.strides, t.ndim, t.itemsize, t.size, t.nbytes) == (
        (60, 3), (12, 4), 2, 4, 180, 720)
    assert t.suboffsets == (-1, -1)
    assert type(t.base).__name__ == "array" and type(t.base).__module__ == "zalmor.utils.pondistra"
    assert type(t).__name__ == "_memoryviewslice"
    assert len(t) == 60 and len(t[0]) == 3
    assert a.dtype == np.uint32 and a.flags.c_contiguous and a.flags.writeable
    assert memoryview(t).format == "I" and memoryview(t).strides == (12, 4)
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
                # a second step of indexing on the result agrees as well
                if got.ndim and got.shape[0]:
                    assert np.array_equal(np.asarray(t[key][-1]), expected[-1]), key
            else:
                assert got == int(expected) and type(got) is int, key


def test_indexing_errors():
    t = table(3, 4)
    with pytest.raises(IndexError, match=r"^Index out of bounds \(axis 0\)$"):
        t[12]
    with pytest.raises(IndexError, match=r"^Index out of bounds \(axis 1\)$"):
        t[0, -3]
    with pytest.raises(ValueError, match=r"^Step may not be zero \(axis 1\)$"):
        t[:, ::0]
    with pytest.raises(TypeError, match=r"^Cannot index with type 'str'$"):
        t["a"]
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
