// Strided N-dimensional layouts: basic indexing, contiguity and element copies.
// Pure C++, shared by the Python-visible view type and the buffer acceptance.
#pragma once

#include <cstddef>

#include "limits.h"
#include <optional>

namespace zalmor::frame {


struct Layout {
    char* data = nullptr;
    int ndim = 0;
    std::ptrdiff_t shape[kMaxDims] = {};
    std::ptrdiff_t strides[kMaxDims] = {};
};

// Fills `out` from a buffer as an exporter describes it, where `shape` and
// `strides` may be left out: no shape means a scalar for ndim 0 and one
// dimension of len / itemsize items for ndim 1; no strides means C-contiguous
// items of `itemsize` bytes. Returns false, leaving `out` as it was, for a
// description that gives no layout: a negative ndim or more than kMaxDims
// dimensions, or no shape for two or more dimensions or for items of no size.
bool layout_of_buffer(char* data, std::ptrdiff_t len, std::ptrdiff_t itemsize, int ndim,
                      const std::ptrdiff_t* shape, const std::ptrdiff_t* strides, Layout& out);

struct IndexItem {
    enum class Kind { integer, slice, new_axis, ellipsis };
    Kind kind = Kind::integer;
    std::ptrdiff_t value = 0;  // for integer
    std::optional<std::ptrdiff_t> start, stop, step;  // for slice; absent means None
};

enum class IndexFailure {
    none,
    out_of_bounds,        // an integer index outside its dimension
    zero_step,            // a slice with step 0
    too_many_indices,     // more integer/slice items than dimensions
    too_many_dimensions,  // the result would have more than kMaxDims dimensions
    several_ellipses,     // more than one Ellipsis
};

struct IndexOutcome {
    IndexFailure failure = IndexFailure::none;
    int axis = 0;         // the source dimension the failure concerns
    bool scalar = false;  // integers alone indexed every dimension: `out` has ndim 0
                          // (with an Ellipsis, `out` is a 0-dimensional view instead)
};

// Applies NumPy's basic indexing (integers, slices, new axes, one Ellipsis;
// dimensions not indexed are kept whole) to `in`, writing the selected layout
// into `out`.
IndexOutcome apply_index(const Layout& in, const IndexItem* items, int count, Layout& out);

// Python's slice normalisation for a dimension of extent n: the first index,
// the step and the number of selected elements. `step` must not be 0.
struct SliceRange {
    std::ptrdiff_t start, step, length;
};
SliceRange normalise_slice(std::optional<std::ptrdiff_t> start, std::optional<std::ptrdiff_t> stop,
                           std::ptrdiff_t step, std::ptrdiff_t n);

// Whether the layout is contiguous in C (last index fastest) or Fortran order
// for items of `itemsize` bytes. Dimensions of extent 1 do not matter, and an
// empty layout is contiguous.
bool is_c_contiguous(const Layout& layout, std::size_t itemsize);
bool is_f_contiguous(const Layout& layout, std::size_t itemsize);

// Number of elements (product of the extents).
std::ptrdiff_t element_count(const Layout& layout);

// Copies every element of `src` to the same position of `dst` (same ndim and
// extents; a source stride of 0 repeats one element along that dimension).
// The two may not overlap unless they are identical.
void copy_elements(const Layout& src, const Layout& dst, std::size_t itemsize);

// Strides of a new contiguous block of the given extents, in C or Fortran order.
void contiguous_strides(Layout& layout, std::size_t itemsize, bool fortran);

// Lays `src` over `dst` for an assignment, by NumPy's broadcasting: leading
// source dimensions of extent 1 beyond dst's are dropped, missing leading
// dimensions and dimensions of extent 1 repeat (stride 0). On success `aligned`
// has dst's extents and `ok` is set; otherwise `axis` is the dimension whose
// extents differ, `expected` dst's extent there and `got` src's.
struct Broadcast {
    bool ok = true;
    int axis = 0;
    std::ptrdiff_t expected = 0, got = 0;
};
Broadcast broadcast_to(Layout src, const Layout& dst, Layout& aligned);

// Whether the memory spans of two layouts' elements intersect.
bool overlaps(const Layout& a, const Layout& b, std::size_t itemsize);

// Copies `src` (laid over dst by broadcast_to) into `dst`, through a temporary
// contiguous block when the two overlap, so that every element is read before
// any is written. False, with nothing written, when that block cannot be had.
bool assign_elements(const Layout& src, const Layout& dst, std::size_t itemsize);

}  // namespace zalmor::frame
