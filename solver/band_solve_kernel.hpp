// Private header of the band solver: the block operations of the cyclic
// reduction, the worker routine every thread of a team runs, and the
// driver, written once over the element type and instantiated per type.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "runtime/runtime.hpp"
#include "solver/element_traits.hpp"
#include "solver/factor_diagonal_block.hpp"

namespace pband {

// Process-wide block base, chosen by the first solve (solver_tuning.cpp).
void select_solver_tuning_real();
void select_solver_tuning_complex();
std::int32_t current_block_base();

// Columns per block: max(base² / max(hb, 1), hb + 1). Never more than n,
// which changes nothing (one block either way) and keeps a huge hb from
// overflowing 32 bits.
inline std::int32_t band_block_size(std::int32_t base, std::int32_t n,
                                    std::int32_t hb) {
  const std::int64_t b = base;
  const std::int64_t size = std::max<std::int64_t>(
      b * b / std::max<std::int64_t>(hb, 1), std::int64_t(hb) + 1);
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(size, std::max<std::int32_t>(n, 1)));
}

// The arrays of one solve and the indexing of each, 1-based as in the
// formulas; every position is formed in 64 bits.
//   coupling store: n × hb, entry (i, k) at (k-1)·n + i
//   saved store:    hb × n, entry (k, j) at (j-1)·hb + k
template <class T>
struct BandArrays {
  T* a;
  T* b;
  T* saved;
  T* coupling;
  std::int64_t n;
  std::int64_t hb;
  std::int64_t nrhs;
  std::int64_t block_size;

  // Column j of the band from its diagonal: element (i, j) at [i - j].
  T* col(std::int64_t j) const { return a + band_pos(j, j, hb); }
  T* cpl(std::int64_t i, std::int64_t k) const {
    return coupling + ((k - 1) * n + (i - 1));
  }
  T* sav(std::int64_t k, std::int64_t j) const {
    return saved + ((j - 1) * hb + (k - 1));
  }
  T* rhs(std::int64_t i, std::int64_t q) const {
    return b + ((q - 1) * n + (i - 1));
  }
  std::int64_t last(std::int64_t c) const {
    return std::min(n, c + block_size - 1);
  }
};

// v(c … end) := L⁻¹·v with L the factor of the block's diagonal in A;
// v points at row c. Column by column: divide, then reduce the rows below.
template <class T>
void forward_solve_block(const BandArrays<T>& s, std::int64_t c,
                         std::int64_t end, T* v) {
  using Tr = ElementTraits<T>;
  for (std::int64_t i = c; i <= end; ++i) {
    const T* li = s.col(i);
    T* vi = v + (i - c);
    const T x = Tr::div(vi[0], li[0]);
    vi[0] = x;
    const std::int64_t m = std::min(s.hb, end - i);
    for (std::int64_t r = 1; r <= m; ++r) vi[r] = Tr::msub(vi[r], li[r], x);
  }
}

// x(c … end) := L⁻ᵀ·x, rows from the last up: each row subtracts the
// products with the rows below it in increasing order, then divides.
template <class T>
void backward_solve_block(const BandArrays<T>& s, std::int64_t c,
                          std::int64_t end, T* x) {
  using Tr = ElementTraits<T>;
  for (std::int64_t i = end; i >= c; --i) {
    const T* li = s.col(i);
    T* xi = x + (i - c);
    T t = xi[0];
    const std::int64_t m = std::min(s.hb, end - i);
    for (std::int64_t k = 1; k <= m; ++k) t = Tr::msub(t, li[k], xi[k]);
    xi[0] = Tr::div(t, li[0]);
  }
}

// Factor phase on block [c, end] at level w (neighbours nd columns away,
// the level's first block at level_first): factor the diagonal block, form
// the left spike S = L⁻¹·K in the block's coupling rows and the right
// coupling C = K'·L⁻ᵀ in the right neighbour's head rows, and forward-
// substitute the right-hand sides. False when a pivot of this phase failed.
template <class T>
bool factor_phase_block(const BandArrays<T>& s, std::int64_t c,
                        std::int64_t w, std::int64_t nd,
                        std::int64_t level_first, RealOf<T> threshold,
                        std::atomic<std::int32_t>* failure_flags,
                        std::int32_t parity) {
  using Tr = ElementTraits<T>;
  const std::int64_t end = s.last(c);
  const std::int64_t hb = s.hb;
  factor_diagonal_block(s.a, static_cast<std::int32_t>(hb),
                        static_cast<std::int32_t>(c),
                        static_cast<std::int32_t>(end), threshold,
                        failure_flags, parity);
  if (failure_flags[parity - 1].load(std::memory_order_relaxed) != 0)
    return false;

  // Left spike. At level 1 the coupling K comes from the band: column k is
  // the left neighbour's tail column c - hb - 1 + k, zero below the band.
  if (hb > 0 && c - nd >= level_first) {
    if (w == 1) {
      for (std::int64_t k = 1; k <= hb; ++k) {
        const std::int64_t j = c - hb - 1 + k;
        const T* aj = s.col(j);
        T* v = s.cpl(c, k);
        const std::int64_t band_end = std::min(j + hb, end);
        for (std::int64_t i = c; i <= band_end; ++i) v[i - c] = aj[i - j];
        for (std::int64_t i = band_end + 1; i <= end; ++i)
          v[i - c] = Tr::zero();
      }
    }
    for (std::int64_t k = 1; k <= hb; ++k)
      forward_solve_block(s, c, end, s.cpl(c, k));
  }

  // Right coupling, in the rows of the right neighbour's head; column k
  // belongs to this block's tail column end - hb + k.
  if (hb > 0 && c + nd <= s.n) {
    const std::int64_t head = c + nd;
    const std::int64_t head_end = std::min(s.n, head + hb - 1);
    const std::int64_t rows = head_end - head + 1;
    const std::int64_t t0 = end - hb;
    if (w == 1) {
      for (std::int64_t k = 1; k <= hb; ++k) {
        const std::int64_t j = t0 + k;
        const T* aj = s.col(j);
        T* v = s.cpl(head, k);
        const std::int64_t band_end = std::min(s.n, j + hb);
        for (std::int64_t i = head; i <= band_end; ++i)
          v[i - head] = aj[i - j];
        for (std::int64_t i = band_end + 1; i <= head_end; ++i)
          v[i - head] = Tr::zero();
      }
    }
    // C·Lᵀ = K' column by column over the tail.
    for (std::int64_t jj = 1; jj <= hb; ++jj) {
      const std::int64_t j = t0 + jj;
      const T* lj = s.col(j);
      T* vj = s.cpl(head, jj);
      const T d = lj[0];
      for (std::int64_t r = 0; r < rows; ++r) vj[r] = Tr::div(vj[r], d);
      const std::int64_t k_end = std::min(j + hb, end);
      for (std::int64_t k = j + 1; k <= k_end; ++k) {
        T* vk = s.cpl(head, k - t0);
        const T lkj = lj[k - j];
        for (std::int64_t r = 0; r < rows; ++r)
          vk[r] = Tr::msub(vk[r], lkj, vj[r]);
      }
    }
  }

  for (std::int64_t q = 1; q <= s.nrhs; ++q)
    forward_solve_block(s, c, end, s.rhs(c, q));
  return true;
}

// Update phase on a remaining block E = [c, end]: fold in the eliminated
// neighbours R (right) and P (left), nd columns away, and form E's new
// coupling with P's left neighbour Q.
//
//     Q tail | P ......... P tail | E head ... E tail | R ......
//            |<-------- S_P ----->|<- C_P ->|          |<- S_R ->
template <class T>
void update_phase_block(const BandArrays<T>& s, std::int64_t c,
                        std::int64_t nd, std::int64_t level_first) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.hb;
  if (hb == 0) return;
  const std::int64_t end = s.last(c);

  // From R: tail block -= S_Rᵀ·S_R, each entry's sum formed from zero and
  // subtracted once; tail rows of b -= S_Rᵀ·y_R a product at a time.
  if (c + nd <= s.n) {
    const std::int64_t r0 = c + nd;
    const std::int64_t rows = s.last(r0) - r0 + 1;
    const std::int64_t t0 = end - hb;
    for (std::int64_t j = 1; j <= hb; ++j) {
      T* aj = s.col(t0 + j);
      const T* sj = s.cpl(r0, j);
      for (std::int64_t k = j; k <= hb; ++k) {
        const T* sk = s.cpl(r0, k);
        T sum = Tr::zero();
        for (std::int64_t i = 0; i < rows; ++i)
          sum = Tr::add(sum, Tr::mul(sk[i], sj[i]));
        aj[k - j] = Tr::sub(aj[k - j], sum);
      }
    }
    for (std::int64_t q = 1; q <= s.nrhs; ++q) {
      const T* y = s.rhs(r0, q);
      T* bt = s.rhs(t0 + 1, q);
      for (std::int64_t k = 1; k <= hb; ++k) {
        const T* sk = s.cpl(r0, k);
        T t = bt[k - 1];
        for (std::int64_t i = 0; i < rows; ++i) t = Tr::msub(t, sk[i], y[i]);
        bt[k - 1] = t;
      }
    }
  }

  if (c - nd < level_first) return;
  // From P: C_P sits in E's head rows of the coupling store.
  const std::int64_t p0 = c - nd;
  const std::int64_t p_tail = p0 + s.block_size - hb;  // first tail column
  const std::int64_t head_end = std::min(s.n, c + hb - 1);
  const std::int64_t head_rows = head_end - c + 1;
  // Head block -= C_P·C_Pᵀ as rank-one updates in increasing column k.
  for (std::int64_t k = 1; k <= hb; ++k) {
    const T* ck = s.cpl(c, k);
    for (std::int64_t j = 0; j < head_rows; ++j) {
      T* aj = s.col(c + j);
      const T cjk = ck[j];
      for (std::int64_t i = j; i < head_rows; ++i)
        aj[i - j] = Tr::msub(aj[i - j], ck[i], cjk);
    }
  }
  // Head rows of b -= C_P·y(P's tail).
  for (std::int64_t q = 1; q <= s.nrhs; ++q) {
    T* bh = s.rhs(c, q);
    const T* y = s.rhs(p_tail, q);
    for (std::int64_t k = 1; k <= hb; ++k) {
      const T* ck = s.cpl(c, k);
      const T yk = y[k - 1];
      for (std::int64_t i = 0; i < head_rows; ++i)
        bh[i] = Tr::msub(bh[i], ck[i], yk);
    }
  }
  // Keep C_P, transposed, for P's back-substitution: saved(k, end_P + r).
  const std::int64_t p_end = p0 + s.block_size - 1;
  for (std::int64_t r = 1; r <= head_rows; ++r) {
    T* sv = s.sav(1, p_end + r);
    for (std::int64_t k = 1; k <= hb; ++k) sv[k - 1] = *s.cpl(c + r - 1, k);
  }

  // E's head with Q's tail: -C_P·S_P(P's tail rows), row by row in place,
  // the row of C_P buffered in the band slots A(c … c+hb-1, c-1), which
  // nothing reads after level 1.
  if (p0 <= level_first) return;
  T* buf = s.col(c - 1) + 1;
  for (std::int64_t i = c; i <= head_end; ++i) {
    for (std::int64_t k = 1; k <= hb; ++k) {
      T* e = s.cpl(i, k);
      buf[k - 1] = *e;
      *e = Tr::zero();
    }
    for (std::int64_t m = 1; m <= hb; ++m) {
      const T bm = buf[m - 1];
      const std::int64_t sp_row = p_tail + m - 1;
      for (std::int64_t k = 1; k <= hb; ++k) {
        T* e = s.cpl(i, k);
        *e = Tr::msub(*e, bm, *s.cpl(sp_row, k));
      }
    }
  }
  for (std::int64_t k = 1; k <= hb; ++k) {
    T* v = s.cpl(1, k);
    for (std::int64_t i = head_end + 1; i <= end; ++i) v[i - 1] = Tr::zero();
  }
}

// Back-substitution phase on block [c, end], its neighbours nd columns
// away already solved: y - S·x(P's tail) - Cᵀ·x(R's head), then L⁻ᵀ.
template <class T>
void back_substitution_block(const BandArrays<T>& s, std::int64_t c,
                             std::int64_t nd) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.hb;
  const std::int64_t end = s.last(c);
  const std::int64_t len = end - c + 1;
  const bool left = hb > 0 && c - nd >= 1;
  const bool right = hb > 0 && c + nd <= s.n;
  for (std::int64_t q = 1; q <= s.nrhs; ++q) {
    T* x = s.rhs(c, q);
    if (left) {
      const T* xp = s.rhs(c - nd + s.block_size - hb, q);
      for (std::int64_t k = 1; k <= hb; ++k) {
        const T* sk = s.cpl(c, k);
        const T xk = xp[k - 1];
        for (std::int64_t i = 0; i < len; ++i) x[i] = Tr::msub(x[i], sk[i], xk);
      }
    }
    if (right) {
      const std::int64_t r0 = c + nd;
      const std::int64_t m = std::min(hb, s.n - r0 + 1);
      const T* xr = s.rhs(r0, q);
      T* xt = s.rhs(end - hb + 1, q);
      for (std::int64_t r = 1; r <= m; ++r) {
        const T* sv = s.sav(1, end + r);
        const T xv = xr[r - 1];
        for (std::int64_t k = 0; k < hb; ++k)
          xt[k] = Tr::msub(xt[k], sv[k], xv);
      }
    }
    backward_solve_block(s, c, end, x);
  }
}

// The worker routine: every thread of the team runs it with the same
// shared arguments. Blocks are claimed one at a time under `mutex`; the
// phases end at barriers on the two slots in turn, whose leader alone
// advances the level fields below and re-arms the other slot.
//   A, n, hb, B, nrhs   the system; A and B are overwritten
//   saved, coupling     the two n·hb halves of the workspace
//   team_size           participants of every barrier
//   level_stride …      level fields and claim counters, shared
//   failure_flags       [p-1] set when a pivot fails in a phase ending
//                       on slot p
// A slot number 0 (none) makes the caller lead every barrier alone, which
// is right only for a team of one; the driver never forms a larger team
// without both slots and the mutex.
template <class T>
void band_solve_worker(T*& A, std::int32_t& n, std::int32_t& hb, T*& B,
                       std::int32_t& nrhs, T*& saved, T*& coupling,
                       Handle& mutex, std::int32_t (&slots)[2],
                       std::int32_t& block_size, std::int32_t& team_size,
                       std::int64_t& level_stride,
                       std::int64_t& neighbour_distance,
                       std::int64_t& claim_step, std::int64_t& level_first,
                       std::int64_t& next_up, std::int64_t& next_down,
                       RealOf<T>& pivot_threshold,
                       std::atomic<std::int32_t> (&failure_flags)[2]) {
  const BandArrays<T> s{A, B, saved, coupling, n, std::max(hb, 0),
                        std::max(nrhs, 0), block_size};
  const std::int64_t bs = block_size;
  std::int32_t p = 1;

  // Takes the next block of the phase from `counter`; false when none.
  auto claim = [&](std::int64_t& counter, std::int64_t& c) {
    mutex_lock(mutex);
    const std::int64_t next = counter;
    const bool got = next <= s.n;
    if (got) counter = next + claim_step;
    mutex_unlock(mutex);
    c = next;
    return got;
  };
  auto phase_end = [&](auto&& serial_step) {
    const std::int32_t slot = slots[p - 1];
    std::int32_t follower = 0;
    sync_slot_arrive(slot);
    sync_slot_wait_leader(slot, follower);
    if (follower == 0) {
      serial_step();
      sync_slot_arm(slots[2 - p], team_size);
      sync_slot_post(slot);
    }
  };
  auto failed = [&] {
    return failure_flags[p - 1].load(std::memory_order_relaxed) != 0;
  };
  auto factor_phase = [&] {
    const std::int64_t w = level_stride, nd = neighbour_distance;
    const std::int64_t first = level_first;
    std::int64_t c = 0;
    while (claim(next_up, c)) {
      if (!factor_phase_block(s, c, w, nd, first, pivot_threshold,
                              failure_flags, p))
        break;
    }
  };

  // Level 1.
  factor_phase();
  phase_end([&] {
    level_stride = 2;
    next_up = (level_stride - 1) * bs + 1;
  });
  if (failed()) return;
  p = 3 - p;

  // Upward sweep: fold the eliminated blocks into the remaining ones, then
  // eliminate half of those, until a level has no block left to eliminate.
  for (;;) {
    {
      const std::int64_t nd = neighbour_distance, first = level_first;
      std::int64_t c = 0;
      while (claim(next_up, c)) update_phase_block(s, c, nd, first);
    }
    phase_end([&] {
      next_up = level_first = (level_stride - 1) * bs + 1;
      claim_step *= 2;
      neighbour_distance *= 2;
    });
    p = 3 - p;

    factor_phase();
    phase_end([&] {
      level_stride *= 2;
      next_up = (level_stride - 1) * bs + 1;
      if (next_up > s.n) {
        level_stride /= 2;
        next_down = (level_stride - 1) * bs + 1;
      }
    });
    if (failed()) return;
    p = 3 - p;
    // Under the mutex: threads through the barrier first may already be
    // claiming from next_down.
    mutex_lock(mutex);
    const bool top = next_down != 0;
    mutex_unlock(mutex);
    if (top) break;
  }

  // Downward sweep: solve the blocks of each level, top level first.
  for (;;) {
    {
      const std::int64_t nd = neighbour_distance;
      std::int64_t c = 0;
      while (claim(next_down, c)) back_substitution_block(s, c, nd);
    }
    phase_end([&] {
      level_stride /= 2;
      claim_step /= 2;
      neighbour_distance /= 2;
      next_down = (level_stride - 1) * bs + 1;
    });
    p = 3 - p;
    if (level_stride < 1) return;
  }
}

// Solves A·X = B with the current team; see band_solver.hpp for the
// arguments and the status values.
template <class T>
void solve_band_system(T* A, std::int32_t n, std::int32_t hb, T* B,
                       std::int32_t nrhs, T* W, std::int32_t& status) {
  // Reject bad arguments before touching anything: the first invalid one
  // in argument order, as a negative position.
  if (n > 0 && A == nullptr) { status = -1; return; }
  if (n < 0) { status = -2; return; }
  if (hb < 0) { status = -3; return; }
  if (n > 0 && nrhs > 0 && B == nullptr) { status = -4; return; }
  if (nrhs < 0) { status = -5; return; }
  if (n > 0 && hb > 0 && W == nullptr) { status = -6; return; }
  if (n == 0) { status = 0; return; }

  if constexpr (ElementTraits<T>::is_complex)
    select_solver_tuning_complex();
  else
    select_solver_tuning_real();
  std::int32_t team = 1;
  get_team_size(team);
  team = std::clamp(team, 1, MAX_TEAM_SIZE);
  Handle mutex = 0;
  mutex_create(mutex);
  std::int32_t slots[2] = {0, 0};
  sync_slot_allocate(slots[0]);
  sync_slot_allocate(slots[1]);

  std::int32_t block_size = band_block_size(current_block_base(), n, hb);
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
