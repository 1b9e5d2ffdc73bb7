// The solver's one piece of process-wide state: the block base, chosen by
// the first solve of the process and kept for every later one, so that
// all solves of a process cut their blocks alike.
#include <atomic>

#include "solver/band_solve_driver.hpp"
#include "solver/band_solver.hpp"
#include "solver/solver_isa.hpp"

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

namespace testing {

void set_solver_block_base(std::int32_t base) {
  block_base.store(base > 0 ? base : 0);
}

std::int32_t solver_block_base() { return block_base.load(); }

void set_solver_isa(std::int32_t level) {
  solver_isa_cap.store(level < 0 ? -1 : level, std::memory_order_relaxed);
}

std::int32_t solver_isa_widest() { return widest_isa(); }

std::int32_t solver_isa_in_use() { return solver_isa(); }

}  // namespace testing

}  // namespace pband
