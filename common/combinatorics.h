// Integer helpers exported by the modules for other native code of the
// package. Pure C++; callable from any thread without the interpreter lock.
#pragma once

#define ZALMOR_EXPORT __attribute__((visibility("default")))

// n! modulo 2**64 (exact up to n = 20; 0 from n = 66 on).
ZALMOR_EXPORT unsigned long factorial(unsigned int n);

// The binomial coefficient C(n, k): 0 for k > n, exact whenever it fits in 64
// bits, 2**64 - 1 when it does not.
ZALMOR_EXPORT unsigned long binomial_coef(unsigned long n, unsigned long k);
