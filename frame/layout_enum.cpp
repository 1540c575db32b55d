#include "layout_enum.h"

#include <array>

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

// Identifies the pickled state layout (one field: the name).
constexpr unsigned long kStateChecksum = 0x5a4c4e31UL;

const char* const kLayoutNames[] = {
    "<strided and direct or indirect>", "<strided and direct>", "<strided and indirect>",
    "<contiguous and direct>", "<contiguous and indirect>",
};

PyObject* enum_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"name", nullptr};
    PyObject* name = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:Enum", const_cast<char**>(keywords), &name))
        return nullptr;
    auto* self = reinterpret_cast<EnumObject*>(type->tp_alloc(type, 0));
    if (self == nullptr) return nullptr;
    self->name = Py_NewRef(name);
    return reinterpret_cast<PyObject*>(self);
}

void enum_dealloc(PyObject* op) {
    Py_XDECREF(reinterpret_cast<EnumObject*>(op)->name);
    PyTypeObject* type = Py_TYPE(op);
    type->tp_free(op);
    Py_DECREF(type);
}

PyObject* enum_repr(PyObject* op) {
    PyObject* name = reinterpret_cast<EnumObject*>(op)->name;
    return PyObject_Str(name);
}

PyObject* enum_reduce(PyObject* op, PyObject*) {
    auto* self = reinterpret_cast<EnumObject*>(op);
    if (g_unpickle == nullptr) {
        PyErr_SetString(PyExc_TypeError, "the module is not initialised");
        return nullptr;
    }
    return Py_BuildValue("(O(Ok(O)))", g_unpickle, reinterpret_cast<PyObject*>(Py_TYPE(op)),
                         kStateChecksum, self->name);
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

PyObject* enum_get_name(PyObject* op, void*) { return Py_NewRef(reinterpret_cast<EnumObject*>(op)->name); }

PyMethodDef enum_methods[] = {
    {"__reduce__", enum_reduce, METH_NOARGS, nullptr},
    {"__setstate__", enum_setstate, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef enum_getset[] = {
    {"name", enum_get_name, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// __pyx_unpickle_Enum(type, checksum, state): rebuilds a pickled constant.
PyObject* unpickle_enum(PyObject*, PyObject* args) {
    PyObject* type;
    unsigned long checksum;
    PyObject* state;
    if (!PyArg_ParseTuple(args, "Ok O:__pyx_unpickle_Enum", &type, &checksum, &state)) return nullptr;
    if (checksum != kStateChecksum) {
        Ref pickle = Ref::steal(PyImport_ImportModule("pickle"));
        if (!pickle) return nullptr;
        Ref error = Ref::steal(PyObject_GetAttrString(pickle.get(), "PickleError"));
        if (!error) return nullptr;
        PyErr_Format(error.get(), "Incompatible checksums (0x%lx vs (0x%lx) = (name))", checksum,
                     kStateChecksum);
        return nullptr;
    }
    if (!PyType_Check(type) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type), g_enum_type)) {
        PyErr_SetString(PyExc_TypeError, "__pyx_unpickle_Enum expects the Enum type");
        return nullptr;
    }
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!empty) return nullptr;
    Ref result = Ref::steal(enum_new(reinterpret_cast<PyTypeObject*>(type), empty.get(), nullptr));
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
        {Py_tp_new, reinterpret_cast<void*>(&enum_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&enum_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(&enum_repr)},
        {Py_tp_methods, enum_methods},
        {Py_tp_getset, enum_getset},
        {0, nullptr},
    };
    PyType_Spec spec = {name, sizeof(EnumObject), 0, Py_TPFLAGS_DEFAULT, slots};
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) return -1;
    g_enum_type = reinterpret_cast<PyTypeObject*>(type);
    return 0;
}

int setup_layout_constants(PyObject* module) {
    for (std::size_t i = 0; i < g_constants.size(); ++i) {
        if (g_constants[i] != nullptr) continue;
        Ref args = Ref::steal(Py_BuildValue("(s)", kLayoutNames[i]));
        if (!args) return -1;
        g_constants[i] = enum_new(g_enum_type, args.get(), nullptr);
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
