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

// Solves A·X = B on a team of `team_size` threads (clamped to 1 …
// MAX_TEAM_SIZE; 0 or less: the current team size); see band_solver.hpp
// for the arguments and the status values.
template <class T>
void solve_band_system(T* A, std::int32_t n, std::int32_t hb, T* B,
                       std::int32_t nrhs, T* W, std::int32_t team_size,
                       std::int32_t& status) {
  // Reject bad arguments before touching anything: the first invalid one
  // in argument order, as a negative position.
  if (n > 0 && A == nullptr) {
    status = -1;
    return;
  }
  if (n < 0) {
    status = -2;
    return;
  }
  if (hb < 0) {
    status = -3;
    return;
  }
  if (n > 0 && nrhs > 0 && B == nullptr) {
    status = -4;
    return;
  }
  if (nrhs < 0) {
    status = -5;
    return;
  }
  if (n > 0 && hb > 0 && W == nullptr) {
    status = -6;
    return;
  }
  if (n == 0) {
    status = 0;
    return;
  }

  std::int32_t team = team_size;
  if (team <= 0) get_team_size(team);
  team = std::clamp(team, 1, MAX_TEAM_SIZE);
  // From the team asked for, not the one that starts: a thread that
  // cannot be created must not change the bits.
  std::int32_t block_base = 0;
  if constexpr (ElementTraits<T>::is_complex)
    block_base = select_solver_tuning_complex(team);
  else
    block_base = select_solver_tuning_real();
  // A team asked for by number runs on no more threads than there are
  // processors: more would only take turns at the barriers, and the bits
  // follow the block base, not the threads that run.
  if (team_size > 0) {
    std::int32_t processors = 1;
    count_processors(processors);
    team = std::min(team, std::max(processors, 1));
  }
  SolveControl<T> control;
  control.A = A;
  control.n = n;
  control.hb = hb;
  control.B = B;
  control.nrhs = nrhs;
  control.saved = W;
  control.coupling = W == nullptr ? W : W + std::int64_t(n) * hb;
  control.start_levels(band_block_size(block_base, n, hb));
  // Without the mutex or both slots a team could not meet: run_team then
  // runs the caller alone.
  run_team(
      control.team, team,
      [&](std::int32_t& worker) {
        launch_worker(worker, &band_solve_worker<T>, control);
      },
      [&] { band_solve_worker<T>(control); });
  status = control.failure_flags[0].load() != 0
               ? 1
               : control.failure_flags[1].load();
}

}  // namespace pband
