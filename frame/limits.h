// The most dimensions anything in the frame carries: a view record (its
// shape, strides and suboffsets have this many entries), a layout, and the
// sub-array of a buffer format's item. Pure C++.
#pragma once

namespace zalmor::frame {

inline constexpr int kMaxDims = 8;

}  // namespace zalmor::frame
