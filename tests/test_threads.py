"""Calls from several Python threads at once: product and inv, which hold the
interpreter lock, and product's results handed from thread to thread. The
kernels called from native threads, with and without the lock, are in
test_kernel_threads.py."""

import ctypes
import queue

import numpy as np

import zalmor.ops.quillemora as quillemora
from conftest import LONG, bind_row, blocks_left, run_threads
from zalmor.utils.pondistra import product

CALLS = 100_000 if LONG else 5_000


def test_product_from_several_python_threads():
    rng = np.random.default_rng(3)
    cases = [rng.integers(1, 6, size=rng.integers(1, 5)).astype(np.uint32) for _ in range(40)]
    expected = [np.indices(c).reshape(len(c), -1).T.astype(np.uint32) for c in cases]
    errors = []

    def work(seed):
        order = np.random.default_rng(seed).permutation(len(cases))
        for _ in range(CALLS // 500):
            for i in order:
                if not np.array_equal(np.asarray(product(cases[i])), expected[i]):
                    errors.append(i)

    # every view object and array made must be gone
    assert blocks_left(lambda: run_threads(work, [(s,) for s in range(6)])) < 200
    assert errors == []


def test_results_handed_between_python_threads():
    q = queue.Queue(maxsize=8)
    seen = []

    def make():
        for n in range(1, 301):
            q.put(product(np.array([n % 7 + 1, 3], dtype=np.uint32)))
        q.put(None)

    def take():
        while (t := q.get()) is not None:
            seen.append(np.asarray(t).copy())
            del t

    run_threads(lambda role: role(), [(make,), (take,)])
    assert len(seen) == 300
    assert all(a.shape == ((n % 7 + 1) * 3, 2) for n, a in zip(range(1, 301), seen))


def test_inv_from_several_python_threads():
    inv = bind_row(quillemora, "inv", ctypes.py_object, ctypes.py_object, ctypes.c_void_p, lock=True)
    rng = np.random.default_rng(5)
    matrices = [rng.normal(size=(4, 4)) + 4 * np.eye(4) for _ in range(8)]
    errors = []

    def work():
        for _ in range(200):
            for A in matrices:
                if not np.allclose(inv(A, None) @ A, np.eye(4), atol=1e-10):
                    errors.append(A)

    run_threads(work, [()] * 4)
    assert errors == []
