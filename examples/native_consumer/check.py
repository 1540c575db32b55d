"""Runs zalmor_example against NumPy and SciPy: python check.py <how it was built>."""

import sys

import numpy as np
import scipy.linalg

import zalmor_example as ex


def raises(error, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except error as exc:
        return str(exc)
    raise AssertionError(f"{call.__name__}{args} did not raise {error.__name__}")


x = np.array([4.0, -1.0, 9.0, 2.25, 0.0, 16.0])
assert np.isclose(ex.norm(x), np.linalg.norm(x), rtol=1e-15, atol=0) and ex.norm(x[::2], 1.0) == 13.0 and ex.norm(x, np.inf) == 16.0
assert ex.roots(x[::2]) == [2.0, 3.0, 0.0] and np.isnan(ex.roots(x)[1])
assert ex.ranking(x) == list(np.argsort(x, kind="stable")) and ex.ranking(x, True) == [5, 2, 0, 3, 4, 1]
assert ex.grid(np.array([2, 3], dtype=np.uint32)) == [[i, j] for i in range(2) for j in range(3)]
A, b = np.array([[4.0, 1.0], [2.0, 3.0]]), np.array([[1.0], [2.0]])
for method in ("inv", "solve", "lu", "pinv", "lstsq"):
    np.testing.assert_allclose(ex.solve(A, b, method), np.linalg.solve(A, b))
np.testing.assert_allclose(ex.solve(A), scipy.linalg.inv(A))
np.testing.assert_allclose(ex.solve(np.ones((2, 3))), scipy.linalg.pinv(np.ones((2, 3))))  # falls back

# Errors: element types and dimensions are checked here, the rows' own failures passed on.
assert raises(TypeError, ex.norm, x.astype(np.float32)) == "expected elements of format 'd', got 'f'"
assert raises(ValueError, ex.roots, np.eye(2)) == "expected a one-dimensional buffer, got 2 dimensions"
assert raises(ValueError, ex.roots, x[:0]) == "Invalid shape in axis 0: 0."
assert raises(ValueError, ex.norm, x[:0], -np.inf) == "the largest or smallest of no elements"
assert raises(ValueError, ex.grid, np.array([65536, 65536], dtype=np.uint32)) == "Invalid shape in axis 0: 0."
assert raises(ValueError, ex.solve, A, None, "qr") == "unknown method 'qr'"
assert raises(ValueError, ex.solve, np.ones(3)).startswith("Buffer has wrong number of dimensions")
print(f"examples/native_consumer built with {sys.argv[1]}: every check passed "
      f"(NumPy {np.__version__}, SciPy {scipy.__version__})")
