// The C library's complex functions, reached from C++ through plain doubles.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// cabs(re + im i)
double zalmor_libm_cabs(double re, double im);
// csqrt(re + im i), real part to out[0], imaginary part to out[1]
void zalmor_libm_csqrt(double re, double im, double out[2]);

#ifdef __cplusplus
}
#endif
