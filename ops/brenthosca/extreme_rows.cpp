#include "ops/brenthosca/extreme_rows.h"

#include <Python.h>

#include <cstdint>

#include "frame/errors.h"
#include "frame/gil.h"
#include "frame/type_info.h"
#include "frame/view_record.h"
#include "frame/views.h"
#include "ops/brenthosca/extremes.h"
#include "ops/brenthosca/maps.h"

namespace zalmor::brenthosca {
namespace {

using frame::Strided;

constexpr const char* kArgmin = "zalmor.ops.brenthosca.argmin";
constexpr const char* kArgmax = "zalmor.ops.brenthosca.argmax";
constexpr const char* kMin = "zalmor.ops.brenthosca.min";
constexpr const char* kMax = "zalmor.ops.brenthosca.max";
constexpr const char* kArgminmax = "zalmor.ops.brenthosca.argminmax";
constexpr const char* kCwidth = "zalmor.ops.brenthosca.cwidth";
constexpr const char* kCabs = "zalmor.ops.brenthosca.cabs";

// An empty vector has no extreme: ValueError("Empty sequence."), reported as
// unraisable under `qualname`. The error is raised and reported under one
// hold of the lock, so that a thread unknown to the interpreter keeps the
// state that carries it until it is reported.
void report_empty(const char* qualname) noexcept {
    frame::GilGuard gil;
    PyErr_SetString(PyExc_ValueError, "Empty sequence.");
    frame::report_unraisable(qualname);
}

// f(v) over the double vector xs; an empty one is reported under `qualname`
// and gives zero.
template <class F>
auto of_nonempty(__Pyx_memviewslice xs, const char* qualname, F f) {
    const Strided<double> v = frame::strided<double>(xs);
    if (v.n == 0) {
        report_empty(qualname);
        return decltype(f(v)){};
    }
    return f(v);
}

}  // namespace

unsigned long argmin(__Pyx_memviewslice xs) {
    return of_nonempty(xs, kArgmin, [](Strided<double> v) { return static_cast<unsigned long>(first_min(v)); });
}

unsigned long argmax(__Pyx_memviewslice xs) {
    return of_nonempty(xs, kArgmax, [](Strided<double> v) { return static_cast<unsigned long>(first_max(v)); });
}

double min(__Pyx_memviewslice xs) {
    return of_nonempty(xs, kMin, [](Strided<double> v) { return v[first_min(v)]; });
}

double max(__Pyx_memviewslice xs) {
    return of_nonempty(xs, kMax, [](Strided<double> v) { return v[first_max(v)]; });
}

__pyx_ctuple_unsigned__space_long__and_unsigned__space_long argminmax(__Pyx_memviewslice xs) {
    return of_nonempty(xs, kArgminmax, [](Strided<double> v) {
        const ExtremeAt at = first_min_max(v);
        return __pyx_ctuple_unsigned__space_long__and_unsigned__space_long{static_cast<std::uint64_t>(at.low),
                                                                           static_cast<std::uint64_t>(at.high)};
    });
}

double width(__Pyx_memviewslice xs) {
    // width runs argminmax's scan and reports under its name.
    return of_nonempty(xs, kArgminmax, [](Strided<double> v) {
        const ExtremeAt at = first_min_max(v);
        return v[at.high] - v[at.low];
    });
}

double cwidth(__Pyx_memviewslice xs) {
    // The magnitudes vector is made as the cabs row makes it (its failures
    // carry cabs's traceback entry), under a hold of the lock that lasts until
    // a failure is reported; it is filled without the lock.
    const Py_ssize_t n = xs.shape[0];
    __Pyx_memviewslice magnitudes;
    {
        frame::GilGuard gil;
        magnitudes = frame::new_result({&n, 1}, frame::kDouble, "d", kCabs);
        if (magnitudes.memview == nullptr) {
            frame::report_unraisable(kCwidth);
            return 0.0;
        }
    }
    cabs_into(frame::strided<Complex>(xs), magnitudes.data);
    const Strided<double> m = frame::strided<double>(magnitudes);
    const ExtremeAt at = first_min_max(m);
    const double spread = m[at.high] - m[at.low];
    zalmor_view_release(&magnitudes);
    return spread;
}

}  // namespace zalmor::brenthosca
