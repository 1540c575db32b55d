"""Every row that may run without the interpreter lock, called from four native
threads at once (threads the interpreter does not know) on shared inputs, with
and without the lock; sort works in place, so each thread sorts its own copy.
Every result is compared with one reference call, and every returned view must
be released, also when the threads that make the views hand them to others."""

import math

import numpy as np
import pytest

import zalmor.ops.brenthosca as brenthosca
from conftest import LONG, NUMBER_ROWS, SORT_ROWS, VIEW_ROWS, blocks_left, row_ids

CALLS = 100_000 if LONG else 500  # per thread
THREADS = 4
B, P = "zalmor.ops.brenthosca", "zalmor.utils.pondistra"
LOCK = pytest.mark.parametrize("hold_gil", [False, True], ids=["unlocked", "locked"])
HANDOFF = pytest.mark.parametrize("handoff", [False, True], ids=["kept", "handed"])


def hammered(kernels, row, buffers, opt, hold_gil, handoff=False, module=B):
    """(wrong results, interpreter memory blocks left) of `row` called CALLS
    times from each thread (the views the calls return are objects: every one
    must be gone)."""
    wrong = []

    def run(calls):
        wrong.append(kernels.hammer(module, row, buffers, opt, THREADS, calls, hold_gil, handoff))
    return wrong, blocks_left(lambda: run(CALLS), lambda: run(1))


def test_every_row_is_called():
    assert {case[0] for case in NUMBER_ROWS + VIEW_ROWS + SORT_ROWS} == set(brenthosca.__pyx_capi__)


@LOCK
@pytest.mark.parametrize("row, buffers, opt", NUMBER_ROWS + SORT_ROWS, ids=row_ids(NUMBER_ROWS + SORT_ROWS))
def test_row_from_four_threads(kernels, row, buffers, opt, hold_gil):
    pristine = [b.copy() for b in buffers]
    assert hammered(kernels, row, buffers, opt, hold_gil)[0] == [0, 0]
    assert all(np.array_equal(a, b, equal_nan=True) for a, b in zip(buffers, pristine))  # sort sorts copies


@LOCK
@HANDOFF
@pytest.mark.parametrize("row, buffers, opt", VIEW_ROWS, ids=row_ids(VIEW_ROWS))
def test_views_from_four_threads_are_right_and_all_released(kernels, row, buffers, opt, handoff, hold_gil):
    wrong, left = hammered(kernels, row, buffers, opt, hold_gil, handoff)
    assert wrong == [0, 0]
    assert left < 50, f"{left} blocks left after {THREADS * CALLS} views"


@HANDOFF
def test_product_from_four_native_threads_taking_the_lock(kernels, handoff):
    wrong, left = hammered(kernels, "product", (np.array([3, 1, 4], dtype=np.uint32),), None, True, handoff, P)
    assert wrong == [0, 0]
    assert left < 50


@LOCK
def test_empty_vector_reports_from_many_threads(kernels, unraisable, hold_gil):
    with unraisable() as seen:
        for row, empty, opt in (("argmin", np.zeros(0), None), ("cwidth", np.zeros(0, complex), None),
                                ("norm", np.zeros(0), (1, math.inf))):
            assert kernels.hammer(B, row, (empty,), opt, 4, 5, hold_gil, False) == 0
    # one report per call: 4 threads x 5 calls, and the reference call first
    contexts = [ctx for ctx, *_ in seen]
    for row in ("argmin", "cwidth", "norm"):
        assert contexts.count(f"zalmor.ops.brenthosca.{row}") == 21
