"""zalmor: native numerical core (vector kernels, cartesian products, matrix inversion)."""

import os as _os

__version__ = "0.1.0"
# The version of the native interface in zalmor/capi.h (ZALMOR_CAPI_VERSION):
# native modules built against a header with a higher one refuse to bind.
capi_version = 1

_HERE = _os.path.dirname(__file__)


def get_include():
    """Directory holding ``zalmor/capi.h``, the header that native callers compile against."""
    return _os.path.join(_HERE, "include")


def get_pkgconfig_dir():
    """Directory holding ``zalmor.pc``, for ``PKG_CONFIG_PATH``."""
    return _os.path.join(_HERE, "lib", "pkgconfig")


def get_cmake_dir():
    """Directory holding ``zalmor-config.cmake``, for ``find_package(zalmor CONFIG)`` (``zalmor_DIR``)."""
    return _os.path.join(_HERE, "lib", "cmake", "zalmor")
