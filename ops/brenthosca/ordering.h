// Ordering of double vectors: in-place sort, the positions that sort a vector,
// and gathering by positions. Pure C++ cores over strided memory.
//
// Every order here is the order of `<` (or `>`), with NaNs placed after all
// numbers in both directions. Vectors of at most 16 elements keep equal values
// in their input order; argsort keeps them in input order at every length.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/strided.h"
#include "ops/brenthosca/vector_sort.h"

namespace zalmor::brenthosca {

// The working record of argsort: a position and the value found there.
struct IndexedDouble {
    std::uint64_t id;
    double val;
};

// 1 when lhs.val < rhs.val, else 0 (so 0 when either value is NaN).
int ascending_cmp(const IndexedDouble& lhs, const IndexedDouble& rhs) noexcept;
// 1 when lhs.val > rhs.val, else 0 (so 0 when either value is NaN).
int descending_cmp(const IndexedDouble& lhs, const IndexedDouble& rhs) noexcept;

// The most 16-byte records one working array may hold.
inline constexpr std::uint64_t kMaxWorkingRecords = (std::uint64_t{1} << 59) - 1;

// Where the cores take working memory from: a block that std::free releases,
// or null when there is none.
using Allocate = void* (*)(std::size_t bytes) noexcept;
void* system_allocate(std::size_t bytes) noexcept;

// Sorts the n doubles at data, data + stride, ... in place, ascending, NaNs
// last, with the engine of `target`. Any stride (negative, or not a multiple of
// 8) is walked as it is. A contiguous vector is sorted in its own memory; other
// layouts take a temporary copy when they can get one and are sorted in place
// otherwise: it cannot fail.
void sort_in_place(char* data, std::ptrdiff_t n, std::ptrdiff_t stride, Allocate allocate = &system_allocate,
                   KernelTarget target = sort_target()) noexcept;

// Supplies the array the n positions are written to, once the order is known;
// null abandons the call.
using PositionsSink = std::uint64_t* (*)(void* context);

enum class ArgsortOutcome {
    done,       // the positions are written
    abandoned,  // the sink gave null
    too_long,   // n is above kMaxWorkingRecords
    no_memory,  // working storage could not be had
};

// Writes to sink(context) the positions of xs's elements in ascending order
// (descending when `reverse`), NaNs last, equal values in input order, with
// the engine of `target`. The failures come before the sink is called.
ArgsortOutcome argsort_positions(frame::Strided<double> xs, bool reverse, PositionsSink sink, void* context,
                                 Allocate allocate = &system_allocate,
                                 KernelTarget target = sort_target()) noexcept;

// out[i] = xs[positions[i]] for i < xs.n. Returns false, with out partly
// written, when positions holds fewer than xs.n entries or one of its first
// xs.n entries is not below xs.n; never reads outside either vector.
bool gather(frame::Strided<double> xs, frame::Strided<std::uint64_t> positions, double* out) noexcept;

}  // namespace zalmor::brenthosca
