// Element-wise equality of two vectors. Pure C++ cores; the table's
// comparison rows are in equality_rows.h.
#pragma once

#include "common/complex_mul.h"
#include "frame/strided.h"

namespace zalmor::brenthosca {

// Whether a[i] == b[i] for every i (a and b of one length), stopping at the
// first pair that differs. Floating types compare by IEEE equality (NaN equals
// nothing, +0.0 equals -0.0); complex pairs compare both parts. Defined for
// the types of ZALMOR_REAL_ELEMENTS (elements.h).
template <class T>
bool same_elements(frame::Strided<T> a, frame::Strided<T> b) noexcept;
bool same_elements(frame::Strided<Complex> a, frame::Strided<Complex> b) noexcept;

}  // namespace zalmor::brenthosca
