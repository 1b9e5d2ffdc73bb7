// Private header of the band solver: the general forms of the block
// operations of the cyclic reduction (factor phase, update phase, back-
// substitution), one block at a time, for any element type and any half
// bandwidth, fixed at compile time or not. Where a formula reads a factor
// transposed (ᵀ), a Hermitian system reads it conjugated (ᴴ): every such
// element goes through ElementTraits::mirror.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "kernels/element_traits.hpp"
#include "kernels/factor_diagonal_block.hpp"
#include "solver/band_arrays.hpp"
#include "solver/forms/wide.hpp"

namespace pband {

// v(c … end) := L⁻¹·v with L the factor of the block's diagonal in A;
// v points at row c, rows `stride` elements apart. Column by column:
// divide, then reduce the rows below.
template <class T, int HB = kAnyHb>
void forward_solve_block(const BandArrays<T>& s, std::int64_t c,
                         std::int64_t end, T* v, std::int64_t stride = 1) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  const T* li = s.template column<HB>(c);
  for (std::int64_t i = c; i <= end; ++i, li += hb + 1) {
    T* vi = v + (i - c) * stride;
    const T x = Tr::div(vi[0], li[0]);
    vi[0] = x;
    const std::int64_t m = std::min(hb, end - i);
    for (std::int64_t r = 1; r <= m; ++r)
      vi[r * stride] = Tr::msub(vi[r * stride], li[r], x);
  }
}

// x(c … end) := L⁻ᵀ·x (Hermitian: L⁻ᴴ·x), rows from the last up: each row
// subtracts the products with the rows below it in increasing order, then
// divides.
template <class T, int HB = kAnyHb>
void backward_solve_block(const BandArrays<T>& s, std::int64_t c,
                          std::int64_t end, T* x) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  const T* li = s.template column<HB>(end);
  for (std::int64_t i = end; i >= c; --i, li -= hb + 1) {
    T* xi = x + (i - c);
    T t = xi[0];
    const std::int64_t m = std::min(hb, end - i);
    for (std::int64_t k = 1; k <= m; ++k)
      t = Tr::msub(t, Tr::mirror(li[k]), xi[k]);
    xi[0] = Tr::div(t, li[0]);
  }
}

// Right coupling of block [c, end] with its right neighbour nd columns
// away, formed in the rows of the neighbour's head; column k belongs to
// this block's tail column end - hb + k. At level 1 it is first copied
// from the band.
// VW > 0: vector forms of that width for the real types where they fit
// (wide.hpp), the same operations in the same order.
template <class T, int HB = kAnyHb, int VW = 0>
void right_coupling(const BandArrays<T>& s, std::int64_t c, std::int64_t end,
                    std::int64_t w, std::int64_t nd) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  const std::int64_t head = c + nd;
  const std::int64_t head_end = std::min(s.n, head + hb - 1);
  const std::int64_t rows = head_end - head + 1;
  const std::int64_t t0 = end - hb;
  if (w == 1) {
    for (std::int64_t k = 1; k <= hb; ++k) {
      const std::int64_t j = t0 + k;
      const T* aj = s.template column<HB>(j);
      T* v = s.coupling_at(head, k);
      const std::int64_t band_end = std::min(s.n, j + hb);
      for (std::int64_t i = head; i <= band_end; ++i)
        v[(i - head) * hb] = aj[i - j];
      for (std::int64_t i = band_end + 1; i <= head_end; ++i)
        v[(i - head) * hb] = Tr::zero();
    }
  }
  if constexpr (VW > 0) {
    if (wide_fits<T>(s.vector_forms, hb, rows))
      return coupling_solve_wide<T, VW>(s, end, head, rows);
  }
  // C·Lᵀ = K' (Hermitian: C·Lᴴ) column by column over the tail.
  for (std::int64_t jj = 1; jj <= hb; ++jj) {
    const std::int64_t j = t0 + jj;
    const T* lj = s.template column<HB>(j);
    T* vj = s.coupling_at(head, jj);
    const T d = lj[0];
    for (std::int64_t r = 0; r < rows; ++r) vj[r * hb] = Tr::div(vj[r * hb], d);
    const std::int64_t k_end = std::min(j + hb, end);
    for (std::int64_t k = j + 1; k <= k_end; ++k) {
      T* vk = s.coupling_at(head, k - t0);
      const T lkj = Tr::mirror(lj[k - j]);
      for (std::int64_t r = 0; r < rows; ++r)
        vk[r * hb] = Tr::msub(vk[r * hb], lkj, vj[r * hb]);
    }
  }
}

// Factor phase on block [c, end] at level w (neighbours nd columns away,
// the level's first block at level_first): factor the diagonal block, form
// the left spike S = L⁻¹·K in the block's coupling rows and the right
// coupling C = K'·L⁻ᵀ in the right neighbour's head rows, and forward-
// substitute the right-hand sides. False when a pivot of this phase failed.
template <class T, int HB = kAnyHb, int VW = 0>
bool factor_phase_block(const BandArrays<T>& s, std::int64_t c, std::int64_t w,
                        std::int64_t nd, std::int64_t level_first,
                        RealOf<T> threshold,
                        std::atomic<std::int32_t>* failure_flags,
                        std::int32_t parity) {
  using Tr = ElementTraits<T>;
  const std::int64_t end = s.last(c);
  const std::int64_t hb = s.template half_band<HB>();
  factor_band_columns<T, HB>(s.a, hb, c, end, threshold, failure_flags, parity);
  if (failure_flags[parity - 1].load(std::memory_order_relaxed) != 0)
    return false;

  // Left spike. At level 1 the coupling K comes from the band: column k is
  // the left neighbour's tail column c - hb - 1 + k, zero below the band.
  if (hb > 0 && c - nd >= level_first) {
    if (w == 1) {
      for (std::int64_t k = 1; k <= hb; ++k) {
        const std::int64_t j = c - hb - 1 + k;
        const T* aj = s.template column<HB>(j);
        T* v = s.coupling_at(c, k);
        const std::int64_t band_end = std::min(j + hb, end);
        for (std::int64_t i = c; i <= band_end; ++i)
          v[(i - c) * hb] = aj[i - j];
        for (std::int64_t i = band_end + 1; i <= end; ++i)
          v[(i - c) * hb] = Tr::zero();
      }
    } else {
      // Later levels: K is zero below the head rows (not stored).
      const std::int64_t head_end = std::min(end, c + hb - 1);
      for (std::int64_t i = head_end + 1; i <= end; ++i)
        for (std::int64_t k = 1; k <= hb; ++k)
          *s.coupling_at(i, k) = Tr::zero();
    }
    bool done = false;
    if constexpr (VW > 0) {
      done = wide_fits<T>(s.vector_forms, hb, end - c + 1);
      if (done) spike_solve_wide<T, VW>(s, c, end);
    }
    for (std::int64_t k = 1; k <= hb && !done; ++k)
      forward_solve_block<T, HB>(s, c, end, s.coupling_at(c, k), hb);
  }

  if (hb > 0 && c + nd <= s.n) right_coupling<T, HB, VW>(s, c, end, w, nd);
  for (std::int64_t q = 1; q <= s.nrhs; ++q)
    forward_solve_block<T, HB>(s, c, end, s.rhs(c, q));
  return true;
}

// Update phase on a remaining block E = [c, end]: fold in the eliminated
// neighbours R (right) and P (left), nd columns away, and form E's new
// coupling with P's left neighbour Q. The two halves touch disjoint parts
// of E when E is at least 2·hb long, so they may also run as soon as R or
// P is factored, by the thread that factored it (see fold_into_neighbours).
//
//     Q tail | P ......... P tail | E head ... E tail | R ......
//            |<-------- S_P ----->|<- C_P ->|          |<- S_R ->

// From R: tail block -= S_Rᵀ·S_R, each entry's sum formed from zero and
// subtracted once; tail rows of b -= S_Rᵀ·y_R a product at a time.
template <class T, int HB = kAnyHb, int VW = 0>
void update_from_right(const BandArrays<T>& s, std::int64_t c,
                       std::int64_t nd) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  if (hb == 0 || c + nd > s.n) return;
  const std::int64_t end = s.last(c);
  const std::int64_t r0 = c + nd;
  const std::int64_t rows = s.last(r0) - r0 + 1;
  if constexpr (VW > 0) {
    if (wide_fits<T>(s.vector_forms, hb, rows))
      return update_from_right_wide<T, VW>(s, c, r0);
  }
  const std::int64_t t0 = end - hb;
  for (std::int64_t j = 1; j <= hb; ++j) {
    T* aj = s.template column<HB>(t0 + j);
    const T* sj = s.coupling_at(r0, j);
    for (std::int64_t k = j; k <= hb; ++k) {
      const T* sk = s.coupling_at(r0, k);
      T sum = Tr::zero();
      for (std::int64_t i = 0; i < rows; ++i)
        sum = Tr::add(sum, Tr::mul(Tr::mirror(sk[i * hb]), sj[i * hb]));
      aj[k - j] = Tr::sub(aj[k - j], sum);
    }
  }
  for (std::int64_t q = 1; q <= s.nrhs; ++q) {
    const T* y = s.rhs(r0, q);
    T* bt = s.rhs(t0 + 1, q);
    for (std::int64_t k = 1; k <= hb; ++k) {
      const T* sk = s.coupling_at(r0, k);
      T t = bt[k - 1];
      for (std::int64_t i = 0; i < rows; ++i)
        t = Tr::msub(t, Tr::mirror(sk[i * hb]), y[i]);
      bt[k - 1] = t;
    }
  }
}

// From P: head block -= C_P·C_Pᵀ, head rows of b -= C_P·y(P's tail), C_P
// kept for P's back-substitution, and, when P has a left neighbour Q, E's
// head coupling with Q's tail -C_P·S_P(P's tail rows) in place of C_P.
// E's coupling rows below the head are zero from here on; they are never
// stored, the factor phase takes them as zero.
template <class T, int HB = kAnyHb, int VW = 0>
void update_from_left(const BandArrays<T>& s, std::int64_t c, std::int64_t nd,
                      std::int64_t level_first) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  if (hb == 0 || c - nd < level_first) return;
  const std::int64_t p0 = c - nd;
  if constexpr (VW > 0) {
    if (wide_fits<T>(s.vector_forms, hb, hb))
      return update_from_left_wide<T, VW>(s, c, p0, p0 > level_first);
  }
  const std::int64_t p_tail = p0 + s.block_size - hb;  // first tail column
  const std::int64_t head_end = std::min(s.n, c + hb - 1);
  const std::int64_t head_rows = head_end - c + 1;
  // Head block -= C_P·C_Pᵀ as rank-one updates in increasing column k.
  for (std::int64_t k = 1; k <= hb; ++k) {
    const T* ck = s.coupling_at(c, k);
    for (std::int64_t j = 0; j < head_rows; ++j) {
      T* aj = s.template column<HB>(c + j);
      const T cjk = Tr::mirror(ck[j * hb]);
      for (std::int64_t i = j; i < head_rows; ++i)
        aj[i - j] = Tr::msub(aj[i - j], ck[i * hb], cjk);
    }
  }
  // Head rows of b -= C_P·y(P's tail).
  for (std::int64_t q = 1; q <= s.nrhs; ++q) {
    T* bh = s.rhs(c, q);
    const T* y = s.rhs(p_tail, q);
    for (std::int64_t k = 1; k <= hb; ++k) {
      const T* ck = s.coupling_at(c, k);
      const T yk = y[k - 1];
      for (std::int64_t i = 0; i < head_rows; ++i)
        bh[i] = Tr::msub(bh[i], ck[i * hb], yk);
    }
  }
  // Keep C_P, transposed, for P's back-substitution: saved(k, end_P + r).
  const std::int64_t p_end = p0 + s.block_size - 1;
  for (std::int64_t r = 1; r <= head_rows; ++r) {
    T* sv = s.saved_at(1, p_end + r);
    for (std::int64_t k = 1; k <= hb; ++k)
      sv[k - 1] = *s.coupling_at(c + r - 1, k);
  }

  // E's head with Q's tail: -C_P·S_P(P's tail rows), row by row in place,
  // the row of C_P buffered in the band slots A(c … c+hb-1, c-1), which
  // nothing reads after level 1.
  if (p0 <= level_first) return;
  T* buf = s.template column<HB>(c - 1) + 1;
  for (std::int64_t i = c; i <= head_end; ++i) {
    for (std::int64_t k = 1; k <= hb; ++k) {
      T* e = s.coupling_at(i, k);
      buf[k - 1] = *e;
      *e = Tr::zero();
    }
    for (std::int64_t m = 1; m <= hb; ++m) {
      const T bm = buf[m - 1];
      const std::int64_t sp_row = p_tail + m - 1;
      for (std::int64_t k = 1; k <= hb; ++k) {
        T* e = s.coupling_at(i, k);
        *e = Tr::msub(*e, bm, *s.coupling_at(sp_row, k));
      }
    }
  }
}

// The right-hand sides' parts of the update, on their own: for the
// forms that keep the first right-hand side elsewhere, and for the solves
// of a stored factor. Each element takes its terms in the order of
// update_from_right and update_from_left.

// Tail rows of remaining block e, right-hand side q, less S_Rᵀ·y_R.
template <class T, int HB = kAnyHb>
void rhs_from_right(const BandArrays<T>& s, std::int64_t e, std::int64_t r0,
                    std::int64_t q) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  const std::int64_t rows = s.last(r0) - r0 + 1;
  const T* yr = s.rhs(r0, q);
  T* bt = s.rhs(s.last(e) - hb + 1, q);
  if constexpr (HB > 0) {
    // The hb sums side by side, each still a product at a time in row
    // order: the same bits, without waiting on one chain at a time.
    T t[HB];
    for (int k = 0; k < HB; ++k) t[k] = bt[k];
    const T* sr = s.coupling_at(r0, 1);
    for (std::int64_t i = 0; i < rows; ++i, sr += HB)
      for (int k = 0; k < HB; ++k)
        t[k] = Tr::msub(t[k], Tr::mirror(sr[k]), yr[i]);
    for (int k = 0; k < HB; ++k) bt[k] = t[k];
    return;
  }
  for (std::int64_t k = 1; k <= hb; ++k) {
    const T* sk = s.coupling_at(r0, k);
    T t = bt[k - 1];
    for (std::int64_t i = 0; i < rows; ++i)
      t = Tr::msub(t, Tr::mirror(sk[i * hb]), yr[i]);
    bt[k - 1] = t;
  }
}

// Head rows of remaining block e, right-hand side q, less C_P·y(P's
// tail), C_P read back from the saved store.
template <class T, int HB = kAnyHb>
void rhs_from_left(const BandArrays<T>& s, std::int64_t e, std::int64_t p0,
                   std::int64_t q) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  const std::int64_t p_end = p0 + s.block_size - 1;
  const std::int64_t rows = std::min(s.n, e + hb - 1) - e + 1;
  const T* yp = s.rhs(p_end - hb + 1, q);
  T* bh = s.rhs(e, q);
  for (std::int64_t k = 1; k <= hb; ++k) {
    const T yk = yp[k - 1];
    for (std::int64_t i = 0; i < rows; ++i)
      bh[i] = Tr::msub(bh[i], *s.saved_at(k, p_end + 1 + i), yk);
  }
}

// Back-substitution phase on block [c, end], its neighbours nd columns
// away already solved: y - S·x(P's tail) - Cᵀ·x(R's head), then L⁻ᵀ.
// Right-hand sides q_first … nrhs only when q_first > 1.
template <class T, int HB = kAnyHb>
void back_substitution_block(const BandArrays<T>& s, std::int64_t c,
                             std::int64_t nd, std::int64_t q_first = 1) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  const std::int64_t end = s.last(c);
  const std::int64_t len = end - c + 1;
  const bool left = hb > 0 && c - nd >= 1;
  const bool right = hb > 0 && c + nd <= s.n;
  for (std::int64_t q = q_first; q <= s.nrhs; ++q) {
    T* x = s.rhs(c, q);
    if (left) {
      const T* xp = s.rhs(c - nd + s.block_size - hb, q);
      for (std::int64_t k = 1; k <= hb; ++k) {
        const T* sk = s.coupling_at(c, k);
        const T xk = xp[k - 1];
        for (std::int64_t i = 0; i < len; ++i)
          x[i] = Tr::msub(x[i], sk[i * hb], xk);
      }
    }
    if (right) {
      const std::int64_t r0 = c + nd;
      const std::int64_t m = std::min(hb, s.n - r0 + 1);
      const T* xr = s.rhs(r0, q);
      T* xt = s.rhs(end - hb + 1, q);
      for (std::int64_t r = 1; r <= m; ++r) {
        const T* sv = s.saved_at(1, end + r);
        const T xv = xr[r - 1];
        for (std::int64_t k = 0; k < hb; ++k)
          xt[k] = Tr::msub(xt[k], Tr::mirror(sv[k]), xv);
      }
    }
    backward_solve_block<T, HB>(s, c, end, x);
  }
}

}  // namespace pband
