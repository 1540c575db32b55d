#include "utils/pondistra/product.h"

#include <cstdint>

#include "frame/errors.h"
#include "frame/gil.h"
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

// Names and constants of the zero-size result's call, made at the first call.
struct EmptyCall {
    PyObject* np;
    PyObject* empty;
    PyObject* uint32;
    PyObject* shape;     // (0, 0)
    PyObject* kwnames;   // ("dtype",)
};
EmptyCall g_call{};

int make_empty_call() {
    if (g_call.kwnames != nullptr) return 0;
    g_call.np = PyUnicode_InternFromString("np");
    g_call.empty = PyUnicode_InternFromString("empty");
    g_call.uint32 = PyUnicode_InternFromString("uint32");
    g_call.shape = Py_BuildValue("(ii)", 0, 0);
    PyObject* kwnames = Py_BuildValue("(s)", "dtype");
    if (!g_call.np || !g_call.empty || !g_call.uint32 || !g_call.shape || !kwnames) {
        Py_XDECREF(kwnames);
        return -1;
    }
    g_call.kwnames = kwnames;
    return 0;
}

// np.empty((0, 0), dtype=np.uint32), `np` looked up afresh for each attribute,
// checked to be an ndarray and taken as a two-dimensional view of 4-byte
// unsigned items.
int empty_result(__Pyx_memviewslice& out) {
    if (make_empty_call() < 0) return -1;
    Ref np = Ref::steal(frame::lookup_global(g_call.np));
    if (!np) return -1;
    Ref empty = Ref::steal(PyObject_GetAttr(np.get(), g_call.empty));
    if (!empty) return -1;
    Ref np_again = Ref::steal(frame::lookup_global(g_call.np));
    if (!np_again) return -1;
    Ref uint32 = Ref::steal(PyObject_GetAttr(np_again.get(), g_call.uint32));
    if (!uint32) return -1;
    PyObject* args[] = {g_call.shape, uint32.get()};
    Ref array = Ref::steal(PyObject_Vectorcall(empty.get(), args, 1, g_call.kwnames));
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
    // Holds the interpreter lock throughout; a native caller without it gets
    // it taken here (and one that holds it sees no change).
    frame::GilGuard gil;
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
