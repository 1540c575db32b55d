// The module's internal types: their names, and the rule that only the module
// itself makes their objects.
#pragma once

#include <Python.h>

namespace zalmor::frame {

// "<qualified>.<name>" in static storage, which outlives every type (some
// interpreters keep the pointer a type is made with). Null with MemoryError
// set when the storage is used up.
const char* type_name(const char* qualified, const char* name);

// Flags for the spec of an internal type: where the interpreter knows it, the
// flag that refuses calls of the type.
#ifdef Py_TPFLAGS_DISALLOW_INSTANTIATION
inline constexpr unsigned long kInternalTypeFlags = Py_TPFLAGS_DISALLOW_INSTANTIATION;
#else
inline constexpr unsigned long kInternalTypeFlags = 0;
#endif

// Makes a type made from a spec without a Py_tp_new slot impossible to call
// from Python, also on interpreters without that flag: `T()`, `T.__new__(T)`
// and `object.__new__(T)` all raise TypeError. (A type that had a Py_tp_new
// slot keeps a `__new__` wrapper that would call through the cleared slot, so
// internal types never have one.)
inline void forbid_instantiation(PyTypeObject* type) noexcept {
    type->tp_new = nullptr;
    PyType_Modified(type);
}

}  // namespace zalmor::frame
