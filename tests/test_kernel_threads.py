"""Every row that may run without the interpreter lock, called from four native
threads at once (threads the interpreter does not know) on shared inputs, with
and without the lock; sort works in place, so each thread sorts its own copy.
Every result is compared with one reference call, and every returned view must
be released, also when the threads that make the views hand them to others."""

import math
import os
import sys

import numpy as np
import pytest

import zalmor.ops.brenthosca as brenthosca

LONG = os.environ.get("ZALMOR_LONG_TESTS") == "1"  # the long loops of CI's reliability run
CALLS = 100_000 if LONG else 500  # per thread
THREADS = 4
B, P = "zalmor.ops.brenthosca", "zalmor.utils.pondistra"

rng = np.random.default_rng(12)
N = 128
X = rng.standard_normal(N)
Z = X + 1j * rng.standard_normal(N)
TYPED = [X.astype(t) for t in (np.int32, np.uint32, np.int64, np.uint64, np.float32, np.float64)] + [Z]
RAGGED = np.round(X * 3)  # ties, for the ordering rows
RAGGED[::17] = np.nan

# (row, buffers, opt), inputs laid out contiguously, every second element and backwards
NUMBER_ROWS = (
    [(f"__pyx_fuse_{k}{family}", (TYPED[k][::2],), None) for family in ("sum", "prod") for k in range(7)]
    + [(f"__pyx_fuse_{k}equal", (TYPED[k], TYPED[k].copy()), None) for k in range(6)]
    + [("cequal", (Z[::-1], Z[::-1].copy()), None), ("cprod", (Z,), None), ("mean", (X[::-1],), None)]
    + [(row, (v,), (1, order)) for row, v in (("norm", X), ("cnorm", Z[::2]))
       for order in (2.0, 1.0, 3.0, 0.0, math.inf, -math.inf)]
    + [(row, (RAGGED,), None) for row in ("min", "max", "argmin", "argmax", "argminmax", "width")]
    + [("cwidth", (Z,), None)]
    + [(row, (v, v * (1 + 1e-9)), (2, 1e-6, 0.0)) for row, v in
       (("allclose", X), ("anyclose", X[::2]), ("callclose", Z), ("canyclose", Z[::-1]))]
)
VIEW_ROWS = (
    [(row, (X[::2],), None) for row in ("sign", "fabs", "sqrt")]
    + [(row, (Z[::-1],), None) for row in ("cabs", "csign", "csqrt")]
    + [("permute", (X, rng.permutation(N).astype(np.intp)), None),
       ("argsort", (RAGGED,), None), ("argsort", (RAGGED[::-2],), (1, 1))]
)
SORT_ROWS = [("sort", (RAGGED.copy(),), None), ("sort", (RAGGED.copy()[::-3],), None)]


def ids(cases):
    return [f"{case[0]}-{i}" for i, case in enumerate(cases)]


def blocks_left(run):
    """Interpreter memory blocks that a long `run` leaves behind (the views the
    calls return are objects: every one must be gone)."""
    run(1)  # first use settles caches
    before = sys.getallocatedblocks()
    run(CALLS)
    return sys.getallocatedblocks() - before


def hammered(kernels, row, buffers, opt, hold_gil, handoff=False, module=B):
    """(wrong results, blocks left) of `row` called CALLS times from each thread."""
    wrong = []
    left = blocks_left(lambda calls: wrong.append(
        kernels.hammer(module, row, buffers, opt, THREADS, calls, hold_gil, handoff)))
    return wrong[-1], left


def test_every_row_is_hammered():
    named = {case[0] for case in NUMBER_ROWS + VIEW_ROWS + SORT_ROWS}
    assert named == set(brenthosca.__pyx_capi__)


@pytest.mark.parametrize("hold_gil", [False, True], ids=["unlocked", "locked"])
@pytest.mark.parametrize("row, buffers, opt", NUMBER_ROWS + SORT_ROWS, ids=ids(NUMBER_ROWS + SORT_ROWS))
def test_row_from_four_threads(kernels, row, buffers, opt, hold_gil):
    pristine = [b.copy() for b in buffers]
    assert hammered(kernels, row, buffers, opt, hold_gil)[0] == 0
    assert all(np.array_equal(a, b, equal_nan=True) for a, b in zip(buffers, pristine))  # sort sorts copies


@pytest.mark.parametrize("hold_gil", [False, True], ids=["unlocked", "locked"])
@pytest.mark.parametrize("handoff", [False, True], ids=["kept", "handed"])
@pytest.mark.parametrize("row, buffers, opt", VIEW_ROWS, ids=ids(VIEW_ROWS))
def test_views_from_four_threads_are_right_and_all_released(kernels, row, buffers, opt, handoff, hold_gil):
    wrong, left = hammered(kernels, row, buffers, opt, hold_gil, handoff)
    assert wrong == 0
    assert left < 50, f"{left} blocks left after {THREADS * CALLS} views"


@pytest.mark.parametrize("handoff", [False, True], ids=["kept", "handed"])
def test_product_from_four_native_threads_taking_the_lock(kernels, handoff):
    wrong, left = hammered(kernels, "product", (np.array([3, 1, 4], dtype=np.uint32),), None, True, handoff, P)
    assert wrong == 0
    assert left < 50


@pytest.mark.parametrize("hold_gil", [False, True], ids=["unlocked", "locked"])
def test_empty_vector_reports_from_many_threads(kernels, unraisable, hold_gil):
    with unraisable() as seen:
        for row, empty, opt in (("argmin", np.zeros(0), None), ("cwidth", np.zeros(0, complex), None),
                                ("norm", np.zeros(0), (1, math.inf))):
            assert kernels.hammer(B, row, (empty,), opt, 4, 5, hold_gil, False) == 0
    # one report per call: 4 threads x 5 calls, and the reference call first
    contexts = [ctx for ctx, *_ in seen]
    for row in ("argmin", "cwidth", "norm"):
        assert contexts.count(f"zalmor.ops.brenthosca.{row}") == 21
