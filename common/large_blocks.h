// Large blocks of result and working memory. Pure C++.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/target.h"

#ifdef ZALMOR_X86
#include <sys/mman.h>
#endif

namespace zalmor {

// Asks the system to back the block [data, data + bytes) with huge pages,
// where it offers them on request, when the block is large: fewer page faults
// on first touch. Only the whole huge pages inside the block are named.
inline void advise_huge_pages(void* data, std::size_t bytes) noexcept {
#if defined(ZALMOR_X86) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    constexpr std::size_t kHugePagesFrom = std::size_t{4} << 20;
    if (data == nullptr || bytes < kHugePagesFrom) return;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

// `bytes` from `allocate` (a malloc-like function: null when there is no
// memory), advised as above.
template <class Allocate>
void* allocate_block(std::size_t bytes, Allocate allocate) noexcept {
    void* block = allocate(bytes);
    advise_huge_pages(block, bytes);
    return block;
}

}  // namespace zalmor
