// Filling the rows of a cartesian product table. Pure C++.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/strided.h"

namespace zalmor::pondistra {

// Writes the `rows` x k table of index tuples of the ranges `sizes` (k = sizes.n,
// every size non-zero, the product of the sizes equal to `rows`) into the
// contiguous row-major block `out`: row i holds the digits of i in the mixed
// radix of the sizes, most significant first.
void fill_product(frame::Strided<std::uint32_t> sizes, std::uint32_t rows, std::uint32_t* out) noexcept;

}  // namespace zalmor::pondistra
