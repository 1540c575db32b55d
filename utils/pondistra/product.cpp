#include "utils/pondistra/product.h"

#include <cstdint>

#include "frame/errors.h"
#include "frame/module.h"
#include "frame/numpy_types.h"
#include "frame/ref.h"
#include "frame/view_record.h"
#include "frame/views.h"
#include "utils/pondistra/bound_prod.h"
#include "utils/pondistra/product_fill.h"

namespace zalmor::pondistra {
namespace {

using frame::Ref;

constexpr const char* kQualname = "zalmor.utils.pondistra.product";

// A module global, then a builtin, as module-level code would see the name.
PyObject* lookup_global(const char* name) {
    PyObject* value = PyDict_GetItemString(frame::module_dict(), name);  // borrowed
    if (value != nullptr) return Py_NewRef(value);
    Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
    if (!builtins) return nullptr;
    value = PyObject_GetAttrString(builtins.get(), name);
    if (value == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    }
    return value;
}

// np.empty((0, 0), dtype=np.uint32), checked to be an ndarray and taken as a
// two-dimensional view of 4-byte unsigned items.
int empty_result(__Pyx_memviewslice& out) {
    Ref np = Ref::steal(lookup_global("np"));
    if (!np) return -1;
    Ref empty = Ref::steal(PyObject_GetAttrString(np.get(), "empty"));
    if (!empty) return -1;
    Ref np_again = Ref::steal(lookup_global("np"));
    if (!np_again) return -1;
    Ref uint32 = Ref::steal(PyObject_GetAttrString(np_again.get(), "uint32"));
    if (!uint32) return -1;
    Ref args = Ref::steal(Py_BuildValue("((ii))", 0, 0));
    Ref kwargs = Ref::steal(PyDict_New());
    if (!args || !kwargs || PyDict_SetItemString(kwargs.get(), "dtype", uint32.get()) < 0) return -1;
    Ref array = Ref::steal(PyObject_Call(empty.get(), args.get(), kwargs.get()));
    if (!array) return -1;
    PyTypeObject* ndarray = frame::ndarray_type();
    if (array.get() != Py_None && !PyObject_TypeCheck(array.get(), ndarray)) {
        PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(array.get())->tp_name,
                     ndarray->tp_name);
        return -1;
    }
    return frame::accept_view(array.get(), 2, frame::kUint32, out);
}

}  // namespace

__Pyx_memviewslice product(__Pyx_memviewslice ns, int /*skip_dispatch*/) {
    __Pyx_memviewslice empty{};
    if (empty_result(empty) < 0) {
        frame::add_traceback(kQualname);
        return __Pyx_memviewslice{};
    }
    const frame::Strided<std::uint32_t> sizes = frame::strided<std::uint32_t>(ns);
    for (std::ptrdiff_t c = 0; c < sizes.n; ++c) {
        if (sizes[c] == 0) return empty;  // hands over its acquisition
    }
    zalmor_view_release(&empty);

    const std::uint32_t rows = bound_prod.u32(ns);
    // A table of 2**32 rows or more cannot be enumerated in unsigned int; one
    // whose count wraps to exactly 0 is refused by the array's shape check.
    std::uint64_t whole = 1;
    bool too_many = false;
    for (std::ptrdiff_t c = 0; c < sizes.n && !too_many; ++c) {
        whole *= sizes[c];
        too_many = whole > UINT32_MAX;
    }
    if (too_many && rows != 0) {
        PyErr_SetString(PyExc_ValueError,
                        "the sizes give too many rows: their product must be below 2**32");
        frame::add_traceback(kQualname);
        return __Pyx_memviewslice{};
    }
    const Py_ssize_t extents[2] = {static_cast<Py_ssize_t>(rows), static_cast<Py_ssize_t>(sizes.n)};
    __Pyx_memviewslice out = frame::new_result(extents, frame::kUnsignedInt, "I", kQualname);
    if (out.memview == nullptr) return out;
    fill_product(sizes, rows, reinterpret_cast<std::uint32_t*>(out.data));
    return out;
}

PyObject* product_python(PyObject* /*module*/, PyObject* arg) {
    __Pyx_memviewslice ns{};
    if (frame::accept_view(arg, 1, frame::kUnsignedInt, ns) < 0) {
        frame::add_traceback(kQualname);
        return nullptr;
    }
    __Pyx_memviewslice out = product(ns, 0);
    zalmor_view_release(&ns);
    if (out.memview == nullptr) {
        frame::add_traceback(kQualname);
        return nullptr;
    }
    PyObject* result = frame::view_to_python(out, 2, frame::kUnsignedInt);
    zalmor_view_release(&out);
    if (result == nullptr) frame::add_traceback(kQualname);
    return result;
}

}  // namespace zalmor::pondistra
