"""Shared helpers: fresh interpreters for start-up tests, and ctypes access to the
native function tables (capsules, the view record, complex values)."""

import ctypes
import json
import os
import subprocess
import sys
import textwrap
import types

import pytest

# Helpers available to every snippet run by `run_py`. The snippet runs in a new
# interpreter of this environment; it reports back by calling emit() once.
CHILD_PRELUDE = r'''
import ctypes, importlib, importlib.util, json, os, sys, traceback, types, warnings

_api = ctypes.pythonapi
_api.PyCapsule_New.restype = ctypes.py_object
_api.PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
_api.PyCapsule_GetName.restype = ctypes.c_char_p
_api.PyCapsule_GetName.argtypes = [ctypes.py_object]
_api.PyCapsule_GetPointer.restype = ctypes.c_void_p
_api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
_KEEP = []  # capsule names and targets must outlive the capsules


def capsule(signature):
    """A capsule named `signature` around a non-null dummy address."""
    name = ctypes.create_string_buffer(signature.encode())
    target = ctypes.c_int(0)
    _KEEP.append((name, target))
    return _api.PyCapsule_New(ctypes.addressof(target), name, None)


def capsule_name(cap):
    return _api.PyCapsule_GetName(cap).decode()


def table(module):
    """(key, capsule name, address) of every row of the module's table, in order."""
    rows = []
    for key, cap in module.__pyx_capi__.items():
        name = _api.PyCapsule_GetName(cap)
        rows.append([key, name.decode(), _api.PyCapsule_GetPointer(cap, name)])
    return rows


def fake_module(name, rows=None):
    """A module object standing in for a sibling; `rows` maps names to signatures."""
    module = types.ModuleType(name)
    if rows is not None:
        module.__pyx_capi__ = {key: capsule(sig) for key, sig in rows.items()}
    return module


def failure(exc):
    frames = traceback.extract_tb(exc.__traceback__)
    return {"type": type(exc).__name__, "message": str(exc),
            "frames": [[f.name, f.filename, f.lineno] for f in frames]}


def try_import(name):
    """None on success, else a description of the exception."""
    try:
        importlib.import_module(name)
    except BaseException as exc:
        return failure(exc)
    return None


class _TypeSlot(ctypes.Structure):
    _fields_ = [("slot", ctypes.c_int), ("pfunc", ctypes.c_void_p)]


class _TypeSpec(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("basicsize", ctypes.c_int),
                ("itemsize", ctypes.c_int), ("flags", ctypes.c_uint),
                ("slots", ctypes.POINTER(_TypeSlot))]


def sized_type(basicsize, itemsize=0, name="fake.T"):
    """A heap type with exactly the given instance and item sizes."""
    slots = (_TypeSlot * 1)()
    spec = _TypeSpec(name.encode(), basicsize, itemsize, 1 << 18, slots)  # version tag
    _KEEP.append((slots, spec))
    make = _api.PyType_FromSpec
    make.restype = ctypes.py_object
    make.argtypes = [ctypes.POINTER(_TypeSpec)]
    return make(ctypes.byref(spec))


def emit(obj):
    sys.stdout.write("\n@@RESULT@@" + json.dumps(obj) + "\n")
    sys.stdout.flush()
'''


def run_python(code, *flags, timeout=120):
    """Runs `code` (after the helper prelude) in a fresh interpreter.

    The environment is inherited unchanged, so that runs with a preloaded
    sanitizer runtime or a PYTHONPATH-selected build test the same modules.
    Returns the object passed to emit(); fails the test if the child crashes.
    """
    source = CHILD_PRELUDE + "\n" + textwrap.dedent(code)
    proc = subprocess.run([sys.executable, *flags, "-c", source], capture_output=True,
                          text=True, env=dict(os.environ), timeout=timeout)
    marker = "@@RESULT@@"
    lines = [line for line in proc.stdout.splitlines() if line.startswith(marker)]
    if proc.returncode != 0 or len(lines) != 1:
        pytest.fail(f"child interpreter failed (exit {proc.returncode})\n"
                    f"--- stdout\n{proc.stdout}\n--- stderr\n{proc.stderr}")
    return json.loads(lines[0][len(marker):])


@pytest.fixture
def run_py():
    return run_python


# ---- ctypes views of the native interface --------------------------------

class Complex(ctypes.Structure):
    """__pyx_t_double_complex: real part, then imaginary part."""
    _fields_ = [("real", ctypes.c_double), ("imag", ctypes.c_double)]

    @classmethod
    def of(cls, z):
        z = complex(z)
        return cls(z.real, z.imag)

    def value(self):
        return complex(self.real, self.imag)


class MemViewSlice(ctypes.Structure):
    """__Pyx_memviewslice, passed by value."""
    _fields_ = [("memview", ctypes.c_void_p), ("data", ctypes.c_void_p),
                ("shape", ctypes.c_ssize_t * 8), ("strides", ctypes.c_ssize_t * 8),
                ("suboffsets", ctypes.c_ssize_t * 8)]


def vector_view(address, n, stride):
    """A one-dimensional view record over n elements at `address`, `stride` bytes apart.
    The owner reference stays null: the kernels read only data, extent and stride."""
    view = MemViewSlice()
    view.data = address
    view.shape[0] = n
    view.strides[0] = stride
    for i in range(8):
        view.suboffsets[i] = -1
    return view


def array_view(array):
    """The view record of a one-dimensional NumPy array (any stride)."""
    assert array.ndim == 1
    return vector_view(array.__array_interface__["data"][0], array.shape[0], array.strides[0])


_api = ctypes.pythonapi
_api.PyCapsule_GetName.restype = ctypes.c_char_p
_api.PyCapsule_GetName.argtypes = [ctypes.py_object]
_api.PyCapsule_GetPointer.restype = ctypes.c_void_p
_api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
_api.PyCapsule_GetContext.restype = ctypes.c_void_p
_api.PyCapsule_GetContext.argtypes = [ctypes.py_object]
_api.PyCapsule_GetDestructor.restype = ctypes.c_void_p
_api.PyCapsule_GetDestructor.argtypes = [ctypes.py_object]


def capsule_name(cap):
    return _api.PyCapsule_GetName(cap).decode()


def bind_row(module, name, signature, restype, *argtypes):
    """Binds a table row as a native caller does: by name and exact signature."""
    cap = module.__pyx_capi__[name]
    address = _api.PyCapsule_GetPointer(cap, signature.encode())
    assert address, f"{name}: null address"
    return ctypes.CFUNCTYPE(restype, *argtypes)(address)


@pytest.fixture(scope="session")
def capi():
    return types.SimpleNamespace(
        Complex=Complex, MemViewSlice=MemViewSlice, vector_view=vector_view,
        array_view=array_view, capsule_name=capsule_name, bind_row=bind_row,
        capsule_context=_api.PyCapsule_GetContext,
        capsule_destructor=_api.PyCapsule_GetDestructor)


# ---- vectors in every memory layout, and a native caller of the scalar rows ----

import contextlib  # noqa: E402
import math  # noqa: E402
import struct  # noqa: E402

import numpy as np  # noqa: E402

LAYOUTS = ("contiguous", "every second", "reversed", "unaligned", "shifted")


def laid_out(values, dtype, layout):
    """A one-dimensional array holding `values` in the given memory layout:
    contiguous; every second element of a larger array (the others poisoned);
    a negative stride; an odd byte stride from a misaligned address; or
    contiguous from a misaligned address."""
    base = np.asarray(values, dtype=dtype)
    n, size = base.size, base.itemsize
    if layout == "contiguous":
        return base.copy()
    if layout == "every second":
        out = np.empty(2 * n, dtype=dtype)
        out[1::2] = 7 if base.dtype.kind in "iu" else np.nan
        out[::2] = base
        return out[::2]
    if layout == "reversed":
        return base[::-1].copy()[::-1]
    stride = size + 3 if layout == "unaligned" else size
    raw = np.full(1 + n * stride + size, 0x5A, dtype=np.uint8)
    out = np.ndarray((n,), dtype=dtype, buffer=raw, offset=1, strides=(stride,))
    out[...] = base
    return out


def same_bits(a, b, fmt="d"):
    """Bitwise equality of two floating values (any NaN equals any NaN)."""
    if isinstance(a, complex) or isinstance(b, complex):
        a, b = complex(a), complex(b)
        return same_bits(a.real, b.real, fmt) and same_bits(a.imag, b.imag, fmt)
    if math.isnan(a) and math.isnan(b):
        return True
    return struct.pack("<" + fmt, a) == struct.pack("<" + fmt, b)


@pytest.fixture(scope="session")
def kernels(tmp_path_factory):
    """tests/consumer/kernels.c: calls rows natively, also from many threads."""
    from consumer_build import build_kernels
    return build_kernels(tmp_path_factory.mktemp("kernels"))


@contextlib.contextmanager
def _collect_unraisable():
    seen = []
    previous = sys.unraisablehook
    sys.unraisablehook = lambda report: seen.append(
        (report.object, report.exc_type, str(report.exc_value), report.exc_value))
    try:
        yield seen
    finally:
        sys.unraisablehook = previous


@pytest.fixture
def unraisable():
    """A context manager collecting unraisable reports as (context, type,
    message, exception). Enter it in the test body: pytest installs its own
    hook around the test call, after the fixtures are set up."""
    return _collect_unraisable
