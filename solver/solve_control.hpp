// Private header of the band solver: the shared record of one solve, set
// up by the driver and read and advanced by every thread of the team by
// reference.
#pragma once

#include <atomic>
#include <cstdint>

#include "kernels/element_traits.hpp"
#include "runtime/team.hpp"

namespace pband {

template <class T>
struct SolveControl {
  // The system (overwritten) and the workspace's two n·hb halves.
  T* A = nullptr;
  std::int32_t n = 0;
  std::int32_t hb = 0;
  T* B = nullptr;
  std::int32_t nrhs = 0;
  T* saved = nullptr;
  T* coupling = nullptr;
  // The claim mutex, the two barrier slots and the team that meets there.
  Team team;
  std::int32_t block_size = 1;
  // Level values and claim counters: claims read and advance the counters
  // under the mutex; only a phase's leader changes the rest.
  std::int64_t level_stride = 1;
  std::int64_t neighbour_distance = 1;
  std::int64_t claim_step = 2;
  std::int64_t level_first = 1;
  std::int64_t next_up = 1;
  std::int64_t next_down = 0;
  RealOf<T> pivot_threshold = 0;
  // The solve of a stored factor: A and the workspace hold the factor
  // and are only read; the phases carry the right-hand sides alone.
  bool rhs_only = false;
  // The library's solves flush subnormal results (kernels/subnormals.hpp);
  // the benchmark's entries keep gradual underflow and their pinned bits.
  bool flush_subnormals = false;
  // [p-1] set when a pivot fails in a phase ending on slot p.
  std::atomic<std::int32_t> failure_flags[2] = {0, 0};

  // The system and the workspace (2·n·hb elements: saved store, then
  // coupling store).
  void set_system(T* a, std::int32_t order, std::int32_t half_band, T* b,
                  std::int32_t columns, T* w) {
    A = a;
    n = order;
    hb = half_band;
    B = b;
    nrhs = columns;
    saved = w;
    coupling = w == nullptr ? w : w + std::int64_t(order) * half_band;
  }

  // The first level's values for blocks of `size` columns.
  void start_levels(std::int32_t size) {
    block_size = size;
    level_stride = 1;
    neighbour_distance = size;
    claim_step = 2 * std::int64_t(size);
    level_first = 1;
    next_up = 1;
    next_down = 0;
    failure_flags[0].store(0);
    failure_flags[1].store(0);
  }
};

}  // namespace pband
