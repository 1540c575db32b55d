// Table entries of the folds: sums, products, the mean and the norms.
#pragma once

#include "zalmor/capi.h"

namespace zalmor::brenthosca {

// __pyx_fuse_<k>sum and __pyx_fuse_<k>prod: elements and result of type T
// (the complex record for complex vectors).
template <class T>
T sum_row(__Pyx_memviewslice xs);
template <class T>
T prod_row(__Pyx_memviewslice xs);

__pyx_t_double_complex cprod(__Pyx_memviewslice xs);
double mean(__Pyx_memviewslice xs);
double norm(__Pyx_memviewslice xs, __pyx_opt_args_6zalmor_3ops_10brenthosca_norm* opt);
double cnorm(__Pyx_memviewslice xs, __pyx_opt_args_6zalmor_3ops_10brenthosca_cnorm* opt);

}  // namespace zalmor::brenthosca
