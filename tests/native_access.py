"""ctypes access to the modules' native function tables: capsules, the view
record, complex values and rows bound as ctypes functions.

Plain ctypes, so that the fresh interpreters of conftest.run_python import it
too (conftest re-exports it for the tests)."""

import ctypes
import types

_api = ctypes.pythonapi
for _name, _restype, _argtypes in [
        ("PyCapsule_New", ctypes.py_object, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]),
        ("PyCapsule_GetName", ctypes.c_char_p, [ctypes.py_object]),
        ("PyCapsule_GetPointer", ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]),
        ("PyCapsule_GetContext", ctypes.c_void_p, [ctypes.py_object]),
        ("PyCapsule_GetDestructor", ctypes.c_void_p, [ctypes.py_object])]:
    getattr(_api, _name).restype, getattr(_api, _name).argtypes = _restype, _argtypes
capsule_context = _api.PyCapsule_GetContext
capsule_destructor = _api.PyCapsule_GetDestructor
_KEEP = []  # capsule names and targets must outlive the capsules


def capsule(signature, address=None):
    """A capsule named `signature` around `address` (by default a non-null dummy)."""
    name = ctypes.create_string_buffer(signature.encode())
    if address is None:
        target = ctypes.c_int(0)
        _KEEP.append(target)
        address = ctypes.addressof(target)
    _KEEP.append(name)
    return _api.PyCapsule_New(address, name, None)


def capsule_name(cap):
    return _api.PyCapsule_GetName(cap).decode()


def row_address(module, name):
    """The address published as the row `name` of the module's table."""
    cap = module.__pyx_capi__[name]
    return _api.PyCapsule_GetPointer(cap, _api.PyCapsule_GetName(cap))


def table(module):
    """(key, capsule name, address) of every row of the module's table, in order."""
    return [[key, capsule_name(cap), row_address(module, key)] for key, cap in module.__pyx_capi__.items()]


def fake_module(name, rows=None):
    """A module object standing in for a sibling; `rows` maps names to signatures."""
    module = types.ModuleType(name)
    if rows is not None:
        module.__pyx_capi__ = {key: capsule(sig) for key, sig in rows.items()}
    return module


def bind_row(module, name, restype, *argtypes, lock=False):
    """The row `name` of the module's table as a ctypes function. ctypes releases
    the interpreter lock around each call, as for a kernel called from native
    code; with lock=True it stays held (rows that need it, or that raise)."""
    address = row_address(module, name)
    assert address, f"{name}: null address"
    return (ctypes.PYFUNCTYPE if lock else ctypes.CFUNCTYPE)(restype, *argtypes)(address)


class Complex(ctypes.Structure):
    """__pyx_t_double_complex: real part, then imaginary part."""
    _fields_ = [("real", ctypes.c_double), ("imag", ctypes.c_double)]

    @classmethod
    def of(cls, z):
        z = complex(z)
        return cls(z.real, z.imag)


class MemViewSlice(ctypes.Structure):
    """__Pyx_memviewslice, passed by value."""
    _fields_ = [("memview", ctypes.c_void_p), ("data", ctypes.c_void_p),
                ("shape", ctypes.c_ssize_t * 8), ("strides", ctypes.c_ssize_t * 8),
                ("suboffsets", ctypes.c_ssize_t * 8)]


def vector_view(address, n, stride):
    """A one-dimensional view record over n elements at `address`, `stride` bytes apart.
    The owner reference stays null: rows read only data, extent and stride."""
    view = MemViewSlice()
    view.data = address
    view.shape[0] = n
    view.strides[0] = stride
    for i in range(8):
        view.suboffsets[i] = -1
    return view


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
