// Plain strided access to the elements of a one-dimensional view. Pure C++.
#pragma once

#include <cstddef>
#include <cstring>

namespace zalmor::frame {

// n elements of type T, element i at data + i * stride bytes. The stride may be
// any value the owner of the memory allows (negative, or not a multiple of the
// element size), so elements are read without assuming alignment.
template <class T>
struct Strided {
    const char* data;
    std::ptrdiff_t n;
    std::ptrdiff_t stride;

    T operator[](std::ptrdiff_t i) const noexcept {
        T value;
        std::memcpy(&value, data + i * stride, sizeof(T));
        return value;
    }
    bool contiguous() const noexcept { return stride == static_cast<std::ptrdiff_t>(sizeof(T)); }
};

}  // namespace zalmor::frame
