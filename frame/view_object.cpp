#include "view_object.h"

#include <array>
#include <cstring>
#include <string>

#include "array_object.h"
#include "buffer_check.h"
#include "buffer_format.h"
#include "compat.h"
#include "errors.h"
#include "ref.h"
#include "type_name.h"
#include "view_layout.h"

namespace zalmor::frame {

PyTypeObject* view_type = nullptr;
PyTypeObject* slice_type = nullptr;

namespace {

constexpr int kLockPoolSize = 8;
std::array<PyThread_type_lock, kLockPoolSize> g_locks{};
unsigned g_next_lock = 0;

PyThread_type_lock next_lock() noexcept {
    return g_locks[g_next_lock++ % kLockPoolSize];
}

// ---- plain view objects ---------------------------------------------------

void view_dealloc(PyObject* op) {
    auto* self = reinterpret_cast<ViewObject*>(op);
    if (self->obj != nullptr) {
        PyBuffer_Release(&self->view);  // drops the reference to the exporter
    }
    PyTypeObject* type = Py_TYPE(op);
    type->tp_free(op);
    Py_DECREF(type);
}

// Exports the held buffer (for slices, the slice's own description) following
// the host's memoryview rules. A request without PyBUF_ND gets the memory as
// one dimension of bytes, without shape, strides or format, which needs
// C-contiguous memory.
int view_getbuffer(PyObject* op, Py_buffer* out, int flags) {
    auto* self = reinterpret_cast<ViewObject*>(op);
    const Py_buffer& v = self->view;
    out->obj = nullptr;
    if ((flags & PyBUF_WRITABLE) && v.readonly) {
        PyErr_SetString(PyExc_ValueError, "Cannot create writable memory view from read-only memoryview");
        return -1;
    }
    Layout layout;
    if (buffer_layout(v, layout) < 0) return -1;
    const auto itemsize = static_cast<std::size_t>(v.itemsize);
    const bool c_contig = is_c_contiguous(layout, itemsize);
    const bool f_contig = is_f_contiguous(layout, itemsize);
    if ((flags & PyBUF_C_CONTIGUOUS) == PyBUF_C_CONTIGUOUS && !c_contig) {
        PyErr_SetString(PyExc_BufferError, "memoryview: underlying buffer is not C-contiguous");
        return -1;
    }
    if ((flags & PyBUF_F_CONTIGUOUS) == PyBUF_F_CONTIGUOUS && !f_contig) {
        PyErr_SetString(PyExc_BufferError, "memoryview: underlying buffer is not Fortran contiguous");
        return -1;
    }
    if ((flags & PyBUF_ANY_CONTIGUOUS) == PyBUF_ANY_CONTIGUOUS && !c_contig && !f_contig) {
        PyErr_SetString(PyExc_BufferError, "memoryview: underlying buffer is not contiguous");
        return -1;
    }
    if ((flags & PyBUF_STRIDES) != PyBUF_STRIDES && !c_contig) {
        PyErr_SetString(PyExc_BufferError, "memoryview: underlying buffer is not C-contiguous");
        return -1;
    }
    if (!(flags & PyBUF_ND) && (flags & PyBUF_FORMAT)) {
        PyErr_SetString(PyExc_BufferError,
                        "memoryview: cannot cast to unsigned bytes if the format flag is present");
        return -1;
    }
    Py_ssize_t* shape = v.shape;
    Py_ssize_t* strides = v.strides;
    if (shape == nullptr || strides == nullptr) {  // left out by the exporter
        for (int d = 0; d < layout.ndim; ++d) {
            self->full_shape[d] = layout.shape[d];
            self->full_strides[d] = layout.strides[d];
        }
        shape = self->full_shape;
        strides = self->full_strides;
    }
    *out = v;
    out->shape = (flags & PyBUF_ND) ? shape : nullptr;
    out->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? strides : nullptr;
    if (!(flags & PyBUF_ND)) out->ndim = 1;
    out->suboffsets = nullptr;
    out->format = (flags & PyBUF_FORMAT) ? v.format : nullptr;
    out->internal = nullptr;
    out->obj = Py_NewRef(op);
    return 0;
}

// ---- slice objects ----------------------------------------------------------

SliceObject* as_slice(PyObject* op) { return reinterpret_cast<SliceObject*>(op); }

Layout layout_of(const SliceObject* self) {
    Layout layout;
    layout.data = self->from_slice.data;
    layout.ndim = self->base.view.ndim;
    for (int d = 0; d < layout.ndim; ++d) {
        layout.shape[d] = self->from_slice.shape[d];
        layout.strides[d] = self->from_slice.strides[d];
    }
    return layout;
}

void slice_dealloc(PyObject* op) {
    SliceObject* self = as_slice(op);
    zalmor_view_release(&self->from_slice);
    Py_XDECREF(self->from_object);
    PyTypeObject* type = Py_TYPE(op);
    type->tp_free(op);
    Py_DECREF(type);
}

// A new slice object with the owner, base and element type of `self` over `layout`.
PyObject* sibling_slice(SliceObject* self, const Layout& layout) {
    __Pyx_memviewslice record = self->from_slice;
    record.data = layout.data;
    for (int d = 0; d < kMaxDims; ++d) {
        record.shape[d] = d < layout.ndim ? layout.shape[d] : 0;
        record.strides[d] = d < layout.ndim ? layout.strides[d] : 0;
        record.suboffsets[d] = -1;
    }
    return slice_from_record(record, layout.ndim, self->base.typeinfo, self->convert);
}

PyObject* tuple_of(const Py_ssize_t* values, int n) {
    Ref tuple = Ref::steal(PyTuple_New(n));
    if (!tuple) return nullptr;
    for (int i = 0; i < n; ++i) {
        PyObject* item = PyLong_FromSsize_t(values[i]);
        if (item == nullptr) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), i, item);
    }
    return tuple.release();
}

PyObject* get_base(PyObject* op, void*) { return Py_NewRef(as_slice(op)->from_object); }
PyObject* get_shape(PyObject* op, void*) {
    return tuple_of(as_slice(op)->from_slice.shape, as_slice(op)->base.view.ndim);
}
PyObject* get_strides(PyObject* op, void*) {
    return tuple_of(as_slice(op)->from_slice.strides, as_slice(op)->base.view.ndim);
}
PyObject* get_suboffsets(PyObject* op, void*) {
    Py_ssize_t minus_one[kMaxDims];
    for (Py_ssize_t& v : minus_one) v = -1;
    return tuple_of(minus_one, as_slice(op)->base.view.ndim);
}
PyObject* get_ndim(PyObject* op, void*) { return PyLong_FromLong(as_slice(op)->base.view.ndim); }
PyObject* get_itemsize(PyObject* op, void*) { return PyLong_FromSsize_t(as_slice(op)->base.view.itemsize); }
PyObject* get_size(PyObject* op, void*) { return PyLong_FromSsize_t(element_count(layout_of(as_slice(op)))); }
PyObject* get_nbytes(PyObject* op, void*) {
    return PyLong_FromSsize_t(element_count(layout_of(as_slice(op))) * as_slice(op)->base.view.itemsize);
}
PyObject* get_transpose(PyObject* op, void*) {
    SliceObject* self = as_slice(op);
    const Layout in = layout_of(self);
    Layout out = in;
    for (int d = 0; d < in.ndim; ++d) {
        out.shape[d] = in.shape[in.ndim - 1 - d];
        out.strides[d] = in.strides[in.ndim - 1 - d];
    }
    return sibling_slice(self, out);
}

PyGetSetDef slice_getset[] = {
    {"base", get_base, nullptr, nullptr, nullptr},
    {"shape", get_shape, nullptr, nullptr, nullptr},
    {"strides", get_strides, nullptr, nullptr, nullptr},
    {"suboffsets", get_suboffsets, nullptr, nullptr, nullptr},
    {"ndim", get_ndim, nullptr, nullptr, nullptr},
    {"itemsize", get_itemsize, nullptr, nullptr, nullptr},
    {"nbytes", get_nbytes, nullptr, nullptr, nullptr},
    {"size", get_size, nullptr, nullptr, nullptr},
    {"T", get_transpose, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// A contiguous copy in a new array, handed out as a new slice object.
PyObject* copy_in_order(SliceObject* self, bool fortran) {
    const Layout src = layout_of(self);
    const Py_buffer& v = self->base.view;
    // The array type has neither empty extents nor 0 dimensions: an empty
    // selection is copied into an array of one item, of which the copy's view
    // shows nothing, and a 0-dimensional one into an array of one item.
    Py_ssize_t extents[kMaxDims] = {1};
    for (int d = 0; d < src.ndim; ++d) extents[d] = src.shape[d] > 0 ? src.shape[d] : 1;
    const auto array_ndim = static_cast<std::size_t>(src.ndim > 0 ? src.ndim : 1);
    Ref array = Ref::steal(new_array({extents, array_ndim}, v.itemsize,
                                     v.format != nullptr ? v.format : "B", fortran));
    if (!array) return nullptr;
    auto* arr = reinterpret_cast<ArrayObject*>(array.get());
    Layout dst;
    dst.data = arr->data;
    dst.ndim = src.ndim;
    for (int d = 0; d < dst.ndim; ++d) dst.shape[d] = src.shape[d];
    contiguous_strides(dst, static_cast<std::size_t>(v.itemsize), fortran);
    copy_elements(src, dst, static_cast<std::size_t>(v.itemsize));

    Ref owner = Ref::steal(reinterpret_cast<PyObject*>(
        new_view_object(array.get(), PyBUF_RECORDS, self->base.typeinfo)));
    if (!owner) return nullptr;
    __Pyx_memviewslice record{};
    record.memview = reinterpret_cast<__pyx_memoryview_obj*>(owner.get());
    record.data = dst.data;
    for (int d = 0; d < kMaxDims; ++d) {
        record.shape[d] = d < dst.ndim ? dst.shape[d] : 0;
        record.strides[d] = d < dst.ndim ? dst.strides[d] : 0;
        record.suboffsets[d] = -1;
    }
    acquire(reinterpret_cast<ViewObject*>(owner.get()));
    PyObject* result = slice_from_record(record, dst.ndim, self->base.typeinfo, self->convert);
    zalmor_view_release(&record);
    return result;
}

PyObject* method_copy(PyObject* op, PyObject*) { return copy_in_order(as_slice(op), false); }
PyObject* method_copy_fortran(PyObject* op, PyObject*) { return copy_in_order(as_slice(op), true); }
PyObject* method_is_c_contig(PyObject* op, PyObject*) {
    return PyBool_FromLong(is_c_contiguous(layout_of(as_slice(op)), as_slice(op)->base.view.itemsize));
}
PyObject* method_is_f_contig(PyObject* op, PyObject*) {
    return PyBool_FromLong(is_f_contiguous(layout_of(as_slice(op)), as_slice(op)->base.view.itemsize));
}
PyObject* method_reduce(PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "no default __reduce__ due to non-trivial __cinit__");
    return nullptr;
}

PyMethodDef slice_methods[] = {
    {"copy", method_copy, METH_NOARGS, nullptr},
    {"copy_fortran", method_copy_fortran, METH_NOARGS, nullptr},
    {"is_c_contig", method_is_c_contig, METH_NOARGS, nullptr},
    {"is_f_contig", method_is_f_contig, METH_NOARGS, nullptr},
    {"__reduce__", method_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

Py_ssize_t slice_length(PyObject* op) {
    SliceObject* self = as_slice(op);
    if (self->base.view.ndim == 0) {
        PyErr_SetString(PyExc_TypeError, "0-dim memory has no length");
        return -1;
    }
    return self->from_slice.shape[0];
}

// Applies `key` to the slice's layout. Returns 0 and fills `out`/`scalar`, or
// -1 with an exception set.
int resolve_index(SliceObject* self, PyObject* key, Layout& out, bool& scalar) {
    Ref items_tuple = Ref::borrow(key);
    if (!PyTuple_Check(key)) {
        items_tuple = Ref::steal(PyTuple_Pack(1, key));
        if (!items_tuple) return -1;
    }
    const Py_ssize_t count = PyTuple_GET_SIZE(items_tuple.get());
    if (count > 2 * kMaxDims) {
        PyErr_SetString(PyExc_IndexError, "too many indices for memoryview");
        return -1;
    }
    IndexItem items[2 * kMaxDims];
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = PyTuple_GET_ITEM(items_tuple.get(), i);
        IndexItem& it = items[i];
        if (item == Py_Ellipsis) {
            it.kind = IndexItem::Kind::ellipsis;
        } else if (item == Py_None) {
            it.kind = IndexItem::Kind::new_axis;
        } else if (PySlice_Check(item)) {
            it.kind = IndexItem::Kind::slice;
            Py_ssize_t start, stop, step;  // None given as the host's extremes; huge values clipped
            if (PySlice_Unpack(item, &start, &stop, &step) == 0) {
                it.start = start;
                it.stop = stop;
                it.step = step;
            } else if (PyErr_ExceptionMatches(PyExc_ValueError)) {
                PyErr_Clear();
                it.step = 0;  // refused below, naming its axis
            } else {
                return -1;
            }
        } else if (PyIndex_Check(item)) {
            it.kind = IndexItem::Kind::integer;
            it.value = PyNumber_AsSsize_t(item, nullptr);  // clipped: still out of bounds
            if (it.value == -1 && PyErr_Occurred()) return -1;
        } else {
            PyErr_Format(PyExc_TypeError, "Cannot index with type '%s'", Py_TYPE(item)->tp_name);
            return -1;
        }
    }
    const IndexOutcome outcome = apply_index(layout_of(self), items, static_cast<int>(count), out);
    switch (outcome.failure) {
        case IndexFailure::none: break;
        case IndexFailure::out_of_bounds:
            PyErr_Format(PyExc_IndexError, "Index out of bounds (axis %d)", outcome.axis);
            return -1;
        case IndexFailure::zero_step:
            PyErr_Format(PyExc_ValueError, "Step may not be zero (axis %d)", outcome.axis);
            return -1;
        case IndexFailure::too_many_indices:
            PyErr_Format(PyExc_IndexError, "too many indices for memoryview: it is %d-dimensional",
                         self->base.view.ndim);
            return -1;
        case IndexFailure::too_many_dimensions:
            PyErr_Format(PyExc_ValueError, "the result would have more than %d dimensions", kMaxDims);
            return -1;
        case IndexFailure::several_ellipses:
            PyErr_SetString(PyExc_IndexError, "an index can only have a single ellipsis ('...')");
            return -1;
    }
    scalar = outcome.scalar;
    return 0;
}

PyObject* slice_subscript(PyObject* op, PyObject* key) {
    SliceObject* self = as_slice(op);
    Layout out;
    bool scalar = false;
    if (resolve_index(self, key, out, scalar) < 0) return nullptr;
    if (!scalar) return sibling_slice(self, out);
    if (self->convert.to_object == nullptr) {
        PyErr_SetString(PyExc_NotImplementedError, "no element conversion for this view's type");
        return nullptr;
    }
    return self->convert.to_object(out.data);
}

// Integer indexing as a sequence, which also makes the views iterable.
PyObject* slice_item(PyObject* op, Py_ssize_t i) {
    if (as_slice(op)->base.view.ndim == 0) {
        PyErr_SetString(PyExc_TypeError, "invalid indexing of 0-dim memory");
        return nullptr;
    }
    Ref index = Ref::steal(PyLong_FromSsize_t(i));
    return index ? slice_subscript(op, index.get()) : nullptr;
}

// Copies `src` into `dst`, broadcast as NumPy does, through a temporary when
// the two overlap.
int assign_layout(const Layout& src, const Layout& dst, std::size_t itemsize) {
    Layout aligned;
    const Broadcast b = broadcast_to(src, dst, aligned);
    if (!b.ok) {
        PyErr_Format(PyExc_ValueError, "got differing extents in dimension %d (got %zd and %zd)", b.axis,
                     static_cast<Py_ssize_t>(b.expected), static_cast<Py_ssize_t>(b.got));
        return -1;
    }
    if (!assign_elements(aligned, dst, itemsize)) {
        PyErr_NoMemory();
        return -1;
    }
    return 0;
}

// The layout of `value` when it is a view or exports a buffer of this slice's
// element type; `holder` keeps the memory alive. Returns 1 when found, 0 when
// `value` is to be taken as a scalar, -1 on error.
int source_layout(SliceObject* self, PyObject* value, Layout& src, Py_buffer& holder, bool& held) {
    held = false;
    if (PyObject_TypeCheck(value, slice_type)) {
        SliceObject* other = as_slice(value);
        if (other->base.view.itemsize != self->base.view.itemsize ||
            (other->base.typeinfo != nullptr && self->base.typeinfo != nullptr &&
             !same_element_type(*other->base.typeinfo, *self->base.typeinfo))) {
            PyErr_SetString(PyExc_ValueError, "cannot assign a view of a different element type");
            return -1;
        }
        src = layout_of(other);
        return 1;
    }
    if (!PyObject_CheckBuffer(value) || PyBytes_Check(value) || PyByteArray_Check(value)) return 0;
    if (PyObject_GetBuffer(value, &holder, PyBUF_RECORDS_RO) < 0) return -1;
    held = true;
    if (self->base.typeinfo != nullptr) {
        const std::string problem =
            check_buffer_format(holder.format != nullptr ? holder.format : "B", *self->base.typeinfo);
        if (!problem.empty()) {
            set_value_error(problem);
            return -1;
        }
    }
    if (holder.itemsize != self->base.view.itemsize) {
        PyErr_Format(PyExc_ValueError, "Item size of buffer (%zd) does not match the view's (%zd)",
                     holder.itemsize, self->base.view.itemsize);
        return -1;
    }
    if (holder.suboffsets != nullptr) {
        PyErr_SetString(PyExc_ValueError, "Indirect dimensions not supported");
        return -1;
    }
    return buffer_layout(holder, src) < 0 ? -1 : 1;
}

int slice_ass_subscript(PyObject* op, PyObject* key, PyObject* value) {
    SliceObject* self = as_slice(op);
    if (value == nullptr) {
        PyErr_SetString(PyExc_TypeError, "Cannot delete memoryview items");
        return -1;
    }
    if (self->base.view.readonly) {
        PyErr_SetString(PyExc_TypeError, "Cannot assign to read-only memoryview");
        return -1;
    }
    Layout dst;
    bool scalar = false;
    if (resolve_index(self, key, dst, scalar) < 0) return -1;
    if (self->convert.from_object == nullptr) {
        PyErr_SetString(PyExc_NotImplementedError, "no element conversion for this view's type");
        return -1;
    }
    const auto itemsize = static_cast<std::size_t>(self->base.view.itemsize);
    if (scalar) return self->convert.from_object(dst.data, value);

    Layout src;
    Py_buffer holder;
    bool held = false;
    const int found = source_layout(self, value, src, holder, held);
    int rc = -1;
    if (found > 0) {
        rc = assign_layout(src, dst, itemsize);
    } else if (found == 0) {
        // One value, converted once and repeated over the selection.
        alignas(16) char item[64];
        if (itemsize <= sizeof item && self->convert.from_object(item, value) == 0) {
            Layout one;
            one.data = item;
            rc = assign_layout(one, dst, itemsize);
        }
    }
    if (held) PyBuffer_Release(&holder);
    return rc;
}

PyObject* base_type_name(SliceObject* self) {
    return PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self->from_object)), "__name__");
}

PyObject* slice_repr(PyObject* op) {
    Ref name = Ref::steal(base_type_name(as_slice(op)));
    if (!name) return nullptr;
    return PyUnicode_FromFormat("<MemoryView of %R at %p>", name.get(), static_cast<void*>(op));
}

PyObject* slice_str(PyObject* op) {
    Ref name = Ref::steal(base_type_name(as_slice(op)));
    if (!name) return nullptr;
    return PyUnicode_FromFormat("<MemoryView of %R object>", name.get());
}

}  // namespace

int prepare_view_types(const char* qualified) {
    if (view_type != nullptr) return 0;  // kept from an earlier, failed start-up
    const char* view_name = type_name(qualified, "memoryview");
    const char* slice_name = type_name(qualified, "_memoryviewslice");
    if (view_name == nullptr || slice_name == nullptr) return -1;

    PyType_Slot view_slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&view_dealloc)},
        {Py_bf_getbuffer, reinterpret_cast<void*>(&view_getbuffer)},
        {0, nullptr},
    };
    PyType_Spec view_spec = {view_name, sizeof(ViewObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | kInternalTypeFlags, view_slots};
    Ref view = Ref::steal(PyType_FromSpec(&view_spec));
    if (!view) return -1;

    PyType_Slot slice_slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&slice_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(&slice_repr)},
        {Py_tp_str, reinterpret_cast<void*>(&slice_str)},
        {Py_tp_getset, slice_getset},
        {Py_tp_methods, slice_methods},
        {Py_mp_length, reinterpret_cast<void*>(&slice_length)},
        {Py_sq_length, reinterpret_cast<void*>(&slice_length)},
        {Py_mp_subscript, reinterpret_cast<void*>(&slice_subscript)},
        {Py_sq_item, reinterpret_cast<void*>(&slice_item)},
        {Py_mp_ass_subscript, reinterpret_cast<void*>(&slice_ass_subscript)},
        {Py_bf_getbuffer, reinterpret_cast<void*>(&view_getbuffer)},
        {0, nullptr},
    };
    PyType_Spec slice_spec = {slice_name, sizeof(SliceObject), 0, Py_TPFLAGS_DEFAULT | kInternalTypeFlags,
                              slice_slots};
    Ref bases = Ref::steal(PyTuple_Pack(1, view.get()));
    if (!bases) return -1;
    Ref slice = Ref::steal(PyType_FromSpecWithBases(&slice_spec, bases.get()));
    if (!slice) return -1;
    view_type = reinterpret_cast<PyTypeObject*>(view.release());
    slice_type = reinterpret_cast<PyTypeObject*>(slice.release());
    // Only the module makes these objects.
    forbid_instantiation(view_type);
    forbid_instantiation(slice_type);
    return 0;
}

int allocate_lock_pool() {
    for (PyThread_type_lock& lock : g_locks) {
        if (lock != nullptr) continue;
        lock = PyThread_allocate_lock();
        if (lock == nullptr) {
            PyErr_SetString(PyExc_MemoryError, "unable to allocate the view locks");
            return -1;
        }
    }
    return 0;
}

ViewObject* new_view_object(PyObject* obj, int flags, const TypeInfo* typeinfo) {
    auto* self = reinterpret_cast<ViewObject*>(view_type->tp_alloc(view_type, 0));
    if (self == nullptr) return nullptr;
    // Our own arrays are read directly, as their buffer protocol would.
    const bool ours = Py_IS_TYPE(obj, array_type);
    if (ours ? export_array(obj, &self->view, flags) < 0 : PyObject_GetBuffer(obj, &self->view, flags) < 0) {
        self->view.obj = nullptr;
        Py_DECREF(reinterpret_cast<PyObject*>(self));
        return nullptr;
    }
    if (ours) self->view.obj = Py_NewRef(obj);
    self->obj = self->view.obj;  // the buffer holds the reference
    self->flags = flags;
    self->lock = next_lock();
    self->typeinfo = typeinfo;
    self->dtype_is_object = self->view.format != nullptr && std::strcmp(self->view.format, "O") == 0;
    return self;
}

void acquire(ViewObject* view) noexcept {
    if (__atomic_fetch_add(&view->head.acquisition_count, 1, __ATOMIC_ACQ_REL) == 0) {
        Py_INCREF(reinterpret_cast<PyObject*>(view));
    }
}

PyObject* slice_from_record(const __Pyx_memviewslice& record, int ndim, const TypeInfo* typeinfo,
                            ElementConverters convert) {
    PyObject* owner_object = reinterpret_cast<PyObject*>(record.memview);
    if (owner_object == Py_None) Py_RETURN_NONE;
    auto* owner = reinterpret_cast<ViewObject*>(owner_object);
    auto* self = reinterpret_cast<SliceObject*>(slice_type->tp_alloc(slice_type, 0));
    if (self == nullptr) return nullptr;

    self->from_slice = record;
    acquire(owner);
    self->from_object = Py_NewRef(PyObject_TypeCheck(owner_object, slice_type)
                                      ? reinterpret_cast<SliceObject*>(owner)->from_object
                                      : owner->obj);
    self->convert = convert;

    Py_buffer& v = self->base.view;
    v.buf = record.data;
    v.obj = nullptr;
    v.ndim = ndim;
    v.shape = self->from_slice.shape;
    v.strides = self->from_slice.strides;
    v.suboffsets = nullptr;
    v.itemsize = owner->view.itemsize;
    v.format = owner->view.format;
    v.readonly = owner->view.readonly;
    Py_ssize_t count = 1;
    for (int d = 0; d < ndim; ++d) count *= record.shape[d];
    v.len = count * v.itemsize;
    self->base.flags = PyBUF_RECORDS_RO | (owner->view.readonly ? 0 : PyBUF_WRITABLE);
    self->base.typeinfo = typeinfo;
    self->base.dtype_is_object = owner->dtype_is_object;
    self->base.lock = next_lock();
    return reinterpret_cast<PyObject*>(self);
}

}  // namespace zalmor::frame
