// Folds of a vector into one value: the typed product family. Pure C++ cores
// over strided access, plus the table entries over the view record.
#pragma once

#include <cstdint>
#include <type_traits>

#include "common/complex_mul.h"
#include "frame/views.h"

namespace zalmor::brenthosca {

using frame::Strided;

// Integer arithmetic wraps: signed elements are multiplied in their unsigned
// counterpart, whose overflow is defined, and converted back.
template <class T>
T product(Strided<T> xs) noexcept {
    if constexpr (std::is_integral_v<T>) {
        using U = std::make_unsigned_t<T>;
        U acc = 1;
        for (std::ptrdiff_t i = 0; i < xs.n; ++i) acc *= static_cast<U>(xs[i]);
        return static_cast<T>(acc);
    } else {
        // Strictly left to right, in the element's own precision.
        T acc = 1;
        for (std::ptrdiff_t i = 0; i < xs.n; ++i) acc *= xs[i];
        return acc;
    }
}

inline Complex product(Strided<Complex> xs) noexcept {
    Complex acc{1.0, 0.0};
    for (std::ptrdiff_t i = 0; i < xs.n; ++i) acc = multiply_step(acc, xs[i]);
    return acc;
}

// Table entries: element type T read from the view, result in the row's type.
template <class T>
T prod_row(__Pyx_memviewslice xs) {
    return product(frame::strided<T>(xs));
}

inline __pyx_t_double_complex prod_row_complex(__Pyx_memviewslice xs) {
    const Complex r = product(frame::strided<Complex>(xs));
    return {r.re, r.im};
}

}  // namespace zalmor::brenthosca
