// The tolerances of the closeness tests (hemvarinto's scalar tests and
// brenthosca's vector tests over them). Pure C++.
#pragma once

namespace zalmor {

// The tolerances of |a - b| <= atol + rtol * |b| for a call that gives none.
inline constexpr double kDefaultRtol = 1e-05;
inline constexpr double kDefaultAtol = 1e-08;

// The tolerances of a call: the optional-argument record's first __pyx_n
// fields (rtol, then atol) over the defaults; no record, the defaults.
template <class Record>
void tolerances(const Record* opt, double& rtol, double& atol) noexcept {
    rtol = kDefaultRtol;
    atol = kDefaultAtol;
    if (opt == nullptr) return;
    if (opt->__pyx_n >= 1) rtol = opt->rtol;
    if (opt->__pyx_n >= 2) atol = opt->atol;
}

}  // namespace zalmor
