// Layout arithmetic of views (broadcasting, overlapping assignment, indexing
// with an Ellipsis) and the cartesian product fill, without Python.
#include <cstdint>
#include <numeric>
#include <vector>

#include "check.h"
#include "frame/view_layout.h"
#include "utils/pondistra/product_fill.h"

using namespace zalmor::frame;

namespace {

Layout vector_of(double* data, std::ptrdiff_t n, std::ptrdiff_t stride) {
    Layout l;
    l.data = reinterpret_cast<char*>(data);
    l.ndim = 1;
    l.shape[0] = n;
    l.strides[0] = stride;
    return l;
}

}  // namespace

CORE_TEST(broadcasting_repeats_missing_and_unit_dimensions) {
    double a[6] = {};
    Layout dst = vector_of(a, 3, 16);  // a 2 x 3 block, rows 24 bytes apart
    dst.ndim = 2;
    dst.shape[0] = 2, dst.shape[1] = 3, dst.strides[0] = 24, dst.strides[1] = 8;
    Layout row = vector_of(a, 3, 8), out;
    CHECK(broadcast_to(row, dst, out).ok && out.shape[0] == 2 && out.strides[0] == 0 && out.strides[1] == 8);
    Layout unit = row;  // (1, 1, 3): leading unit dimensions dropped
    unit.ndim = 3, unit.shape[0] = 1, unit.shape[1] = 1, unit.shape[2] = 3, unit.strides[2] = 8;
    CHECK(broadcast_to(unit, dst, out).ok && out.strides[1] == 8);
    const Broadcast bad = broadcast_to(vector_of(a, 2, 8), dst, out);
    CHECK(!bad.ok && bad.axis == 1 && bad.expected == 3 && bad.got == 2);
    Layout tall = dst;  // (2, 3) onto (3,): dimension 0 must be 1
    const Broadcast extra = broadcast_to(tall, vector_of(a, 3, 8), out);
    CHECK(!extra.ok && extra.axis == 0 && extra.expected == 1 && extra.got == 2);
}

CORE_TEST(overlapping_assignment_reads_before_it_writes) {
    std::vector<double> x(8);
    std::iota(x.begin(), x.end(), 0.0);
    const Layout forward = vector_of(x.data(), 8, 8);
    const Layout reversed = vector_of(x.data() + 7, 8, -8);
    CHECK(overlaps(forward, reversed, 8));
    CHECK(assign_elements(reversed, forward, 8));
    CHECK(x[0] == 7.0 && x[3] == 4.0 && x[7] == 0.0);
    // shifted by one element, as x[1:] = x[:-1]
    CHECK(assign_elements(vector_of(x.data(), 7, 8), vector_of(x.data() + 1, 7, 8), 8));
    CHECK(x[1] == 7.0 && x[7] == 1.0);
    CHECK(!overlaps(vector_of(x.data(), 4, 8), vector_of(x.data() + 4, 4, 8), 8));
    CHECK(!overlaps(vector_of(x.data(), 0, 8), forward, 8));
}

CORE_TEST(an_ellipsis_keeps_a_zero_dimensional_view) {
    double a[6] = {};
    Layout t = vector_of(a, 3, 16);
    t.ndim = 2, t.shape[0] = 3, t.shape[1] = 2, t.strides[1] = 8;
    IndexItem two[2], three[3];
    two[0].value = 1, two[1].value = 0;
    Layout out;
    IndexOutcome o = apply_index(t, two, 2, out);
    CHECK(o.failure == IndexFailure::none && o.scalar && out.data == reinterpret_cast<char*>(a + 2));
    three[0].value = 1, three[1].value = 0, three[2].kind = IndexItem::Kind::ellipsis;
    o = apply_index(t, three, 3, out);
    CHECK(o.failure == IndexFailure::none && !o.scalar && out.ndim == 0 && out.data == reinterpret_cast<char*>(a + 2));
}

CORE_TEST(product_rows_count_in_mixed_radix) {
    // (3, 1, 40000, 2): also long enough for the rows copied block by block
    const std::uint32_t sizes[] = {3, 1, 40000, 2};
    const std::uint32_t rows = 3 * 40000 * 2;
    std::vector<std::uint32_t> table(std::size_t{rows} * 4, 0xdeadbeef);
    zalmor::pondistra::fill_product({reinterpret_cast<const char*>(sizes), 4, 4}, rows, table.data());
    bool right = true;
    for (std::uint32_t i = 0; i < rows && right; ++i) {
        std::uint32_t rest = i;
        for (int c = 3; c >= 0; --c) {
            right = right && table[std::size_t{i} * 4 + c] == rest % sizes[c];
            rest /= sizes[c];
        }
    }
    CHECK(right);
}
