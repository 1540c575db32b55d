"""Result memory that cannot be had: the MemoryError, nothing left behind, and
byte counts that overflow refused before any allocation."""

import numpy as np
import pytest

import zalmor.ops.brenthosca as brenthosca
from conftest import SANITIZED, MemViewSlice, bind_row, vector_view


@pytest.mark.parametrize("row", ["sqrt", "fabs", "sign", "csqrt", "cabs", "csign"])
@pytest.mark.parametrize("n", [2**61, 2**40])
def test_maps_too_large_to_allocate_fail_cleanly(row, n):
    call = bind_row(brenthosca, row, MemViewSlice, MemViewSlice, lock=True)  # the lock, to raise
    one = np.zeros(1, dtype=np.complex128)
    with pytest.raises(MemoryError, match=r"^unable to allocate array data\.$"):
        call(vector_view(one.ctypes.data, n, 0))  # one element, repeated
    assert call(vector_view(one.ctypes.data, 1, 16)).memview  # everything is still usable afterwards


@pytest.mark.skipif(SANITIZED, reason="the address sanitizer cannot run under an address-space limit")
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
