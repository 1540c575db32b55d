#include "module.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <source_location>

#include "compat.h"
#include "errors.h"
#include "numpy_types.h"
#include "ref.h"
#include "version_check.h"
#include "view_record.h"
#include "zalmor/capi.h"

namespace zalmor::frame {
namespace {

// Process-wide state: a module of this package lives in one interpreter only.
constexpr std::size_t kMaxBuiltins = 16;

const ModuleDescription* g_description = nullptr;
PyModuleDef g_definition;
PyModuleDef_Slot g_slots[3];
PyObject* g_module = nullptr;  // owned once the exec step has stored it
PyObject* g_dict = nullptr;    // borrowed from g_module
PyObject* g_builtins_dict = nullptr;  // the builtins' namespace, for the life of the process
// Plain pointers on purpose: these references live as long as the process and
// must not be dropped by static destructors after the interpreter is gone.
std::array<PyObject*, kMaxBuiltins> g_builtins{};
std::int64_t g_interpreter_id = -1;

using Where = std::source_location;

// Records the place of a failure and reports it to the caller.
bool failed(Where& out, Where here = Where::current()) {
    out = here;
    return false;
}

int copy_spec_attribute(PyObject* spec, PyObject* dict, const char* from, const char* to,
                        bool copy_none) {
    Ref value = Ref::steal(PyObject_GetAttrString(spec, from));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        return 0;
    }
    if (value.get() == Py_None && !copy_none) return 0;
    return PyDict_SetItemString(dict, to, value.get());
}

PyObject* create_module(PyObject* spec, PyModuleDef*) {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (g_interpreter_id == -1) {
        g_interpreter_id = current;
        if (current == -1) return nullptr;
    } else if (current != g_interpreter_id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (g_module != nullptr) return Py_NewRef(g_module);

    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module) return nullptr;
    PyObject* dict = PyModule_GetDict(module.get());
    if (copy_spec_attribute(spec, dict, "loader", "__loader__", true) < 0 ||
        copy_spec_attribute(spec, dict, "origin", "__file__", true) < 0 ||
        copy_spec_attribute(spec, dict, "parent", "__package__", true) < 0 ||
        copy_spec_attribute(spec, dict, "submodule_search_locations", "__path__", false) < 0) {
        return nullptr;
    }
    return module.release();
}

// Warns when the running interpreter is not the one this module was built for.
// Returns -1 only when the warning was turned into an error.
int check_interpreter_version(const ModuleDescription& d) {
    const std::string built = build_version_text(PY_MAJOR_VERSION, PY_MINOR_VERSION);
    const char* running = Py_GetVersion();
    if (version_matches(built.c_str(), running)) return 0;
    const std::string message = version_mismatch_message(built.c_str(), d.qualified, running);
    return PyErr_WarnEx(nullptr, message.c_str(), 1);
}

int export_row(PyObject* module, const ExportRow& row) {
    Ref table = Ref::steal(PyObject_GetAttrString(module, "__pyx_capi__"));
    if (!table) {
        PyErr_Clear();
        table = Ref::steal(PyDict_New());
        if (!table || PyObject_SetAttrString(module, "__pyx_capi__", table.get()) < 0) return -1;
    }
    Ref capsule = Ref::steal(PyCapsule_New(row.address, row.signature, nullptr));
    if (!capsule) return -1;
    return PyDict_SetItemString(table.get(), row.name, capsule.get());
}

int bind_sibling(const SiblingImport& sibling) {
    Ref module = Ref::steal(PyImport_ImportModule(sibling.module));
    if (!module) return -1;
    for (const ImportRow& row : sibling.rows) {
        if (zalmor_capi_bind(module.get(), sibling.module, row.name, row.signature, row.slot) < 0)
            return -1;
    }
    return 0;
}

// Removes the entry `qualified` of sys.modules if it is still `module`, keeping
// the pending exception: a failed start-up leaves no half-made module behind
// for the next import to find.
void unregister(const char* qualified, PyObject* module) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyObject* registry = PyImport_GetModuleDict();  // borrowed
    PyObject* entry = PyDict_GetItemString(registry, qualified);  // borrowed
    if (entry == module && PyDict_DelItemString(registry, qualified) < 0) PyErr_Clear();
    PyErr_Restore(type, value, traceback);
}

// Steps of the exec slot after the version check. On failure returns false with
// the place of the failure in `where`; `registered` tells whether the module
// was added to sys.modules under its qualified name on the way.
bool run_exec(PyObject* module, const ModuleDescription& d, Where& where, bool& registered) {
    g_module = Py_NewRef(module);
    g_dict = PyModule_GetDict(module);

    PyObject* builtins = PyImport_AddModule("builtins");  // borrowed
    if (builtins == nullptr) return failed(where);
    if (g_builtins_dict == nullptr) g_builtins_dict = Py_NewRef(PyModule_GetDict(builtins));
    if (PyObject_SetAttrString(module, "__builtins__", builtins) < 0) return failed(where);

    if (d.is_main != nullptr && *d.is_main != 0) {
        Ref main_name = Ref::steal(PyUnicode_FromString("__main__"));
        if (!main_name || PyObject_SetAttrString(module, "__name__", main_name.get()) < 0)
            return failed(where);
    }

    PyObject* registry = PyImport_GetModuleDict();  // borrowed
    Ref qualified = Ref::steal(PyUnicode_FromString(d.qualified));
    if (!qualified) return failed(where);
    const int known = PyDict_Contains(registry, qualified.get());
    if (known < 0) return failed(where);
    if (!known) {
        if (PyDict_SetItem(registry, qualified.get(), module) < 0) return failed(where);
        registered = true;
    }

    if (d.builtins.size() > kMaxBuiltins) {
        PyErr_SetString(PyExc_SystemError, "too many builtins for the module frame");
        return failed(where);
    }
    for (std::size_t i = 0; i < d.builtins.size(); ++i) {
        Ref name = Ref::steal(PyUnicode_InternFromString(d.builtins[i]));
        if (!name) return failed(where);
        PyObject* value = PyObject_GetAttr(builtins, name.get());
        Py_XSETREF(g_builtins[i], value);
        if (value == nullptr) {
            if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.get());
            }
            return failed(where);
        }
    }

    // The table exists even while it is empty, so that a binder is told which
    // row is missing rather than that there is no table at all.
    if (d.exports.empty()) {
        Ref table = Ref::steal(PyDict_New());
        if (!table || PyObject_SetAttrString(module, "__pyx_capi__", table.get()) < 0)
            return failed(where);
    }
    for (const ExportRow& row : d.exports) {
        if (export_row(module, row) < 0) return failed(where);
    }

    if (d.views && prepare_view_machinery(d.qualified) < 0) return failed(where);
    if (d.numpy_types && import_numpy_types() < 0) return failed(where);
    for (const SiblingImport& sibling : d.siblings) {
        if (bind_sibling(sibling) < 0) return failed(where);
    }
    if (d.body != nullptr && d.body(module) < 0) return failed(where);

    Ref test = Ref::steal(PyDict_New());
    if (!test || PyObject_SetAttrString(module, "__test__", test.get()) < 0) return failed(where);
    if (d.views && setup_view_machinery(module) < 0) return failed(where);
    return true;
}

int exec_module(PyObject* module) {
    const ModuleDescription& d = *g_description;
    if (g_module != nullptr) {
        if (g_module == module) return 0;
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     d.name);
        return -1;
    }
    if (check_interpreter_version(d) < 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, d.init_name);
        return -1;
    }
    Where where;
    bool registered = false;
    if (run_exec(module, d, where, registered)) return 0;

    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, d.init_name);
    add_traceback(d.init_name, where);
    if (registered) unregister(d.qualified, module);
    g_dict = nullptr;
    Py_CLEAR(g_module);
    return -1;
}

}  // namespace

PyObject* module_init(const ModuleDescription& description) {
    g_description = &description;
    g_slots[0] = {Py_mod_create, reinterpret_cast<void*>(&create_module)};
    g_slots[1] = {Py_mod_exec, reinterpret_cast<void*>(&exec_module)};
    g_slots[2] = {0, nullptr};
    g_definition = {
        PyModuleDef_HEAD_INIT,
        description.name,
        nullptr,  // no doc string
        0,        // all state is process-wide
        description.methods,
        g_slots,
        nullptr,
        nullptr,
        nullptr,
    };
    return PyModuleDef_Init(&g_definition);
}

PyObject* module_dict() noexcept { return g_dict; }

PyObject* lookup_global(PyObject* name) {
    PyObject* value = g_dict != nullptr ? PyDict_GetItemWithError(g_dict, name) : nullptr;  // borrowed
    if (value == nullptr && !PyErr_Occurred() && g_builtins_dict != nullptr) {
        value = PyDict_GetItemWithError(g_builtins_dict, name);
    }
    if (value != nullptr) return Py_NewRef(value);
    if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return nullptr;
}

PyObject* builtin(const char* name) noexcept {
    const std::span<const char* const> names = g_description->builtins;
    for (std::size_t i = 0; i < names.size() && i < kMaxBuiltins; ++i) {
        if (std::strcmp(names[i], name) == 0) return g_builtins[i];
    }
    return nullptr;
}

}  // namespace zalmor::frame
