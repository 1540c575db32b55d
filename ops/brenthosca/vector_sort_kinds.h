// The vector sort of signed keys (namespace keys) and of doubles (namespace
// values) over the lanes of one instruction set, Lanes<T>: included once per
// set inside its target region and namespace (see vector_sort.cpp).

namespace keys {
using T = std::int64_t;
using V = Lanes<T>;
using R = V::R;
using Mask = V::Mask;
#include "ops/brenthosca/vector_sort_body.h"
}  // namespace keys

namespace values {
using T = double;
using V = Lanes<T>;
using R = V::R;
using Mask = V::Mask;
#include "ops/brenthosca/vector_sort_body.h"
}  // namespace values
