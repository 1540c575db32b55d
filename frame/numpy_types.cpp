#include "numpy_types.h"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NO_IMPORT_ARRAY
#define NO_IMPORT_UFUNC
#define PY_ARRAY_UNIQUE_SYMBOL zalmor_frame_numpy_array_api_unused
#define PY_UFUNC_UNIQUE_SYMBOL zalmor_frame_numpy_ufunc_api_unused
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>

#include <cstdio>
#include <string_view>

#include "ref.h"

namespace zalmor::frame {
namespace {

enum class SizeCheck { warn, ignore };

struct TypeSpec {
    int module;  // 0: builtins, 1: numpy
    const char* name;
    Py_ssize_t expected;
    SizeCheck check;
};

// Expected sizes come from the headers of the build, so that a NumPy and an
// interpreter matching them import without a word.
const TypeSpec kTypes[] = {
    {0, "type", sizeof(PyHeapTypeObject), SizeCheck::warn},
    {1, "dtype", sizeof(PyArray_Descr), SizeCheck::ignore},
    {1, "flatiter", sizeof(PyArrayIterObject), SizeCheck::ignore},
    {1, "broadcast", sizeof(PyArrayMultiIterObject), SizeCheck::ignore},
    {1, "ndarray", sizeof(PyArrayObject_fields), SizeCheck::ignore},
    {1, "generic", sizeof(PyObject), SizeCheck::warn},
    {1, "number", sizeof(PyObject), SizeCheck::warn},
    {1, "integer", sizeof(PyObject), SizeCheck::warn},
    {1, "signedinteger", sizeof(PyObject), SizeCheck::warn},
    {1, "unsignedinteger", sizeof(PyObject), SizeCheck::warn},
    {1, "inexact", sizeof(PyObject), SizeCheck::warn},
    {1, "floating", sizeof(PyObject), SizeCheck::warn},
    {1, "complexfloating", sizeof(PyObject), SizeCheck::warn},
    {1, "flexible", sizeof(PyObject), SizeCheck::warn},
    {1, "character", sizeof(PyObject), SizeCheck::warn},
    {1, "ufunc", sizeof(PyUFuncObject), SizeCheck::ignore},
};
const char* const kModules[] = {"builtins", "numpy"};

PyTypeObject* g_ndarray = nullptr;

// Returns a new reference to the checked type, or null with an exception set.
PyObject* import_type(PyObject* module, const TypeSpec& spec) {
    const char* module_name = kModules[spec.module];
    Ref result = Ref::steal(PyObject_GetAttrString(module, spec.name));
    if (!result) return nullptr;
    if (!PyType_Check(result.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name,
                     spec.name);
        return nullptr;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(result.get());
    const Py_ssize_t basic = type->tp_basicsize;
    Py_ssize_t item = type->tp_itemsize;
    if (item != 0 && item < static_cast<Py_ssize_t>(sizeof(void*))) item = sizeof(void*);
    if (spec.expected > basic + item) {
        PyErr_Format(PyExc_ValueError,
                     "%.200s.%.200s size changed, may indicate binary incompatibility. "
                     "Expected %zd from C header, got %zd from PyObject",
                     module_name, spec.name, spec.expected, basic);
        return nullptr;
    }
    if (spec.check == SizeCheck::warn && basic > spec.expected) {
        char warning[200];
        std::snprintf(warning, sizeof warning,
                      "%s.%s size changed, may indicate binary incompatibility. "
                      "Expected %zd from C header, got %zd from PyObject",
                      module_name, spec.name, spec.expected, basic);
        if (PyErr_WarnEx(PyExc_RuntimeWarning, warning, 0) < 0) return nullptr;
    }
    return result.release();
}

}  // namespace

int import_numpy_types() {
    Ref modules[2];
    for (int i = 0; i < 2; ++i) {
        modules[i] = Ref::steal(PyImport_ImportModule(kModules[i]));
        if (!modules[i]) return -1;
    }
    for (const TypeSpec& spec : kTypes) {
        Ref type = Ref::steal(import_type(modules[spec.module].get(), spec));
        if (!type) return -1;
        if (spec.module == 1 && std::string_view(spec.name) == "ndarray") {
            // Kept for the life of the process: the module is never unloaded.
            Py_XDECREF(reinterpret_cast<PyObject*>(g_ndarray));
            g_ndarray = reinterpret_cast<PyTypeObject*>(type.release());
        }
    }
    return 0;
}

PyTypeObject* ndarray_type() noexcept { return g_ndarray; }

}  // namespace zalmor::frame
