// The vector sort of elements T over the operations of a vector type V,
// included once per instruction set and element type, inside that set's
// target region and a namespace of its own (see vector_sort.cpp): no include
// guard and no includes of its own.
//
// V gives R (a register of N lanes of T), Mask (one bit per lane), kLast (no
// element is greater), next_up(x) (the least value above x < kLast), and:
// load, store, load_padded(p, count) (lanes from count on hold kLast),
// store_first(p, v, count), set1, minmax(a, b, lo, hi), minmax_upper<X>(a, b)
// (upper<X> of the minima and maxima), swapped_lower<X>(a, b) (swap_lanes<X> of
// upper<X>(b, a)), special(v) (for
// doubles: the mask of lanes that hold NaN or -0.0),
// less(a, b) (the mask of lanes where a < b), pack(v, mask) (the lanes of the
// mask first, in order, then the others), swap_lanes<X>(v) (lane l takes lane
// l ^ X), rotate<X>(v) (lane l takes lane (l + X) % N), upper<X>(a, b) (lanes
// whose bit of the highest bit of X is clear from a, the others from b), and
// transpose(R*) of N registers.

// ---- sorting networks --------------------------------------------------------
//
// K registers hold the K * N keys of a bitonic network; key i of the network
// sits in lane i / K of register i % K. The first stages then compare whole
// registers, and only the late ones, across lanes, need permutations. Each
// stage s starts with the layer that pairs i with i ^ (s - 1), followed by the
// layers pairing i with i ^ d for d = s/4 ... 1; the lower of each pair takes
// the smaller key, so every stage sorts ascending.

template <int K, int M>
ZALMOR_SORT_INLINE void network_layer(R* x) noexcept {
    constexpr int across = M & (K - 1);  // the register part of the partner
    constexpr int lanes = M / K;         // the lane part
    if constexpr (lanes == 0) {
        constexpr int top = 1 << (31 - __builtin_clz(across));  // the pair's lower register has it clear
#pragma GCC unroll 16
        for (int r = 0; r < K; ++r) {
            if ((r & top) == 0) V::minmax(x[r], x[r ^ across], x[r], x[r ^ across]);
        }
    } else if constexpr (across == 0) {
#pragma GCC unroll 16
        for (int r = 0; r < K; ++r) {
            x[r] = V::template minmax_upper<lanes>(x[r], V::template swap_lanes<lanes>(x[r]));
        }
    } else {  // the first layer of a stage wider than K: registers r and K-1-r
#pragma GCC unroll 16
        for (int r = 0; r < K / 2; ++r) {
            const R y = V::template swap_lanes<lanes>(x[K - 1 - r]);
            R lo, hi;
            V::minmax(x[r], y, lo, hi);
            x[r] = V::template upper<lanes>(lo, hi);
            x[K - 1 - r] = V::template swapped_lower<lanes>(lo, hi);
        }
    }
}

template <int K, int D>
ZALMOR_SORT_INLINE void network_halves(R* x) noexcept {
    if constexpr (D >= 1) {
        network_layer<K, D>(x);
        network_halves<K, D / 2>(x);
    }
}

template <int K, int S>
ZALMOR_SORT_INLINE void network_stages(R* x) noexcept {
    if constexpr (S <= K * V::N) {
        network_layer<K, S - 1>(x);
        network_halves<K, S / 4>(x);
        network_stages<K, S * 2>(x);
    }
}

// The stages up to K compare whole registers only: in their place, the
// smallest network of K inputs on each lane (column_pairs, vector_sort.cpp).
template <int K, std::size_t... I>
ZALMOR_SORT_INLINE void sort_columns(R* x, std::index_sequence<I...>) noexcept {
    constexpr auto pairs = column_pairs<K>();
    (V::minmax(x[pairs[I][0]], x[pairs[I][1]], x[pairs[I][0]], x[pairs[I][1]]), ...);
}

// How many of the N keys from `from` on lie below n: 0 to N, without branches
// (leaves of every length pass here, so a branch on it would be mispredicted).
ZALMOR_SORT_INLINE int lanes_left(std::size_t n, std::size_t from) noexcept {
    const std::ptrdiff_t left = static_cast<std::ptrdiff_t>(n) - static_cast<std::ptrdiff_t>(from);
    return static_cast<int>(left < 0 ? 0 : left > V::N ? V::N : left);
}

// Sorts a[0..n), K / 2 * N < n <= K * N (0 < n when K is 1), padded with the
// largest key. Registers past the end are loaded and stored with empty masks.
template <int K>
void network_sort(T* a, std::size_t n) noexcept {
    constexpr int N = V::N;
    R x[K];
#pragma GCC unroll 16
    for (int r = 0; r < K; ++r) {
        x[r] = r < K / 2 ? V::load(a + r * N) : V::load_padded(a + r * N, lanes_left(n, r * N));
    }
    if constexpr (K > 1) sort_columns<K>(x, std::make_index_sequence<column_pairs<K>().size()>{});
    network_stages<K, 2 * K>(x);
    if constexpr (K >= N) {
        // Key i is lane i / K of register i % K: transposing each block of N
        // registers turns lane l of block b into the output vector l * K/N + b.
#pragma GCC unroll 16
        for (int b = 0; b < K / N; ++b) V::transpose(x + b * N);
#pragma GCC unroll 16
        for (int b = 0; b < K / N; ++b) {
#pragma GCC unroll 16
            for (int l = 0; l < N; ++l) {
                const int j = l * (K / N) + b;
                if (j < K / 2) {
                    V::store(a + j * N, x[b * N + l]);
                } else {
                    V::store_first(a + j * N, x[b * N + l], lanes_left(n, j * N));
                }
            }
        }
    } else {
        alignas(64) T held[K * N];
#pragma GCC unroll 16
        for (int r = 0; r < K; ++r) V::store(held + r * N, x[r]);
        for (std::size_t i = 0; i < n; ++i) a[i] = held[(i % K) * N + i / K];
    }
}

constexpr std::size_t kNetworkMost = 16 * V::N;  // the longest range a network sorts

void small_sort(T* a, std::size_t n) noexcept {
    constexpr std::size_t N = V::N;
    if (n <= 1) return;
    if (n <= N) return network_sort<1>(a, n);
    if (n <= 2 * N) return network_sort<2>(a, n);
    if (n <= 4 * N) return network_sort<4>(a, n);
    if (n <= 8 * N) return network_sort<8>(a, n);
    network_sort<16>(a, n);
}

// ---- partition -------------------------------------------------------------------

constexpr int kUnroll = 8;                      // vectors read at a time from one end
constexpr std::size_t kBlock = kUnroll * V::N;  // keys read at a time
// Ranges longer than this are read from memory beyond the second-level cache:
// the partition asks for the keys kPrefetchAhead keys ahead on either side.
constexpr std::size_t kPrefetchFrom = std::size_t{1} << 18;
constexpr std::size_t kPrefetchAhead = 8 * kBlock;

// Asks for the cache lines of the block at a + at; `at` may lie outside the
// range (a prefetch never faults), so the address is formed as an integer.
ZALMOR_SORT_INLINE void prefetch_block(const T* a, std::size_t at) noexcept {
    const std::uintptr_t p = reinterpret_cast<std::uintptr_t>(a) + at * sizeof(T);
#pragma GCC unroll 8
    for (std::size_t line = 0; line < kBlock * sizeof(T); line += 64) {
        __builtin_prefetch(reinterpret_cast<const void*>(p + line));
    }
}

// Moves the keys below `pivot` to the front of a[0..n), n >= 2 * kBlock, and
// returns how many there are. The first and last blocks are held in registers
// to make room; then the block from the end with less room is read, and each
// of its vectors is packed and stored whole at both write positions (only the
// lanes that belong there count, the others land in room not read yet).
// With kFind, `found` also collects V::special of every key (see find_special).
template <bool kFind = false>
std::size_t partition(T* a, std::size_t n, T pivot, Mask* found = nullptr) noexcept {
    constexpr std::size_t N = V::N;
    const R p = V::set1(pivot);
    R head[kUnroll], tail[kUnroll];
#pragma GCC unroll 8
    for (int u = 0; u < kUnroll; ++u) {
        head[u] = V::load(a + u * N);
        tail[u] = V::load(a + n - kBlock + u * N);
    }
    std::size_t read = kBlock, end = n - kBlock;  // a[read, end) is not read yet
    std::size_t left = 0, right = n;              // a[0, left) < pivot <= a[right, n)
    // The keys that do not fill a whole vector, one at a time.
    for (std::size_t rest = (n - 2 * kBlock) % N; rest > 0; --rest) {
        const T k = a[read++];
        if constexpr (kFind) *found |= V::special(V::set1(k));
        const bool below = k < pivot;
        a[left] = k;
        a[right - 1] = k;
        left += below;
        right -= !below;
    }
    Mask special = 0;
    auto place = [&](R v) {
        if constexpr (kFind) special |= V::special(v);
        const Mask below = V::less(v, p);
        const std::size_t count = static_cast<std::size_t>(__builtin_popcount(below));
        const R packed = V::pack(v, below);
        V::store(a + left, packed);
        V::store(a + right - N, packed);
        left += count;
        right -= N - count;
    };
    const bool far = n > kPrefetchFrom;
    while (end - read >= kBlock) {
        R v[kUnroll];
        if (read - left <= right - end) {
#pragma GCC unroll 8
            for (int u = 0; u < kUnroll; ++u) v[u] = V::load(a + read + u * N);
            if (far) prefetch_block(a, read + kPrefetchAhead);
            read += kBlock;
        } else {
            end -= kBlock;
#pragma GCC unroll 8
            for (int u = 0; u < kUnroll; ++u) v[u] = V::load(a + end + u * N);
            if (far) prefetch_block(a, end - kPrefetchAhead);
        }
#pragma GCC unroll 8
        for (int u = 0; u < kUnroll; ++u) place(v[u]);
    }
    while (end > read) {
        R v;
        if (read - left <= right - end) {
            v = V::load(a + read);
            read += N;
        } else {
            end -= N;
            v = V::load(a + end);
        }
        place(v);
    }
    // The held vectors fill the room that is left, 2 * kBlock keys, exactly.
    // Their full stores stay inside it: while the room is at least two
    // vectors wide the two stores do not meet, and the last vector, with room
    // for itself alone, is stored twice at the same place.
#pragma GCC unroll 8
    for (int u = 0; u < kUnroll; ++u) {
        place(head[u]);
        place(tail[u]);
    }
    if constexpr (kFind) *found |= special;
    return left;
}

// ---- quicksort -----------------------------------------------------------------------

void heap_sort_keys(T* a, std::size_t n) noexcept {
    auto sift = [a](std::size_t root, std::size_t end) {
        const T x = a[root];
        for (std::size_t child; (child = 2 * root + 1) < end; root = child) {
            child += child + 1 < end && a[child] < a[child + 1];
            if (!(x < a[child])) break;
            a[root] = a[child];
        }
        a[root] = x;
    };
    for (std::size_t i = n / 2; i-- > 0;) sift(i, n);
    for (std::size_t end = n; end-- > 1;) {
        const T top = a[0];
        a[0] = a[end];
        a[end] = top;
        sift(0, end);
    }
}

// The median of 16 keys taken evenly across a[0..n): key 8 of their network,
// read from its register.
T choose_pivot(const T* a, std::size_t n) noexcept {
    constexpr int K = 16 / V::N;
    alignas(64) T sample[16];
    const std::size_t step = n / 16;
    for (std::size_t i = 0; i < 16; ++i) sample[i] = a[step / 2 + i * step];
    R x[K];
    for (int r = 0; r < K; ++r) x[r] = V::load(sample + r * V::N);
    network_stages<K, 2>(x);
    V::store(sample, x[8 % K]);
    return sample[8 / K];
}

// For short ranges, where the network of choose_pivot costs as much as a good
// part of the partition: the median, lane by lane, of three vectors taken at a
// quarter, half and three quarters of a[0..n); of those lanes, medians of
// three lanes (rotated into place), twice on eight lanes: a short chain of
// operations that the partition waits for.
constexpr std::size_t kCheapPivotMost = 1024;

ZALMOR_SORT_INLINE R median3(R x, R y, R z) noexcept {
    R lo, hi, mid;
    V::minmax(x, y, lo, hi);
    V::minmax(hi, z, hi, mid);
    V::minmax(lo, hi, lo, mid);
    return mid;
}

T choose_pivot_cheaply(const T* a, std::size_t n) noexcept {
    const std::size_t quarter = n / 4;
    R x = median3(V::load(a + quarter - V::N / 2), V::load(a + 2 * quarter - V::N / 2),
                  V::load(a + 3 * quarter - V::N / 2));
    x = median3(x, V::template rotate<1>(x), V::template rotate<2>(x));
    if constexpr (V::N > 4) x = median3(x, V::template rotate<3>(x), V::template rotate<6>(x));
    alignas(64) T lanes[V::N];
    V::store(lanes, x);
    return lanes[0];
}

// `floor`, when `bounded`, is a key no greater than any of a[0..n): a pivot
// equal to it takes all its equals out at once, so that runs of equal keys cost
// one pass. Past the depth budget a range is heap-sorted.
void quick_sort(T* a, std::size_t n, int budget, bool bounded, T floor) noexcept {
    while (n > kNetworkMost) {
        if (budget-- == 0) return heap_sort_keys(a, n);
        const T pivot = n <= kCheapPivotMost ? choose_pivot_cheaply(a, n) : choose_pivot(a, n);
        if (bounded && pivot == floor) {
            if (pivot == V::kLast) return;  // all equal
            const T above = V::next_up(pivot);
            const std::size_t equal = partition(a, n, above);
            a += equal;
            n -= equal;
            floor = above;
            continue;
        }
        const std::size_t m = partition(a, n, pivot);
        if (m < n - m) {
            quick_sort(a, m, budget, bounded, floor);
            a += m;
            n -= m;
            bounded = true;
            floor = pivot;
        } else {
            quick_sort(a + m, n - m, budget, true, pivot);
            n = m;
        }
    }
    small_sort(a, n);
}

int depth_budget(std::size_t n) noexcept {
    int log2 = 0;
    for (std::size_t m = n; m >>= 1;) ++log2;
    return 2 * log2;
}

void sort(T* a, std::size_t n) noexcept { quick_sort(a, n, depth_budget(n), false, 0); }

// The same for doubles, unless one of them is a key `<` does not order as the
// engine needs (V::special: NaN, -0.0): then false, with a[0..n) holding the
// same keys in another order. The first partition looks for them as it goes,
// so that finding none costs no pass of its own.
bool sort_unless_special(T* a, std::size_t n) noexcept {
    Mask found = 0;
    if (n <= kNetworkMost) {
        for (std::size_t i = 0; i < n; ++i) found |= V::special(V::set1(a[i]));
        if (found != 0) return false;
        small_sort(a, n);
        return true;
    }
    const T pivot = n <= kCheapPivotMost ? choose_pivot_cheaply(a, n) : choose_pivot(a, n);
    const std::size_t m = partition<true>(a, n, pivot, &found);
    if (found != 0) return false;
    const int budget = depth_budget(n) - 1;
    quick_sort(a, m, budget, false, 0);
    quick_sort(a + m, n - m, budget, true, pivot);
    return true;
}
