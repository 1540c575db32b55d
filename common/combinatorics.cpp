#include "common/combinatorics.h"

#include <limits>

unsigned long factorial(unsigned int n) {
    // From 66 on the product holds at least 64 factors of 2.
    if (n >= 66) return 0;
    unsigned long f = 1;
    for (unsigned long i = 2; i <= n; ++i) f *= i;
    return f;
}

unsigned long binomial_coef(unsigned long n, unsigned long k) {
    if (k > n) return 0;
    const unsigned long r = (n >> 1) < k ? n - k : k;

    // The falling product n (n-1) ... (n-r+1) divided by r!, when the product
    // fits in 64 bits (the division is then exact).
    unsigned long falling = 1;
    bool fits = r <= 20;
    for (unsigned long i = 0; fits && i < r; ++i) fits = !__builtin_mul_overflow(falling, n - i, &falling);
    if (fits) return falling / factorial(static_cast<unsigned int>(r));

    // Otherwise C(n-r+i, i) for i = 1..r: each step is exact and the values
    // never decrease, so the first one past 64 bits settles the result.
    constexpr unsigned long kSaturated = std::numeric_limits<unsigned long>::max();
    unsigned __int128 c = 1;
    for (unsigned long i = 1; i <= r; ++i) {
        c = c * (n - r + i) / i;
        if (c > kSaturated) return kSaturated;
    }
    return static_cast<unsigned long>(c);
}
