// The instruction-set path of every kernel, detected in one place, and the
// attributes that compile a kernel copy for a path. Every path gives the
// same bits; a wider one is only faster.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

// Each path's copy of a kernel is compiled for its target.
#define PBAND_TARGET_AVX2 __attribute__((target("avx2")))
#define PBAND_TARGET_AVX512 \
  __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq")))

// Per-instruction-set kernel copies are flattened so that everything they
// call is compiled for their target. Sanitizer builds check the same source
// without it: flattened and instrumented, the kernels take many minutes to
// compile, and inlining changes neither what is computed nor its bits.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PBAND_FLATTEN
#else
#define PBAND_FLATTEN __attribute__((flatten))
#endif

namespace pband {

// 0 baseline x86-64, 1 AVX2, 2 AVX-512 (F, VL, BW, DQ): the widest this
// processor runs.
inline std::int32_t widest_isa() {
  static const std::int32_t widest = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") &&
        __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq"))
      return 2;
    return __builtin_cpu_supports("avx2") ? 1 : 0;
  }();
  return widest;
}

// The cap a test put on the path (testing::set_solver_isa); -1: none.
inline std::atomic<std::int32_t> isa_cap{-1};

// The path the kernels take: the widest, or the cap when lower.
inline std::int32_t isa_in_use() {
  const std::int32_t cap = isa_cap.load(std::memory_order_relaxed);
  return cap < 0 ? widest_isa() : std::min(cap, widest_isa());
}

}  // namespace pband
