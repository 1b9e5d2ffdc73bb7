// The phases of the band routines: row blocks claimed from shared
// counters, forward and backward sweeps that end each phase at a barrier,
// and the three workers every thread of a team runs.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>

#include "bandlib/band_library.hpp"
#include "bandlib/band_row_blocks.hpp"
#include "runtime/os_layer.hpp"
#include "runtime/team.hpp"

namespace pband::detail {

// Counters are 32-bit; a step past the end of a huge system (or with a huge
// block width) saturates instead of wrapping, so it still ends the sweep.
inline std::int32_t saturate32(std::int64_t v) {
  constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::clamp(v, lo, hi));
}

// The workers get the team's mutex, slots and size one by one, as their
// callers hand them over; each phase end meets as that team. Read after
// the phase's claims have taken the mutex, the size is the one its
// launcher set before letting the team start.
template <class Serial>
void meet_at_phase_end(const Handle& mutex, const std::int32_t (&slots)[2],
                       const std::int32_t& team_size, std::int32_t parity,
                       Serial&& serial) {
  const Team team{mutex, {slots[0], slots[1]}, team_size};
  end_phase(team, parity, serial);
}

// Forward claim: rows t … o starting at the shared counter, `pivot_width`
// wide when the claim starts the pivot block, else `width`. False when the
// counter has passed the claim limit g.
inline bool claim_forward(const Handle& mutex, const std::int32_t& pivot,
                          std::int32_t& next, std::int64_t g,
                          std::int64_t pivot_width, std::int64_t width,
                          std::int64_t n, std::int64_t& t, std::int64_t& o) {
  mutex_lock(mutex);
  const std::int64_t c = next;
  if (c > g) {
    mutex_unlock(mutex);
    return false;
  }
  const std::int64_t w = c == pivot ? pivot_width : width;
  next = saturate32(c + w);
  mutex_unlock(mutex);
  t = c;
  o = std::min(n, c + w - 1);
  return true;
}

// Backward claim: rows P … O ending at the shared counter; false when the
// counter has fallen below the claim limit q.
inline bool claim_backward(const Handle& mutex, std::int32_t& next,
                           std::int64_t q, std::int64_t width, std::int64_t& P,
                           std::int64_t& O) {
  mutex_lock(mutex);
  const std::int64_t c = next;
  if (c < q) {
    mutex_unlock(mutex);
    return false;
  }
  next = saturate32(c - width);
  mutex_unlock(mutex);
  P = std::max<std::int64_t>(c - width + 1, 1);
  O = c;
  return true;
}

// Arguments with which the phases would never end: a block width below 1
// never advances a counter, and no 32-bit counter steps past 2^31 - 1.
// Every thread sees the same values, so all return together.
inline bool endless(std::int32_t n, std::int32_t block_width) {
  return block_width < 1 || n == std::numeric_limits<std::int32_t>::max();
}

// Forward phases shared by factor-and-solve (B given) and factorization
// (B == nullptr). Returns false when a pivot failed: every thread then
// leaves after that phase's barrier. `parity` runs on for the caller.
template <class T>
bool forward_sweep(T* A, std::int32_t n, std::int32_t hb, T* B,
                   std::int32_t block_width, const Handle& mutex,
                   const std::int32_t (&slots)[2],
                   const std::int32_t& team_size, std::int32_t& forward_pivot,
                   std::int32_t& forward_next, RealOf<T> threshold,
                   Flags& failure_flags, std::int32_t& parity) {
  const std::int64_t kd = std::max<std::int32_t>(hb, 0);
  const std::int64_t nb = block_width;
  while (forward_pivot <= n) {
    const std::int64_t a = forward_pivot;
    const std::int64_t m = std::max<std::int64_t>(a - nb, 1);
    const std::int64_t l = a - 1;
    const std::int64_t g = std::min<std::int64_t>(a + kd, n);
    std::int64_t t = 0, o = 0;
    while (claim_forward(mutex, forward_pivot, forward_next, g, nb, 2 * nb, n,
                         t, o))
      forward_row_block(A, B, kd, a, m, l, t, o, threshold, failure_flags,
                        parity);
    meet_at_phase_end(mutex, slots, team_size, parity, [&] {
      forward_pivot = saturate32(std::int64_t(forward_pivot) + nb);
      forward_next = forward_pivot;
    });
    if (failure_flags[parity - 1].load(std::memory_order_relaxed) != 0)
      return false;
    parity = 3 - parity;
  }
  return true;
}

// Backward phases: pivot blocks and row blocks of `width` rows.
template <class T>
void backward_sweep(const T* A, std::int32_t n, std::int32_t hb, T* B,
                    std::int64_t width, const Handle& mutex,
                    const std::int32_t (&slots)[2],
                    const std::int32_t& team_size, std::int32_t& backward_pivot,
                    std::int32_t& backward_next, std::int32_t& parity) {
  const std::int64_t kd = std::max<std::int32_t>(hb, 0);
  while (backward_pivot >= 1) {
    const std::int64_t d = backward_pivot;
    const std::int64_t e = std::min<std::int64_t>(d + width, n);
    const std::int64_t q = std::max<std::int64_t>(d - kd, 1);
    std::int64_t P = 0, O = 0;
    while (claim_backward(mutex, backward_next, q, width, P, O))
      backward_row_block(A, B, kd, d, e, P, O);
    meet_at_phase_end(mutex, slots, team_size, parity, [&] {
      backward_pivot = saturate32(std::int64_t(backward_pivot) - width);
      backward_next = backward_pivot;
    });
    parity = 3 - parity;
  }
}

template <class T>
void band_factor_solve_worker(
    T* const& A, const std::int32_t& n, const std::int32_t& hb, T* const& B,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next,
    const RealOf<T>& pivot_threshold, Flags& failure_flags) {
  if (endless(n, block_width)) return;
  std::int32_t parity = 1;
  if (!forward_sweep<T>(A, n, hb, B, block_width, mutex, slots, team_size,
                        forward_pivot, forward_next, pivot_threshold,
                        failure_flags, parity))
    return;
  backward_sweep<T>(A, n, hb, B, 2 * std::int64_t(block_width), mutex, slots,
                    team_size, backward_pivot, backward_next, parity);
}

template <class T>
void band_substitute_worker(
    const T* const& A, const std::int32_t& n, const std::int32_t& hb,
    T* const& B, const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next) {
  if (endless(n, block_width)) return;
  const std::int64_t kd = std::max<std::int32_t>(hb, 0);
  const std::int64_t nb = block_width;
  std::int32_t parity = 1;
  while (forward_pivot <= n) {
    const std::int64_t h = forward_pivot;
    const std::int64_t g = std::min<std::int64_t>(h + kd, n);
    std::int64_t t = 0, o = 0;
    while (
        claim_forward(mutex, forward_pivot, forward_next, g, nb, nb, n, t, o))
      substitute_forward_block(A, B, kd, h, nb, t, o);
    meet_at_phase_end(mutex, slots, team_size, parity, [&] {
      forward_pivot = saturate32(std::int64_t(forward_pivot) + nb);
      forward_next = forward_pivot;
    });
    parity = 3 - parity;
  }
  backward_sweep<T>(A, n, hb, B, nb, mutex, slots, team_size, backward_pivot,
                    backward_next, parity);
}

template <class T>
void band_factor_worker(T* const& A, const std::int32_t& n,
                        const std::int32_t& hb, const std::int32_t& block_width,
                        const Handle& mutex, const std::int32_t (&slots)[2],
                        const std::int32_t& team_size,
                        std::int32_t& forward_pivot, std::int32_t& forward_next,
                        const RealOf<T>& pivot_threshold,
                        Flags& failure_flags) {
  if (endless(n, block_width)) return;
  std::int32_t parity = 1;
  forward_sweep<T>(A, n, hb, static_cast<T*>(nullptr), block_width, mutex,
                   slots, team_size, forward_pivot, forward_next,
                   pivot_threshold, failure_flags, parity);
}

}  // namespace pband::detail
