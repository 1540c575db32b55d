// Table entries of the element-wise maps: a new result vector per call.
#pragma once

#include "zalmor/capi.h"

namespace zalmor::brenthosca {

__Pyx_memviewslice sign(__Pyx_memviewslice xs);
__Pyx_memviewslice csign(__Pyx_memviewslice xs);
__Pyx_memviewslice fabs(__Pyx_memviewslice xs);
__Pyx_memviewslice cabs(__Pyx_memviewslice xs);
__Pyx_memviewslice sqrt(__Pyx_memviewslice xs);
__Pyx_memviewslice csqrt(__Pyx_memviewslice xs);

}  // namespace zalmor::brenthosca
