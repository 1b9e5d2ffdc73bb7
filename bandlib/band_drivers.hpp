// The band routines' drivers: argument checks, then one worker run on a
// team of threads over the runtime's team runner, and the status.
// Private: included only by the per-type sources of the library.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "bandlib/band_library.hpp"
#include "bandlib/band_sweeps.hpp"
#include "bandlib/band_tuning.hpp"
#include "kernels/element_traits.hpp"
#include "runtime/team.hpp"
#include "runtime/workers.hpp"

namespace pband::detail {

// The shared record of one team run: every thread gets references to it.
struct TeamState {
  Team team;
  std::int32_t forward_pivot = 1;
  std::int32_t forward_next = 1;
  std::int32_t backward_pivot = 0;
  std::int32_t backward_next = 0;
  Flags failure_flags = {0, 0};
};

inline std::int32_t failed_status(const TeamState& s) {
  return s.failure_flags[0].load() != 0 || s.failure_flags[1].load() != 0 ? 1
                                                                          : 0;
}

// Argument checks in argument order, as LAPACK reports them; 0 when all
// are acceptable. Arrays are needed only when n > 0.
inline std::int32_t check_arguments(const void* A, std::int32_t n,
                                    std::int32_t hb, const void* B, bool has_b,
                                    std::int32_t block_width) {
  const std::int32_t nb_position = has_b ? -5 : -4;
  if (A == nullptr && n > 0) return -1;
  if (n < 0 || n == std::numeric_limits<std::int32_t>::max()) return -2;
  if (hb < 0) return -3;
  if (has_b && B == nullptr && n > 0) return -4;
  if (block_width < 1) return nb_position;
  return 0;
}

// The team a phase of block width nb can feed, from the one asked for (0
// or less: the current team size): more threads would only wait at the
// barriers, and the bits never depend on the team.
inline std::int32_t fed_team(std::int32_t team, std::int64_t useful) {
  if (team <= 0) get_team_size(team);
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(useful, 1, std::max<std::int32_t>(team, 1)));
}

template <class T>
void band_factor_solve(
    T* A, std::int32_t n, std::int32_t hb, T* B, std::int32_t block_width,
    std::int32_t team, std::int32_t& status,
    void (*worker)(T* const&, const std::int32_t&, const std::int32_t&,
                   T* const&, const std::int32_t&, const Handle&,
                   const std::int32_t (&)[2], const std::int32_t&,
                   std::int32_t&, std::int32_t&, std::int32_t&, std::int32_t&,
                   const RealOf<T>&, Flags&)) {
  status = check_arguments(A, n, hb, B, true, block_width);
  if (status != 0 || n == 0) return;
  TeamState s;
  s.backward_pivot = s.backward_next = n;
  const RealOf<T> threshold = RealOf<T>(0);
  auto go = [&](std::int32_t& w) {
    launch_worker(w, worker, A, n, hb, B, block_width, s.team.mutex,
                  s.team.slots, s.team.size, s.forward_pivot, s.forward_next,
                  s.backward_pivot, s.backward_next, threshold,
                  s.failure_flags);
  };
  const std::int64_t useful =
      std::max(band_factor_useful_team(hb, block_width),
               band_substitute_useful_team(hb, 2 * std::int64_t(block_width)));
  run_team(s.team, fed_team(team, useful), go, [&] {
    worker(A, n, hb, B, block_width, s.team.mutex, s.team.slots, s.team.size,
           s.forward_pivot, s.forward_next, s.backward_pivot, s.backward_next,
           threshold, s.failure_flags);
  });
  status = failed_status(s);
}

template <class T>
void band_substitute(
    const T* A, std::int32_t n, std::int32_t hb, T* B, std::int32_t block_width,
    std::int32_t team, std::int32_t& status,
    void (*worker)(const T* const&, const std::int32_t&, const std::int32_t&,
                   T* const&, const std::int32_t&, const Handle&,
                   const std::int32_t (&)[2], const std::int32_t&,
                   std::int32_t&, std::int32_t&, std::int32_t&,
                   std::int32_t&)) {
  status = check_arguments(A, n, hb, B, true, block_width);
  if (status != 0 || n == 0) return;
  TeamState s;
  s.backward_pivot = s.backward_next = n;
  auto go = [&](std::int32_t& w) {
    launch_worker(w, worker, A, n, hb, B, block_width, s.team.mutex,
                  s.team.slots, s.team.size, s.forward_pivot, s.forward_next,
                  s.backward_pivot, s.backward_next);
  };
  run_team(s.team,
           fed_team(team, band_substitute_useful_team(hb, block_width)), go,
           [&] {
             worker(A, n, hb, B, block_width, s.team.mutex, s.team.slots,
                    s.team.size, s.forward_pivot, s.forward_next,
                    s.backward_pivot, s.backward_next);
           });
  status = 0;
}

template <class T>
void band_factor(T* A, std::int32_t n, std::int32_t hb,
                 std::int32_t block_width, std::int32_t team,
                 std::int32_t& status,
                 void (*worker)(T* const&, const std::int32_t&,
                                const std::int32_t&, const std::int32_t&,
                                const Handle&, const std::int32_t (&)[2],
                                const std::int32_t&, std::int32_t&,
                                std::int32_t&, const RealOf<T>&, Flags&)) {
  status = check_arguments(A, n, hb, nullptr, false, block_width);
  if (status != 0 || n == 0) return;
  TeamState s;
  const RealOf<T> threshold = RealOf<T>(0);
  auto go = [&](std::int32_t& w) {
    launch_worker(w, worker, A, n, hb, block_width, s.team.mutex, s.team.slots,
                  s.team.size, s.forward_pivot, s.forward_next, threshold,
                  s.failure_flags);
  };
  run_team(s.team, fed_team(team, band_factor_useful_team(hb, block_width)),
           go, [&] {
             worker(A, n, hb, block_width, s.team.mutex, s.team.slots,
                    s.team.size, s.forward_pivot, s.forward_next, threshold,
                    s.failure_flags);
           });
  status = failed_status(s);
}

}  // namespace pband::detail
