#include "utils/pondistra/product_fill.h"

#include <cstring>
#include <vector>

namespace zalmor::pondistra {
namespace {

// Rows up to this many bytes are built once and then copied block by block:
// a block stays in the second-level cache while the next is copied from it,
// and few, wide blocks spend little on advancing the leading digits.
constexpr std::size_t kBlockBytes = 256 * 1024;

// Rows [0, count) of the table of the last sizes, with the leading digits
// given in `digits` (k entries; the trailing ones start at 0 and are advanced
// here like an odometer).
void write_rows(const std::uint32_t* sizes, std::uint32_t* digits, std::size_t k, std::size_t first,
                std::size_t count, std::uint32_t* out) noexcept {
    const std::uint32_t last = sizes[k - 1];
    std::uint32_t* row = out;
    std::size_t done = 0;
    while (done < count) {
        // One run of the last column: digits[k-1] from its current value up.
        std::uint32_t t = digits[k - 1];
        const std::size_t run = std::min<std::size_t>(last - t, count - done);
        if (k == 1) {
            for (std::size_t j = 0; j < run; ++j) row[j] = t + static_cast<std::uint32_t>(j);
        } else if (k == 2) {
            const std::uint32_t lead = digits[0];
            for (std::size_t j = 0; j < run; ++j) {
                row[2 * j] = lead;
                row[2 * j + 1] = t + static_cast<std::uint32_t>(j);
            }
        } else {
            for (std::size_t j = 0; j < run; ++j) {
                std::memcpy(row + k * j, digits, (k - 1) * sizeof(std::uint32_t));
                row[k * j + k - 1] = t + static_cast<std::uint32_t>(j);
            }
        }
        row += k * run;
        done += run;
        t += static_cast<std::uint32_t>(run);
        digits[k - 1] = t;
        if (t == last) {  // carry into the earlier digits
            digits[k - 1] = 0;
            for (std::size_t c = k - 1; c-- > first;) {
                if (++digits[c] < sizes[c]) break;
                digits[c] = 0;
            }
        }
    }
}

}  // namespace

void fill_product(frame::Strided<std::uint32_t> ns, std::uint32_t rows, std::uint32_t* out) noexcept {
    const std::size_t k = static_cast<std::size_t>(ns.n);
    if (k == 0 || rows == 0) return;
    std::uint32_t small_sizes[16], small_digits[16];
    std::vector<std::uint32_t> big_sizes, big_digits;
    std::uint32_t* sizes = small_sizes;
    std::uint32_t* digits = small_digits;
    if (k > 16) {
        big_sizes.resize(k);
        big_digits.resize(k);
        sizes = big_sizes.data();
        digits = big_digits.data();
    }
    for (std::size_t c = 0; c < k; ++c) {
        sizes[c] = ns[static_cast<std::ptrdiff_t>(c)];
        digits[c] = 0;
    }

    // The block: the rows of the trailing sizes j..k-1, as many as fit in
    // kBlockBytes; every later block is the previous one with only the leading
    // digits changed.
    const std::size_t row_bytes = k * sizeof(std::uint32_t);
    std::size_t j = k;
    std::size_t block_rows = 1;
    while (j > 0 && block_rows * sizes[j - 1] * row_bytes <= kBlockBytes) block_rows *= sizes[--j];
    if (j == k || j == 0) {
        // The last size alone is large, or the whole table is one block.
        write_rows(sizes, digits, k, 0, rows, out);
        return;
    }
    write_rows(sizes, digits, k, j, block_rows, out);
    const std::size_t blocks = rows / block_rows;
    const std::size_t block_words = block_rows * k;
    for (std::size_t b = 1; b < blocks; ++b) {
        // Advance the leading digits (0..j-1) by one, noting the first changed.
        std::size_t changed = j;
        for (std::size_t c = j; c-- > 0;) {
            changed = c;
            if (++digits[c] < sizes[c]) break;
            digits[c] = 0;
        }
        std::uint32_t* dst = out + b * block_words;
        std::memcpy(dst, dst - block_words, block_words * sizeof(std::uint32_t));
        for (std::size_t c = changed; c < j; ++c) {
            const std::uint32_t v = digits[c];
            for (std::size_t r = 0; r < block_rows; ++r) dst[r * k + c] = v;
        }
    }
}

}  // namespace zalmor::pondistra
