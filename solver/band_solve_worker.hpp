// Private header of the band solver: the worker routine every thread of a
// team runs, claiming blocks and meeting the others at the phase barriers.
#pragma once

#include <algorithm>
#include <atomic>
#if defined(PBAND_PHASE_CLOCKS)
#include <chrono>
#endif
#include <cstdint>

#include "runtime/runtime.hpp"
#if defined(PBAND_PHASE_CLOCKS)
#include "solver/band_solver.hpp"
#endif
#include "solver/band_arrays.hpp"
#include "solver/block_ops_dispatch.hpp"
#include "kernels/isa.hpp"

namespace pband {

#if defined(PBAND_PHASE_CLOCKS)
namespace testing {
inline PhaseClocks& phase_clock_table() {
  static PhaseClocks table{};
  return table;
}
}  // namespace testing
#endif

// The worker routine: every thread of the team runs it with the same
// shared arguments. Blocks are claimed one at a time under `mutex`; the
// phases end at barriers on the two slots in turn, whose leader alone
// advances the level fields below and re-arms the other slot.
//   A, n, hb, B, nrhs   the system; A and B are overwritten
//   saved, coupling     the two n·hb halves of the workspace
//   team_size           participants of every barrier
//   level_stride …      level fields and claim counters, shared
//   failure_flags       [p-1] set when a pivot fails in a phase ending
//                       on slot p
// A slot number 0 (none) makes the caller lead every barrier alone, which
// is right only for a team of one; the driver never forms a larger team
// without both slots and the mutex.
template <class T>
void band_solve_worker(T*& A, std::int32_t& n, std::int32_t& hb, T*& B,
                       std::int32_t& nrhs, T*& saved, T*& coupling,
                       Handle& mutex, std::int32_t (&slots)[2],
                       std::int32_t& block_size, std::int32_t& team_size,
                       std::int64_t& level_stride,
                       std::int64_t& neighbour_distance,
                       std::int64_t& claim_step, std::int64_t& level_first,
                       std::int64_t& next_up, std::int64_t& next_down,
                       RealOf<T>& pivot_threshold,
                       std::atomic<std::int32_t> (&failure_flags)[2]) {
  const BandArrays<T> s{A, B, saved, coupling, n, std::max(hb, 0),
                        std::max(nrhs, 0), block_size};
  const std::int64_t bs = block_size;
  const BlockOps<T> ops = block_ops<T>(s.hb, isa_in_use());
  std::int32_t p = 1;

  // Takes up to `most` blocks of the phase in a row, fewer near its end so
  // that every thread keeps a share, at least one while any is left: their
  // work goes side by side. Returns how many.
  auto claim_some = [&](std::int64_t& counter,
                        std::int64_t (&cs)[kMaxClaim], int most) {
    mutex_lock(mutex);
    const std::int64_t next = counter;
    const std::int64_t step = claim_step;
    int got = 0;
    if (next <= s.n) {
      const std::int64_t left = (s.n - next) / step + 1;
      got = int(std::clamp<std::int64_t>(
          left / (2 * std::int64_t(team_size)), 1, most));
      for (int k = 0; k < got; ++k) cs[k] = next + k * step;
      counter = next + got * step;
    }
    mutex_unlock(mutex);
    return got;
  };
#if defined(PBAND_PHASE_CLOCKS)
  auto clock_start = std::chrono::steady_clock::now();
  auto clock_phase = [&](int kind) {
    const auto now = std::chrono::steady_clock::now();
    const double t = std::chrono::duration<double>(now - clock_start).count();
    // An update phase folds in the level below its stride.
    const std::int64_t w = kind == 1 ? level_stride / 2 : level_stride;
    int level = 0;
    while ((std::int64_t(2) << level) <= w &&
           level + 1 < testing::PhaseClocks::kLevels)
      ++level;
    testing::PhaseClocks& table = testing::phase_clock_table();
    (kind == 0 ? table.factor : kind == 1 ? table.update : table.back)[level] +=
        t;
  };
#endif
  // kind: the phase that ends, 0 factor, 1 update, 2 back-substitution.
  auto phase_end = [&]([[maybe_unused]] int kind, auto&& serial_step) {
    const std::int32_t slot = slots[p - 1];
    std::int32_t follower = 0;
    sync_slot_arrive(slot);
    sync_slot_wait_leader(slot, follower);
    if (follower == 0) {
#if defined(PBAND_PHASE_CLOCKS)
      clock_phase(kind);
#endif
      serial_step();
      sync_slot_arm(slots[2 - p], team_size);
      sync_slot_post(slot);
    }
#if defined(PBAND_PHASE_CLOCKS)
    // Every thread's next phase starts here, whoever leads its end.
    clock_start = std::chrono::steady_clock::now();
#endif
  };
  auto failed = [&] {
    return failure_flags[p - 1].load(std::memory_order_relaxed) != 0;
  };
  // Blocks at least 2·hb long: the update is done as each block is
  // factored (fold_into_neighbours) and the update phase has no work.
  const bool fold = s.hb > 0 && bs >= 2 * s.hb;
  auto factor_phase = [&] {
    const std::int64_t w = level_stride, nd = neighbour_distance;
    const std::int64_t first = level_first;
    std::int64_t cs[kMaxClaim] = {};
    for (int got; (got = claim_some(next_up, cs, ops.claim)) > 0;)
      if (!ops.factor(s, cs, got, w, nd, first, pivot_threshold,
                      failure_flags, p, fold))
        break;
  };

  // Level 1.
  factor_phase();
  phase_end(0, [&] {
    level_stride = 2;
    next_up = (level_stride - 1) * bs + 1;
  });
  if (failed()) return;
  p = 3 - p;

  // Upward sweep: fold the eliminated blocks into the remaining ones, then
  // eliminate half of those, until a level has no block left to eliminate.
  for (;;) {
    {
      const std::int64_t nd = neighbour_distance, first = level_first;
      std::int64_t cs[kMaxClaim] = {};
      for (int got; !fold && (got = claim_some(next_up, cs, ops.claim)) > 0;)
        ops.update(s, cs, got, nd, first);
    }
    phase_end(1, [&] {
      next_up = level_first = (level_stride - 1) * bs + 1;
      claim_step *= 2;
      neighbour_distance *= 2;
    });
    p = 3 - p;

    factor_phase();
    phase_end(0, [&] {
      level_stride *= 2;
      next_up = (level_stride - 1) * bs + 1;
      if (next_up > s.n) {
        level_stride /= 2;
        next_down = (level_stride - 1) * bs + 1;
      }
    });
    if (failed()) return;
    p = 3 - p;
    // Under the mutex: threads through the barrier first may already be
    // claiming from next_down.
    mutex_lock(mutex);
    const bool top = next_down != 0;
    mutex_unlock(mutex);
    if (top) break;
  }

  // Downward sweep: solve the blocks of each level, top level first.
  for (;;) {
    {
      const std::int64_t nd = neighbour_distance;
      std::int64_t cs[kMaxClaim] = {};
      for (int got; (got = claim_some(next_down, cs, ops.claim)) > 0;)
        ops.back(s, cs, got, nd);
    }
    phase_end(2, [&] {
      level_stride /= 2;
      claim_step /= 2;
      neighbour_distance /= 2;
      next_down = (level_stride - 1) * bs + 1;
    });
    p = 3 - p;
    if (level_stride < 1) return;
  }
}

}  // namespace pband
