// zalmor.ops.brenthosca: vector kernels published through the native table.
#include <Python.h>

#include "frame/module.h"
#include "ops/brenthosca/equality_rows.h"
#include "ops/brenthosca/extreme_rows.h"
#include "ops/brenthosca/map_rows.h"
#include "ops/brenthosca/ordering_rows.h"
#include "ops/brenthosca/reduction_rows.h"
#include "ops/brenthosca/siblings.h"

PyMODINIT_FUNC PyInit_brenthosca(void);
extern "C" {
// Set non-zero by an embedding host before import to run the module as __main__.
__attribute__((visibility("default"))) int __pyx_module_is_main_zalmor__ops__brenthosca = 0;
}

namespace zalmor::brenthosca {

zalmor_isclose_t isclose = nullptr;
zalmor_cisclose_t cisclose = nullptr;

namespace {

const char* const kBuiltins[] = {"range",     "ValueError", "MemoryError", "enumerate",
                                 "TypeError", "Ellipsis",   "id",          "IndexError"};

// The list of zalmor/capi.h, in its order; a typed row __pyx_fuse_<k><family>
// is the instance <family>_row<element>.
#define ZALMOR_EXPORT_FUSED(name, family, type, element, ...) \
    frame::ExportRow{#name, reinterpret_cast<void*>(static_cast<type>(&family##_row<element>)), ZALMOR_SIG(name)},
const frame::ExportRow kExports[] = {ZALMOR_BRENTHOSCA_ROWS(ZALMOR_EXPORT_ROW, ZALMOR_EXPORT_FUSED)};
#undef ZALMOR_EXPORT_FUSED

const frame::ImportRow kHemvarinto[] = {
    {"isclose", reinterpret_cast<void**>(&isclose), ZALMOR_SIG_isclose},
    {"cisclose", reinterpret_cast<void**>(&cisclose), ZALMOR_SIG_cisclose},
};
const frame::SiblingImport kSiblings[] = {{ZALMOR_MODULE_hemvarinto, kHemvarinto}};

const frame::ModuleDescription kModule = {
    .name = "brenthosca",
    .qualified = "zalmor.ops.brenthosca",
    .init_name = "init zalmor.ops.brenthosca",
    .is_main = &__pyx_module_is_main_zalmor__ops__brenthosca,
    .methods = nullptr,
    .builtins = kBuiltins,
    .exports = kExports,
    .views = true,
    .numpy_types = false,
    .siblings = kSiblings,
    .body = nullptr,
};

}  // namespace
}  // namespace zalmor::brenthosca

PyMODINIT_FUNC PyInit_brenthosca(void) { return zalmor::frame::module_init(zalmor::brenthosca::kModule); }
