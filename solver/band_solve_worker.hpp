// Private header of the band solver: the worker routine every thread of a
// team runs, claiming blocks and meeting the others at the phase barriers.
#pragma once

#include <algorithm>
#include <atomic>
#if defined(PBAND_PHASE_CLOCKS)
#include <chrono>
#endif
#include <cstdint>

#include "runtime/team.hpp"
#if defined(PBAND_PHASE_CLOCKS)
#include "solver/band_solver.hpp"
#endif
#include "kernels/isa.hpp"
#include "kernels/subnormals.hpp"
#include "solver/band_arrays.hpp"
#include "solver/forms/choice.hpp"
#include "solver/forms/scratch.hpp"
#include "solver/solve_control.hpp"

namespace pband {

#if defined(PBAND_PHASE_CLOCKS)
namespace testing {
inline PhaseClocks& phase_clock_table() {
  static PhaseClocks table{};
  return table;
}
}  // namespace testing
#endif

// The worker routine: every thread of the team runs it on the solve's one
// shared record. Blocks are claimed a few at a time under the team's
// mutex; the phases end at barriers on the two slots in turn, whose leader
// alone advances the level values and re-arms the other slot. A slot
// number 0 (none) makes the caller lead every barrier alone, which is
// right only for a team of one; the driver never forms a larger team
// without both slots and the mutex.
template <class T>
void band_solve_worker(SolveControl<T>& sc) {
  const FlushSubnormals flush(sc.flush_subnormals);
  const Team& team = sc.team;
  std::int64_t& level_stride = sc.level_stride;
  std::int64_t& neighbour_distance = sc.neighbour_distance;
  std::int64_t& claim_step = sc.claim_step;
  std::int64_t& level_first = sc.level_first;
  std::int64_t& next_up = sc.next_up;
  std::int64_t& next_down = sc.next_down;
  const RealOf<T> pivot_threshold = sc.pivot_threshold;
  std::atomic<std::int32_t>* failure_flags = sc.failure_flags;
  BandArrays<T> s{sc.A,
                  sc.B,
                  sc.saved,
                  sc.coupling,
                  sc.n,
                  std::max(sc.hb, 0),
                  std::max(sc.nrhs, 0),
                  sc.block_size};
  // Without scratch this thread takes only the forms that need none; the
  // bits are the same.
  s.scratch = static_cast<unsigned char*>(thread_scratch(kSolverScratchBytes));
  s.vector_forms = s.scratch != nullptr &&
                   solver_vector_forms_on.load(std::memory_order_relaxed);
  const std::int64_t block_size = sc.block_size;
  const BlockOps<T> ops = block_ops<T>(s.hb, isa_in_use());
  std::int32_t p = 1;

  // Takes up to `most` blocks of the phase in a row, fewer near its end so
  // that every thread keeps a share, at least one while any is left: their
  // work goes side by side. Returns how many.
  auto claim_blocks = [&](std::int64_t& counter, std::int64_t(&cs)[kMaxClaim],
                          int most) {
    mutex_lock(team.mutex);
    const std::int64_t next = counter;
    const std::int64_t step = claim_step;
    int got = 0;
    if (next <= s.n) {
      const std::int64_t left = (s.n - next) / step + 1;
      got = int(std::clamp<std::int64_t>(left / (2 * std::int64_t(team.size)),
                                         1, most));
      for (int k = 0; k < got; ++k) cs[k] = next + k * step;
      counter = next + got * step;
    }
    mutex_unlock(team.mutex);
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
    (kind == 0   ? table.factor
     : kind == 1 ? table.update
                 : table.back)[level] += t;
  };
#endif
  // kind: the phase that ends, 0 factor, 1 update, 2 back-substitution.
  auto phase_end = [&]([[maybe_unused]] int kind, auto&& serial_step) {
    end_phase(team, p, [&] {
#if defined(PBAND_PHASE_CLOCKS)
      clock_phase(kind);
#endif
      serial_step();
    });
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
  const bool fold = s.hb > 0 && block_size >= 2 * s.hb;
  const bool rhs_only = sc.rhs_only;
  auto factor_phase = [&] {
    const std::int64_t w = level_stride, nd = neighbour_distance;
    const std::int64_t first = level_first;
    std::int64_t cs[kMaxClaim] = {};
    if (rhs_only) {
      for (int got; (got = claim_blocks(next_up, cs, ops.claim)) > 0;)
        ops.forward_rhs(s, cs, got);
      return;
    }
    for (int got; (got = claim_blocks(next_up, cs, ops.claim)) > 0;)
      if (!ops.factor(s, cs, got, w, nd, first, pivot_threshold, failure_flags,
                      p, fold))
        break;
  };

  // Level 1.
  factor_phase();
  phase_end(0, [&] {
    level_stride = 2;
    next_up = (level_stride - 1) * block_size + 1;
  });
  if (failed()) return;
  p = 3 - p;

  // Upward sweep: fold the eliminated blocks into the remaining ones, then
  // eliminate half of those, until a level has no block left to eliminate.
  for (;;) {
    {
      const std::int64_t nd = neighbour_distance, first = level_first;
      std::int64_t cs[kMaxClaim] = {};
      for (int got; (rhs_only || !fold) &&
                    (got = claim_blocks(next_up, cs, ops.claim)) > 0;) {
        if (rhs_only)
          ops.update_rhs(s, cs, got, nd, first);
        else
          ops.update(s, cs, got, nd, first);
      }
    }
    phase_end(1, [&] {
      next_up = level_first = (level_stride - 1) * block_size + 1;
      claim_step *= 2;
      neighbour_distance *= 2;
    });
    p = 3 - p;

    factor_phase();
    phase_end(0, [&] {
      level_stride *= 2;
      next_up = (level_stride - 1) * block_size + 1;
      if (next_up > s.n) {
        level_stride /= 2;
        next_down = (level_stride - 1) * block_size + 1;
      }
    });
    if (failed()) return;
    p = 3 - p;
    // Under the mutex: threads through the barrier first may already be
    // claiming from next_down.
    mutex_lock(team.mutex);
    const bool top = next_down != 0;
    mutex_unlock(team.mutex);
    if (top) break;
  }

  // Downward sweep: solve the blocks of each level, top level first.
  for (;;) {
    {
      const std::int64_t nd = neighbour_distance;
      std::int64_t cs[kMaxClaim] = {};
      for (int got; (got = claim_blocks(next_down, cs, ops.claim)) > 0;)
        ops.back(s, cs, got, nd);
    }
    phase_end(2, [&] {
      level_stride /= 2;
      claim_step /= 2;
      neighbour_distance /= 2;
      next_down = (level_stride - 1) * block_size + 1;
    });
    p = 3 - p;
    if (level_stride < 1) return;
  }
}

}  // namespace pband
