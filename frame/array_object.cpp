#include "array_object.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/large_blocks.h"
#include "ref.h"
#include "type_name.h"
#include "view_layout.h"

namespace zalmor::frame {

PyTypeObject* array_type = nullptr;

namespace {

// Result memory: cache-line aligned, so that vector stores never straddle two
// lines, and, for large blocks, backed by huge pages where the system offers
// them on request (allocate_block).
constexpr std::size_t kDataAlignment = 64;

// Returns the aligned data address; `block` receives what to free. Plain
// malloc underneath (not an aligned allocator) so that the C library's
// heuristics keep reusing large blocks instead of mapping fresh pages per call.
char* allocate_data(std::size_t bytes, void*& block) {
    if (bytes > SIZE_MAX - kDataAlignment) return nullptr;
    block = allocate_block(bytes + kDataAlignment - 1, std::malloc);
    if (block == nullptr) return nullptr;
    const auto start = (reinterpret_cast<std::uintptr_t>(block) + kDataAlignment - 1) & ~(kDataAlignment - 1);
    return reinterpret_cast<char*>(start);
}

// Fills a new, zeroed array object; `mode_fortran` picks column-major strides.
int init_array(ArrayObject* self, std::span<const Py_ssize_t> extents, Py_ssize_t itemsize,
               PyObject* format, bool fortran, bool allocate) {
    if (extents.empty()) {
        PyErr_SetString(PyExc_ValueError, "Empty shape tuple for array");
        return -1;
    }
    if (itemsize <= 0) {
        PyErr_SetString(PyExc_ValueError, "itemsize <= 0 for array");
        return -1;
    }
    if (extents.size() > static_cast<std::size_t>(kMaxDims)) {
        PyErr_Format(PyExc_ValueError, "Too many dimensions: %zd", static_cast<Py_ssize_t>(extents.size()));
        return -1;
    }
    self->ndim = static_cast<int>(extents.size());
    self->itemsize = itemsize;
    self->format = Py_NewRef(format);
    self->mode = PyUnicode_FromString(fortran ? "fortran" : "c");
    if (self->mode == nullptr) return -1;

    self->shape = static_cast<Py_ssize_t*>(PyObject_Malloc(sizeof(Py_ssize_t) * 2 * extents.size()));
    if (self->shape == nullptr) {
        PyErr_SetString(PyExc_MemoryError, "unable to allocate shape and strides.");
        return -1;
    }
    self->strides = self->shape + extents.size();
    for (std::size_t d = 0; d < extents.size(); ++d) {
        if (extents[d] <= 0) {
            PyErr_Format(PyExc_ValueError, "Invalid shape in axis %d: %zd.", static_cast<int>(d), extents[d]);
            return -1;
        }
        self->shape[d] = extents[d];
    }
    // Byte count, refused before any allocation when it cannot be represented.
    Py_ssize_t bytes = itemsize;
    for (std::size_t d = 0; d < extents.size(); ++d) {
        if (__builtin_mul_overflow(bytes, extents[d], &bytes)) {
            PyErr_SetString(PyExc_MemoryError, "unable to allocate array data.");
            return -1;
        }
    }
    Layout layout;
    layout.ndim = self->ndim;
    for (int d = 0; d < self->ndim; ++d) layout.shape[d] = self->shape[d];
    contiguous_strides(layout, static_cast<std::size_t>(itemsize), fortran);
    for (int d = 0; d < self->ndim; ++d) self->strides[d] = layout.strides[d];
    self->len = bytes;

    if (allocate) {
        self->data = allocate_data(static_cast<std::size_t>(bytes), self->block);
        if (self->data == nullptr) {
            PyErr_SetString(PyExc_MemoryError, "unable to allocate array data.");
            return -1;
        }
        self->free_data = true;
    }
    return 0;
}

void array_dealloc(PyObject* op) {
    auto* self = reinterpret_cast<ArrayObject*>(op);
    if (self->free_data) std::free(self->block);
    PyObject_Free(self->shape);
    Py_XDECREF(self->format);
    Py_XDECREF(self->mode);
    PyTypeObject* type = Py_TYPE(op);
    type->tp_free(op);
    Py_DECREF(type);
}

int array_getbuffer(PyObject* op, Py_buffer* view, int flags) {
    auto* self = reinterpret_cast<ArrayObject*>(op);
    if ((flags & (PyBUF_STRIDES & ~PyBUF_ND)) == 0) {
        PyErr_SetString(PyExc_ValueError, "Can only create a buffer that is contiguous in memory.");
        view->obj = nullptr;
        return -1;
    }
    const bool fortran = PyUnicode_CompareWithASCIIString(self->mode, "fortran") == 0;
    if (((flags & PyBUF_C_CONTIGUOUS) == PyBUF_C_CONTIGUOUS && fortran && self->ndim > 1) ||
        ((flags & PyBUF_F_CONTIGUOUS) == PyBUF_F_CONTIGUOUS && !fortran && self->ndim > 1)) {
        PyErr_SetString(PyExc_ValueError, "Can only create a buffer that is contiguous in memory.");
        view->obj = nullptr;
        return -1;
    }
    view->buf = self->data;
    view->len = self->len;
    view->readonly = 0;
    view->ndim = self->ndim;
    view->shape = self->shape;
    view->strides = self->strides;
    view->suboffsets = nullptr;
    view->itemsize = self->itemsize;
    view->format = (flags & PyBUF_FORMAT) ? PyBytes_AS_STRING(self->format) : nullptr;
    view->internal = nullptr;
    view->obj = Py_NewRef(op);
    return 0;
}

}  // namespace

int prepare_array_type(const char* qualified) {
    if (array_type != nullptr) return 0;  // kept from an earlier, failed start-up
    const char* name = type_name(qualified, "array");
    if (name == nullptr) return -1;
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&array_dealloc)},
        {Py_bf_getbuffer, reinterpret_cast<void*>(&array_getbuffer)},
        {0, nullptr},
    };
    PyType_Spec spec = {name, sizeof(ArrayObject), 0, Py_TPFLAGS_DEFAULT | kInternalTypeFlags, slots};
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) return -1;
    array_type = reinterpret_cast<PyTypeObject*>(type);
    forbid_instantiation(array_type);
    return 0;
}

PyObject* new_array(std::span<const Py_ssize_t> extents, Py_ssize_t itemsize, const char* format,
                    bool fortran) {
    Ref format_bytes = Ref::steal(PyBytes_FromString(format));
    if (!format_bytes) return nullptr;
    Ref self = Ref::steal(array_type->tp_alloc(array_type, 0));
    if (!self) return nullptr;
    if (init_array(reinterpret_cast<ArrayObject*>(self.get()), extents, itemsize, format_bytes.get(),
                   fortran, true) < 0) {
        return nullptr;
    }
    return self.release();
}

}  // namespace zalmor::frame
