#include "package_import.h"

#include "ref.h"

namespace zalmor::frame {

int import_as_global(PyObject* module, const char* package, const char* name) {
    Ref package_name = Ref::steal(PyUnicode_FromString(package));
    Ref locals = Ref::steal(PyDict_New());
    Ref from_list = Ref::steal(PyList_New(0));
    if (!package_name || !locals || !from_list) return -1;
    Ref imported = Ref::steal(PyImport_ImportModuleLevelObject(
        package_name.get(), PyModule_GetDict(module), locals.get(), from_list.get(), 0));
    if (!imported) return -1;
    return PyDict_SetItemString(PyModule_GetDict(module), name, imported.get());
}

}  // namespace zalmor::frame
