// Scalar closeness tests bound from zalmor.ops.hemvarinto at import.
#pragma once

#include "zalmor/capi.h"

namespace zalmor::brenthosca {

extern zalmor_isclose_t isclose;
extern zalmor_cisclose_t cisclose;

}  // namespace zalmor::brenthosca
