// Element-wise comparison of two vectors: exact equality, and closeness by the
// sibling module's scalar tests. Pure C++ cores, then the table entries.
#pragma once

#include <cstdint>

#include "common/complex_mul.h"
#include "frame/strided.h"
#include "zalmor/capi.h"

namespace zalmor::brenthosca {

// ---- cores ---------------------------------------------------------------

// Whether a[i] == b[i] for every i (a and b of one length), stopping at the
// first pair that differs. Floating types compare by IEEE equality (NaN equals
// nothing, +0.0 equals -0.0); complex pairs compare both parts. Defined for
// int32_t, uint32_t, int64_t, uint64_t, float and double.
template <class T>
bool same_elements(frame::Strided<T> a, frame::Strided<T> b) noexcept;
bool same_elements(frame::Strided<Complex> a, frame::Strided<Complex> b) noexcept;

// ---- table entries -------------------------------------------------------

template <class T>
int equal_row(__Pyx_memviewslice a, __Pyx_memviewslice b);  // __pyx_fuse_<k>equal
int cequal(__Pyx_memviewslice a, __Pyx_memviewslice b);
int allclose(__Pyx_memviewslice a, __Pyx_memviewslice b,
             __pyx_opt_args_6zalmor_3ops_10brenthosca_allclose* opt);
int callclose(__Pyx_memviewslice a, __Pyx_memviewslice b,
              __pyx_opt_args_6zalmor_3ops_10brenthosca_callclose* opt);
int anyclose(__Pyx_memviewslice a, __Pyx_memviewslice b,
             __pyx_opt_args_6zalmor_3ops_10brenthosca_anyclose* opt);
int canyclose(__Pyx_memviewslice a, __Pyx_memviewslice b,
              __pyx_opt_args_6zalmor_3ops_10brenthosca_canyclose* opt);

}  // namespace zalmor::brenthosca
