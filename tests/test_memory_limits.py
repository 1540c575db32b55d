"""Result memory that cannot be had: the MemoryError, nothing left behind, and
byte counts that overflow refused before any allocation."""

import ctypes
import os
import zlib

import numpy as np
import pytest

import zalmor.ops.brenthosca as brenthosca
from zalmor.utils.pondistra import product

MAP_SIGNATURE = b"__Pyx_memviewslice (__Pyx_memviewslice)"


class View(ctypes.Structure):
    _fields_ = [("memview", ctypes.c_void_p), ("data", ctypes.c_void_p),
                ("shape", ctypes.c_ssize_t * 8), ("strides", ctypes.c_ssize_t * 8),
                ("suboffsets", ctypes.c_ssize_t * 8)]


def bind_map(name):
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype, get.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
    return ctypes.PYFUNCTYPE(View, View)(get(brenthosca.__pyx_capi__[name], MAP_SIGNATURE))


def test_arrays_export_only_what_a_request_can_describe():
    a = product(np.array([2, 3], dtype=np.uint32)).base
    m = memoryview(a)
    assert (m.shape, m.strides, m.format, m.readonly) == ((6, 2), (8, 4), "I", False)
    with pytest.raises(ValueError, match=r"^Can only create a buffer that is contiguous in memory\.$"):
        zlib.crc32(a)  # a request for neither strides nor contiguity


@pytest.mark.parametrize("row", ["sqrt", "fabs", "sign", "csqrt", "cabs", "csign"])
@pytest.mark.parametrize("n", [2**61, 2**40])
def test_maps_too_large_to_allocate_fail_cleanly(row, n):
    one = np.zeros(1, dtype=np.complex128)
    huge = View(None, one.ctypes.data, (n,) + (0,) * 7, (0,) * 8, (-1,) * 8)  # one element, repeated
    with pytest.raises(MemoryError, match=r"^unable to allocate array data\.$"):
        bind_map(row)(huge)
    # everything is still usable afterwards
    ok = View(None, one.ctypes.data, (1,) + (0,) * 7, (16,) + (0,) * 7, (-1,) * 8)
    assert bind_map(row)(ok).memview


@pytest.mark.skipif(os.environ.get("ZALMOR_SANITIZED") == "1",
                    reason="the address sanitizer cannot run under an address-space limit")
def test_product_beyond_an_address_space_limit(run_py):
    refused, after = run_py("""
        import resource
        import numpy as np
        from zalmor.utils.pondistra import product
        resource.setrlimit(resource.RLIMIT_AS, (2 << 30, resource.RLIM_INFINITY))
        try:
            product(np.array([20000, 20000], dtype=np.uint32))  # 3.2 GB
            refused = None
        except MemoryError as error:
            refused = str(error)
        emit([refused, np.asarray(product(np.array([2, 3], dtype=np.uint32))).tolist()])
    """)
    assert refused == "unable to allocate array data."
    assert after == [[0, 0], [0, 1], [0, 2], [1, 0], [1, 1], [1, 2]]
