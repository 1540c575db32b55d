#include "ops/brenthosca/ordering.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "common/large_blocks.h"
#include "ops/brenthosca/simd.h"

namespace zalmor::brenthosca {

void* system_allocate(std::size_t bytes) noexcept { return std::malloc(bytes); }

int ascending_cmp(const IndexedDouble& lhs, const IndexedDouble& rhs) noexcept { return lhs.val < rhs.val; }

int descending_cmp(const IndexedDouble& lhs, const IndexedDouble& rhs) noexcept { return lhs.val > rhs.val; }

namespace {

// ---- keys ------------------------------------------------------------------
//
// A double is ordered by an unsigned 64-bit key computed from its bits, so that
// the sorts compare and bucket plain integers.

using Key = std::uint64_t;

constexpr Key kSign = Key{1} << 63;
constexpr Key kInfinityBits = 0x7FF0000000000000;
// Flipping the bits of negative numbers and setting the sign bit of the others
// orders all numbers, but leaves the negative NaNs below -inf. Subtracting their
// count moves -inf to key 0 and the negative NaNs, wrapping, to the very top.
constexpr Key kNegativeNans = 0x000FFFFFFFFFFFFF;

// The bijection from bits to key: ascending under `<` for numbers (-0 before
// +0, the only equal pair it tells apart), every NaN after +inf.
inline Key key_of(Key bits) noexcept {
    const Key negative = Key{0} - (bits >> 63);
    return (bits ^ (negative | kSign)) - kNegativeNans;
}

inline Key bits_of(Key key) noexcept {
    key += kNegativeNans;
    const Key negative = (key >> 63) - 1;
    return key ^ (negative | kSign);
}

constexpr Key kLastNumberKey = (kInfinityBits | kSign) - kNegativeNans;  // +inf
constexpr Key kNanKey = ~Key{0};

// The same order on signed keys: the vector engine compares signed lanes.
inline std::int64_t signed_key_of(Key bits) noexcept { return static_cast<std::int64_t>(key_of(bits) ^ kSign); }
inline Key bits_of_signed(std::int64_t key) noexcept { return bits_of(static_cast<Key>(key) ^ kSign); }

inline bool is_nan_bits(Key bits) noexcept { return (bits & ~kSign) > kInfinityBits; }

// argsort's keys. Equal values get equal keys (both zeros the key of +0, every
// NaN kNanKey), so that a stable sort keeps them in input order.
struct AscendingKey {
    Key operator()(Key bits) const noexcept {
        bits = bits == kSign ? 0 : bits;
        return is_nan_bits(bits) ? kNanKey : key_of(bits);
    }
};
struct DescendingKey {
    Key operator()(Key bits) const noexcept {
        bits = bits == kSign ? 0 : bits;
        return is_nan_bits(bits) ? kNanKey : kLastNumberKey - key_of(bits);
    }
};

// Element i of a vector whose elements lie `stride` bytes apart.
template <class Byte>
Byte* element(Byte* data, std::size_t i, std::ptrdiff_t stride) noexcept {
    return data + static_cast<std::ptrdiff_t>(i) * stride;
}

// A key with the position it came from.
struct Keyed {
    Key key;
    std::uint64_t id;
};

inline Key key_of_record(Key k) noexcept { return k; }
inline Key key_of_record(const Keyed& r) noexcept { return r.key; }

// ---- comparison sorts --------------------------------------------------------

constexpr std::size_t kShortVector = 16;  // at most this long: insertion sort, ties in input order
constexpr std::size_t kInsertionRun = 24;  // quicksort leaves ranges this short to insertion

// Moves each element left past the elements it goes before; elements that go
// before none stay where they are, so equal elements keep their order.
template <class T, class Before>
void insertion_sort(T* a, std::size_t n, Before before) {
    for (std::size_t i = 1; i < n; ++i) {
        const T x = a[i];
        std::size_t j = i;
        for (; j > 0 && before(x, a[j - 1]); --j) a[j] = a[j - 1];
        a[j] = x;
    }
}

template <class Access, class Before>
void sift_down(Access& a, std::size_t root, std::size_t n, Before before) {
    auto x = a.get(root);
    for (std::size_t child; (child = 2 * root + 1) < n; root = child) {
        if (child + 1 < n && before(a.get(child), a.get(child + 1))) ++child;
        if (!before(x, a.get(child))) break;
        a.set(root, a.get(child));
    }
    a.set(root, x);
}

// In place, O(n log n) at worst, no memory: the fall-back of the other sorts.
template <class Access, class Before>
void heap_sort(Access a, std::size_t n, Before before) {
    for (std::size_t i = n / 2; i-- > 0;) sift_down(a, i, n, before);
    for (std::size_t end = n; end-- > 1;) {
        auto top = a.get(0);
        a.set(0, a.get(end));
        a.set(end, top);
        sift_down(a, 0, end, before);
    }
}

template <class T>
struct ArrayAccess {
    T* a;
    T get(std::size_t i) const noexcept { return a[i]; }
    void set(std::size_t i, const T& x) const noexcept { a[i] = x; }
};

// Keys held in the vector's own memory at any stride.
struct StridedKeys {
    char* data;
    std::ptrdiff_t stride;
    Key get(std::size_t i) const noexcept { return frame::load<Key>(element(data, i, stride)); }
    void set(std::size_t i, Key k) const noexcept { frame::store(element(data, i, stride), k); }
};

// Moves the elements for which in_left holds to the front, without branches;
// returns how many there are. With scratch room for n elements the elements
// are dealt to both ends of the scratch and copied back (no store waits for a
// load of the same place); without, they are swapped in place.
template <class T, class InLeft>
std::size_t partition(T* a, std::size_t n, T* scratch, InLeft in_left) {
    if (scratch != nullptr) {
        std::size_t left = 0, right = n;  // scratch[0, left) and scratch[right, n) are dealt
        for (std::size_t i = 0; i < n; ++i) {
            const T x = a[i];
            const bool goes_left = in_left(x);
            scratch[left] = x;
            scratch[right - 1] = x;
            left += goes_left;
            right -= !goes_left;
        }
        std::memcpy(static_cast<void*>(a), scratch, n * sizeof(T));
        return left;
    }
    std::size_t m = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const T x = a[i];
        const bool goes_left = in_left(x);
        a[i] = a[m];
        a[m] = x;
        m += goes_left;
    }
    return m;
}

template <class T, class Before>
void sort3(T& a, T& b, T& c, Before before) {
    if (before(b, a)) std::swap(a, b);
    if (before(c, b)) {
        std::swap(b, c);
        if (before(b, a)) std::swap(a, b);
    }
}

// Quicksort with a median-of-three pivot and branch-free partitions, through
// `scratch` (room for n elements) when it is given. `pred`, when set, is an
// element left of the range that goes before none of it; a pivot equal to it
// gathers all its equals at once, so runs of equal keys cost one pass. Past the
// depth budget the range is heap-sorted.
template <class T, class Before>
void quick_sort(T* a, std::size_t n, T* scratch, Before before, int budget, const T* pred) {
    while (n > kInsertionRun) {
        if (budget-- == 0) {
            heap_sort(ArrayAccess<T>{a}, n, before);
            return;
        }
        sort3(a[0], a[n / 2], a[n - 1], before);
        std::swap(a[n / 2], a[n - 1]);
        const T pivot = a[n - 1];
        if (pred != nullptr && !before(*pred, pivot)) {
            const std::size_t equal = partition(a, n, scratch, [&](const T& x) { return !before(pivot, x); });
            a += equal;
            n -= equal;
            continue;
        }
        const std::size_t m = partition(a, n - 1, scratch, [&](const T& x) { return before(x, pivot); });
        std::swap(a[m], a[n - 1]);
        const std::size_t right = n - m - 1;
        if (m < right) {
            quick_sort(a, m, scratch, before, budget, pred);
            pred = a + m;
            a += m + 1;
            n = right;
        } else {
            quick_sort(a + m + 1, right, scratch, before, budget, a + m);
            n = m;
        }
    }
    insertion_sort(a, n, before);
}

int depth_budget(std::size_t n) {
    int log2 = 0;
    while (n >>= 1) ++log2;
    return 2 * log2;
}

template <class T, class Before>
void quick_sort(T* a, std::size_t n, T* scratch, Before before) {
    quick_sort(a, n, scratch, before, depth_budget(n), static_cast<const T*>(nullptr));
}

// The orders, as function objects so that the sorts inline them.
struct KeyBefore {
    bool operator()(Key a, Key b) const noexcept { return a < b; }
};

// Equal keys ordered by position: the order of a stable sort. One 128-bit
// comparison, so that partitions stay free of branches.
struct KeyedBefore {
    bool operator()(const Keyed& a, const Keyed& b) const noexcept {
        using Wide = unsigned __int128;
        return ((Wide{a.key} << 64) | a.id) < ((Wide{b.key} << 64) | b.id);
    }
};

// `<`, with every NaN after every number.
struct ValueBefore {
    bool operator()(double a, double b) const noexcept { return a < b || (std::isnan(b) && !std::isnan(a)); }
};

// argsort's comparison of records, with every NaN after every number.
template <int (*Cmp)(const IndexedDouble&, const IndexedDouble&)>
struct RecordBefore {
    bool operator()(const IndexedDouble& a, const IndexedDouble& b) const noexcept {
        return Cmp(a, b) != 0 || (std::isnan(b.val) && !std::isnan(a.val));
    }
};

// ---- LSD radix sort ------------------------------------------------------------

constexpr int kDigits = 8;
constexpr int kBuckets = 256;

// From these lengths on the radix sort beats the quicksort: the quicksort's
// pass over plain keys is cheaper than its pass over (key, position) records.
constexpr std::size_t kSortRadixFrom = 4096;
constexpr std::size_t kArgsortRadixFrom = 640;

struct Histograms {
    std::size_t count[kDigits][kBuckets];
};

inline void count_key(Histograms& h, Key k) noexcept {
    for (int d = 0; d < kDigits; ++d) ++h.count[d][(k >> (8 * d)) & 0xFF];
}

// The digits (least significant first) on which the keys differ; a digit that
// all keys share leaves the order as it is. `some` is any one of the keys.
int digits_to_sort(const Histograms& h, std::size_t n, Key some, int* digits) {
    int live = 0;
    for (int d = 0; d < kDigits; ++d) {
        if (h.count[d][(some >> (8 * d)) & 0xFF] != n) digits[live++] = d;
    }
    return live;
}

// Bucket starts of digit d, from its counts.
void bucket_starts(const Histograms& h, int d, std::size_t* starts) {
    std::size_t sum = 0;
    for (int b = 0; b < kBuckets; ++b) {
        starts[b] = sum;
        sum += h.count[d][b];
    }
}

// One stable distribution pass on digit d: record source(i) for i < n goes to
// place(position, record), records of the same digit value in order.
template <class Source, class Place>
void distribute(const Histograms& h, int d, std::size_t n, Source source, Place place) {
    std::size_t next[kBuckets];
    bucket_starts(h, d, next);
    const int shift = 8 * d;
    for (std::size_t i = 0; i < n; ++i) {
        const auto record = source(i);
        place(next[(key_of_record(record) >> shift) & 0xFF]++, record);
    }
}

// ---- working memory ---------------------------------------------------------------

// An uninitialised array of trivially copyable T; empty when the allocation
// fails. Large blocks ask for huge pages.
template <class T>
class Buffer {
public:
    explicit Buffer(Allocate allocate) noexcept : allocate_(allocate) {}
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { std::free(data_); }

    T* allocate(std::size_t n) noexcept {
        if (n > SIZE_MAX / sizeof(T)) return nullptr;
        const std::size_t bytes = n * sizeof(T);
        data_ = static_cast<T*>(allocate_block(bytes != 0 ? bytes : 1, allocate_));
        return data_;
    }
    T* get() const noexcept { return data_; }

private:
    Allocate allocate_;
    T* data_ = nullptr;
};

// ---- sort ---------------------------------------------------------------------

// Sorts keys[0..n) into ascending order with spare room for n more; returns
// where the sorted keys are (keys or spare).
Key* radix_sort(Key* keys, Key* spare, std::size_t n, const Histograms& h) {
    int digits[kDigits];
    const int live = digits_to_sort(h, n, keys[0], digits);
    for (int p = 0; p < live; ++p) {
        const Key* from = keys;
        Key* to = spare;
        distribute(h, digits[p], n, [from](std::size_t i) { return from[i]; },
                   [to](std::size_t at, Key k) { to[at] = k; });
        std::swap(keys, spare);
    }
    return keys;
}

// The keys of the vector engine in place of the bits, and back: one pass each,
// compiled for each instruction set.
ZALMOR_WIDE_VECTOR_CLONES void to_signed_keys(Key* a, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) a[i] = static_cast<Key>(signed_key_of(a[i]));
}
ZALMOR_WIDE_VECTOR_CLONES void from_signed_keys(Key* a, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) a[i] = bits_of_signed(static_cast<std::int64_t>(a[i]));
}

// The sort when no memory can be had and the vector cannot hold the keys
// itself: keys in place through the stride, heap-sorted, turned back.
void sort_without_memory(char* data, std::size_t n, std::ptrdiff_t stride) noexcept {
    const StridedKeys keys{data, stride};
    for (std::size_t i = 0; i < n; ++i) keys.set(i, key_of(keys.get(i)));
    heap_sort(keys, n, KeyBefore{});
    for (std::size_t i = 0; i < n; ++i) keys.set(i, bits_of(keys.get(i)));
}

}  // namespace

void sort_in_place(char* data, std::ptrdiff_t length, std::ptrdiff_t stride, Allocate allocate,
                   KernelTarget target) noexcept {
    if (length < 2) return;
    const auto n = static_cast<std::size_t>(length);
    auto at = [data, stride](std::size_t i) { return element(data, i, stride); };

    if (n <= kShortVector) {
        double v[kShortVector];
        for (std::size_t i = 0; i < n; ++i) std::memcpy(&v[i], at(i), sizeof(double));
        insertion_sort(v, n, ValueBefore{});
        for (std::size_t i = 0; i < n; ++i) std::memcpy(at(i), &v[i], sizeof(double));
        return;
    }

    // The keys live in the vector itself when it is contiguous and aligned.
    const bool own_memory =
        stride == sizeof(Key) && reinterpret_cast<std::uintptr_t>(data) % alignof(Key) == 0;
    Buffer<Key> copy(allocate);
    Key* keys = own_memory ? reinterpret_cast<Key*>(data) : copy.allocate(n);
    if (keys == nullptr) {
        sort_without_memory(data, n, stride);
        return;
    }

    Key* sorted = keys;
    if (target != KernelTarget::portable && kernel_target_supported(target)) {
        // The vector engine sorts the doubles in place, or, when it meets a
        // NaN or -0.0, signed keys.
        if (!own_memory) {
            for (std::size_t i = 0; i < n; ++i) keys[i] = frame::load<Key>(at(i));
        }
        if (!vector_sort_doubles(target, reinterpret_cast<double*>(keys), n)) {
            to_signed_keys(keys, n);
            vector_sort_keys(target, reinterpret_cast<std::int64_t*>(keys), n);
            from_signed_keys(keys, n);
        }
        if (!own_memory) {
            for (std::size_t i = 0; i < n; ++i) frame::store(at(i), keys[i]);
        }
        return;
    }

    if (own_memory) {
        for (std::size_t i = 0; i < n; ++i) keys[i] = key_of(keys[i]);
    } else {
        for (std::size_t i = 0; i < n; ++i) keys[i] = key_of(frame::load<Key>(at(i)));
    }
    // Room for a second copy of the keys: the radix sort's other half, or the
    // quicksort's partition scratch. Without it the quicksort works in place.
    Buffer<Key> spare(allocate);
    Key* room = spare.allocate(n);
    if (room != nullptr && n >= kSortRadixFrom) {
        Histograms h{};
        for (std::size_t i = 0; i < n; ++i) count_key(h, keys[i]);
        sorted = radix_sort(keys, room, n, h);
    } else {
        quick_sort(keys, n, room, KeyBefore{});
    }

    if (own_memory) {
        for (std::size_t i = 0; i < n; ++i) keys[i] = bits_of(sorted[i]);
    } else {
        for (std::size_t i = 0; i < n; ++i) frame::store(at(i), bits_of(sorted[i]));
    }
}

namespace {

// ---- argsort --------------------------------------------------------------------

// Stable LSD radix sort of the positions: the first pass reads the input (the
// bits of element i are bits[i]: a frame::Strided or frame::Contiguous of
// Key), the last writes the positions to the sink. `work` has room for 2n
// records.
template <class Bits, class KeyFn>
ArgsortOutcome radix_positions(Bits bits, std::size_t n, KeyFn key, Keyed* work, PositionsSink sink,
                               void* context) {
    Histograms h{};
    for (std::size_t i = 0; i < n; ++i) count_key(h, key(bits[i]));
    int digits[kDigits];
    const int live = digits_to_sort(h, n, key(bits[0]), digits);
    auto from_input = [bits, key](std::size_t i) { return Keyed{key(bits[i]), i}; };
    if (live == 0) {  // all keys equal
        std::uint64_t* out = sink(context);
        if (out == nullptr) return ArgsortOutcome::abandoned;
        for (std::size_t i = 0; i < n; ++i) out[i] = i;
        return ArgsortOutcome::done;
    }
    Keyed* from = work;
    Keyed* to = work + n;
    auto into = [&to](std::size_t at, const Keyed& r) { to[at] = r; };
    for (int p = 0; p + 1 < live; ++p) {
        if (p == 0) {
            distribute(h, digits[p], n, from_input, into);
        } else {
            distribute(h, digits[p], n, [from](std::size_t i) { return from[i]; }, into);
        }
        std::swap(from, to);
    }
    std::uint64_t* out = sink(context);
    if (out == nullptr) return ArgsortOutcome::abandoned;
    auto place = [out](std::size_t at, const Keyed& r) { out[at] = r.id; };
    if (live == 1) {
        distribute(h, digits[0], n, from_input, place);
    } else {
        distribute(h, digits[live - 1], n, [from](std::size_t i) { return from[i]; }, place);
    }
    return ArgsortOutcome::done;
}

// Working storage: 2n records, the records and the room a sort needs beside
// them.
template <class Bits, class KeyFn>
ArgsortOutcome sorted_positions(Bits bits, std::size_t n, KeyFn key, PositionsSink sink, void* context,
                                Allocate allocate) {
    Buffer<Keyed> work(allocate);
    if (work.allocate(2 * n) == nullptr) return ArgsortOutcome::no_memory;
    if (n >= kArgsortRadixFrom) return radix_positions(bits, n, key, work.get(), sink, context);
    Keyed* a = work.get();
    for (std::size_t i = 0; i < n; ++i) a[i] = Keyed{key(bits[i]), i};
    quick_sort(a, n, a + n, KeyedBefore{});
    std::uint64_t* out = sink(context);
    if (out == nullptr) return ArgsortOutcome::abandoned;
    for (std::size_t i = 0; i < n; ++i) out[i] = a[i].id;
    return ArgsortOutcome::done;
}

// words[i] = the key of element i with its last bits (`low`) replaced by i:
// the contiguous case, compiled for each instruction set.
template <class KeyFn>
ZALMOR_INLINE void fill_words(const char* data, std::size_t n, KeyFn key, std::uint64_t low,
                              std::uint64_t* words) noexcept {
    for (std::size_t i = 0; i < n; ++i) words[i] = ((key(frame::load<Key>(data + 8 * i)) ^ kSign) & ~low) | i;
}
ZALMOR_WIDE_VECTOR_CLONES void ascending_words(const char* data, std::size_t n, std::uint64_t low,
                                               std::uint64_t* words) noexcept {
    fill_words(data, n, AscendingKey{}, low, words);
}
ZALMOR_WIDE_VECTOR_CLONES void descending_words(const char* data, std::size_t n, std::uint64_t low,
                                                std::uint64_t* words) noexcept {
    fill_words(data, n, DescendingKey{}, low, words);
}
template <class Bits, class KeyFn>
void words_of(Bits bits, std::size_t n, KeyFn key, std::uint64_t low, std::uint64_t* words) noexcept {
    if constexpr (std::is_same_v<Bits, frame::Contiguous<Key>> && std::is_same_v<KeyFn, AscendingKey>) {
        ascending_words(bits.data, n, low, words);
    } else if constexpr (std::is_same_v<Bits, frame::Contiguous<Key>> && std::is_same_v<KeyFn, DescendingKey>) {
        descending_words(bits.data, n, low, words);
    } else {
        for (std::size_t i = 0; i < n; ++i) words[i] = ((key(bits[i]) ^ kSign) & ~low) | i;
    }
}

// With the vector engine: each position rides in the low bits of its own key,
// in place of the key's last `b` bits (the fewest that hold every position),
// so that the engine's plain sort of these words orders by key, then position.
// Keys that differ only in the bits given up form runs of equal upper parts,
// ordered by position; a run whose full keys are not already in order is
// sorted again by (key, position). Working storage: n words, and two records
// for each element of the longest run that needs sorting.
template <class Bits, class KeyFn>
ArgsortOutcome vector_positions(Bits bits, std::size_t n, KeyFn key, KernelTarget target, PositionsSink sink,
                                void* context, Allocate allocate) {
    int b = 0;
    while ((std::uint64_t{1} << b) < n) ++b;
    const std::uint64_t low = (std::uint64_t{1} << b) - 1;
    Buffer<std::uint64_t> work(allocate);
    std::uint64_t* words = work.allocate(n);
    if (words == nullptr) return ArgsortOutcome::no_memory;
    words_of(bits, n, key, low, words);
    vector_sort_keys(target, reinterpret_cast<std::int64_t*>(words), n);

    for (std::size_t start = 0, end; start + 1 < n; start = end) {
        const std::uint64_t upper = words[start] & ~low;
        for (end = start + 1; end < n && (words[end] & ~low) == upper;) ++end;
        if (end - start == 1) continue;
        bool in_order = true;
        for (std::size_t i = start + 1; i < end; ++i) {
            in_order &= key(bits[words[i - 1] & low]) <= key(bits[words[i] & low]);
        }
        if (in_order) continue;
        const std::size_t m = end - start;
        Buffer<Keyed> run(allocate);
        Keyed* records = run.allocate(2 * m);
        if (records == nullptr) return ArgsortOutcome::no_memory;
        for (std::size_t i = 0; i < m; ++i) {
            const std::uint64_t id = words[start + i] & low;
            records[i] = Keyed{key(bits[id]), id};
        }
        quick_sort(records, m, records + m, KeyedBefore{});
        for (std::size_t i = 0; i < m; ++i) words[start + i] = upper | records[i].id;
    }

    std::uint64_t* out = sink(context);
    if (out == nullptr) return ArgsortOutcome::abandoned;
    for (std::size_t i = 0; i < n; ++i) out[i] = words[i] & low;
    return ArgsortOutcome::done;
}

template <class Bits, class KeyFn>
ArgsortOutcome positions_on(Bits bits, std::size_t n, KeyFn key, KernelTarget target, PositionsSink sink,
                            void* context, Allocate allocate) {
    if (target != KernelTarget::portable && kernel_target_supported(target)) {
        return vector_positions(bits, n, key, target, sink, context, allocate);
    }
    return sorted_positions(bits, n, key, sink, context, allocate);
}

template <class Bits>
ArgsortOutcome sorted_positions(Bits bits, std::size_t n, bool reverse, KernelTarget target, PositionsSink sink,
                                void* context, Allocate allocate) {
    return reverse ? positions_on(bits, n, DescendingKey{}, target, sink, context, allocate)
                   : positions_on(bits, n, AscendingKey{}, target, sink, context, allocate);
}

}  // namespace

ArgsortOutcome argsort_positions(frame::Strided<double> xs, bool reverse, PositionsSink sink, void* context,
                                 Allocate allocate, KernelTarget target) noexcept {
    const std::size_t n = xs.n > 0 ? static_cast<std::size_t>(xs.n) : 0;
    if (n > kMaxWorkingRecords) return ArgsortOutcome::too_long;
    if (n <= kShortVector) {
        IndexedDouble work[kShortVector];
        for (std::size_t i = 0; i < n; ++i) work[i] = IndexedDouble{i, xs[static_cast<std::ptrdiff_t>(i)]};
        if (reverse) {
            insertion_sort(work, n, RecordBefore<descending_cmp>{});
        } else {
            insertion_sort(work, n, RecordBefore<ascending_cmp>{});
        }
        std::uint64_t* out = sink(context);
        if (out == nullptr) return ArgsortOutcome::abandoned;
        for (std::size_t i = 0; i < n; ++i) out[i] = work[i].id;
        return ArgsortOutcome::done;
    }
    if (xs.contiguous()) {
        return sorted_positions(frame::Contiguous<Key>{xs.data}, n, reverse, target, sink, context, allocate);
    }
    return sorted_positions(frame::Strided<Key>{xs.data, xs.n, xs.stride}, n, reverse, target, sink, context,
                            allocate);
}

// ---- gather ------------------------------------------------------------------------

namespace {

constexpr std::size_t kPrefetchFrom = std::size_t{1} << 17;  // elements: 1 MiB of doubles
constexpr std::size_t kPrefetchAhead = 32;

inline const char* address_of(frame::Contiguous<double> v, std::size_t i) noexcept { return v.data + 8 * i; }
inline const char* address_of(frame::Strided<double> v, std::size_t i) noexcept {
    return v.data + static_cast<std::ptrdiff_t>(i) * v.stride;
}

// One pass without branches: a position outside the vector reads element 0
// instead and marks the result as failed.
template <class Values, class Positions>
bool gather_checked(std::size_t n, Values value, Positions position, double* out) noexcept {
    bool outside = false;
    std::size_t i = 0;
    if (n > kPrefetchFrom) {
        // Far beyond the caches every read misses: ask for the element a
        // stretch ahead, so that many misses are under way at once.
        for (; i + kPrefetchAhead < n; ++i) {
            const std::uint64_t ahead = position[i + kPrefetchAhead];
            __builtin_prefetch(address_of(value, ahead < n ? ahead : 0));
            const std::uint64_t p = position[i];
            const bool in = p < n;
            outside |= !in;
            out[i] = value[in ? p : 0];
        }
    }
    for (; i < n; ++i) {
        const std::uint64_t p = position[i];
        const bool in = p < n;
        outside |= !in;
        out[i] = value[in ? p : 0];
    }
    return !outside;
}

}  // namespace

bool gather(frame::Strided<double> xs, frame::Strided<std::uint64_t> positions, double* out) noexcept {
    if (xs.n <= 0) return true;
    if (positions.n < xs.n) return false;
    const auto n = static_cast<std::size_t>(xs.n);
    if (xs.contiguous() && positions.contiguous()) {
        return gather_checked(n, frame::Contiguous<double>{xs.data}, frame::Contiguous<std::uint64_t>{positions.data},
                              out);
    }
    return gather_checked(n, xs, positions, out);
}

}  // namespace zalmor::brenthosca
