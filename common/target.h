// What the build compiles for the processor. Pure C++, no code.
//
// ZALMOR_X86 is set on x86-64 unless the build is portable (the CMake option
// ZALMOR_PORTABLE). It guards everything that knows the processor: the
// instruction-set clones of the vector kernels and their dispatch, the
// intrinsic kernels, the read of the SSE unit's rounding mode and the 2 MiB
// huge pages. Without it every kernel is plain C++ for the baseline target.
#pragma once

#if defined(__x86_64__) && !defined(ZALMOR_PORTABLE)
#define ZALMOR_X86 1
#endif
