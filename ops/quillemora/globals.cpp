#include "ops/quillemora/globals.h"

#include "frame/module.h"
#include "frame/ref.h"

namespace zalmor::quillemora {

Names names{};

namespace {

int intern(PyObject*& slot, const char* text) {
    if (slot == nullptr) slot = PyUnicode_InternFromString(text);
    return slot != nullptr ? 0 : -1;
}

}  // namespace

int make_names() {
    if (names.one == nullptr && (names.one = PyLong_FromLong(1)) == nullptr) return -1;
    if (names.zero == nullptr && (names.zero = PyLong_FromLong(0)) == nullptr) return -1;
    if (intern(names.np, "np") < 0 || intern(names.sp, "sp") < 0 || intern(names.linalg, "linalg") < 0 ||
        intern(names.cond, "cond") < 0 || intern(names.finfo, "finfo") < 0 ||
        intern(names.dtype, "dtype") < 0 || intern(names.eps, "eps") < 0 || intern(names.eye, "eye") < 0 ||
        intern(names.dot, "dot") < 0 || intern(names.inv, "inv") < 0 || intern(names.solve, "solve") < 0 ||
        intern(names.lu_factor, "lu_factor") < 0 || intern(names.lu_solve, "lu_solve") < 0 ||
        intern(names.pinv, "pinv") < 0 || intern(names.lstsq, "lstsq") < 0) {
        return -1;
    }
    return 0;
}

PyObject* global_attr(PyObject* global, PyObject* first, PyObject* second) {
    frame::Ref owner = frame::Ref::steal(lookup_global(global));
    if (!owner) return nullptr;
    frame::Ref middle = frame::Ref::steal(PyObject_GetAttr(owner.get(), first));
    if (!middle) return nullptr;
    return PyObject_GetAttr(middle.get(), second);
}

}  // namespace zalmor::quillemora
