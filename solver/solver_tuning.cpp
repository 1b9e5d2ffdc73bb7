// The block base of a solve: chosen by every call from its own element
// type and the team it asks for, so that the same arguments give the same
// bits whatever ran before. Tests may force one base for every solve.
#include <atomic>

#include "kernels/isa.hpp"
#include "solver/band_solve_driver.hpp"
#include "solver/band_solver.hpp"
#include "solver/forms/choice.hpp"

namespace pband {
namespace {

// A base forced by testing::set_solver_block_base; 0: none.
std::atomic<std::int32_t> forced_base{0};

}  // namespace

std::int32_t select_solver_tuning_real() {
  const std::int32_t forced = forced_base.load(std::memory_order_relaxed);
  return forced > 0 ? forced : 24;
}

// Complex blocks cost more per column: smaller blocks when the team is
// large enough to use the extra parallelism.
std::int32_t select_solver_tuning_complex(std::int32_t team) {
  const std::int32_t forced = forced_base.load(std::memory_order_relaxed);
  if (forced > 0) return forced;
  return team <= 2 ? 16 : 8;
}

// The base a team of two takes: the library's calls run on one or two
// threads far more often than on more.
std::int32_t select_library_tuning_complex() {
  return select_solver_tuning_complex(2);
}

namespace testing {

void set_solver_block_base(std::int32_t base) {
  forced_base.store(base > 0 ? base : 0, std::memory_order_relaxed);
}

std::int32_t solver_block_base() {
  return forced_base.load(std::memory_order_relaxed);
}

void set_solver_isa(std::int32_t level) {
  isa_cap.store(level < 0 ? -1 : level, std::memory_order_relaxed);
}

std::int32_t solver_isa_widest() { return widest_isa(); }

std::int32_t solver_isa_in_use() { return isa_in_use(); }

void set_solver_vector_forms(bool on) {
  solver_vector_forms_on.store(on, std::memory_order_relaxed);
}

std::int64_t solver_groups_done() {
  return pband::solver_groups_done.load(std::memory_order_relaxed);
}

#if defined(PBAND_PHASE_CLOCKS)
void reset_phase_clocks() { phase_clock_table() = PhaseClocks{}; }
PhaseClocks phase_clocks() { return phase_clock_table(); }
#endif

}  // namespace testing

}  // namespace pband
