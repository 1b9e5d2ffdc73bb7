// Private header of the band solver: the driver that checks the
// arguments, sets up one solve's shared record, barrier slots and mutex,
// and runs the worker on every thread of the team.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "runtime/runtime.hpp"
#include "solver/band_arrays.hpp"
#include "solver/band_solve_worker.hpp"
#include "kernels/element_traits.hpp"

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
  if (n > 0 && A == nullptr) { status = -1; return; }
  if (n < 0) { status = -2; return; }
  if (hb < 0) { status = -3; return; }
  if (n > 0 && nrhs > 0 && B == nullptr) { status = -4; return; }
  if (nrhs < 0) { status = -5; return; }
  if (n > 0 && hb > 0 && W == nullptr) { status = -6; return; }
  if (n == 0) { status = 0; return; }

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
  Handle mutex = 0;
  mutex_create(mutex);
  std::int32_t slots[2] = {0, 0};
  sync_slot_allocate(slots[0]);
  sync_slot_allocate(slots[1]);

  std::int32_t block_size = band_block_size(block_base, n, hb);
  T* saved = W;
  T* coupling = W == nullptr ? W : W + std::int64_t(n) * hb;
  // Without the mutex or both slots a team could not meet: work alone.
  if (mutex == 0 || slots[0] == 0 || slots[1] == 0) team = 1;
  sync_slot_arm(slots[0], team);
  std::int64_t level_stride = 1;
  std::int64_t neighbour_distance = block_size;
  std::int64_t claim_step = 2 * std::int64_t(block_size);
  std::int64_t level_first = 1;
  std::int64_t next_up = 1;
  std::int64_t next_down = 0;
  RealOf<T> pivot_threshold = 0;
  std::atomic<std::int32_t> failure_flags[2] = {0, 0};

  std::int32_t workers[MAX_TEAM_SIZE - 1] = {};
  if (team > 1) {
    // Started workers wait at their first claim until the team is known:
    // a launch that fails must not leave the first barrier waiting for it.
    mutex_lock(mutex);
    std::int32_t started = 1;
    for (std::int32_t i = 0; i < team - 1; ++i) {
      launch_worker(workers[i], &band_solve_worker<T>, A, n, hb, B, nrhs,
                    saved, coupling, mutex, slots, block_size, team,
                    level_stride, neighbour_distance, claim_step,
                    level_first, next_up, next_down, pivot_threshold,
                    failure_flags);
      if (workers[i] != 0) ++started;
    }
    if (started != team) {
      team = started;
      sync_slot_arm(slots[0], team);
    }
    mutex_unlock(mutex);
  }
  band_solve_worker<T>(A, n, hb, B, nrhs, saved, coupling, mutex, slots,
                       block_size, team, level_stride, neighbour_distance,
                       claim_step, level_first, next_up, next_down,
                       pivot_threshold, failure_flags);
  for (std::int32_t worker : workers) join_worker(worker);

  status = failure_flags[0].load() != 0 ? 1 : failure_flags[1].load();
  mutex_close(mutex);
  sync_slot_free(slots[0]);
  sync_slot_free(slots[1]);
}

}  // namespace pband
