// Private header of the band solver: the driver that checks the
// arguments, sets up one solve's shared record and runs the worker on every
// thread of a team.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "kernels/element_traits.hpp"
#include "runtime/team.hpp"
#include "solver/band_arrays.hpp"
#include "solver/band_solve_worker.hpp"
#include "solver/solve_control.hpp"

namespace pband {

// The block base of one solve, from its element type and the team it asks
// for (solver_tuning.cpp).
std::int32_t select_solver_tuning_real();
std::int32_t select_solver_tuning_complex(std::int32_t team);
// The block base of the library's calls: from the element type alone, so
// that every team gives the same bits, complex types included.
std::int32_t select_library_tuning_complex();

// Rejects bad arguments before anything is touched: the first invalid
// one in argument order, as a negative position; 0 when all are valid.
template <class T>
std::int32_t check_solve_arguments(const T* A, std::int32_t n, std::int32_t hb,
                                   const T* B, std::int32_t nrhs, const T* W) {
  if (n > 0 && A == nullptr) return -1;
  if (n < 0) return -2;
  if (hb < 0) return -3;
  if (n > 0 && nrhs > 0 && B == nullptr) return -4;
  if (nrhs < 0) return -5;
  if (n > 0 && hb > 0 && W == nullptr) return -6;
  return 0;
}

// The team that runs a solve asked for `team_size` threads (0 or less:
// the current team size): at most one thread per processor when asked by
// number, since more would only take turns at the barriers, and the bits
// follow the block cut, not the threads that run.
inline std::int32_t running_team(std::int32_t team_size) {
  std::int32_t team = team_size;
  if (team <= 0) get_team_size(team);
  team = std::clamp(team, 1, MAX_TEAM_SIZE);
  if (team_size > 0) {
    std::int32_t processors = 1;
    count_processors(processors);
    team = std::min(team, std::max(processors, 1));
  }
  return team;
}

// Runs the worker on `team` threads over one solve's record; the status
// from its failure flags.
template <class T>
std::int32_t run_solve(SolveControl<T>& control, std::int32_t team) {
  // Without the mutex or both slots a team could not meet: run_team then
  // runs the caller alone.
  run_team(
      control.team, team,
      [&](std::int32_t& worker) {
        launch_worker(worker, &band_solve_worker<T>, control);
      },
      [&] { band_solve_worker<T>(control); });
  return control.failure_flags[0].load() != 0 ? 1
                                              : control.failure_flags[1].load();
}

// Solves A·X = B on a team of `team_size` threads (clamped to 1 …
// MAX_TEAM_SIZE; 0 or less: the current team size); see band_solver.hpp
// for the arguments and the status values. `block_size`, when given,
// receives the columns per block of the cut (the factor's, for later
// solves of the same factor). `library_cut`: the library's calls, whose
// block base does not depend on the team and whose subnormal results are
// flushed.
template <class T>
void solve_band_system(T* A, std::int32_t n, std::int32_t hb, T* B,
                       std::int32_t nrhs, T* W, std::int32_t team_size,
                       std::int32_t& status,
                       std::int32_t* block_size = nullptr,
                       bool library_cut = false) {
  status = check_solve_arguments(A, n, hb, B, nrhs, W);
  if (status != 0 || n == 0) return;
  std::int32_t asked = team_size;
  if (asked <= 0) get_team_size(asked);
  asked = std::clamp(asked, 1, MAX_TEAM_SIZE);
  // From the team asked for, not the one that starts: a thread that
  // cannot be created must not change the bits.
  std::int32_t block_base = 0;
  if constexpr (ElementTraits<T>::is_complex)
    block_base = library_cut ? select_library_tuning_complex()
                             : select_solver_tuning_complex(asked);
  else
    block_base = select_solver_tuning_real();
  SolveControl<T> control;
  control.set_system(A, n, hb, B, nrhs, W);
  control.flush_subnormals = library_cut;
  control.start_levels(band_block_size(block_base, n, hb));
  if (block_size != nullptr) *block_size = control.block_size;
  status = run_solve(control, running_team(team_size));
}

// Solves A·X = B with the factor that solve_band_system left in A and W
// (its cut of `block_size` columns a block), reading both and writing B
// alone: the bits of the solve that factored, for every team. Status 0,
// or -i for argument i as solve_band_system (-7: block_size < 1).
template <class T>
void solve_band_system_factored(const T* A, std::int32_t n, std::int32_t hb,
                                T* B, std::int32_t nrhs, const T* W,
                                std::int32_t block_size, std::int32_t team_size,
                                std::int32_t& status) {
  status = check_solve_arguments(A, n, hb, B, nrhs, W);
  if (status == 0 && block_size < 1) status = -7;
  if (status != 0 || n == 0 || nrhs == 0) return;
  SolveControl<T> control;
  // A and W are never written in this mode.
  control.set_system(const_cast<T*>(A), n, hb, B, nrhs, const_cast<T*>(W));
  control.rhs_only = true;
  control.flush_subnormals = true;
  control.start_levels(std::min(block_size, std::max(n, 1)));
  status = run_solve(control, running_team(team_size));
}

}  // namespace pband
