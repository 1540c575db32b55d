// zalmor.ops.hemvarinto: the scalar closeness tests that brenthosca's vector
// tests call. Callable from any thread without the interpreter lock.
#include <Python.h>

#include <cmath>

#include "common/closeness.h"
#include "frame/module.h"
#include "zalmor/capi.h"

PyMODINIT_FUNC PyInit_hemvarinto(void);

namespace zalmor::hemvarinto {
namespace {

// |a - b| <= atol + rtol * |b|; NaN is never close, equal values (infinities
// included) always are.
int isclose(double a, double b, __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose* opt) {
    double rtol, atol;
    tolerances(opt, rtol, atol);
    if (a == b) return 1;
    if (!std::isfinite(a) || !std::isfinite(b)) return 0;
    return std::fabs(a - b) <= atol + rtol * std::fabs(b);
}

// The same rule on the modulus of the difference and of b.
int cisclose(__pyx_t_double_complex a, __pyx_t_double_complex b,
             __pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose* opt) {
    double rtol, atol;
    tolerances(opt, rtol, atol);
    if (a.real == b.real && a.imag == b.imag) return 1;
    if (!std::isfinite(a.real) || !std::isfinite(a.imag) || !std::isfinite(b.real) ||
        !std::isfinite(b.imag))
        return 0;
    const double diff = std::hypot(a.real - b.real, a.imag - b.imag);
    return diff <= atol + rtol * std::hypot(b.real, b.imag);
}

const frame::ExportRow kExports[] = {
    {"isclose", reinterpret_cast<void*>(&isclose), ZALMOR_SIG_isclose},
    {"cisclose", reinterpret_cast<void*>(&cisclose), ZALMOR_SIG_cisclose},
};

const frame::ModuleDescription kModule = {
    .name = "hemvarinto",
    .qualified = "zalmor.ops.hemvarinto",
    .init_name = "init zalmor.ops.hemvarinto",
    .is_main = nullptr,
    .methods = nullptr,
    .builtins = {},
    .exports = kExports,
    .views = false,
    .numpy_types = false,
    .siblings = {},
    .body = nullptr,
};

}  // namespace
}  // namespace zalmor::hemvarinto

PyMODINIT_FUNC PyInit_hemvarinto(void) { return zalmor::frame::module_init(zalmor::hemvarinto::kModule); }
