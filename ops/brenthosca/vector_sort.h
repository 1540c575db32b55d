// In-place sorts of signed 64-bit keys with vector instructions: a quicksort
// whose partitions compare a whole vector with the pivot and pack each side
// with one permutation, and sorting networks held in registers for ranges of
// up to 16 vectors. One copy per instruction set; the best one the processor
// runs is taken at run time. Pure C++.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/kernel_target.h"

namespace zalmor::brenthosca {

// The copy the sorts use: the best supported one, or a lower one named by
// ZALMOR_SORT_TARGET (portable, avx2 or avx512: a switch for the tests and the
// benchmark), read once.
KernelTarget sort_target() noexcept;

// Sorts keys[0..n) ascending with the copy for `target`. False, keys untouched,
// when that copy is not supported or is the portable one (which the callers
// bring themselves).
bool vector_sort_keys(KernelTarget target, std::int64_t* keys, std::size_t n) noexcept;

// The same for n doubles, compared as they are: `<` orders them as their keys
// unless one is NaN or -0.0. Finding one, it returns false too, with xs[0..n)
// holding the same doubles in another order (the keys then sort them).
bool vector_sort_doubles(KernelTarget target, double* xs, std::size_t n) noexcept;

}  // namespace zalmor::brenthosca
