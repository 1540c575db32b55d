// The module frame: one description per extension module drives the start-up
// that every module of the package shares (create and exec slots, guards,
// function table export, sibling binding, NumPy type checks).
#pragma once

#include <Python.h>

#include <span>

namespace zalmor::frame {

// One row of the module's own native function table.
struct ExportRow {
    const char* name;
    void* address;
    const char* signature;
};

// The ExportRow of one line of a module's list of rows in zalmor/capi.h
// (ZALMOR_PONDISTRA_ROWS(ZALMOR_EXPORT_ROW) and kin): the function `name` of
// the enclosing namespace, which must have the list's function-pointer type.
#define ZALMOR_EXPORT_ROW(name, type, ...) \
    ::zalmor::frame::ExportRow{#name, reinterpret_cast<void*>(static_cast<type>(&name)), ZALMOR_SIG(name)},

// One native function bound from a sibling module at import.
struct ImportRow {
    const char* name;
    void** slot;
    const char* signature;
};

struct SiblingImport {
    const char* module;  // fully qualified module name
    std::span<const ImportRow> rows;
};

struct ModuleDescription {
    const char* name;       // last name component, e.g. "brenthosca"
    const char* qualified;  // e.g. "zalmor.ops.brenthosca"
    const char* init_name;  // traceback entry of a failed exec, e.g. "init zalmor.ops.brenthosca"
    int* is_main;           // the module's exported is-main flag
    PyMethodDef* methods;   // null-terminated, or null for none
    std::span<const char* const> builtins;
    std::span<const ExportRow> exports;
    bool views;        // the module hands out typed views (array and view types)
    bool numpy_types;  // import NumPy's types with size checks
    std::span<const SiblingImport> siblings;
    // Module-level statements run after the bindings (e.g. binding `np`); may be null.
    int (*body)(PyObject* module);
};

// Prepares the module definition for multi-phase initialisation; the module's
// PyInit_* function returns this.
PyObject* module_init(const ModuleDescription& description);

// The module dictionary once the exec step has stored the module, else null.
// Borrowed.
PyObject* module_dict() noexcept;

// A new reference to the value of the global `name` (an interned text) as the
// module's own code sees it: the module's binding, else the builtin of that
// name, else null with NameError "name '<name>' is not defined".
PyObject* lookup_global(PyObject* name);

// Borrowed reference to the builtin `name` of the description's list, as the
// module looked it up at start-up; null for a name not in the list.
PyObject* builtin(const char* name) noexcept;

}  // namespace zalmor::frame
