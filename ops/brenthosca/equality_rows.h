// Table entries of the comparisons: exact equality, and closeness by the
// sibling module's scalar tests.
#pragma once

#include "zalmor/capi.h"

namespace zalmor::brenthosca {

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
