// The three band routines written once for every element type: the team
// workers (factor-and-solve, substitution, factorization) and the drivers
// that run a worker on a team of threads and report a status.
// Private: included only by the per-type sources of the library.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>

#include "bandlib/band_library.hpp"
#include "runtime/runtime.hpp"
#include "solver/element_traits.hpp"
#include "solver/factor_diagonal_block.hpp"

namespace pband::detail {

using Flags = FailureFlags;

// Counters are 32-bit; a step past the end of a huge system (or with a huge
// block width) saturates instead of wrapping, so it still ends the sweep.
inline std::int32_t saturate32(std::int64_t v) {
  constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::clamp(v, lo, hi));
}

// Diagonal element of column j; element (r, j) is col[r - j].
template <class T>
T* column(T* A, std::int64_t j, std::int64_t kd) {
  return A + band_pos(j, j, kd);
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

// Forward row block t … o of the phase whose pivot block starts at a and
// whose previous pivot block is m … l. Finishes columns m … l in rows
// t … o (left-looking), applies them to B, and for the pivot block factors
// it and forms y in its rows. B == nullptr: factorization only.
//
//        m   l a     o
//      ┌─────┬───────┐
//  L   │ fin │       │  rows < a: final
//      ├─────┼───────┤ a = t (pivot block: lower triangle, then factor)
//      │ 1,2 │  4    │
//      └─────┴───────┘ rows t … o ≤ a + hb
template <class T>
void forward_row_block(T* A, T* B, std::int64_t kd, std::int64_t a,
                       std::int64_t m, std::int64_t l, std::int64_t t,
                       std::int64_t o, RealOf<T> threshold,
                       Flags& failure_flags, std::int32_t parity) {
  using Tr = ElementTraits<T>;
  // 1. Columns before the previous pivot block, into its rows t … o.
  for (std::int64_t k = std::max<std::int64_t>(t - kd, 1); k <= m - 1; ++k) {
    const T* ck = column(A, k, kd);
    const std::int64_t r_end = std::min(o, k + kd);
    for (std::int64_t j = m; j <= l; ++j) {
      T* cj = column(A, j, kd);
      const T ajk = ck[j - k];
      for (std::int64_t r = t; r <= r_end; ++r)
        cj[r - j] = Tr::msub(cj[r - j], ck[r - k], ajk);
    }
  }
  // Columns left of t − hb do not reach these rows: nothing to do there.
  const std::int64_t j_first = std::max(m, t - kd);
  // 2. Inside the previous pivot block, then scale by its diagonal.
  for (std::int64_t j = j_first; j <= l; ++j) {
    T* cj = column(A, j, kd);
    for (std::int64_t k = std::max(j - kd, m); k <= j - 1; ++k) {
      const T* ck = column(A, k, kd);
      const T ajk = ck[j - k];
      const std::int64_t r_end = std::min(o, k + kd);
      for (std::int64_t r = t; r <= r_end; ++r)
        cj[r - j] = Tr::msub(cj[r - j], ck[r - k], ajk);
    }
    const T djj = cj[0];
    const std::int64_t r_end = std::min(o, j + kd);
    for (std::int64_t r = t; r <= r_end; ++r)
      cj[r - j] = Tr::div(cj[r - j], djj);
  }
  // 3. Forward elimination of the right-hand side by columns m … l.
  if (B != nullptr) {
    for (std::int64_t j = j_first; j <= l; ++j) {
      const T* cj = column(A, j, kd);
      const T bj = B[j - 1];
      const std::int64_t r_end = std::min(o, j + kd);
      for (std::int64_t r = t; r <= r_end; ++r)
        B[r - 1] = Tr::msub(B[r - 1], cj[r - j], bj);
    }
  }
  if (t != a) return;
  // 4.1 Lower triangle of the pivot block from every earlier column.
  for (std::int64_t k = std::max<std::int64_t>(t - kd, 1); k <= a - 1; ++k) {
    const T* ck = column(A, k, kd);
    const std::int64_t band_end = std::min(k + kd, o);
    for (std::int64_t i = t; i <= band_end; ++i) {
      T* ci = column(A, i, kd);
      const T aik = ck[i - k];
      for (std::int64_t r = i; r <= band_end; ++r)
        ci[r - i] = Tr::msub(ci[r - i], ck[r - k], aik);
    }
  }
  // 4.2 Factor the pivot block, with the pivot test.
  factor_diagonal_block<T>(
      A, static_cast<std::int32_t>(kd), static_cast<std::int32_t>(t),
      static_cast<std::int32_t>(o), threshold, failure_flags, parity);
  if (B == nullptr) return;
  // 4.3 A failed pivot leaves y unformed; the phase still completes.
  if (failure_flags[parity - 1].load(std::memory_order_relaxed) != 0) return;
  // 4.4 Forward substitution inside the pivot block.
  for (std::int64_t i = t; i <= o; ++i) {
    const T* ci = column(A, i, kd);
    const T bi = Tr::div(B[i - 1], ci[0]);
    B[i - 1] = bi;
    const std::int64_t r_end = std::min(i + kd, o);
    for (std::int64_t r = i + 1; r <= r_end; ++r)
      B[r - 1] = Tr::msub(B[r - 1], ci[r - i], bi);
  }
}

// Forward row block t … o of the substitution: applies the previous pivot
// block's y (columns max(h − nb, 1) … h − 1) and solves the pivot block.
template <class T>
void substitute_forward_block(const T* A, T* B, std::int64_t kd, std::int64_t h,
                              std::int64_t nb, std::int64_t t, std::int64_t o) {
  using Tr = ElementTraits<T>;
  // Columns left of t − hb do not reach these rows.
  const std::int64_t j_first = std::max({h - nb, t - kd, std::int64_t(1)});
  for (std::int64_t j = j_first; j <= h - 1; ++j) {
    const T* cj = column(A, j, kd);
    const T bj = B[j - 1];
    const std::int64_t r_end = std::min(o, j + kd);
    for (std::int64_t r = t; r <= r_end; ++r)
      B[r - 1] = Tr::msub(B[r - 1], cj[r - j], bj);
  }
  if (t != h || t > o) return;
  for (std::int64_t i = t; i <= o; ++i) {
    const T* ci = column(A, i, kd);
    const T bi = Tr::div(B[i - 1], ci[0]);
    B[i - 1] = bi;
    const std::int64_t r_end = std::min(i + kd, o);
    for (std::int64_t r = i + 1; r <= r_end; ++r)
      B[r - 1] = Tr::msub(B[r - 1], ci[r - i], bi);
  }
}

// Backward row block P … O of the phase with pivot d and previous pivot
// end e: applies x(d+1 … e) to the rows, and for the pivot block (O = d)
// solves Lᵀ inside it from the bottom up.
template <class T>
void backward_row_block(const T* A, T* B, std::int64_t kd, std::int64_t d,
                        std::int64_t e, std::int64_t P, std::int64_t O) {
  using Tr = ElementTraits<T>;
  // Rows above d + 1 − hb do not reach the rows below d.
  for (std::int64_t i = std::max(P, d + 1 - kd); i <= O; ++i) {
    const T* ci = column(A, i, kd);
    const std::int64_t k_end = std::min(e, i + kd);
    T s = B[i - 1];
    for (std::int64_t k = d + 1; k <= k_end; ++k)
      s = Tr::msub(s, ci[k - i], B[k - 1]);
    B[i - 1] = s;
  }
  if (O != d || P > O) return;
  for (std::int64_t i = O; i >= P; --i) {
    const T* ci = column(A, i, kd);
    const std::int64_t k_end = std::min(i + kd, O);
    T s = B[i - 1];
    for (std::int64_t k = i + 1; k <= k_end; ++k)
      s = Tr::msub(s, ci[k - i], B[k - 1]);
    B[i - 1] = Tr::div(s, ci[0]);
  }
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

// ---------------------------------------------------------------------------
// Drivers
// ---------------------------------------------------------------------------

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
  run_team(s.team, team, go, [&] {
    worker(A, n, hb, B, block_width, s.team.mutex, s.team.slots, s.team.size,
           s.forward_pivot, s.forward_next, s.backward_pivot, s.backward_next,
           threshold, s.failure_flags);
  });
  status = failed_status(s);
}

template <class T>
void band_substitute(const T* A, std::int32_t n, std::int32_t hb, T* B,
                     std::int32_t block_width, std::int32_t team,
                     std::int32_t& status,
                     void (*worker)(const T* const&, const std::int32_t&,
                                    const std::int32_t&, T* const&,
                                    const std::int32_t&, const Handle&,
                                    const std::int32_t (&)[2],
                                    const std::int32_t&, std::int32_t&,
                                    std::int32_t&, std::int32_t&,
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
  run_team(s.team, team, go, [&] {
    worker(A, n, hb, B, block_width, s.team.mutex, s.team.slots, s.team.size,
           s.forward_pivot, s.forward_next, s.backward_pivot, s.backward_next);
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
  run_team(s.team, team, go, [&] {
    worker(A, n, hb, block_width, s.team.mutex, s.team.slots, s.team.size,
           s.forward_pivot, s.forward_next, threshold, s.failure_flags);
  });
  status = failed_status(s);
}

}  // namespace pband::detail
