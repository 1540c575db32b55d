// A small generator for fixed sets of check inputs (xorshift64*): the same
// sequence from the same seed on every platform. Pure C++.
#pragma once

#include <cstdint>

namespace zalmor {

struct Xorshift {
    std::uint64_t state;

    std::uint64_t operator()() noexcept {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545f4914f6cdd1du;
    }
};

}  // namespace zalmor
