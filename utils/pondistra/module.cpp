// zalmor.utils.pondistra: the cartesian product of integer ranges.
#include <Python.h>

#include "frame/module.h"
#include "frame/package_import.h"
#include "frame/ref.h"
#include "utils/pondistra/bound_prod.h"
#include "utils/pondistra/product.h"

PyMODINIT_FUNC PyInit_pondistra(void);
extern "C" {
// Set non-zero by an embedding host before import to run the module as __main__.
__attribute__((visibility("default"))) int __pyx_module_is_main_zalmor__utils__pondistra = 0;
}

namespace zalmor::pondistra {

BoundProd bound_prod;

namespace {

const char* const kBuiltins[] = {"range",     "ImportError", "ValueError", "MemoryError", "enumerate",
                                 "TypeError", "Ellipsis",    "id",         "IndexError"};

PyMethodDef kMethods[] = {
    {"product", reinterpret_cast<PyCFunction>(&product_python), METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

const frame::ExportRow kExports[] = {ZALMOR_PONDISTRA_ROWS(ZALMOR_EXPORT_ROW)};

#define ZALMOR_PROD_ROW(k, field)                                                                  \
    {"__pyx_fuse_" #k "prod", reinterpret_cast<void**>(&bound_prod.field),                         \
     ZALMOR_SIG___pyx_fuse_##k##prod}

const frame::ImportRow kBrenthosca[] = {
    ZALMOR_PROD_ROW(0, i32), ZALMOR_PROD_ROW(1, u32), ZALMOR_PROD_ROW(2, i64),
    ZALMOR_PROD_ROW(3, u64), ZALMOR_PROD_ROW(4, f32), ZALMOR_PROD_ROW(5, f64),
    ZALMOR_PROD_ROW(6, c128),
};
#undef ZALMOR_PROD_ROW

const frame::SiblingImport kSiblings[] = {{ZALMOR_MODULE_brenthosca, kBrenthosca}};

int body(PyObject* module) {
    if (frame::import_as_global(module, "numpy", "np") < 0) return -1;
    frame::Ref all = frame::Ref::steal(Py_BuildValue("[s]", "product"));
    if (!all) return -1;
    return PyDict_SetItemString(PyModule_GetDict(module), "__all__", all.get());
}

const frame::ModuleDescription kModule = {
    .name = "pondistra",
    .qualified = "zalmor.utils.pondistra",
    .init_name = "init zalmor.utils.pondistra",
    .is_main = &__pyx_module_is_main_zalmor__utils__pondistra,
    .methods = kMethods,
    .builtins = kBuiltins,
    .exports = kExports,
    .views = true,
    .numpy_types = true,
    .siblings = kSiblings,
    .body = &body,
};

}  // namespace
}  // namespace zalmor::pondistra

PyMODINIT_FUNC PyInit_pondistra(void) { return zalmor::frame::module_init(zalmor::pondistra::kModule); }
