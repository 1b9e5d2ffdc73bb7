// The solver's one piece of process-wide state: the block base, chosen by
// the first solve of the process and kept for every later one, so that
// all solves of a process cut their blocks alike.
#include <algorithm>
#include <atomic>

#include "solver/band_solve_kernel.hpp"
#include "solver/band_solver.hpp"

namespace pband {
namespace {

// 0 until chosen.
std::atomic<std::int32_t> block_base{0};

void choose_once(std::int32_t value) {
  std::int32_t unset = 0;
  block_base.compare_exchange_strong(unset, value);
}

}  // namespace

void select_solver_tuning_real() {
  if (block_base.load() > 0) return;
  choose_once(24);
}

// Complex blocks cost more per column: smaller blocks when the team is
// large enough to use the extra parallelism.
void select_solver_tuning_complex() {
  if (block_base.load() > 0) return;
  std::int32_t team = 1;
  get_team_size(team);
  choose_once(team <= 2 ? 16 : 8);
}

std::int32_t current_block_base() { return block_base.load(); }

namespace {

std::int32_t widest_isa() {
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

// -1: the widest the processor has.
std::atomic<std::int32_t> isa_choice{-1};

}  // namespace

std::int32_t solver_isa() {
  const std::int32_t chosen = isa_choice.load(std::memory_order_relaxed);
  return chosen < 0 ? widest_isa() : std::min(chosen, widest_isa());
}

namespace testing {

void set_solver_block_base(std::int32_t base) {
  block_base.store(base > 0 ? base : 0);
}

std::int32_t solver_block_base() { return block_base.load(); }

void set_solver_isa(std::int32_t level) {
  isa_choice.store(level < 0 ? -1 : level, std::memory_order_relaxed);
}

std::int32_t solver_isa_widest() { return widest_isa(); }

std::int32_t solver_isa_in_use() { return solver_isa(); }

}  // namespace testing

}  // namespace pband
