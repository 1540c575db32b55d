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

// Items of at most this many bytes share the object's allocation.
constexpr std::size_t kInlineBytes = 4096;

char* align_up(void* p) {
    const auto start = (reinterpret_cast<std::uintptr_t>(p) + kDataAlignment - 1) & ~(kDataAlignment - 1);
    return reinterpret_cast<char*>(start);
}

// Returns the aligned data address; `block` receives what to free. Plain
// malloc underneath (not an aligned allocator) so that the C library's
// heuristics keep reusing large blocks instead of mapping fresh pages per call.
char* allocate_data(std::size_t bytes, void*& block) {
    if (bytes > SIZE_MAX - kDataAlignment) return nullptr;
    block = allocate_block(bytes + kDataAlignment - 1, std::malloc);
    return block == nullptr ? nullptr : align_up(block);
}

// The constant objects every array refers to, made once per process (under
// the interpreter lock) and kept: the two mode strings and the format bytes
// of the formats seen so far (a few: one per result element type).
PyObject* g_modes[2] = {nullptr, nullptr};  // "c", "fortran"
constexpr int kCachedFormats = 16;
struct CachedFormat {
    char text[8];
    PyObject* bytes;
};
CachedFormat g_formats[kCachedFormats] = {};

PyObject* mode_string(bool fortran) {
    PyObject*& mode = g_modes[fortran ? 1 : 0];
    if (mode == nullptr) mode = PyUnicode_InternFromString(fortran ? "fortran" : "c");
    return Py_XNewRef(mode);
}

PyObject* format_bytes_of(const char* format) {
    const std::size_t length = std::strlen(format);
    if (length >= sizeof(CachedFormat::text)) return PyBytes_FromStringAndSize(format, length);
    for (CachedFormat& entry : g_formats) {
        if (entry.bytes == nullptr) {
            entry.bytes = PyBytes_FromStringAndSize(format, length);
            if (entry.bytes == nullptr) return nullptr;
            std::memcpy(entry.text, format, length + 1);
        }
        if (std::strcmp(entry.text, format) == 0) return Py_NewRef(entry.bytes);
    }
    return PyBytes_FromStringAndSize(format, length);
}

// A new array object with every field zero, with room for `inline_bytes` of
// aligned items after it (0: none). Non-GC, so tp_free (PyObject_Free)
// releases the whole block.
ArrayObject* allocate_array(std::size_t inline_bytes) {
    const std::size_t size = sizeof(ArrayObject) + (inline_bytes > 0 ? inline_bytes + kDataAlignment - 1 : 0);
    auto* self = static_cast<ArrayObject*>(PyObject_Malloc(size));
    if (self == nullptr) {
        PyErr_NoMemory();
        return nullptr;
    }
    std::memset(static_cast<void*>(self), 0, sizeof(ArrayObject));
    PyObject_Init(reinterpret_cast<PyObject*>(self), array_type);  // takes a reference to the type
    if (inline_bytes > 0) self->data = align_up(self + 1);
    return self;
}

// Fills a new array object; `fortran` picks column-major strides.
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
    self->fortran = fortran;
    self->mode = mode_string(fortran);
    if (self->mode == nullptr) return -1;

    self->shape = self->layout;
    self->strides = self->layout + extents.size();
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
        self->free_data = true;
        if (self->data != nullptr) return 0;  // the items follow the object
        self->data = allocate_data(static_cast<std::size_t>(bytes), self->block);
        if (self->data == nullptr) {
            PyErr_SetString(PyExc_MemoryError, "unable to allocate array data.");
            return -1;
        }
    }
    return 0;
}

void array_dealloc(PyObject* op) {
    auto* self = reinterpret_cast<ArrayObject*>(op);
    if (self->free_data) std::free(self->block);
    Py_XDECREF(self->format);
    Py_XDECREF(self->mode);
    PyTypeObject* type = Py_TYPE(op);
    type->tp_free(op);
    Py_DECREF(type);
}

int array_getbuffer(PyObject* op, Py_buffer* view, int flags) {
    if (export_array(op, view, flags) < 0) {
        view->obj = nullptr;
        return -1;
    }
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

int export_array(PyObject* op, Py_buffer* view, int flags) {
    auto* self = reinterpret_cast<ArrayObject*>(op);
    if ((flags & (PyBUF_STRIDES & ~PyBUF_ND)) == 0 ||
        ((flags & PyBUF_C_CONTIGUOUS) == PyBUF_C_CONTIGUOUS && self->fortran && self->ndim > 1) ||
        ((flags & PyBUF_F_CONTIGUOUS) == PyBUF_F_CONTIGUOUS && !self->fortran && self->ndim > 1)) {
        PyErr_SetString(PyExc_ValueError, "Can only create a buffer that is contiguous in memory.");
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
    return 0;
}

PyObject* new_array(std::span<const Py_ssize_t> extents, Py_ssize_t itemsize, const char* format,
                    bool fortran) {
    Ref format_bytes = Ref::steal(format_bytes_of(format));
    if (!format_bytes) return nullptr;
    // Items small enough to share the object's block when the byte count is
    // plainly representable (init_array refuses the others).
    std::size_t inline_bytes = static_cast<std::size_t>(itemsize);
    for (const Py_ssize_t extent : extents) {
        if (extent <= 0 || inline_bytes > kInlineBytes) break;
        inline_bytes *= static_cast<std::size_t>(extent);
    }
    if (itemsize <= 0 || inline_bytes > kInlineBytes) inline_bytes = 0;
    Ref self = Ref::steal(reinterpret_cast<PyObject*>(allocate_array(inline_bytes)));
    if (!self) return nullptr;
    if (init_array(reinterpret_cast<ArrayObject*>(self.get()), extents, itemsize, format_bytes.get(),
                   fortran, true) < 0) {
        return nullptr;
    }
    return self.release();
}

}  // namespace zalmor::frame
