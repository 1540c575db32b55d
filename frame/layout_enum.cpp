#include "layout_enum.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "compat.h"
#include "ref.h"
#include "type_name.h"

namespace zalmor::frame {
namespace {

struct EnumObject {
    PyObject_HEAD
    PyObject* name;
};

PyTypeObject* g_enum_type = nullptr;
// Process-lifetime constants, never dropped by static destructors.
std::array<PyObject*, 5> g_constants{};
PyObject* g_unpickle = nullptr;

// Checksums of the pickled state's layout (one field, `name`): CRC-32,
// Adler-32 and FNV-1a of the field list. A pickle may carry any of them;
// __reduce__ writes the first.
constexpr std::array<unsigned long, 3> kStateChecksums = {0x5e237e06UL, 0x041e01a2UL, 0x8d39bde6UL};

const char* const kLayoutNames[] = {
    "<strided and direct or indirect>", "<strided and direct>", "<strided and indirect>",
    "<contiguous and direct>", "<contiguous and indirect>",
};

// The type refuses calls from Python; constants are made here only.
PyObject* make_enum(PyTypeObject* type, PyObject* name) {
    auto* self = PyObject_GC_New(EnumObject, type);
    if (self == nullptr) return nullptr;
    self->name = Py_NewRef(name);
    PyObject_GC_Track(self);
    return reinterpret_cast<PyObject*>(self);
}

// The name may be any object (a pickle's state sets it), so the type takes
// part in garbage collection.
int enum_traverse(PyObject* op, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<EnumObject*>(op)->name);
    Py_VISIT(Py_TYPE(op));
    return 0;
}

int enum_clear(PyObject* op) {
    Py_CLEAR(reinterpret_cast<EnumObject*>(op)->name);
    return 0;
}

void enum_dealloc(PyObject* op) {
    PyObject_GC_UnTrack(op);
    enum_clear(op);
    PyTypeObject* type = Py_TYPE(op);
    type->tp_free(op);
    Py_DECREF(type);
}

PyObject* enum_repr(PyObject* op) {
    PyObject* name = reinterpret_cast<EnumObject*>(op)->name;
    return name != nullptr ? PyObject_Str(name) : PyUnicode_FromString("<cleared>");
}

PyObject* name_or_none(PyObject* op) {
    PyObject* name = reinterpret_cast<EnumObject*>(op)->name;
    return Py_NewRef(name != nullptr ? name : Py_None);
}

// A constant pickles as __pyx_unpickle_Enum(type, checksum, state). The type
// is not in the module namespace, where pickle would look for it, so the
// pickle names it by its full name instead.
PyObject* enum_reduce(PyObject* op, PyObject*) {
    if (g_unpickle == nullptr) {
        PyErr_SetString(PyExc_TypeError, "the module is not initialised");
        return nullptr;
    }
    Ref name = Ref::steal(name_or_none(op));
    return Py_BuildValue("(O(sk(O)))", g_unpickle, Py_TYPE(op)->tp_name, kStateChecksums[0], name.get());
}

PyObject* enum_setstate(PyObject* op, PyObject* state) {
    auto* self = reinterpret_cast<EnumObject*>(op);
    if (!PyTuple_Check(state) || PyTuple_GET_SIZE(state) < 1) {
        PyErr_SetString(PyExc_TypeError, "Enum state must be a tuple holding the name");
        return nullptr;
    }
    Py_XSETREF(self->name, Py_NewRef(PyTuple_GET_ITEM(state, 0)));
    Py_RETURN_NONE;
}

PyObject* enum_get_name(PyObject* op, void*) { return name_or_none(op); }

PyMethodDef enum_methods[] = {
    {"__reduce__", enum_reduce, METH_NOARGS, nullptr},
    {"__setstate__", enum_setstate, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef enum_getset[] = {
    {"name", enum_get_name, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// __pyx_unpickle_Enum(type, checksum, state): rebuilds a pickled constant;
// `type` is the Enum type or its full name.
PyObject* unpickle_enum(PyObject*, PyObject* args) {
    PyObject* type;
    unsigned long checksum;
    PyObject* state;
    if (!PyArg_ParseTuple(args, "OkO:__pyx_unpickle_Enum", &type, &checksum, &state)) return nullptr;
    if (std::find(kStateChecksums.begin(), kStateChecksums.end(), checksum) == kStateChecksums.end()) {
        Ref pickle = Ref::steal(PyImport_ImportModule("pickle"));
        if (!pickle) return nullptr;
        Ref error = Ref::steal(PyObject_GetAttrString(pickle.get(), "PickleError"));
        if (!error) return nullptr;
        char message[128];  // the host's formatter knows no %lx
        std::snprintf(message, sizeof message, "Incompatible checksums (0x%lx vs (0x%lx, 0x%lx, 0x%lx) = (name))",
                      checksum, kStateChecksums[0], kStateChecksums[1], kStateChecksums[2]);
        PyErr_SetString(error.get(), message);
        return nullptr;
    }
    if (PyUnicode_Check(type) && PyUnicode_CompareWithASCIIString(type, g_enum_type->tp_name) == 0) {
        type = reinterpret_cast<PyObject*>(g_enum_type);
    }
    if (!PyType_Check(type) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type), g_enum_type)) {
        PyErr_SetString(PyExc_TypeError, "__pyx_unpickle_Enum expects the Enum type");
        return nullptr;
    }
    Ref result = Ref::steal(make_enum(reinterpret_cast<PyTypeObject*>(type), Py_None));
    if (!result) return nullptr;
    if (state != Py_None) {
        Ref done = Ref::steal(enum_setstate(result.get(), state));
        if (!done) return nullptr;
    }
    return result.release();
}

PyMethodDef g_unpickle_def = {"__pyx_unpickle_Enum", unpickle_enum, METH_VARARGS, nullptr};

}  // namespace

int prepare_enum_type(const char* qualified) {
    if (g_enum_type != nullptr) return 0;
    const char* name = type_name(qualified, "Enum");
    if (name == nullptr) return -1;
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&enum_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(&enum_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(&enum_clear)},
        {Py_tp_repr, reinterpret_cast<void*>(&enum_repr)},
        {Py_tp_methods, enum_methods},
        {Py_tp_getset, enum_getset},
        {0, nullptr},
    };
    PyType_Spec spec = {name, sizeof(EnumObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | kInternalTypeFlags, slots};
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) return -1;
    g_enum_type = reinterpret_cast<PyTypeObject*>(type);
    forbid_instantiation(g_enum_type);
    return 0;
}

int setup_layout_constants(PyObject* module) {
    for (std::size_t i = 0; i < g_constants.size(); ++i) {
        if (g_constants[i] != nullptr) continue;
        Ref name = Ref::steal(PyUnicode_FromString(kLayoutNames[i]));
        if (!name) return -1;
        g_constants[i] = make_enum(g_enum_type, name.get());
        if (g_constants[i] == nullptr) return -1;
    }
    Ref module_name = Ref::steal(PyObject_GetAttrString(module, "__name__"));
    if (!module_name) return -1;
    Ref function = Ref::steal(PyCFunction_NewEx(&g_unpickle_def, nullptr, module_name.get()));
    if (!function) return -1;
    Py_XSETREF(g_unpickle, Py_NewRef(function.get()));
    return PyObject_SetAttrString(module, "__pyx_unpickle_Enum", function.get());
}

}  // namespace zalmor::frame
