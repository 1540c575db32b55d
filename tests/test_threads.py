"""Calls from several Python threads at once: product and inv, which hold the
interpreter lock, and product's results handed from thread to thread. The
kernels called from native threads, with and without the lock, are in
test_kernel_threads.py."""

import ctypes
import os
import queue
import sys
import threading

import numpy as np

import zalmor.ops.quillemora as quillemora
from zalmor.utils.pondistra import product

LONG = os.environ.get("ZALMOR_LONG_TESTS") == "1"  # the long loops of CI's reliability run
CALLS = 100_000 if LONG else 5_000


def blocks_after(run):
    """Interpreter memory blocks left over by `run` (every view object and
    array made must be gone)."""
    run()  # first use settles caches
    before = sys.getallocatedblocks()
    run()
    return sys.getallocatedblocks() - before


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

    def run():
        threads = [threading.Thread(target=work, args=(s,)) for s in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    assert blocks_after(run) < 200
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

    threads = [threading.Thread(target=make), threading.Thread(target=take)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(seen) == 300
    assert all(a.shape == ((n % 7 + 1) * 3, 2) for n, a in zip(range(1, 301), seen))


def test_inv_from_several_python_threads():
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype, get.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
    signature = (b"PyArrayObject *(PyArrayObject *, struct __pyx_opt_args_6zalmor_3ops_10quillemora_inv "
                 b"*__pyx_optional_args)")
    inv = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.c_void_p)(
        get(quillemora.__pyx_capi__["inv"], signature))
    rng = np.random.default_rng(5)
    matrices = [rng.normal(size=(4, 4)) + 4 * np.eye(4) for _ in range(8)]
    errors = []

    def work():
        for _ in range(200):
            for A in matrices:
                if not np.allclose(inv(A, None) @ A, np.eye(4), atol=1e-10):
                    errors.append(A)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
