#include "view_layout.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace zalmor::frame {

SliceRange normalise_slice(std::optional<std::ptrdiff_t> start, std::optional<std::ptrdiff_t> stop,
                           std::ptrdiff_t step, std::ptrdiff_t n) {
    std::ptrdiff_t first, last;
    // As Python does, so that -step cannot overflow.
    if (step < -std::numeric_limits<std::ptrdiff_t>::max()) step = -std::numeric_limits<std::ptrdiff_t>::max();
    if (step > 0) {
        first = start ? *start : 0;
        last = stop ? *stop : n;
        if (first < 0) first = first + n < 0 ? 0 : first + n;
        if (first > n) first = n;
        if (last < 0) last = last + n < 0 ? 0 : last + n;
        if (last > n) last = n;
        const std::ptrdiff_t length = last > first ? (last - first - 1) / step + 1 : 0;
        return {first, step, length};
    }
    first = start ? *start : n - 1;
    last = stop ? *stop : -1;  // "before the first element"
    if (start) {
        if (first < 0) first = first + n < 0 ? -1 : first + n;
        if (first >= n) first = n - 1;
    }
    if (stop) {
        if (last < 0) last = last + n < 0 ? -1 : last + n;
        if (last >= n) last = n - 1;
    }
    const std::ptrdiff_t length = first > last ? (first - last - 1) / (-step) + 1 : 0;
    return {first, step, length};
}

bool layout_of_buffer(char* data, std::ptrdiff_t len, std::ptrdiff_t itemsize, int ndim,
                      const std::ptrdiff_t* shape, const std::ptrdiff_t* strides, Layout& out) {
    if (ndim < 0 || ndim > kMaxDims) return false;
    if (shape == nullptr && (ndim > 1 || (ndim == 1 && itemsize <= 0))) return false;
    Layout layout;
    layout.data = data;
    layout.ndim = ndim;
    if (shape == nullptr && ndim == 1) {
        layout.shape[0] = len / itemsize;
    } else {
        for (int d = 0; d < ndim; ++d) layout.shape[d] = shape[d];
    }
    if (strides == nullptr) {
        contiguous_strides(layout, static_cast<std::size_t>(itemsize), false);
    } else {
        for (int d = 0; d < ndim; ++d) layout.strides[d] = strides[d];
    }
    out = layout;
    return true;
}

IndexOutcome apply_index(const Layout& in, const IndexItem* items, int count, Layout& out) {
    IndexOutcome outcome;
    int consuming = 0;  // items that take up a source dimension
    int ellipses = 0;   // an Ellipsis keeps the result a view, even of 0 dimensions
    for (int i = 0; i < count; ++i) {
        switch (items[i].kind) {
            case IndexItem::Kind::integer:
            case IndexItem::Kind::slice: ++consuming; break;
            case IndexItem::Kind::ellipsis: ++ellipses; break;
            case IndexItem::Kind::new_axis: break;
        }
    }
    if (ellipses > 1) {
        outcome.failure = IndexFailure::several_ellipses;
        return outcome;
    }
    if (consuming > in.ndim) {
        outcome.failure = IndexFailure::too_many_indices;
        outcome.axis = in.ndim;
        return outcome;
    }

    Layout result;
    result.data = in.data;
    int src = 0;
    int integers = 0;
    auto push = [&](std::ptrdiff_t extent, std::ptrdiff_t stride) {
        if (result.ndim == kMaxDims) return false;
        result.shape[result.ndim] = extent;
        result.strides[result.ndim] = stride;
        ++result.ndim;
        return true;
    };
    auto too_many_dims = [&] {
        outcome.failure = IndexFailure::too_many_dimensions;
        outcome.axis = result.ndim;
        return outcome;
    };
    for (int i = 0; i < count; ++i) {
        const IndexItem& item = items[i];
        switch (item.kind) {
            case IndexItem::Kind::integer: {
                std::ptrdiff_t index = item.value;
                const std::ptrdiff_t n = in.shape[src];
                if (index < 0) index += n;
                if (index < 0 || index >= n) {
                    outcome.failure = IndexFailure::out_of_bounds;
                    outcome.axis = src;
                    return outcome;
                }
                result.data += index * in.strides[src];
                ++src;
                ++integers;
                break;
            }
            case IndexItem::Kind::slice: {
                const std::ptrdiff_t step = item.step ? *item.step : 1;
                if (step == 0) {
                    outcome.failure = IndexFailure::zero_step;
                    outcome.axis = src;
                    return outcome;
                }
                const SliceRange r = normalise_slice(item.start, item.stop, step, in.shape[src]);
                if (r.length > 0) result.data += r.start * in.strides[src];
                // A step that overflows the byte stride selects at most one
                // element, whose stride then does not matter.
                std::ptrdiff_t stride;
                if (__builtin_mul_overflow(in.strides[src], step, &stride)) stride = in.strides[src];
                if (!push(r.length, stride)) return too_many_dims();
                ++src;
                break;
            }
            case IndexItem::Kind::new_axis:
                if (!push(1, 0)) return too_many_dims();
                break;
            case IndexItem::Kind::ellipsis: {
                const int whole = in.ndim - consuming;
                for (int k = 0; k < whole; ++k, ++src) {
                    if (!push(in.shape[src], in.strides[src])) return too_many_dims();
                }
                break;
            }
        }
    }
    for (; src < in.ndim; ++src) {
        if (!push(in.shape[src], in.strides[src])) return too_many_dims();
    }
    outcome.scalar = integers == in.ndim && result.ndim == 0 && ellipses == 0;
    out = result;
    return outcome;
}

namespace {

bool contiguous_in(const Layout& layout, std::size_t itemsize, bool fortran) {
    for (int d = 0; d < layout.ndim; ++d) {
        if (layout.shape[d] == 0) return true;
    }
    std::ptrdiff_t expected = static_cast<std::ptrdiff_t>(itemsize);
    for (int k = 0; k < layout.ndim; ++k) {
        const int d = fortran ? k : layout.ndim - 1 - k;
        if (layout.shape[d] == 1) continue;
        if (layout.strides[d] != expected) return false;
        expected *= layout.shape[d];
    }
    return true;
}

void copy_dim(const char* src, char* dst, const Layout& s, const Layout& d, int dim,
              std::size_t itemsize) {
    const std::ptrdiff_t n = d.shape[dim];
    if (dim == d.ndim - 1) {
        if (s.strides[dim] == static_cast<std::ptrdiff_t>(itemsize) &&
            d.strides[dim] == static_cast<std::ptrdiff_t>(itemsize)) {
            std::memmove(dst, src, static_cast<std::size_t>(n) * itemsize);
            return;
        }
        for (std::ptrdiff_t i = 0; i < n; ++i) {
            std::memmove(dst + i * d.strides[dim], src + i * s.strides[dim], itemsize);
        }
        return;
    }
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        copy_dim(src + i * s.strides[dim], dst + i * d.strides[dim], s, d, dim + 1, itemsize);
    }
}

}  // namespace

bool is_c_contiguous(const Layout& layout, std::size_t itemsize) {
    return contiguous_in(layout, itemsize, false);
}

bool is_f_contiguous(const Layout& layout, std::size_t itemsize) {
    return contiguous_in(layout, itemsize, true);
}

std::ptrdiff_t element_count(const Layout& layout) {
    std::ptrdiff_t n = 1;
    for (int d = 0; d < layout.ndim; ++d) n *= layout.shape[d];
    return n;
}

void copy_elements(const Layout& src, const Layout& dst, std::size_t itemsize) {
    if (element_count(dst) == 0) return;
    if (dst.ndim == 0) {
        std::memmove(dst.data, src.data, itemsize);
        return;
    }
    copy_dim(src.data, dst.data, src, dst, 0, itemsize);
}

void contiguous_strides(Layout& layout, std::size_t itemsize, bool fortran) {
    std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(itemsize);
    for (int k = 0; k < layout.ndim; ++k) {
        const int d = fortran ? k : layout.ndim - 1 - k;
        layout.strides[d] = stride;
        stride *= layout.shape[d];
    }
}

Broadcast broadcast_to(Layout src, const Layout& dst, Layout& aligned) {
    Broadcast outcome;
    if (src.ndim > dst.ndim) {
        const int extra = src.ndim - dst.ndim;
        for (int d = 0; d < extra; ++d) {
            if (src.shape[d] != 1) return {false, d, 1, src.shape[d]};
        }
        for (int d = 0; d < dst.ndim; ++d) {
            src.shape[d] = src.shape[d + extra];
            src.strides[d] = src.strides[d + extra];
        }
        src.ndim = dst.ndim;
    }
    Layout out;
    out.data = src.data;
    out.ndim = dst.ndim;
    const int lead = dst.ndim - src.ndim;
    for (int d = 0; d < dst.ndim; ++d) {
        out.shape[d] = dst.shape[d];
        if (d < lead) {
            out.strides[d] = 0;
            continue;
        }
        const std::ptrdiff_t extent = src.shape[d - lead];
        if (extent == dst.shape[d]) {
            out.strides[d] = src.strides[d - lead];
        } else if (extent == 1) {
            out.strides[d] = 0;
        } else {
            return {false, d, dst.shape[d], extent};
        }
    }
    aligned = out;
    return outcome;
}

namespace {

// The memory range [lo, hi) that a layout's elements occupy.
void byte_range(const Layout& layout, std::size_t itemsize, const char*& lo, const char*& hi) {
    lo = hi = layout.data;
    for (int d = 0; d < layout.ndim; ++d) {
        const std::ptrdiff_t span = (layout.shape[d] - 1) * layout.strides[d];
        if (span < 0) lo += span; else hi += span;
    }
    hi += itemsize;
}

}  // namespace

bool overlaps(const Layout& a, const Layout& b, std::size_t itemsize) {
    if (element_count(a) == 0 || element_count(b) == 0) return false;
    const char *alo, *ahi, *blo, *bhi;
    byte_range(a, itemsize, alo, ahi);
    byte_range(b, itemsize, blo, bhi);
    return alo < bhi && blo < ahi;
}

bool assign_elements(const Layout& src, const Layout& dst, std::size_t itemsize) {
    if (element_count(dst) == 0) return true;
    if (!overlaps(src, dst, itemsize)) {
        copy_elements(src, dst, itemsize);
        return true;
    }
    Layout tmp = src;
    char* block = static_cast<char*>(std::malloc(static_cast<std::size_t>(element_count(src)) * itemsize));
    if (block == nullptr) return false;
    tmp.data = block;
    contiguous_strides(tmp, itemsize, false);
    copy_elements(src, tmp, itemsize);
    copy_elements(tmp, dst, itemsize);
    std::free(block);
    return true;
}

}  // namespace zalmor::frame
