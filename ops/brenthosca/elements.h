// The real and integer element types the typed cores are defined for, in the
// order of the typed rows' instances (__pyx_fuse_<k>...); complex elements
// have cores of their own. X(T) once per type, for explicit instantiations.
#pragma once

#include <cstdint>

#define ZALMOR_REAL_ELEMENTS(X) X(std::int32_t) X(std::uint32_t) X(std::int64_t) X(std::uint64_t) X(float) X(double)
