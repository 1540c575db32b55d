// zalmor.ops.quillemora: matrix inverse and linear solve over NumPy and SciPy.
#include <Python.h>

#include "frame/module.h"
#include "frame/package_import.h"
#include "ops/quillemora/globals.h"
#include "ops/quillemora/inverse.h"
#include "zalmor/capi.h"

PyMODINIT_FUNC PyInit_quillemora(void);
extern "C" {
// Set non-zero by an embedding host before import to run the module as __main__.
__attribute__((visibility("default"))) int __pyx_module_is_main_zalmor__ops__quillemora = 0;
}

namespace zalmor::quillemora {
namespace {

const char* const kBuiltins[] = {"NotImplementedError", "ImportError"};

// The native function table, in registration order.
const frame::ExportRow kExports[] = {ZALMOR_QUILLEMORA_ROWS(ZALMOR_EXPORT_ROW)};

int body(PyObject* module) {
    if (make_names() < 0) return -1;
    if (frame::import_as_global(module, "numpy", "np") < 0) return -1;
    return frame::import_as_global(module, "scipy", "sp");
}

const frame::ModuleDescription kModule = {
    .name = "quillemora",
    .qualified = "zalmor.ops.quillemora",
    .init_name = "init zalmor.ops.quillemora",
    .is_main = &__pyx_module_is_main_zalmor__ops__quillemora,
    .methods = nullptr,
    .builtins = kBuiltins,
    .exports = kExports,
    .views = false,
    .numpy_types = true,
    .siblings = {},
    .body = &body,
};

}  // namespace
}  // namespace zalmor::quillemora

PyMODINIT_FUNC PyInit_quillemora(void) { return zalmor::frame::module_init(zalmor::quillemora::kModule); }
