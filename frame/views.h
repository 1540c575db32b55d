// Bridge from the view record of the native interface to plain strided access.
#pragma once

#include "strided.h"
#include "zalmor/capi.h"

namespace zalmor::frame {

// Borrowed read access to the first dimension of `view`.
template <class T>
Strided<T> strided(const __Pyx_memviewslice& view) noexcept {
    return {view.data, view.shape[0], view.strides[0]};
}

}  // namespace zalmor::frame
