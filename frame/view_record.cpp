#include "view_record.h"

#include "array_object.h"
#include "buffer_check.h"
#include "element_convert.h"
#include "errors.h"
#include "gil.h"
#include "layout_enum.h"
#include "ref.h"
#include "view_layout.h"
#include "view_object.h"

namespace zalmor::frame {
namespace {

// Writable, with strides and format.
constexpr int kRequestFlags = PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_STRIDES;
// The record's arrays hold as many dimensions as the frame handles.
static_assert(sizeof(__Pyx_memviewslice::shape) / sizeof(Py_ssize_t) == kMaxDims);

// Steps 4 to 8 of acceptance on a view object's buffer. `fresh` is false for a
// view object reused as it is, whose format was checked when it was made.
int fill_record(ViewObject* owner, int ndim, const TypeInfo& type, bool fresh, bool check_format,
                __Pyx_memviewslice& out) {
    const Py_buffer& buf = owner->view;
    if (check_buffer(buf, ndim, type, fresh && check_format) < 0) return -1;
    out = __Pyx_memviewslice{};
    out.data = static_cast<char*>(buf.buf);
    if (buf.shape != nullptr && buf.strides != nullptr) {  // as every array here exports
        for (int d = 0; d < ndim; ++d) {
            out.shape[d] = buf.shape[d];
            out.strides[d] = buf.strides[d];
        }
    } else {  // an exporter that left them out (a full layout costs more)
        Layout layout;
        if (buffer_layout(buf, layout) < 0) return -1;
        for (int d = 0; d < ndim; ++d) {
            out.shape[d] = layout.shape[d];
            out.strides[d] = layout.strides[d];
        }
    }
    for (Py_ssize_t& s : out.suboffsets) s = -1;
    out.memview = reinterpret_cast<__pyx_memoryview_obj*>(owner);
    acquire(owner);
    return 0;
}

int accept(PyObject* obj, int ndim, const TypeInfo& type, bool check_format, __Pyx_memviewslice& out) {
    out = __Pyx_memviewslice{};
    if (obj == Py_None) {
        out.memview = reinterpret_cast<__pyx_memoryview_obj*>(Py_None);
        return 0;
    }
    if (view_type != nullptr && PyObject_TypeCheck(obj, view_type)) {
        auto* existing = reinterpret_cast<ViewObject*>(obj);
        if (existing->typeinfo != nullptr && same_element_type(*existing->typeinfo, type)) {
            return fill_record(existing, ndim, type, false, check_format, out);
        }
    }
    Ref owner = Ref::steal(reinterpret_cast<PyObject*>(new_view_object(obj, kRequestFlags, &type)));
    if (!owner) return -1;
    if (fill_record(reinterpret_cast<ViewObject*>(owner.get()), ndim, type, true, check_format, out) < 0) {
        out = __Pyx_memviewslice{};
        return -1;
    }
    return 0;  // the record's acquisition keeps the owner alive
}

}  // namespace

int accept_view(PyObject* obj, int ndim, const TypeInfo& type, __Pyx_memviewslice& out) {
    return accept(obj, ndim, type, true, out);
}

__Pyx_memviewslice new_result(std::span<const Py_ssize_t> extents, const TypeInfo& type,
                              const char* format, const char* qualname, std::source_location where) {
    GilGuard gil;
    __Pyx_memviewslice out{};
    Ref array = Ref::steal(new_array(extents, static_cast<Py_ssize_t>(type.size), format));
    // The array was made here with the format of `type`: no need to parse it again.
    if (!array || accept(array.get(), static_cast<int>(extents.size()), type, false, out) < 0) {
        add_traceback(qualname, where);
        return __Pyx_memviewslice{};
    }
    return out;
}

PyObject* view_to_python(const __Pyx_memviewslice& view, int ndim, const TypeInfo& type) {
    return slice_from_record(view, ndim, &type, converters_for(type));
}

int prepare_view_machinery(const char* qualified) {
    if (prepare_array_type(qualified) < 0 || prepare_enum_type(qualified) < 0 ||
        prepare_view_types(qualified) < 0) {
        return -1;
    }
    return 0;
}

int setup_view_machinery(PyObject* module) {
    if (setup_layout_constants(module) < 0) return -1;
    return allocate_lock_pool();
}

}  // namespace zalmor::frame
