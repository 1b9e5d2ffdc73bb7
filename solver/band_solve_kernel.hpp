// Private header of the band solver: the block operations of the cyclic
// reduction, the worker routine every thread of a team runs, and the
// driver, written once over the element type and instantiated per type.
// The block operations are compiled per common half bandwidth and per
// instruction set, all doing the same operations in the same order.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "runtime/runtime.hpp"
#include "solver/element_traits.hpp"
#include "solver/factor_diagonal_block.hpp"
#include "solver/simd_lanes.hpp"
#include "solver/solver_isa.hpp"

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

// Half bandwidth known at compile time (0, 1, 2, …) or kAnyHb: read from
// the arrays. Fixed widths let the compiler unroll the short band loops.
inline constexpr int kAnyHb = -1;

// The vector forms where they exist (real types, half bandwidth 4 or
// more), the general ones elsewhere.
template <class T, int HB>
inline constexpr bool kHasLanes = !ElementTraits<T>::is_complex && HB >= 4;

// The arrays of one solve and the indexing of each, 1-based as in the
// formulas; every position is formed in 64 bits.
//   coupling store: n × hb, row-major: entry (i, k) at (i-1)·hb + k, so
//                   the rows of a block are one contiguous run
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
  template <int HB>
  T* column(std::int64_t j) const {
    return a + (j - 1) * (half_band<HB>() + 1);
  }
  T* cpl(std::int64_t i, std::int64_t k) const {
    return coupling + ((i - 1) * hb + (k - 1));
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
  template <int HB>
  std::int64_t half_band() const {
    if constexpr (HB >= 0)
      return HB;
    else
      return hb;
  }
};

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

// x(c … end) := L⁻ᵀ·x, rows from the last up: each row subtracts the
// products with the rows below it in increasing order, then divides.
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
    for (std::int64_t k = 1; k <= m; ++k) t = Tr::msub(t, li[k], xi[k]);
    xi[0] = Tr::div(t, li[0]);
  }
}

// Right coupling of block [c, end] with its right neighbour nd columns
// away, formed in the rows of the neighbour's head; column k belongs to
// this block's tail column end - hb + k. At level 1 it is first copied
// from the band.
template <class T, int HB = kAnyHb>
void right_coupling(const BandArrays<T>& s, std::int64_t c,
                    std::int64_t end, std::int64_t w, std::int64_t nd) {
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
      T* v = s.cpl(head, k);
      const std::int64_t band_end = std::min(s.n, j + hb);
      for (std::int64_t i = head; i <= band_end; ++i)
        v[(i - head) * hb] = aj[i - j];
      for (std::int64_t i = band_end + 1; i <= head_end; ++i)
        v[(i - head) * hb] = Tr::zero();
    }
  }
  // C·Lᵀ = K' column by column over the tail.
  for (std::int64_t jj = 1; jj <= hb; ++jj) {
    const std::int64_t j = t0 + jj;
    const T* lj = s.template column<HB>(j);
    T* vj = s.cpl(head, jj);
    const T d = lj[0];
    for (std::int64_t r = 0; r < rows; ++r)
      vj[r * hb] = Tr::div(vj[r * hb], d);
    const std::int64_t k_end = std::min(j + hb, end);
    for (std::int64_t k = j + 1; k <= k_end; ++k) {
      T* vk = s.cpl(head, k - t0);
      const T lkj = lj[k - j];
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
template <class T, int HB = kAnyHb>
bool factor_phase_block(const BandArrays<T>& s, std::int64_t c,
                        std::int64_t w, std::int64_t nd,
                        std::int64_t level_first, RealOf<T> threshold,
                        std::atomic<std::int32_t>* failure_flags,
                        std::int32_t parity) {
  using Tr = ElementTraits<T>;
  const std::int64_t end = s.last(c);
  const std::int64_t hb = s.template half_band<HB>();
  factor_band_columns<T, HB>(s.a, hb, c, end, threshold, failure_flags,
                             parity);
  if (failure_flags[parity - 1].load(std::memory_order_relaxed) != 0)
    return false;

  // Left spike. At level 1 the coupling K comes from the band: column k is
  // the left neighbour's tail column c - hb - 1 + k, zero below the band.
  if (hb > 0 && c - nd >= level_first) {
    if (w == 1) {
      for (std::int64_t k = 1; k <= hb; ++k) {
        const std::int64_t j = c - hb - 1 + k;
        const T* aj = s.template column<HB>(j);
        T* v = s.cpl(c, k);
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
        for (std::int64_t k = 1; k <= hb; ++k) *s.cpl(i, k) = Tr::zero();
    }
    for (std::int64_t k = 1; k <= hb; ++k)
      forward_solve_block<T, HB>(s, c, end, s.cpl(c, k), hb);
  }

  if (hb > 0 && c + nd <= s.n) right_coupling<T, HB>(s, c, end, w, nd);
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
template <class T, int HB = kAnyHb>
void update_from_right(const BandArrays<T>& s, std::int64_t c,
                       std::int64_t nd) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  if (hb == 0 || c + nd > s.n) return;
  const std::int64_t end = s.last(c);
  const std::int64_t r0 = c + nd;
  const std::int64_t rows = s.last(r0) - r0 + 1;
  const std::int64_t t0 = end - hb;
  for (std::int64_t j = 1; j <= hb; ++j) {
    T* aj = s.template column<HB>(t0 + j);
    const T* sj = s.cpl(r0, j);
    for (std::int64_t k = j; k <= hb; ++k) {
      const T* sk = s.cpl(r0, k);
      T sum = Tr::zero();
      for (std::int64_t i = 0; i < rows; ++i)
        sum = Tr::add(sum, Tr::mul(sk[i * hb], sj[i * hb]));
      aj[k - j] = Tr::sub(aj[k - j], sum);
    }
  }
  for (std::int64_t q = 1; q <= s.nrhs; ++q) {
    const T* y = s.rhs(r0, q);
    T* bt = s.rhs(t0 + 1, q);
    for (std::int64_t k = 1; k <= hb; ++k) {
      const T* sk = s.cpl(r0, k);
      T t = bt[k - 1];
      for (std::int64_t i = 0; i < rows; ++i)
        t = Tr::msub(t, sk[i * hb], y[i]);
      bt[k - 1] = t;
    }
  }
}

// From P: head block -= C_P·C_Pᵀ, head rows of b -= C_P·y(P's tail), C_P
// kept for P's back-substitution, and, when P has a left neighbour Q, E's
// head coupling with Q's tail -C_P·S_P(P's tail rows) in place of C_P.
// E's coupling rows below the head are zero from here on; they are never
// stored, the factor phase takes them as zero.
template <class T, int HB = kAnyHb>
void update_from_left(const BandArrays<T>& s, std::int64_t c,
                      std::int64_t nd, std::int64_t level_first) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  if (hb == 0 || c - nd < level_first) return;
  const std::int64_t p0 = c - nd;
  const std::int64_t p_tail = p0 + s.block_size - hb;  // first tail column
  const std::int64_t head_end = std::min(s.n, c + hb - 1);
  const std::int64_t head_rows = head_end - c + 1;
  // Head block -= C_P·C_Pᵀ as rank-one updates in increasing column k.
  for (std::int64_t k = 1; k <= hb; ++k) {
    const T* ck = s.cpl(c, k);
    for (std::int64_t j = 0; j < head_rows; ++j) {
      T* aj = s.template column<HB>(c + j);
      const T cjk = ck[j * hb];
      for (std::int64_t i = j; i < head_rows; ++i)
        aj[i - j] = Tr::msub(aj[i - j], ck[i * hb], cjk);
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
        bh[i] = Tr::msub(bh[i], ck[i * hb], yk);
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
  T* buf = s.template column<HB>(c - 1) + 1;
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
}

// Back-substitution phase on block [c, end], its neighbours nd columns
// away already solved: y - S·x(P's tail) - Cᵀ·x(R's head), then L⁻ᵀ.
template <class T, int HB = kAnyHb>
void back_substitution_block(const BandArrays<T>& s, std::int64_t c,
                             std::int64_t nd) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
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
        const T* sv = s.sav(1, end + r);
        const T xv = xr[r - 1];
        for (std::int64_t k = 0; k < hb; ++k)
          xt[k] = Tr::msub(xt[k], sv[k], xv);
      }
    }
    backward_solve_block<T, HB>(s, c, end, x);
  }
}

// P blocks of one back-substitution phase, each exactly as alone. Each
// row of a backward solve waits for the row below it; the rows of the
// blocks are interleaved so that one's wait overlaps the others' work.
template <class T, int HB, int P>
void back_substitution_blocks(const BandArrays<T>& s,
                              const std::int64_t (&cs)[P], std::int64_t nd) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  const std::int64_t len = s.last(cs[0]) - cs[0] + 1;
  bool same = true;
  for (int b = 1; b < P; ++b) same = same && s.last(cs[b]) - cs[b] + 1 == len;
  if (P == 1 || s.nrhs != 1 || hb == 0 || !same) {
    for (int b = 0; b < P; ++b) back_substitution_block<T, HB>(s, cs[b], nd);
    return;
  }
  // Everything but the backward solves.
  for (int b = 0; b < P; ++b) {
    const std::int64_t c = cs[b], end = c + len - 1;
    T* x = s.rhs(c, 1);
    if (c - nd >= 1) {
      const T* xp = s.rhs(c - nd + s.block_size - hb, 1);
      std::int64_t i0 = 0;
      if constexpr (kHasLanes<T, HB>) {
        // HB rows of the spike at a time, turned into columns, so that
        // each x(i) still takes its terms in increasing k.
        using L = Lanes<T, HB>;
        using V = typename L::V;
        for (; i0 + HB <= len; i0 += HB) {
          V col[HB];
          for (int r = 0; r < HB; ++r) L::load(col[r], s.cpl(c + i0 + r, 1));
          L::transpose(col);
          V xv;
          L::load(xv, x + i0);
          for (int k = 0; k < HB; ++k) xv = xv - col[k] * xp[k];
          L::store(x + i0, xv);
        }
      }
      for (std::int64_t k = 1; k <= hb; ++k) {
        const T* sk = s.cpl(c, k);
        const T xk = xp[k - 1];
        for (std::int64_t i = i0; i < len; ++i)
          x[i] = Tr::msub(x[i], sk[i * hb], xk);
      }
    }
    if (c + nd <= s.n) {
      const std::int64_t r0 = c + nd;
      const std::int64_t m = std::min(hb, s.n - r0 + 1);
      const T* xr = s.rhs(r0, 1);
      T* xt = s.rhs(end - hb + 1, 1);
      for (std::int64_t r = 1; r <= m; ++r) {
        const T* sv = s.sav(1, end + r);
        const T xv = xr[r - 1];
        for (std::int64_t k = 0; k < hb; ++k)
          xt[k] = Tr::msub(xt[k], sv[k], xv);
      }
    }
  }
  // Row i, d rows above the block's end: x(i) := (x(i) - Σ L(k, i)·x(k))
  // / L(i, i) over the min(hb, d) rows below it.
  T* x[P];
  const T* l[P];
  for (int b = 0; b < P; ++b) {
    x[b] = s.rhs(cs[b] + len - 1, 1);
    l[b] = s.template column<HB>(cs[b] + len - 1);
  }
  const std::int64_t stride = hb + 1;
  std::int64_t d = 0;
  if constexpr (kHasLanes<T, HB>) {
    // The last HB rows have fewer terms; the others keep the HB values
    // below them in a vector, so a row never waits for a reload of the
    // value just stored.
    using L = Lanes<T, HB>;
    using V = typename L::V;
    for (; d < HB && d < len; ++d) {
      for (int b = 0; b < P; ++b) {
        T* xi = x[b] - d;
        const T* li = l[b] - d * stride;
        T t = xi[0];
        for (std::int64_t k = 1; k <= d; ++k) t = Tr::msub(t, li[k], xi[k]);
        xi[0] = Tr::div(t, li[0]);
      }
    }
    if (d == len) return;
    V win[P];
    for (int b = 0; b < P; ++b) L::load(win[b], x[b] - HB + 1);
    for (; d < len; ++d) {
      for (int b = 0; b < P; ++b) {
        T* xi = x[b] - d;
        const T* li = l[b] - d * stride;
        V lv;
        L::load(lv, li + 1);
        const V p = lv * win[b];
        T t = xi[0];
        for (int k = 0; k < HB; ++k) t = Tr::sub(t, p[k]);
        t = Tr::div(t, li[0]);
        xi[0] = t;
        L::shift_in(win[b], t);
      }
    }
  } else {
    for (; d < len; ++d) {
      for (int b = 0; b < P; ++b) {
        T* xi = x[b] - d;
        const T* li = l[b] - d * stride;
        T t = xi[0];
        const std::int64_t m = std::min(hb, d);
        for (std::int64_t k = 1; k <= m; ++k) t = Tr::msub(t, li[k], xi[k]);
        xi[0] = Tr::div(t, li[0]);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Vector forms of the factor and update operations for the real types and
// a fixed half bandwidth: the same operations on every element in the same
// order, computed HB independent elements at a time (the hb spike columns,
// the rows of a coupling column, the tail columns of a sum). Blocks too
// short or too long for them take the general forms.
// ---------------------------------------------------------------------------

// Elements of the per-block scratch (the left spike, row by row).
inline constexpr std::int64_t kLaneScratch = 4096;

template <class T, int HB>
void update_right_best(const BandArrays<T>& s, std::int64_t c,
                       std::int64_t nd);
template <class T, int HB>
void update_left_best(const BandArrays<T>& s, std::int64_t c,
                      std::int64_t nd, std::int64_t level_first);

// Right coupling C·Lᵀ = K' of block [c, end] with the right neighbour's HB
// head rows of a coupling column as one vector; at level 1, K' comes from
// the band below the tail.
template <class T, int HB>
void right_coupling_lanes(const BandArrays<T>& s, std::int64_t c,
                          std::int64_t end, std::int64_t w,
                          std::int64_t nd) {
  using L = Lanes<T, HB>;
  using V = typename L::V;
  constexpr std::int64_t S = HB + 1;
  const std::int64_t head = c + nd;
  const std::int64_t t0 = end - HB;
  T* base = s.cpl(head, 1);
  V col[HB];
  if (w == 1) {
    for (int k = 0; k < HB; ++k) {
      const std::int64_t j = t0 + 1 + k;
      const T* aj = s.template column<HB>(j);
      L::zero(col[k]);
      const std::int64_t band_end = std::min(s.n, j + HB);
      for (std::int64_t i = head; i <= band_end; ++i)
        col[k][i - head] = aj[i - j];
    }
  } else {
    // The head rows, transposed into columns.
    for (int r = 0; r < HB; ++r) L::load(col[r], base + r * HB);
    L::transpose(col);
  }
  const T* lj = s.template column<HB>(t0 + 1);
  for (int jj = 0; jj < HB; ++jj, lj += S) {
    col[jj] = col[jj] / lj[0];
    for (int k = jj + 1; k < HB; ++k) col[k] = col[k] - col[jj] * lj[k - jj];
  }
  L::transpose(col);
  for (int r = 0; r < HB; ++r) L::store(base + r * HB, col[r]);
}

// The update of remaining block E = [e, end] from its right neighbour R,
// given R's spike row-major (HB a row: the coupling store, or the factor's
// scratch while it is still in cache) and y_R: the operations of
// update_from_right for the first right-hand side.
template <class T, int HB>
void update_tail_from_rows(const BandArrays<T>& s, std::int64_t e,
                           const T* spike, const T* y, std::int64_t rows) {
  using Tr = ElementTraits<T>;
  using L = Lanes<T, HB>;
  using V = typename L::V;
  const std::int64_t t0 = s.last(e) - HB;
  V acc[HB];
  for (int j = 0; j < HB; ++j) L::zero(acc[j]);
  const bool rhs = s.nrhs > 0;
  V bt;
  L::zero(bt);
  if (rhs) L::load(bt, s.rhs(t0 + 1, 1));
  for (std::int64_t i = 0; i < rows; ++i) {
    const T* si = spike + i * HB;
    V row;
    L::load(row, si);
    for (int j = 0; j < HB; ++j) acc[j] = acc[j] + row * si[j];
    if (rhs) bt = bt - row * y[i];
  }
  for (int j = 0; j < HB; ++j) {
    T* aj = s.template column<HB>(t0 + 1 + j);
    for (int k = j; k < HB; ++k) aj[k - j] = Tr::sub(aj[k - j], acc[j][k]);
  }
  if (rhs) L::store(s.rhs(t0 + 1, 1), bt);
}

// Factor phase, fused: column j of the diagonal block is factored left-
// looking, then row j of the left spike (held row-major, one vector a
// row) and of the first right-hand side are divided by the pivot and
// reduced below it. The spike and that right-hand side are written back
// only when the whole block succeeded. P blocks of one length go through
// the columns side by side: each column waits for the one before it, and
// the other block's column fills that wait.
template <class T, int HB, int P>
bool factor_blocks_lanes(const BandArrays<T>& s, const std::int64_t (&cs)[P],
                         std::int64_t w, std::int64_t nd,
                         std::int64_t level_first, RealOf<T> threshold,
                         std::atomic<std::int32_t>* failure_flags,
                         std::int32_t parity, bool fold) {
  using Tr = ElementTraits<T>;
  using L = Lanes<T, HB>;
  using V = typename L::V;
  constexpr std::int64_t S = HB + 1;  // column stride of the band
  const std::int64_t len = s.last(cs[0]) - cs[0] + 1;
  const bool rhs = s.nrhs > 0;
  struct Block {
    std::int64_t c, end;
    bool left;
    T* cj;  // the column being factored
    V win[HB];  // the HB columns before it, below their diagonals
    alignas(64) T v[kLaneScratch];
    alignas(64) T y[kLaneScratch / HB];
  };
  Block blocks[P];

  for (int b = 0; b < P; ++b) {
    Block& k_ = blocks[b];
    k_.c = cs[b];
    k_.end = k_.c + len - 1;
    k_.left = k_.c - nd >= level_first;
    k_.cj = s.template column<HB>(k_.c);
    for (V& w_ : k_.win) L::zero(w_);
    const std::int64_t c = k_.c;
    T* v = k_.v;
    // K, row-major. At level 1 from the band: only its first HB rows are
    // non-zero, column k from the left neighbour's tail column c-HB-1+k.
    if (k_.left) {
      if (w == 1) {
        for (std::int64_t i = 0; i < len * HB; ++i) v[i] = Tr::zero();
        for (std::int64_t k = 1; k <= HB; ++k) {
          const T* aj = s.template column<HB>(c - HB - 1 + k) + (HB + 1 - k);
          for (std::int64_t i = 0; i < k; ++i) v[i * HB + k - 1] = aj[i];
        }
      } else {
        // Only the head rows are non-zero.
        std::memcpy(v, s.cpl(c, 1), sizeof(T) * HB * HB);
        for (std::int64_t i = HB * HB; i < len * HB; ++i) v[i] = Tr::zero();
      }
    }
    if (rhs) std::memcpy(k_.y, s.rhs(c, 1), sizeof(T) * len);
  }

  // Divides spike and right-hand-side row i by the pivot and reduces the
  // rows below it by lower(r) = L(j + r, j) times it.
  auto substitute = [&](Block& k_, std::int64_t i, T root, auto lower) {
    const std::int64_t m = std::min<std::int64_t>(HB, len - 1 - i);
    if (k_.left) {
      T* v = k_.v;
      V vi;
      L::load(vi, v + i * HB);
      vi = vi / root;
      L::store(v + i * HB, vi);
      for (std::int64_t r = 1; r <= m; ++r) {
        V vr;
        L::load(vr, v + (i + r) * HB);
        vr = vr - vi * lower(r);
        L::store(v + (i + r) * HB, vr);
      }
    }
    if (rhs) {
      T* y = k_.y;
      const T x = Tr::div(y[i], root);
      y[i] = x;
      for (std::int64_t r = 1; r <= m; ++r)
        y[i + r] = Tr::msub(y[i + r], lower(r), x);
    }
  };
  // Column i of a block; false when its pivot fails.
  // `interior`: i >= HB, every one of the HB earlier columns in the block,
  // so the term loop needs no test.
  auto column = [&](Block& k_, std::int64_t i, auto interior) {
    T* cj = k_.cj;
    if (i + HB < len) {
      // Rows j+1 … j+HB as one vector; the update from column j-d reaches
      // its first HB-d of them. Terms in increasing column, as scalar. The
      // HB columns before it come from registers (win[d-1] is column
      // j-d's rows below its diagonal), not from the stores just made.
      T dj = cj[0];
      V bj;
      L::load(bj, cj + 1);
      reduce_column_from_window<T, HB>(dj, bj, k_.win,
                                       interior ? std::int64_t(HB) : i);
      if (Tr::modulus(dj) <= threshold) {
        cj[0] = dj;
        L::store(cj + 1, bj);
        return false;
      }
      const T root = Tr::sqrt(dj);
      cj[0] = root;
      bj = bj / root;
      L::store(cj + 1, bj);
      push_column<T, HB>(k_.win, bj);
      substitute(k_, i, root, [&](std::int64_t r) { return bj[r - 1]; });
    } else {
      // The last HB columns: rows past the block stay untouched.
      const std::int64_t j = k_.c + i;
      for (std::int64_t k = std::max(k_.c, j - HB); k < j; ++k) {
        const T* ck = cj - (j - k) * S;
        const T ajk = ck[j - k];
        const std::int64_t i_end = std::min(k + HB, k_.end);
        for (std::int64_t r = j; r <= i_end; ++r)
          cj[r - j] = Tr::msub(cj[r - j], ck[r - k], ajk);
      }
      if (Tr::modulus(cj[0]) <= threshold) return false;
      const T root = Tr::sqrt(cj[0]);
      cj[0] = root;
      for (std::int64_t r = 1; r <= k_.end - j; ++r)
        cj[r] = Tr::div(cj[r], root);
      substitute(k_, i, root, [&](std::int64_t r) { return cj[r]; });
    }
    k_.cj = cj + S;
    return true;
  };

  for (std::int64_t i = 0; i < len; ++i) {
#pragma GCC unroll 2
    for (int b = 0; b < P; ++b) {
      const bool ok = i < HB ? column(blocks[b], i, std::false_type{})
                             : column(blocks[b], i, std::true_type{});
      if (!ok) {
        failure_flags[parity - 1].store(1, std::memory_order_relaxed);
        return false;
      }
    }
  }
  if (failure_flags[parity - 1].load(std::memory_order_relaxed) != 0)
    return false;

  for (int b = 0; b < P; ++b) {
    const Block& k_ = blocks[b];
    const std::int64_t c = k_.c, end = k_.end;
    if (k_.left) std::memcpy(s.cpl(c, 1), k_.v, sizeof(T) * len * HB);
    if (rhs) std::memcpy(s.rhs(c, 1), k_.y, sizeof(T) * len);
    for (std::int64_t q = 2; q <= s.nrhs; ++q)
      forward_solve_block<T, HB>(s, c, end, s.rhs(c, q));

    if (c + nd <= s.n) {
      if (c + nd + HB - 1 > s.n)
        right_coupling<T, HB>(s, c, end, w, nd);
      else
        right_coupling_lanes<T, HB>(s, c, end, w, nd);
    }
    if (!fold) continue;
    if (k_.left) {
      if (s.nrhs <= 1)
        update_tail_from_rows<T, HB>(s, c - nd, k_.v, k_.y, len);
      else
        update_right_best<T, HB>(s, c - nd, nd);
    }
    if (c + nd <= s.n) update_left_best<T, HB>(s, c + nd, nd, level_first);
  }
  return true;
}

// Whether a block can take the vector factor form.
template <class T, int HB>
bool factor_lanes_fit(const BandArrays<T>& s, std::int64_t c) {
  const std::int64_t len = s.last(c) - c + 1;
  return len >= 2 * HB + 1 && len * HB <= kLaneScratch;
}

// Vector halves of the update: the sums over R's rows for all tail columns
// at once (one accumulator vector per tail column, each lane a sum of its
// own, formed from zero in increasing row); the head's rank-one updates a
// column at a time, and the new coupling row by row with the row as one
// vector. Blocks shorter than 2·HB + 1 take the general forms.
template <class T, int HB>
void update_from_right_lanes(const BandArrays<T>& s, std::int64_t c,
                             std::int64_t nd) {
  using Tr = ElementTraits<T>;
  const std::int64_t end = s.last(c);
  if (end - c + 1 < 2 * HB + 1) return update_from_right<T, HB>(s, c, nd);
  if (c + nd > s.n) return;
  const std::int64_t r0 = c + nd;
  const std::int64_t rows = s.last(r0) - r0 + 1;
  const T* sr = s.cpl(r0, 1);
  update_tail_from_rows<T, HB>(s, c, sr, s.rhs(r0, 1), rows);
  const std::int64_t t0 = end - HB;
  for (std::int64_t q = 2; q <= s.nrhs; ++q) {
    const T* yq = s.rhs(r0, q);
    T* b = s.rhs(t0 + 1, q);
    for (int k = 0; k < HB; ++k) {
      T t = b[k];
      for (std::int64_t i = 0; i < rows; ++i)
        t = Tr::msub(t, sr[i * HB + k], yq[i]);
      b[k] = t;
    }
  }
}

template <class T, int HB>
void update_from_left_lanes(const BandArrays<T>& s, std::int64_t c,
                            std::int64_t nd, std::int64_t level_first) {
  using L = Lanes<T, HB>;
  using V = typename L::V;
  const std::int64_t end = s.last(c);
  if (end - c + 1 < 2 * HB + 1)
    return update_from_left<T, HB>(s, c, nd, level_first);
  if (c - nd < level_first) return;
  const std::int64_t p0 = c - nd;
  const std::int64_t p_tail = p0 + s.block_size - HB;
  // C_P (E's head rows) column by column, each column padded so that a
  // vector may start at any of its rows.
  T* cp = s.cpl(c, 1);
  alignas(64) T cols[HB * HB + HB] = {};
  {
    V r[HB];
    for (int i = 0; i < HB; ++i) L::load(r[i], cp + i * HB);
    L::transpose(r);
    for (int k = 0; k < HB; ++k) L::store(cols + k * HB, r[k]);
  }
  // Head block -= C_P·C_Pᵀ: column j's rows j … HB-1 as one vector, the
  // rank-one terms in increasing coupling column.
  for (int j = 0; j < HB; ++j) {
    T* aj = s.template column<HB>(c + j);
    V col;
    L::load(col, aj);
    for (int k = 0; k < HB; ++k) {
      const T* ck = cols + k * HB + j;
      V cv;
      L::load(cv, ck);
      V nc = col - cv * ck[0];
      L::keep_after(nc, col, HB - j);
      col = nc;
    }
    L::store(aj, col);
  }
  for (std::int64_t q = 1; q <= s.nrhs; ++q) {
    const T* yp = s.rhs(p_tail, q);
    V bh;
    L::load(bh, s.rhs(c, q));
    for (int k = 0; k < HB; ++k) {
      V ck;
      L::load(ck, cols + k * HB);
      bh = bh - ck * yp[k];
    }
    L::store(s.rhs(c, q), bh);
  }
  // saved(k, end_P + r) = C_P(r, k): the rows as they stand.
  std::memcpy(s.sav(1, p0 + s.block_size), cp, sizeof(T) * HB * HB);

  if (p0 <= level_first) return;
  // -C_P·S_P(P's tail rows), row by row; the last row of C_P stays in the
  // band slots A(c … c+HB-1, c-1) as the row-by-row buffer leaves it.
  V sp[HB];
  for (int m = 0; m < HB; ++m) L::load(sp[m], s.cpl(p_tail + m, 1));
  for (int i = 0; i < HB; ++i) {
    const T* buf = cols + i;  // row i of C_P: cols[k·HB + i]
    V e;
    L::zero(e);
    for (int m = 0; m < HB; ++m) e = e - sp[m] * buf[m * HB];
    L::store(cp + i * HB, e);
  }
  // The last row of C_P stays in the band slots A(c … c+HB-1, c-1).
  T* slots = s.template column<HB>(c - 1) + 1;
  for (int k = 0; k < HB; ++k) slots[k] = cols[k * HB + HB - 1];
}

// The block operations of one solve, chosen once per solve for its half
// bandwidth and the processor's instruction set.
template <class T>
struct BlockOps {
  // Factor phase on `count` (1 or 2) claimed blocks; with `fold`, each
  // block factored also does its neighbours' halves of the update at once.
  // False when a pivot of this phase failed.
  bool (*factor)(const BandArrays<T>&, const std::int64_t* cs, int count,
                 std::int64_t w, std::int64_t nd, std::int64_t level_first,
                 RealOf<T> threshold,
                 std::atomic<std::int32_t>* failure_flags,
                 std::int32_t parity, bool fold);
  void (*update)(const BandArrays<T>&, std::int64_t c, std::int64_t nd,
                 std::int64_t level_first);
  // Back-substitution phase on `count` (1, 2 or 4) claimed blocks.
  void (*back)(const BandArrays<T>&, const std::int64_t* cs, int count,
               std::int64_t nd);
};

// Starts loading the block a thread is likely to claim next in this
// phase (the claim counter steps by 2·nd): its band columns, its rows of
// B and the first `coupling_rows` of its rows of the coupling store. A
// hint only.
template <class T, int HB>
void prefetch_block(const BandArrays<T>& s, std::int64_t c,
                    std::int64_t coupling_rows) {
  if (c > s.n) return;
  const std::int64_t end = s.last(c);
  const std::int64_t hb = s.template half_band<HB>();
  constexpr std::int64_t kLine = 64 / sizeof(T) > 0 ? 64 / sizeof(T) : 1;
  const T* a = s.template column<HB>(c);
  const std::int64_t a_len = (end - c + 1) * (hb + 1);
  for (std::int64_t i = 0; i < a_len; i += kLine) __builtin_prefetch(a + i);
  if (s.nrhs > 0) {
    const T* b = s.rhs(c, 1);
    for (std::int64_t i = 0; i <= end - c; i += kLine)
      __builtin_prefetch(b + i);
  }
  const std::int64_t rows = std::min(coupling_rows, end - c + 1);
  const T* v = s.cpl(c, 1);
  for (std::int64_t i = 0; i < rows * hb; i += kLine) __builtin_prefetch(v + i);
}

template <class T, int HB>
void fold_into_neighbours(const BandArrays<T>& s, std::int64_t c,
                          std::int64_t nd, std::int64_t level_first);

// Starts loading what folding the block c likely claimed next will touch:
// the head of its right neighbour (band columns, coupling and saved rows,
// right-hand side) and the tail of its left one. A hint only.
template <class T, int HB>
void prefetch_fold(const BandArrays<T>& s, std::int64_t c, std::int64_t nd) {
  constexpr std::int64_t kLine = 64 / sizeof(T) > 0 ? 64 / sizeof(T) : 1;
  const std::int64_t hb = s.template half_band<HB>();
  auto lines = [&](const T* p, std::int64_t count) {
    for (std::int64_t i = 0; i < count; i += kLine) __builtin_prefetch(p + i);
  };
  const std::int64_t e = c + nd;  // right neighbour
  if (e + hb - 1 <= s.n) {
    lines(s.template column<HB>(e), hb * (hb + 1));
    lines(s.sav(1, e), hb * hb);
    lines(s.cpl(e, 1), hb * hb);
    if (s.nrhs > 0) lines(s.rhs(e, 1), hb);
  }
  const std::int64_t t = c - nd + s.block_size - hb;  // left tail
  if (c <= s.n && t >= 1) {
    lines(s.template column<HB>(t), hb * (hb + 1));
    if (s.nrhs > 0) lines(s.rhs(t, 1), hb);
  }
}

// One block of a factor phase; with `fold`, followed by its share of its
// neighbours' update (fold_into_neighbours). False when a pivot failed.
template <class T, int HB>
bool factor_best(const BandArrays<T>& s, std::int64_t c, std::int64_t w,
                 std::int64_t nd, std::int64_t level_first,
                 RealOf<T> threshold, std::atomic<std::int32_t>* flags,
                 std::int32_t parity, bool fold) {
  prefetch_block<T, HB>(s, c + 2 * nd, w > 1 ? s.hb : 0);
  if (fold && w > 1) prefetch_fold<T, HB>(s, c + 2 * nd, nd);
  if constexpr (kHasLanes<T, HB>) {
    if (factor_lanes_fit<T, HB>(s, c)) {
      const std::int64_t cs[1] = {c};
      return factor_blocks_lanes<T, HB, 1>(s, cs, w, nd, level_first,
                                           threshold, flags, parity, fold);
    }
  }
  if (!factor_phase_block<T, HB>(s, c, w, nd, level_first, threshold, flags,
                                 parity))
    return false;
  if (fold) fold_into_neighbours<T, HB>(s, c, nd, level_first);
  return true;
}

// Two blocks of one factor phase; false when a pivot failed in either.
template <class T, int HB>
bool factor_pair_best(const BandArrays<T>& s, std::int64_t c1,
                      std::int64_t c2, std::int64_t w, std::int64_t nd,
                      std::int64_t level_first, RealOf<T> threshold,
                      std::atomic<std::int32_t>* flags, std::int32_t parity,
                      bool fold) {
  if constexpr (kHasLanes<T, HB>) {
    if (factor_lanes_fit<T, HB>(s, c1) && factor_lanes_fit<T, HB>(s, c2) &&
        s.last(c1) - c1 == s.last(c2) - c2) {
      prefetch_block<T, HB>(s, c2 + 2 * nd, w > 1 ? s.hb : 0);
      if (fold && w > 1) prefetch_fold<T, HB>(s, c2 + 2 * nd, nd);
      const std::int64_t cs[2] = {c1, c2};
      return factor_blocks_lanes<T, HB, 2>(s, cs, w, nd, level_first,
                                           threshold, flags, parity, fold);
    }
  }
  return factor_best<T, HB>(s, c1, w, nd, level_first, threshold, flags,
                            parity, fold) &&
         factor_best<T, HB>(s, c2, w, nd, level_first, threshold, flags,
                            parity, fold);
}

template <class T, int HB>
void update_right_best(const BandArrays<T>& s, std::int64_t c,
                       std::int64_t nd) {
  if constexpr (kHasLanes<T, HB>)
    update_from_right_lanes<T, HB>(s, c, nd);
  else
    update_from_right<T, HB>(s, c, nd);
}

template <class T, int HB>
void update_left_best(const BandArrays<T>& s, std::int64_t c,
                      std::int64_t nd, std::int64_t level_first) {
  if constexpr (kHasLanes<T, HB>)
    update_from_left_lanes<T, HB>(s, c, nd, level_first);
  else
    update_from_left<T, HB>(s, c, nd, level_first);
}

template <class T, int HB>
void update_best(const BandArrays<T>& s, std::int64_t c, std::int64_t nd,
                 std::int64_t level_first) {
  // The next block's right neighbour holds the spike this block reads.
  prefetch_block<T, HB>(s, c + 3 * nd, s.block_size);
  update_right_best<T, HB>(s, c, nd);
  update_left_best<T, HB>(s, c, nd, level_first);
}

// The update of the remaining blocks either side of block c, just
// factored at this level, while its spike and coupling are still in
// cache: its left neighbour's tail from c's spike, its right neighbour's
// head from c's coupling. Each remaining block gets exactly the
// operations of its update phase, its tail from one thread and its head
// from another; they touch disjoint data when blocks are at least 2·hb
// long, which the caller makes sure of.
template <class T, int HB>
void fold_into_neighbours(const BandArrays<T>& s, std::int64_t c,
                          std::int64_t nd, std::int64_t level_first) {
  if (c - nd >= level_first) update_right_best<T, HB>(s, c - nd, nd);
  if (c + nd <= s.n) update_left_best<T, HB>(s, c + nd, nd, level_first);
}

template <class T, int HB>
bool factor_some(const BandArrays<T>& s, const std::int64_t* cs, int count,
                 std::int64_t w, std::int64_t nd, std::int64_t level_first,
                 RealOf<T> threshold, std::atomic<std::int32_t>* flags,
                 std::int32_t parity, bool fold) {
  if (count == 2)
    return factor_pair_best<T, HB>(s, cs[0], cs[1], w, nd, level_first,
                                   threshold, flags, parity, fold);
  return factor_best<T, HB>(s, cs[0], w, nd, level_first, threshold, flags,
                            parity, fold);
}

template <class T, int HB>
void back_some(const BandArrays<T>& s, const std::int64_t* cs, int count,
               std::int64_t nd) {
  // The next claim takes the count blocks after these.
  for (int b = 0; b < count; ++b)
    prefetch_block<T, HB>(s, cs[b] + 2 * nd * count, s.block_size);
  if (count == 4) {
    const std::int64_t c4[4] = {cs[0], cs[1], cs[2], cs[3]};
    back_substitution_blocks<T, HB, 4>(s, c4, nd);
  } else if (count == 2) {
    const std::int64_t c2[2] = {cs[0], cs[1]};
    back_substitution_blocks<T, HB, 2>(s, c2, nd);
  } else {
    back_substitution_block<T, HB>(s, cs[0], nd);
  }
}

// One copy of the three operations per instruction set: each wrapper has
// everything it calls inlined (flatten) and compiled for its target. The
// baseline is plain x86-64; the wider ones run only where the processor
// has them (solver_isa).
#define PBAND_BLOCK_OPS_FOR_ISA(NAME, ATTRIBUTES)                            \
  template <class T, int HB>                                                \
  struct NAME {                                                             \
    ATTRIBUTES static bool factor(                                          \
        const BandArrays<T>& s, const std::int64_t* cs, int count,          \
        std::int64_t w, std::int64_t nd, std::int64_t level_first,          \
        RealOf<T> threshold, std::atomic<std::int32_t>* flags,              \
        std::int32_t parity, bool fold) {                                   \
      return factor_some<T, HB>(s, cs, count, w, nd, level_first,           \
                                threshold, flags, parity, fold);            \
    }                                                                       \
    ATTRIBUTES static void update(const BandArrays<T>& s, std::int64_t c,   \
                                  std::int64_t nd,                          \
                                  std::int64_t level_first) {               \
      update_best<T, HB>(s, c, nd, level_first);                            \
    }                                                                       \
    ATTRIBUTES static void back(const BandArrays<T>& s,                     \
                                const std::int64_t* cs, int count,          \
                                std::int64_t nd) {                          \
      back_some<T, HB>(s, cs, count, nd);                                   \
    }                                                                       \
    static BlockOps<T> ops() { return {&factor, &update, &back}; }          \
  };

PBAND_BLOCK_OPS_FOR_ISA(BaselineOps, PBAND_FLATTEN)
PBAND_BLOCK_OPS_FOR_ISA(Avx2Ops,
                        __attribute__((target("avx2"))) PBAND_FLATTEN)
PBAND_BLOCK_OPS_FOR_ISA(
    Avx512Ops, __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq")))
                   PBAND_FLATTEN)
#undef PBAND_BLOCK_OPS_FOR_ISA

template <class T, int HB>
BlockOps<T> block_ops_for(std::int32_t isa) {
  // Complex arithmetic gains little from wider registers: baseline only.
  if constexpr (!ElementTraits<T>::is_complex) {
    if (isa >= 2) return Avx512Ops<T, HB>::ops();
    if (isa == 1) return Avx2Ops<T, HB>::ops();
  }
  return BaselineOps<T, HB>::ops();
}

// Half bandwidths common enough to be worth their own compiled kernels.
template <class T>
BlockOps<T> block_ops(std::int64_t hb, std::int32_t isa) {
  switch (hb) {
    case 1: return block_ops_for<T, 1>(isa);
    case 2: return block_ops_for<T, 2>(isa);
    case 4: return block_ops_for<T, 4>(isa);
    case 8: return block_ops_for<T, 8>(isa);
    case 16: return block_ops_for<T, 16>(isa);
    default: return block_ops_for<T, kAnyHb>(isa);
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
  const BlockOps<T> ops = block_ops<T>(s.hb, solver_isa());
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
  // Takes one block, or up to `most` (2 or 4) in a row while the phase has
  // at least twice as many left per thread, so that their latency-bound
  // work can interleave. Returns how many.
  auto claim_some = [&](std::int64_t& counter, std::int64_t (&cs)[4],
                        int most) {
    mutex_lock(mutex);
    const std::int64_t next = counter;
    const std::int64_t step = claim_step;
    int got = 0;
    if (next <= s.n) {
      const std::int64_t left = (s.n - next) / step + 1;
      got = 1;
      while (got < most && left >= 4 * got * std::int64_t(team_size))
        got *= 2;
      for (int k = 0; k < got; ++k) cs[k] = next + k * step;
      counter = next + got * step;
    }
    mutex_unlock(mutex);
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
  // Blocks at least 2·hb long: the update is done as each block is
  // factored (fold_into_neighbours) and the update phase has no work.
  const bool fold = s.hb > 0 && bs >= 2 * s.hb;
  auto factor_phase = [&] {
    const std::int64_t w = level_stride, nd = neighbour_distance;
    const std::int64_t first = level_first;
    std::int64_t cs[4] = {};
    for (int got; (got = claim_some(next_up, cs, 2)) > 0;)
      if (!ops.factor(s, cs, got, w, nd, first, pivot_threshold,
                      failure_flags, p, fold))
        break;
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
      while (!fold && claim(next_up, c)) ops.update(s, c, nd, first);
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
      std::int64_t cs[4] = {};
      for (int got; (got = claim_some(next_down, cs, 4)) > 0;)
        ops.back(s, cs, got, nd);
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
