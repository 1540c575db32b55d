"""factorial and binomial_coef, as native code finds them in both modules."""

import ctypes
import importlib.util
import math

import pytest

MASK = 2**64 - 1
SATURATED = MASK


@pytest.fixture(scope="module", params=["zalmor.ops.brenthosca", "zalmor.utils.pondistra"])
def helpers(request):
    library = ctypes.CDLL(importlib.util.find_spec(request.param).origin)
    factorial = library["_Z9factorialj"]
    factorial.restype, factorial.argtypes = ctypes.c_uint64, [ctypes.c_uint32]
    binomial = library["_Z13binomial_coefmm"]
    binomial.restype, binomial.argtypes = ctypes.c_uint64, [ctypes.c_uint64, ctypes.c_uint64]
    return factorial, binomial


def test_factorial_is_n_factorial_modulo_2_to_the_64(helpers):
    factorial, _ = helpers
    for n in range(0, 200):
        assert factorial(n) == math.factorial(n) & MASK, n
    assert factorial(20) == 2432902008176640000
    assert factorial(21) == 14197454024290336768
    for n in (66, 1000, 2**31, 4294967294, 4294967295):
        assert factorial(n) == 0, n


def expected_binomial(n, k):
    if k > n:
        return 0
    r = min(k, n - k)
    if r > 70:  # C(n, r) >= C(2r, r) >= 2**r
        return SATURATED
    c = math.comb(n, r)
    return c if c <= MASK else SATURATED


def test_binomial_over_a_grid_of_small_arguments(helpers):
    _, binomial = helpers
    for n in range(0, 130):
        for k in range(0, n + 3):
            assert binomial(n, k) == expected_binomial(n, k), (n, k)
    assert binomial(30, 15) == 155117520
    assert binomial(5, 2) == binomial(5, 3) == 10
    assert binomial(20, 10) == 184756


@pytest.mark.parametrize("n, k", [
    (67, 33), (68, 34), (100, 50), (1000, 3), (1000, 997), (2**32, 2), (2**32 + 5, 3),
    (2**33, 2), (2**63, 1), (MASK, 1), (MASK, MASK - 1), (MASK, 2), (MASK, MASK), (MASK, 0),
    (2**40, 2**39), (2**62, 2**61 + 7), (10**6, 500000), (3037000500, 2), (6074001000, 2),
    (4294967296, 4294967296 - 3), (MASK - 1, 3), (2**21, 3),
    (0, 1), (5, 6), (10, 2**40), (2**40, MASK), (MASK - 1, MASK),  # k above n: zero
])
def test_binomial_of_huge_arguments_is_exact_or_saturates(helpers, n, k):
    _, binomial = helpers
    assert binomial(n, k) == expected_binomial(n, k)
