"""Every published row, and product, called many times in a native loop: no
interpreter memory, no traced allocation and no resident memory is left behind."""

import math
import os
import resource
import sys
import tracemalloc

import numpy as np
import pytest

import zalmor.ops.brenthosca as brenthosca

from consumer_build import ROOT, build

LONG = os.environ.get("ZALMOR_LONG_TESTS") == "1"
CALLS = 100_000 if LONG else 2_000
CHECKED = os.environ.get("ZALMOR_SANITIZED") == "1" or os.environ.get("ZALMOR_VALGRIND") == "1"

B, P, Q = "zalmor.ops.brenthosca", "zalmor.utils.pondistra", "zalmor.ops.quillemora"
rng = np.random.default_rng(8)
X = rng.standard_normal(64)
Z = X + 1j * rng.standard_normal(64)
TYPED = [X.astype(t) for t in (np.int32, np.uint32, np.int64, np.uint64, np.float32)] + [X, Z]

CASES = (
    [(B, row, (X,), None) for row in ("sign", "fabs", "sqrt", "width", "mean", "min", "max",
                                      "argmin", "argmax", "argminmax", "sort")]
    + [(B, row, (Z,), None) for row in ("csign", "cabs", "csqrt", "cwidth", "cprod")]
    + [(B, f"__pyx_fuse_{k}{family}", (TYPED[k],), None) for family in ("sum", "prod") for k in range(7)]
    + [(B, f"__pyx_fuse_{k}equal", (TYPED[k], TYPED[k].copy()), None) for k in range(6)]
    + [(B, "cequal", (Z, Z.copy()), None)]
    + [(B, row, (X, X + 1e-9), (2, 1e-6, 0.0)) for row in ("allclose", "anyclose")]
    + [(B, row, (Z, Z + 1e-9), (2, 1e-6, 0.0)) for row in ("callclose", "canyclose")]
    + [(B, row, (v,), (1, order)) for row, v in (("norm", X), ("cnorm", Z))
       for order in (2.0, 3.0, math.inf)]
    + [(B, "argsort", (X,), (1, 1)), (B, "permute", (X, rng.permutation(64).astype(np.intp)), None)]
    + [(P, "product", (np.array([3, 4, 5], dtype=np.uint32),), None)]
    + [(Q, "inv", (np.eye(3) + 0.5,), None)]
)


def test_every_row_is_exercised():
    assert {row for module, row, *_ in CASES if module == B} == set(brenthosca.__pyx_capi__)


@pytest.fixture(scope="module")
def native(tmp_path_factory):
    return build("c", tmp_path_factory.mktemp("leaks"), ROOT / "bench" / "native_bench.c",
                 name="_zalmor_bench")


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize() // 1024


@pytest.mark.parametrize("module, row, buffers, opt", CASES,
                         ids=[f"{c[1]}-{i}" for i, c in enumerate(CASES)])
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
    if not CHECKED:
        assert rss_kib() - rss < 4096, "resident memory grew by more than 4 MiB"
