// Complex multiplication with C99 Annex G recovery of infinities. Pure C++.
#pragma once

#include <cmath>

namespace zalmor {

struct Complex {
    double re;
    double im;
};

// The product a * b as the C runtime's complex multiplication gives it: the
// plain formula, and when both parts of that are NaN, an infinite operand is
// taken as a direction (its parts boxed to +-1 or +-0), NaN parts of the other
// operand become signed zeros, and the result is infinity times the recomputed
// parts.
inline Complex muldc3(Complex a, Complex b) noexcept {
    double ac = a.re * b.re, bd = a.im * b.im, ad = a.re * b.im, bc = a.im * b.re;
    double x = ac - bd, y = ad + bc;
    if (std::isnan(x) && std::isnan(y)) {
        double p = a.re, q = a.im, r = b.re, s = b.im;
        bool recalc = false;
        if (std::isinf(p) || std::isinf(q)) {
            p = std::copysign(std::isinf(p) ? 1.0 : 0.0, p);
            q = std::copysign(std::isinf(q) ? 1.0 : 0.0, q);
            if (std::isnan(r)) r = std::copysign(0.0, r);
            if (std::isnan(s)) s = std::copysign(0.0, s);
            recalc = true;
        }
        if (std::isinf(r) || std::isinf(s)) {
            r = std::copysign(std::isinf(r) ? 1.0 : 0.0, r);
            s = std::copysign(std::isinf(s) ? 1.0 : 0.0, s);
            if (std::isnan(p)) p = std::copysign(0.0, p);
            if (std::isnan(q)) q = std::copysign(0.0, q);
            recalc = true;
        }
        if (!recalc && (std::isinf(ac) || std::isinf(bd) || std::isinf(ad) || std::isinf(bc))) {
            if (std::isnan(p)) p = std::copysign(0.0, p);
            if (std::isnan(q)) q = std::copysign(0.0, q);
            if (std::isnan(r)) r = std::copysign(0.0, r);
            if (std::isnan(s)) s = std::copysign(0.0, s);
            recalc = true;
        }
        if (recalc) {
            x = HUGE_VAL * (p * r - q * s);
            y = HUGE_VAL * (p * s + q * r);
        }
    }
    return {x, y};
}

// One step of a running complex product: the plain formula, and the runtime's
// recovery only when a part of that came out NaN, called as acc * x (or, with
// `x_first`, as x * acc; the routine gives the same value either way).
inline Complex multiply_step(Complex acc, Complex x, bool x_first = false) noexcept {
    const double re = acc.re * x.re - acc.im * x.im;
    const double im = acc.re * x.im + acc.im * x.re;
    if (std::isnan(re) || std::isnan(im)) return x_first ? muldc3(x, acc) : muldc3(acc, x);
    return {re, im};
}

}  // namespace zalmor
