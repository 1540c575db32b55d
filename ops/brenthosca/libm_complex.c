#include "libm_complex.h"

#include <complex.h>

double zalmor_libm_cabs(double re, double im) { return cabs(CMPLX(re, im)); }

void zalmor_libm_csqrt(double re, double im, double out[2]) {
    const double complex r = csqrt(CMPLX(re, im));
    out[0] = creal(r);
    out[1] = cimag(r);
}
