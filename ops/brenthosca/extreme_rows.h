// Table entries of the extremes: the smallest and largest elements, their
// positions and the spread between them.
#pragma once

#include "zalmor/capi.h"

namespace zalmor::brenthosca {

unsigned long argmin(__Pyx_memviewslice xs);
unsigned long argmax(__Pyx_memviewslice xs);
double min(__Pyx_memviewslice xs);
double max(__Pyx_memviewslice xs);
__pyx_ctuple_unsigned__space_long__and_unsigned__space_long argminmax(__Pyx_memviewslice xs);
double width(__Pyx_memviewslice xs);
double cwidth(__Pyx_memviewslice xs);

}  // namespace zalmor::brenthosca
