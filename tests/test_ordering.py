"""sort, argsort and permute, called the way a native caller calls them (with
the interpreter lock released)."""

import os
import subprocess
import sys

import numpy as np
import pytest

from conftest import SANITIZED, laid_out, same_bits, traceback_entries

NAN = float("nan")
INF = float("inf")


@pytest.fixture(scope="module")
def native(native_caller):
    return native_caller("tests/consumer/ordering_consumer.c", "_zalmor_ordering")


def taken(native, held, dtype):
    """The returned vector as a NumPy copy; it is contiguous and held once."""
    n, stride, _, count = native.view_info(held)
    assert (stride, count) == (8, 1)
    return np.frombuffer(native.view_bytes(held), dtype=dtype).copy()


def argsort(native, xs, record=None):
    return taken(native, native.argsort(xs, record), np.uint64).tolist()


def permute(native, xs, positions):
    return taken(native, native.permute(xs, positions), np.float64)


def sorted_copy(native, xs):
    out = np.array(xs, dtype=np.float64)
    native.sort(out)
    return out


def bits(xs):
    return np.asarray(xs, dtype=np.float64).view(np.uint64)


def stable_positions(xs, reverse=False):
    """Positions in the order of a stable sort under < (or >), NaNs last."""
    xs = np.asarray(xs, dtype=np.float64)
    return np.argsort(-xs if reverse else xs, kind="stable").tolist()


def check_sort(native, xs):
    """Sorted under < with NaNs last, the input's own bits, and for at most 16
    elements equal values (the two zeros, NaNs) in input order."""
    xs = np.asarray(xs, dtype=np.float64)
    got = sorted_copy(native, xs)
    expected = np.sort(xs, kind="stable")
    assert np.array_equal(got, expected, equal_nan=True)
    assert np.array_equal(np.sort(bits(got)), np.sort(bits(xs)))
    if len(xs) <= 16:
        assert np.array_equal(bits(got), bits(expected))


def sample(rng, n, kind):
    """Spread values, few values with many ties (both zeros among them), or
    values mixed with NaNs of both signs and infinities."""
    if kind == "spread":
        return rng.standard_normal(n) * 10.0 ** rng.integers(-20, 20, n)
    if kind == "ties":
        return rng.choice([0.0, -0.0, 1.0, -1.0, 2.5, INF, -INF], n)
    xs = rng.standard_normal(n)
    special = rng.random(n)
    xs[special < 0.2] = NAN
    xs[special < 0.1] = -NAN
    xs[(special > 0.9) & (special < 0.95)] = INF
    xs[special > 0.95] = -INF
    return xs


def test_documented_examples(native):
    xs = np.array([3.0, 1.0, 2.0])
    assert argsort(native, xs) == [1, 2, 0]
    assert argsort(native, xs, (1, 1)) == [0, 2, 1]
    assert argsort(native, xs, (0, 1)) == [1, 2, 0]  # reverse is not read when __pyx_n is 0
    assert argsort(native, xs, (1, 0)) == [1, 2, 0]
    assert argsort(native, np.array([5.0, 5.0, 1.0])) == [2, 0, 1]
    assert argsort(native, np.array([5.0, 5.0, 1.0]), (1, 7)) == [0, 1, 2]
    assert argsort(native, np.array([4.0])) == [0]
    xs = np.array([10.0, 20.0, 30.0])
    assert permute(native, xs, np.array([2, 0, 1], np.uint64)).tolist() == [30.0, 10.0, 20.0]
    assert permute(native, xs, np.array([1, 1, 1], np.uint64)).tolist() == [20.0, 20.0, 20.0]
    assert permute(native, xs[:2], np.array([1, 0, 2], np.uint64)).tolist() == [20.0, 10.0]
    got = sorted_copy(native, [2.0, -0.0, 0.0, -1.0])
    assert np.array_equal(bits(got), bits([-1.0, -0.0, 0.0, 2.0]))
    assert np.array_equal(bits(sorted_copy(native, [0.0, -0.0])), bits([0.0, -0.0]))


def test_results_are_new_vectors_and_inputs_stay_unchanged(native):
    xs = np.array([2.0, NAN, -1.0, 0.5])
    positions = np.array([3, 2, 1, 0], np.uint64)
    before = (xs.copy(), positions.copy())
    for held, fmt in ((native.argsort(xs, None), "L"), (native.permute(xs, positions), "d")):
        owned = memoryview(native.view_owner(held))
        assert (owned.format, owned.itemsize, owned.shape) == (fmt, 8, (4,))
    assert np.array_equal(xs, before[0], equal_nan=True)
    assert np.array_equal(positions, before[1])


def test_empty_vectors(native):
    xs = np.zeros(0)
    native.sort(xs)
    for call, name in ((lambda: native.argsort(xs, None), "argsort"),
                       (lambda: native.permute(xs, np.zeros(0, np.uint64)), "permute")):
        with pytest.raises(ValueError) as err:
            call()
        assert str(err.value) == "Invalid shape in axis 0: 0."
        assert traceback_entries(err, f"zalmor.ops.brenthosca.{name}")


def test_strided_and_reversed_views_use_exactly_their_elements(native):
    rng = np.random.default_rng(1)
    for n in (5, 16, 17, 300, 5000):
        base = sample(rng, 3 * n, "nan")
        for part in (np.s_[::3], np.s_[1::2], np.s_[::-1], np.s_[-2::-3]):
            view, m = base[part], len(base[part])
            assert argsort(native, view) == stable_positions(view)
            assert argsort(native, view, (1, 1)) == stable_positions(view, True)
            spaced = np.full(2 * m, 2**63, np.uint64)
            spaced[::2] = np.arange(m)
            assert np.array_equal(permute(native, view, spaced[::2]), view, equal_nan=True)
            assert np.array_equal(permute(native, view, np.arange(m, dtype=np.uint64)[::-1]), view[::-1],
                                  equal_nan=True)
            memory = base.copy()
            native.sort(memory[part])
            assert np.array_equal(memory[part], np.sort(view), equal_nan=True)
            outside = np.ones(len(base), bool)
            outside[np.arange(len(base))[part]] = False
            assert np.array_equal(bits(memory[outside]), bits(base[outside]))  # nothing else moved
        for layout in ("unaligned", "shifted"):  # misaligned, odd byte stride or contiguous
            view = laid_out(base[::2], np.float64, layout)
            assert argsort(native, view) == stable_positions(view)
            assert same_bits(permute(native, view, np.arange(len(view), dtype=np.uint64)[::-1]), view[::-1])
            expected = np.sort(view)
            native.sort(view)
            assert np.array_equal(view, expected, equal_nan=True)


def test_permute_positions_outside_the_vector_are_refused(native):
    xs = np.array([10.0, 20.0, 30.0])
    for positions in (np.array([0, 1], np.uint64), np.array([0, 3, 1], np.uint64),
                      np.array([2, 1, 2**64 - 1], np.uint64), np.array([-1, 0, 1], np.int64),
                      np.array([0, 1, 2, 0, 1], np.uint64)[:2]):
        with pytest.raises(IndexError) as err:
            native.permute(xs, positions)
        assert str(err.value) == "Out of bounds on buffer access (axis 0)"
        assert traceback_entries(err, "zalmor.ops.brenthosca.permute")
    # Only the first n positions count.
    assert permute(native, xs, np.array([2, 1, 0, 99, -5], np.int64)).tolist() == [30.0, 20.0, 10.0]


@pytest.mark.parametrize("kind", ["spread", "ties", "nan"])
def test_against_a_stable_reference(native, kind):
    rng = np.random.default_rng(3)
    for n in sorted([*range(41)] * 5) + [100, 639, 640, 4095, 4096, 10**5, 2**18 + 1]:  # last: prefetching
        xs = sample(rng, n, kind)
        check_sort(native, xs)
        if n:
            for reverse in (False, True):  # ties in input order at any length
                assert argsort(native, xs, (1, int(reverse))) == stable_positions(xs, reverse)
            order = np.frombuffer(native.view_bytes(native.argsort(xs, None)), np.uint64)
            assert np.array_equal(permute(native, xs, order), np.sort(xs), equal_nan=True)


def test_all_nan_and_all_equal_vectors_keep_their_order(native):
    for n in (3, 40, 2000):
        for value in (NAN, -NAN, -0.0, 7.0):
            xs = np.full(n, value)
            xs[::2] = abs(value) if value == value else value
            assert argsort(native, xs) == list(range(n))
            assert argsort(native, xs, (1, 1)) == list(range(n))
            check_sort(native, xs)


@pytest.mark.parametrize("n, error, message", [
    (2**59, RuntimeError, "cannot create std::vector larger than max_size()"),
    *[pytest.param(n, MemoryError, "std::bad_alloc", marks=pytest.mark.skipif(
        SANITIZED, reason="the sanitizer's allocator aborts on impossible sizes")) for n in (2**59 - 1, 2**40)],
])
def test_working_storage_limits(native, n, error, message):
    with pytest.raises(error) as err:
        native.argsort_extent(n)
    assert str(err.value) == message
    assert traceback_entries(err, "zalmor.ops.brenthosca.argsort")


@pytest.mark.parametrize("target", ["avx2", "portable"])
def test_every_engine_passes_these_tests(target):
    """The tests above again, with the sorts held to a lower instruction set."""
    if os.environ.get("ZALMOR_SORT_TARGET"):
        pytest.skip("an engine is chosen for this run already")
    done = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", __file__,
                           "-k", "not every_engine"], capture_output=True, text=True,
                          env={**os.environ, "ZALMOR_SORT_TARGET": target}, timeout=300)
    assert done.returncode == 0, done.stdout[-4000:]
