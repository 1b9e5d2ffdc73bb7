// The instruction-set path of the kernels, shared by the solver and the
// band library, which compiles the diagonal-block routine from its header.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

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
inline std::atomic<std::int32_t> solver_isa_cap{-1};

// Whether the group and wide-band vector forms may be taken
// (testing::set_solver_vector_forms turns them off, to compare with the
// one-block general forms).
inline std::atomic<bool> solver_vector_forms_on{true};
// Groups done since the process started, for tests to see them taken.
inline std::atomic<std::int64_t> solver_groups_done{0};

// The path the kernels take: the widest, or the cap when lower.
inline std::int32_t solver_isa() {
  const std::int32_t cap = solver_isa_cap.load(std::memory_order_relaxed);
  return cap < 0 ? widest_isa() : std::min(cap, widest_isa());
}

}  // namespace pband
