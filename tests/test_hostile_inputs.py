"""Arbitrary buffer descriptions and arbitrary indices: every input is either
accepted and handled correctly or refused with an ordinary exception."""

import struct

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from hypothesis.extra.numpy import basic_indices
from _testbuffer import ND_PIL, ND_WRITABLE, ndarray

from zalmor.utils.pondistra import product

SETTINGS = settings(max_examples=400, deadline=None,
                    suppress_health_check=[HealthCheck.function_scoped_fixture])


FORMAT_PIECES = st.sampled_from([
    "I", "L", "i", "l", "Q", "q", "H", "B", "b", "c", "?", "f", "d", "g", "Z", "Zd", "Zf", "O", "P",
    "x", "T{", "}", "(", ")", ",", ":", "name", "@", "=", "<", ">", "!", "^", " ", "\n", "0", "1",
    "2", "3", "99999999999999999999", "%", "é",
])
formats = st.lists(FORMAT_PIECES, max_size=8).map("".join)


@st.composite
def layouts(draw):
    """(format, itemsize, shape, strides, suboffsets, offset, data) describing
    memory that really covers the layout."""
    fmt = draw(st.one_of(formats, st.sampled_from(["I", "=I", "<L", "^I", "@I"])))
    itemsize = draw(st.sampled_from([4, 4, 4, 1, 2, 8, 16]))
    ndim = draw(st.sampled_from([1, 1, 1, 0, 2]))
    shape = draw(st.lists(st.integers(0, 5), min_size=ndim, max_size=ndim))
    strides = draw(st.one_of(
        st.none(),
        st.lists(st.sampled_from([itemsize, 2 * itemsize, -itemsize, 0, itemsize + 1, -3 * itemsize]),
                 min_size=ndim, max_size=ndim)))
    suboffsets = draw(st.one_of(st.none(), st.none(), st.lists(st.sampled_from([-1, 0, 4]),
                                                               min_size=ndim, max_size=ndim)))
    if strides is None:
        strides_used = []
        step = itemsize
        for n in reversed(shape):
            strides_used.insert(0, step)
            step *= max(n, 1)
    else:
        strides_used = strides
    low = sum(min(0, (n - 1) * s) for n, s in zip(shape, strides_used) if n)
    high = sum(max(0, (n - 1) * s) for n, s in zip(shape, strides_used) if n) + itemsize
    offset = -low
    aligned = all(s % 4 == 0 for s in strides_used) and itemsize == 4
    cells = (high - low + 3) // 4 + 1
    if aligned:  # small sizes, so accepted tables stay small
        words = draw(st.lists(st.integers(0, 3), min_size=cells, max_size=cells))
        data = np.array(words, dtype="<u4").tobytes()
    else:
        data = bytes(4 * cells)
    return fmt, itemsize, tuple(shape), strides, suboffsets, offset, data


@SETTINGS
@given(layout=layouts())
def test_any_buffer_is_accepted_or_refused_cleanly(consumer, layout):
    fmt, itemsize, shape, strides, suboffsets, offset, data = layout
    exporter = consumer.FormatBuffer(data, fmt, itemsize, shape, strides, suboffsets, False, offset)
    try:
        table = product(exporter)
    except (ValueError, TypeError, BufferError):
        pass
    else:
        # Accepted: a one-dimensional buffer of 4-byte unsigned sizes.
        assert len(shape) == 1 and itemsize == 4
        a = np.asarray(table)
        assert a.dtype == np.uint32 and a.ndim == 2
        del table, a
    assert exporter.exports == 0


STRUCT_FORMATS = ["I", "=I", "<I", "@I", "=L", "<L", "L", "i", "Q", "H", "B", "d", "f", ">I", "!I",
                  "2I", "3B", "xxI", "?", "c", "e", "n", "N", "P"]


@st.composite
def standard_exporters(draw):
    """A _testbuffer.ndarray of any standard format, shape, strides and offset,
    possibly read-only or with suboffsets."""
    fmt = draw(st.sampled_from(STRUCT_FORMATS))
    itemsize = struct.calcsize(fmt)
    ndim = draw(st.sampled_from([1, 1, 2, 0]))
    shape = draw(st.lists(st.integers(0, 4), min_size=ndim, max_size=ndim))
    count = max(1, int(np.prod(shape)) if shape else 1)
    values = struct.unpack(fmt, bytes([draw(st.sampled_from([0, 1, 2]))]) * itemsize)
    items = [values[0] if len(values) == 1 else values] * count
    flags = draw(st.sampled_from([ND_WRITABLE, ND_WRITABLE, 0, ND_WRITABLE | ND_PIL]))
    if ndim == 0:
        return ndarray(items[0], shape=[], format=fmt, flags=flags & ~ND_PIL)
    base = ndarray(items, shape=shape, format=fmt, flags=flags)
    key = tuple(draw(st.sampled_from([slice(None), slice(None, None, -1), slice(None, None, 2),
                                      slice(1, None)])) for _ in shape)
    return base[key] if not flags & ND_PIL else base


@SETTINGS
@given(exporter=standard_exporters())
def test_standard_exporters_are_accepted_or_refused_cleanly(exporter):
    try:
        table = product(exporter)
    except (ValueError, TypeError, BufferError, struct.error):
        return
    a = np.asarray(table)
    sizes = exporter.tolist()  # accepted: a vector of 4-byte unsigned sizes
    assert a.dtype == np.uint32 and exporter.ndim == 1 and exporter.itemsize == 4
    assert a.shape == ((0, 0) if 0 in sizes else (int(np.prod(sizes)), len(sizes)))


def test_sources_without_strides_are_read_as_c_contiguous(run_py):
    # ctypes arrays describe themselves by shape alone
    assert run_py("""
        import ctypes
        import numpy as np
        from zalmor.utils.pondistra import product
        t = product(np.array([2, 3], dtype=np.uint32))
        t[0:2, 0] = (ctypes.c_uint32 * 2)(7, 8)
        t[2:5] = (ctypes.c_uint32 * 2 * 3)((1, 2), (3, 4), (5, 6))
        emit([np.asarray(t).tolist(), np.asarray(product((ctypes.c_uint32 * 2)(2, 2))).tolist()])
    """) == [[[7, 0], [8, 1], [1, 2], [3, 4], [5, 6], [1, 2]], [[0, 0], [0, 1], [1, 0], [1, 1]]]


def table_and_array(sizes):
    t = product(np.array(sizes, dtype=np.uint32))
    return t, np.asarray(t).copy()


sizes_strategy = st.lists(st.integers(1, 4), min_size=1, max_size=3)


@SETTINGS
@given(data=st.data(), sizes=sizes_strategy, value=st.integers(0, 2**32 - 1))
def test_assignment_agrees_with_numpy(data, sizes, value):
    t, a = table_and_array(sizes)
    index = data.draw(basic_indices(a.shape, allow_ellipsis=True))
    a[index] = value
    t[index] = value
    assert np.array_equal(np.asarray(t), a)
    source = np.asarray(table_and_array(sizes)[0])
    a[...] = source[::-1]
    t[...] = source[::-1]
    assert np.array_equal(np.asarray(t), a)


BAD_VALUES = st.one_of(st.integers(max_value=-1), st.integers(min_value=2**32),
                       st.floats(), st.text(max_size=2), st.none(), st.lists(st.integers(), max_size=2))


@SETTINGS
@given(sizes=sizes_strategy, value=BAD_VALUES, data=st.data())
def test_bad_values_are_refused_and_change_nothing(sizes, value, data):
    t, a = table_and_array(sizes)
    index = data.draw(basic_indices(a.shape, allow_ellipsis=True))
    with pytest.raises((OverflowError, TypeError, ValueError)):
        t[index] = value
    assert np.array_equal(np.asarray(t), a)


BAD_KEYS = st.one_of(
    st.integers().filter(lambda i: abs(i) > 50),
    st.builds(slice, st.none() | st.integers(), st.none() | st.integers(), st.just(0)),
    st.text(max_size=3), st.floats(), st.lists(st.integers(), max_size=2), st.just({}),
)


@SETTINGS
@given(sizes=sizes_strategy, key=BAD_KEYS, position=st.integers(0, 1))
def test_bad_indices_raise_the_documented_errors(sizes, key, position):
    t, a = table_and_array(sizes)
    full = (slice(None),) * position + (key,)
    with pytest.raises((IndexError, ValueError, TypeError)) as err:
        t[full]
    if isinstance(key, int):
        assert err.type is IndexError and str(err.value) == f"Index out of bounds (axis {position})"
    elif isinstance(key, slice):
        assert err.type is ValueError and str(err.value) == f"Step may not be zero (axis {position})"
    else:
        assert err.type is TypeError and str(err.value).startswith("Cannot index with type")
