// zalmor.ops.brenthosca: vector kernels published through the native table.
#include <Python.h>

#include "frame/module.h"
#include "ops/brenthosca/equality.h"
#include "ops/brenthosca/extremes.h"
#include "ops/brenthosca/map_rows.h"
#include "ops/brenthosca/ordering_rows.h"
#include "ops/brenthosca/reductions.h"
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

template <class F>
void* address(F* f) {
    return reinterpret_cast<void*>(f);
}

const char* const kBuiltins[] = {"range",     "ValueError", "MemoryError", "enumerate",
                                 "TypeError", "Ellipsis",   "id",          "IndexError"};

// In table order; rows appear as their kernels exist.
const frame::ExportRow kExports[] = {
    {"cequal", address(&cequal), ZALMOR_SIG_cequal},
    {"allclose", address(&allclose), ZALMOR_SIG_allclose},
    {"callclose", address(&callclose), ZALMOR_SIG_callclose},
    {"anyclose", address(&anyclose), ZALMOR_SIG_anyclose},
    {"canyclose", address(&canyclose), ZALMOR_SIG_canyclose},
    {"sign", address(&sign), ZALMOR_SIG_sign},
    {"csign", address(&csign), ZALMOR_SIG_csign},
    {"fabs", address(&fabs), ZALMOR_SIG_fabs},
    {"cabs", address(&cabs), ZALMOR_SIG_cabs},
    {"width", address(&width), ZALMOR_SIG_width},
    {"cwidth", address(&cwidth), ZALMOR_SIG_cwidth},
    {"sqrt", address(&sqrt), ZALMOR_SIG_sqrt},
    {"csqrt", address(&csqrt), ZALMOR_SIG_csqrt},
    {"norm", address(&norm), ZALMOR_SIG_norm},
    {"cnorm", address(&cnorm), ZALMOR_SIG_cnorm},
    {"permute", address(&permute), ZALMOR_SIG_permute},
    {"cprod", address(&cprod), ZALMOR_SIG_cprod},
    {"mean", address(&mean), ZALMOR_SIG_mean},
    {"min", address(&min), ZALMOR_SIG_min},
    {"max", address(&max), ZALMOR_SIG_max},
    {"argmin", address(&argmin), ZALMOR_SIG_argmin},
    {"argmax", address(&argmax), ZALMOR_SIG_argmax},
    {"argminmax", address(&argminmax), ZALMOR_SIG_argminmax},
    {"sort", address(&sort), ZALMOR_SIG_sort},
    {"argsort", address(&argsort), ZALMOR_SIG_argsort},
    {"__pyx_fuse_0equal", address(&equal_row<std::int32_t>), ZALMOR_SIG___pyx_fuse_0equal},
    {"__pyx_fuse_1equal", address(&equal_row<std::uint32_t>), ZALMOR_SIG___pyx_fuse_1equal},
    {"__pyx_fuse_2equal", address(&equal_row<std::int64_t>), ZALMOR_SIG___pyx_fuse_2equal},
    {"__pyx_fuse_3equal", address(&equal_row<std::uint64_t>), ZALMOR_SIG___pyx_fuse_3equal},
    {"__pyx_fuse_4equal", address(&equal_row<float>), ZALMOR_SIG___pyx_fuse_4equal},
    {"__pyx_fuse_5equal", address(&equal_row<double>), ZALMOR_SIG___pyx_fuse_5equal},
    {"__pyx_fuse_0sum", address(&sum_row<std::int32_t>), ZALMOR_SIG___pyx_fuse_0sum},
    {"__pyx_fuse_1sum", address(&sum_row<std::uint32_t>), ZALMOR_SIG___pyx_fuse_1sum},
    {"__pyx_fuse_2sum", address(&sum_row<std::int64_t>), ZALMOR_SIG___pyx_fuse_2sum},
    {"__pyx_fuse_3sum", address(&sum_row<std::uint64_t>), ZALMOR_SIG___pyx_fuse_3sum},
    {"__pyx_fuse_4sum", address(&sum_row<float>), ZALMOR_SIG___pyx_fuse_4sum},
    {"__pyx_fuse_5sum", address(&sum_row<double>), ZALMOR_SIG___pyx_fuse_5sum},
    {"__pyx_fuse_6sum", address(&sum_row_complex), ZALMOR_SIG___pyx_fuse_6sum},
    {"__pyx_fuse_0prod", address(&prod_row<std::int32_t>), ZALMOR_SIG___pyx_fuse_0prod},
    {"__pyx_fuse_1prod", address(&prod_row<std::uint32_t>), ZALMOR_SIG___pyx_fuse_1prod},
    {"__pyx_fuse_2prod", address(&prod_row<std::int64_t>), ZALMOR_SIG___pyx_fuse_2prod},
    {"__pyx_fuse_3prod", address(&prod_row<std::uint64_t>), ZALMOR_SIG___pyx_fuse_3prod},
    {"__pyx_fuse_4prod", address(&prod_row<float>), ZALMOR_SIG___pyx_fuse_4prod},
    {"__pyx_fuse_5prod", address(&prod_row<double>), ZALMOR_SIG___pyx_fuse_5prod},
    {"__pyx_fuse_6prod", address(&prod_row_complex), ZALMOR_SIG___pyx_fuse_6prod},
};

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
