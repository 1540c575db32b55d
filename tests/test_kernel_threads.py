"""Every scalar-valued kernel called at once from several native threads that
the interpreter does not know, without its lock, on shared inputs."""

import math

import numpy as np
import pytest

rng = np.random.default_rng(12)
X = rng.standard_normal(20000)
Z = X + 1j * rng.standard_normal(20000)
TYPED = [X.astype(t) for t in (np.int32, np.uint32, np.int64, np.uint64, np.float32, np.float64)] + [Z]

CASES = (
    [(f"__pyx_fuse_{k}{family}", (TYPED[k],), None) for family in ("sum", "prod") for k in range(7)]
    + [(f"__pyx_fuse_{k}equal", (TYPED[k], TYPED[k].copy()), None) for k in range(6)]
    + [("cequal", (Z, Z.copy()), None), ("cprod", (Z,), None), ("mean", (X,), None)]
    + [(row, (v,), (1, order)) for row, v in (("norm", X), ("cnorm", Z))
       for order in (2.0, 1.0, 3.0, 0.0, math.inf, -math.inf)]
    + [(row, (X,), None) for row in ("min", "max", "argmin", "argmax", "argminmax", "width")]
    + [("cwidth", (Z,), None)]
    + [(row, (v, v * (1 + 1e-9)), (2, 1e-6, 0.0)) for row, v in
       (("allclose", X), ("anyclose", X), ("callclose", Z), ("canyclose", Z))]
)


@pytest.mark.parametrize("row, buffers, opt", CASES, ids=[f"{c[0]}-{i}" for i, c in enumerate(CASES)])
def test_kernel_from_many_threads(kernels, row, buffers, opt):
    assert kernels.hammer(row, buffers, opt, 8, 20) == 0


def test_empty_vector_reports_from_many_threads(kernels, unraisable):
    with unraisable() as seen:
        assert kernels.hammer("argmin", (np.zeros(0),), None, 4, 5) == 0
        assert kernels.hammer("cwidth", (np.zeros(0, complex),), None, 4, 5) == 0
        assert kernels.hammer("norm", (np.zeros(0),), (1, math.inf), 4, 5) == 0
    # one report per call: 4 threads x 5 calls, and the reference call first
    contexts = [ctx for ctx, *_ in seen]
    for row in ("argmin", "cwidth", "norm"):
        assert contexts.count(f"zalmor.ops.brenthosca.{row}") == 21
