// Plain access to elements in memory: single loads and stores at any
// alignment, and the elements of a one-dimensional view. Pure C++.
#pragma once

#include <cstddef>
#include <cstring>

namespace zalmor::frame {

// The T at p, or T stored at p, at any alignment. T may be a vector type: the
// kernels' vector loads and stores are these. Always inlined, so that a
// vector never crosses a call (where a baseline build and an AVX clone would
// pass it differently).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
template <class T>
[[gnu::always_inline]] inline T load(const char* p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <class T>
[[gnu::always_inline]] inline void store(char* p, T value) noexcept {
    std::memcpy(p, &value, sizeof value);
}
#pragma GCC diagnostic pop

// n elements of type T, element i at data + i * stride bytes. The stride may be
// any value the owner of the memory allows (negative, or not a multiple of the
// element size), so elements are read without assuming alignment.
template <class T>
struct Strided {
    const char* data;
    std::ptrdiff_t n;
    std::ptrdiff_t stride;

    T operator[](std::ptrdiff_t i) const noexcept { return load<T>(data + i * stride); }
    bool contiguous() const noexcept { return stride == static_cast<std::ptrdiff_t>(sizeof(T)); }
};

// Elements of type T packed one after the other from data: a contiguous
// Strided whose stride the compiler knows.
template <class T>
struct Contiguous {
    const char* data;

    T operator[](std::ptrdiff_t i) const noexcept {
        return load<T>(data + i * static_cast<std::ptrdiff_t>(sizeof(T)));
    }
};

}  // namespace zalmor::frame
