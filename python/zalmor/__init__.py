"""zalmor: native numerical core (vector kernels, cartesian products, matrix inversion)."""

import os as _os

__version__ = "0.1.0"


def get_include():
    """Directory holding ``zalmor/capi.h``, the header that native callers compile against."""
    return _os.path.join(_os.path.dirname(__file__), "include")
