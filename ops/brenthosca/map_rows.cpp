#include "ops/brenthosca/map_rows.h"

#include "frame/view_record.h"
#include "frame/views.h"
#include "ops/brenthosca/maps.h"

namespace zalmor::brenthosca {
namespace {

constexpr const char* kComplexFormat = "Zd";

// Makes the result vector of xs's length, then fills it without the
// interpreter lock (in the caller's own lock state).
template <class In, class Fill>
__Pyx_memviewslice map_row(__Pyx_memviewslice xs, const frame::TypeInfo& type, const char* format,
                           const char* qualname, Fill fill) {
    const Py_ssize_t n = xs.shape[0];
    __Pyx_memviewslice res = frame::new_result({&n, 1}, type, format, qualname);
    if (res.memview == nullptr) return res;
    fill(frame::strided<In>(xs), res.data);
    return res;
}

}  // namespace

__Pyx_memviewslice sign(__Pyx_memviewslice xs) {
    return map_row<double>(xs, frame::kInt, "i", "zalmor.ops.brenthosca.sign", sign_into);
}
__Pyx_memviewslice csign(__Pyx_memviewslice xs) {
    return map_row<Complex>(xs, frame::kDoubleComplex, kComplexFormat, "zalmor.ops.brenthosca.csign",
                            csign_into);
}
__Pyx_memviewslice fabs(__Pyx_memviewslice xs) {
    return map_row<double>(xs, frame::kDouble, "d", "zalmor.ops.brenthosca.fabs", fabs_into);
}
__Pyx_memviewslice cabs(__Pyx_memviewslice xs) {
    return map_row<Complex>(xs, frame::kDouble, "d", "zalmor.ops.brenthosca.cabs", cabs_into);
}
__Pyx_memviewslice sqrt(__Pyx_memviewslice xs) {
    return map_row<double>(xs, frame::kDouble, "d", "zalmor.ops.brenthosca.sqrt", sqrt_into);
}
__Pyx_memviewslice csqrt(__Pyx_memviewslice xs) {
    return map_row<Complex>(xs, frame::kDoubleComplex, kComplexFormat, "zalmor.ops.brenthosca.csqrt",
                            csqrt_into);
}

}  // namespace zalmor::brenthosca
