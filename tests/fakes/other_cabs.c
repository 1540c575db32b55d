/* A C library cabs computed otherwise than GNU libc's hypot (in extended
 * precision, rounded once). Preloaded, it stands for another libm. */
#include <complex.h>
#include <math.h>

double cabs(double complex z) {
    long double re = creal(z), im = cimag(z);
    if (isinf(re) || isinf(im)) return INFINITY;
    return (double)sqrtl(re * re + im * im);
}
