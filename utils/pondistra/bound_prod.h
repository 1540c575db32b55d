// brenthosca's typed products, bound at import.
#pragma once

#include "zalmor/capi.h"

namespace zalmor::pondistra {

struct BoundProd {
    zalmor_fuse_0_t i32 = nullptr;
    zalmor_fuse_1_t u32 = nullptr;
    zalmor_fuse_2_t i64 = nullptr;
    zalmor_fuse_3_t u64 = nullptr;
    zalmor_fuse_4_t f32 = nullptr;
    zalmor_fuse_5_t f64 = nullptr;
    zalmor_fuse_6_t c128 = nullptr;
};

extern BoundProd bound_prod;

}  // namespace zalmor::pondistra
