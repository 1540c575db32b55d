// The instruction sets that hand-dispatched kernels are built for, and the one
// the running processor takes. Pure C++.
//
// A kernel family with a copy per target (intrinsics, or one body compiled
// under each target attribute) picks best_kernel_target() at run time; its
// `_on(target, ...)` entries let the checks run every copy the processor can.
#pragma once

#include "common/target.h"

namespace zalmor {

// In rising order: each target runs on every processor of the ones above it.
enum class KernelTarget { portable, avx2, avx512 };

// The best target of this build on this processor (the processor is asked once):
// avx512 is x86-64-v4 (AVX-512 F, BW, CD, DQ, VL on top of v3), avx2 is
// x86-64-v3 (AVX2, FMA, BMI1, BMI2, LZCNT, MOVBE, F16C on top of POPCNT and the rest).
inline KernelTarget best_kernel_target() noexcept {
    static const KernelTarget best = [] {
#ifdef ZALMOR_X86
        __builtin_cpu_init();
        if (__builtin_cpu_supports("x86-64-v4")) return KernelTarget::avx512;
        if (__builtin_cpu_supports("x86-64-v3")) return KernelTarget::avx2;
#endif
        return KernelTarget::portable;
    }();
    return best;
}

inline bool kernel_target_supported(KernelTarget target) noexcept { return target <= best_kernel_target(); }

}  // namespace zalmor
