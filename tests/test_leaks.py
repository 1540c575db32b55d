"""Every published row, and product and inv, called many times in a native
loop (bench/native_bench.c): no interpreter memory, no traced allocation and
no resident memory is left behind."""

import sys
import tracemalloc

import numpy as np
import pytest

from conftest import LONG, MEMORY_CHECKED, NUMBER_ROWS, SORT_ROWS, VIEW_ROWS, row_ids, rss_kib

CALLS = 100_000 if LONG else 2_000
B, P, Q = "zalmor.ops.brenthosca", "zalmor.utils.pondistra", "zalmor.ops.quillemora"
CASES = ([(B, *case) for case in NUMBER_ROWS + VIEW_ROWS + SORT_ROWS]
         + [(P, "product", (np.array([3, 4, 5], dtype=np.uint32),), None)]
         + [(Q, "inv", (np.eye(3) + 0.5,), None)])


@pytest.fixture(scope="module")
def native(native_caller):
    return native_caller("bench/native_bench.c", "_zalmor_bench")


@pytest.mark.parametrize("module, row, buffers, opt", CASES, ids=row_ids([c[1:] for c in CASES]))
def test_many_calls_leave_nothing_behind(native, module, row, buffers, opt):
    calls = CALLS if row != "inv" else CALLS // 20  # inv runs SciPy each time
    native.time(module, row, buffers, opt, 100)  # settles caches and lazy imports
    blocks = sys.getallocatedblocks()
    rss = rss_kib()
    tracemalloc.start()
    try:
        native.time(module, row, buffers, opt, calls)
        traced, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert traced < 64 * 1024, f"{traced} bytes still traced after {calls} calls"
    assert sys.getallocatedblocks() - blocks < 100
    if not MEMORY_CHECKED:
        assert rss_kib() - rss < 4096, "resident memory grew by more than 4 MiB"


@pytest.mark.skipif(MEMORY_CHECKED, reason="the memory checkers keep freed memory aside")
@pytest.mark.parametrize("row", ["sign", "fabs", "sqrt", "cabs", "csign", "csqrt"])
def test_map_results_are_freed(native, row):
    # 100000 results of 2 to 4 KiB each: a result kept would show in resident memory
    xs = np.linspace(-3, 3, 257).astype(np.complex128 if row.startswith("c") else np.float64)
    native.time(B, row, (xs,), None, 2000)
    start = rss_kib()
    native.time(B, row, (xs,), None, 100_000)
    assert rss_kib() - start < 2048
