/* A C library pow that errs more than the one the square shortcut was
 * measured against: for y = 2 it rounds the exact square moved by 1/20 of a
 * unit towards +infinity. Preloaded, it stands for another libm. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <math.h>
#include <string.h>

double pow(double x, double y) {
    static double (*real)(double, double);
    if (y == 2.0 && isfinite(x) && fabs(x) > 0x1p-400 && fabs(x) < 0x1p500) {
        double p = x * x, err = fma(x, x, -p), u;
        long long bits;
        memcpy(&bits, &p, sizeof bits);
        bits &= 0x7ff0000000000000LL;
        memcpy(&u, &bits, sizeof u);
        u *= 0x1p-52;
        /* p + err + u/20, rounded once: exact when err + u/20 is representable */
        return p + (err + u / 20);
    }
    if (real == NULL) real = (double (*)(double, double))dlsym(RTLD_NEXT, "pow");
    return real(x, y);
}
