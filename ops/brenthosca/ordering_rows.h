// Table entries of the ordering kernels: sort in place, argsort, permute.
#pragma once

#include "zalmor/capi.h"

namespace zalmor::brenthosca {

void sort(__Pyx_memviewslice xs);
__Pyx_memviewslice argsort(__Pyx_memviewslice xs, __pyx_opt_args_6zalmor_3ops_10brenthosca_argsort* opt);
__Pyx_memviewslice permute(__Pyx_memviewslice xs, __Pyx_memviewslice inds);

}  // namespace zalmor::brenthosca
