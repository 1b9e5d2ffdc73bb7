// Private header of the band solver: vector forms of the block operations
// whose work grows as hb³, for a half bandwidth known only at run time
// (wide bands), every element type. Each vector holds VW independent
// elements (spike columns, coupling rows, tail columns), and every element
// takes its terms in the order of the general forms (general.hpp), with
// their arithmetic (wide_lanes.hpp), so the bits are theirs. Operands are
// copied into zero-padded rows on the stack, so that whole vectors never
// reach past an array.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "kernels/element_traits.hpp"
#include "kernels/simd.hpp"
#include "solver/band_arrays.hpp"
#include "solver/forms/scratch.hpp"
#include "solver/forms/wide_lanes.hpp"

namespace pband {

// Widest band and longest block the wide forms take (the thread's scratch
// holds up to two padded hb × hb or len × hb arrays).
template <class T>
inline constexpr std::int64_t kMaxWideHb = sizeof(T) > 8 ? 64 : 96;

// Whether the wide forms take a block (`on`: the solve's vector forms,
// which a thread without scratch does not take).
template <class T>
bool wide_fits(bool on, std::int64_t hb, std::int64_t len) {
  return on && hb >= 1 && hb <= kMaxWideHb<T> && len <= kMaxWideHb<T> + 1;
}

template <class T, int VW>
struct Wide {
  using L = WideLanes<T, VW>;
  using V = typename L::V;
  using Et = ElementTraits<T>;
  // Row stride of a padded copy: hb rounded up to whole vectors.
  static std::int64_t padded(std::int64_t hb) {
    return (hb + VW - 1) / VW * VW;
  }
  static constexpr std::int64_t kMaxHb = kMaxWideHb<T>;
  static constexpr std::int64_t kPad = (kMaxHb + VW - 1) / VW * VW;
  static constexpr int kChunks = int(kPad / VW);
  // Two padded arrays of the largest shape at once.
  static_assert(2 * (kMaxHb + 1) * kPad * sizeof(T) <= kOneBlockScratchBytes);

  // rows × cols from src (row stride ss) into dst (stride ds).
  static void copy_out(T* dst, std::int64_t ds, const T* src, std::int64_t ss,
                       std::int64_t rows, std::int64_t cols) {
    for (std::int64_t r = 0; r < rows; ++r)
      std::memcpy(dst + r * ds, src + r * ss, sizeof(T) * cols);
  }
  // The same into padded rows, zeros after each row's cols values.
  static void copy_in(T* dst, std::int64_t ds, const T* src, std::int64_t ss,
                      std::int64_t rows, std::int64_t cols) {
    copy_out(dst, ds, src, ss, rows, cols);
    for (std::int64_t r = 0; r < rows; ++r)
      std::fill(dst + r * ds + cols, dst + (r + 1) * ds, Et::zero());
  }
  // b(0 … len) -= Σ m(t, ·)·y(t) (Mirror: m(t, ·) mirrored), t = 0 …
  // terms-1 in order, each product subtracted at once; m's rows padded to
  // ps, whole vectors.
  template <bool Mirror>
  static void subtract_products(T* b, std::int64_t len, const T* m,
                                std::int64_t ps, std::int64_t terms,
                                const T* y) {
    const int chunks = int(ps / VW);
    alignas(64) T v[kPad] = {};
    std::memcpy(v, b, sizeof(T) * len);
    V acc[kChunks];
    for (int c = 0; c < chunks; ++c) L::load(acc[c], v + c * VW);
    for (std::int64_t t = 0; t < terms; ++t)
      for (int c = 0; c < chunks; ++c) {
        V mt;
        L::load(mt, m + t * ps + c * VW);
        if constexpr (Mirror) L::mirror(mt, mt);
        L::msub(acc[c], mt, y[t]);
      }
    for (int c = 0; c < chunks; ++c) L::store(v + c * VW, acc[c]);
    std::memcpy(b, v, sizeof(T) * len);
  }
  // dst (cols × ps, padded) := src (rows × cols, stride ss) transposed:
  // through VW × VW tiles for the real types, element by element for the
  // complex ones (a square's worth beside the cube of the work).
  static void transpose_in(T* dst, std::int64_t ps, const T* src,
                           std::int64_t ss, std::int64_t rows,
                           std::int64_t cols) {
    if constexpr (Et::is_complex) {
      for (std::int64_t c = 0; c < cols; ++c) {
        T* d = dst + c * ps;
        for (std::int64_t r = 0; r < rows; ++r) d[r] = src[r * ss + c];
        std::fill(d + rows, d + ps, Et::zero());
      }
    } else {
      using S = Simd<T, VW>;
      alignas(64) T tile[VW * VW];
      for (std::int64_t r0 = 0; r0 < rows; r0 += VW)
        for (std::int64_t c0 = 0; c0 < cols; c0 += VW) {
          typename S::V t[VW];
          const std::int64_t nr = std::min<std::int64_t>(VW, rows - r0);
          const std::int64_t nc = std::min<std::int64_t>(VW, cols - c0);
          if (nr == VW && nc == VW) {
            for (int r = 0; r < VW; ++r)
              S::load(t[r], src + (r0 + r) * ss + c0);
          } else {
            // A partial tile through zeros.
            std::fill(tile, tile + VW * VW, T(0));
            for (std::int64_t r = 0; r < nr; ++r)
              for (std::int64_t c = 0; c < nc; ++c)
                tile[r * VW + c] = src[(r0 + r) * ss + c0 + c];
            for (int r = 0; r < VW; ++r) S::load(t[r], tile + r * VW);
          }
          S::transpose(t);
          for (std::int64_t c = 0; c < nc; ++c)
            S::store(dst + (c0 + c) * ps + r0, t[c]);
        }
    }
  }
};

// The left spike's forward solve in place, rows c … end of the coupling
// store (hb a row) with the block's L: row i := (K(i, ·) - Σ L(i, m)·
// row m) / L(i, i), m from max(c, i - hb) up, the spike columns as
// vectors.
template <class T, int VW>
void spike_solve_wide(const BandArrays<T>& s, std::int64_t c,
                      std::int64_t end) {
  using W = Wide<T, VW>;
  using V = typename W::V;
  const std::int64_t hb = s.hb, len = end - c + 1;
  const std::int64_t ps = W::padded(hb);
  const int chunks = int(ps / VW);
  T* v = one_block_scratch(s);
  W::copy_in(v, ps, s.coupling_at(c, 1), hb, len, hb);
  // Right-looking: row i is final once divided, then each row below it
  // takes its term, so a row's terms still come in increasing m.
  for (std::int64_t i = 0; i < len; ++i) {
    const T* li = s.col(c + i);
    V vi[W::kChunks];
    for (int q = 0; q < chunks; ++q) {
      W::L::load(vi[q], v + i * ps + q * VW);
      W::L::div(vi[q], li[0]);
      W::L::store(v + i * ps + q * VW, vi[q]);
    }
    const std::int64_t below = std::min(hb, len - 1 - i);
    for (std::int64_t r = 1; r <= below; ++r) {
      T* vr = v + (i + r) * ps;
      for (int q = 0; q < chunks; ++q) {
        V x;
        W::L::load(x, vr + q * VW);
        W::L::msub(x, vi[q], li[r]);
        W::L::store(vr + q * VW, x);
      }
    }
  }
  W::copy_out(s.coupling_at(c, 1), hb, v, ps, len, hb);
}

// C·Lᵀ = K' over the tail of block [c, end], K' in the `rows` head rows of
// the right neighbour (coupling store, from `head`): each row a forward
// substitution over the tail columns, the rows as vectors.
template <class T, int VW>
void coupling_solve_wide(const BandArrays<T>& s, std::int64_t end,
                         std::int64_t head, std::int64_t rows) {
  using W = Wide<T, VW>;
  using V = typename W::V;
  const std::int64_t hb = s.hb, t0 = end - hb;
  const std::int64_t ps = W::padded(rows);
  const int chunks = int(ps / VW);
  T* vt = one_block_scratch(s);  // column k of the tail: row k
  W::transpose_in(vt, ps, s.coupling_at(head, 1), hb, rows, hb);
  // Right-looking over the tail columns: column j is final once divided,
  // then each later column takes its term, in increasing j.
  for (std::int64_t j = 0; j < hb; ++j) {
    const T* lj = s.col(t0 + 1 + j);
    V vj[W::kChunks];
    for (int q = 0; q < chunks; ++q) {
      W::L::load(vj[q], vt + j * ps + q * VW);
      W::L::div(vj[q], lj[0]);
      W::L::store(vt + j * ps + q * VW, vj[q]);
    }
    for (std::int64_t k = j + 1; k < hb; ++k) {
      T* vk = vt + k * ps;
      const T lkj = W::Et::mirror(lj[k - j]);
      for (int q = 0; q < chunks; ++q) {
        V x;
        W::L::load(x, vk + q * VW);
        W::L::msub(x, vj[q], lkj);
        W::L::store(vk + q * VW, x);
      }
    }
  }
  // Back into rows.
  for (std::int64_t r = 0; r < rows; ++r)
    for (std::int64_t k = 0; k < hb; ++k)
      *s.coupling_at(head + r, k + 1) = vt[k * ps + r];
}

// The update of remaining block E = [e, end] from its right neighbour R
// (r0 …): tail block -= S_Rᵀ·S_R, each entry's sum from zero over R's rows
// in increasing order and subtracted once, the tail columns k >= j of a
// tail column j as vectors; tail rows of b -= S_Rᵀ·y_R a product at a
// time.
template <class T, int VW>
void update_from_right_wide(const BandArrays<T>& s, std::int64_t e,
                            std::int64_t r0) {
  using Et = ElementTraits<T>;
  using W = Wide<T, VW>;
  using V = typename W::V;
  const std::int64_t hb = s.hb;
  const std::int64_t rows = s.last(r0) - r0 + 1;
  const std::int64_t t0 = s.last(e) - hb;
  const std::int64_t ps = W::padded(hb);
  T* sr = one_block_scratch(s);
  W::copy_in(sr, ps, s.coupling_at(r0, 1), hb, rows, hb);
  constexpr int kJ = 4;  // tail columns a pass
  for (std::int64_t j0 = 0; j0 < hb; j0 += kJ) {
    const int nj = int(std::min<std::int64_t>(kJ, hb - j0));
    const int q0 = int(j0 / VW), chunks = int(ps / VW) - q0;
    V acc[kJ][W::kChunks];
    for (int jj = 0; jj < nj; ++jj)
      for (int q = 0; q < chunks; ++q) W::L::zero(acc[jj][q]);
    for (std::int64_t i = 0; i < rows; ++i) {
      const T* si = sr + i * ps;
      for (int jj = 0; jj < nj; ++jj) {
        const T sij = si[j0 + jj];
        for (int q = 0; q < chunks; ++q) {
          V sk;
          W::L::load(sk, si + (q0 + q) * VW);
          W::L::mirror(sk, sk);
          W::L::madd(acc[jj][q], sk, sij);
        }
      }
    }
    for (int jj = 0; jj < nj; ++jj) {
      alignas(64) T sums[W::kPad];
      for (int q = 0; q < chunks; ++q)
        W::L::store(sums + (q0 + q) * VW, acc[jj][q]);
      const std::int64_t j = j0 + jj;
      T* aj = s.col(t0 + 1 + j);
      for (std::int64_t k = j; k < hb; ++k)
        aj[k - j] = Et::sub(aj[k - j], sums[k]);
    }
  }
  for (std::int64_t q = 1; q <= s.nrhs; ++q)
    W::template subtract_products<true>(s.rhs(t0 + 1, q), hb, sr, ps, rows,
                                        s.rhs(r0, q));
}

// The update of remaining block E = [c, …] from its left neighbour P
// (p0 …), as update_from_left: head block -= C_P·C_Pᵀ as rank-one updates
// in increasing coupling column (the head rows as vectors), head rows of
// b likewise, C_P kept in the saved store, and, when P has a left
// neighbour, E's head coupling := -C_P·S_P(P's tail rows), the coupling
// columns as vectors, with the last row of C_P left in the band slots of
// column c - 1 as the row-by-row buffer leaves it.
template <class T, int VW>
void update_from_left_wide(const BandArrays<T>& s, std::int64_t c,
                           std::int64_t p0, bool has_q) {
  using W = Wide<T, VW>;
  using V = typename W::V;
  const std::int64_t hb = s.hb;
  const std::int64_t p_tail = p0 + s.block_size - hb;
  const std::int64_t p_end = p0 + s.block_size - 1;
  const std::int64_t head_end = std::min(s.n, c + hb - 1);
  const std::int64_t rows = head_end - c + 1;
  const std::int64_t ps = W::padded(rows);
  const int chunks = int(ps / VW);
  // C_P by coupling column: ct[k·ps + i] = C_P(i, k).
  T* ct = one_block_scratch(s);
  W::transpose_in(ct, ps, s.coupling_at(c, 1), hb, rows, hb);

  // Head columns j0 … j0+3, rows j … rows-1 from each one's diagonal:
  // four columns' chains side by side.
  constexpr int kJ = 4;
  for (std::int64_t j0 = 0; j0 < rows; j0 += kJ) {
    const int nj = int(std::min<std::int64_t>(kJ, rows - j0));
    const int q0 = int(j0 / VW);
    alignas(64) T col[kJ][W::kPad + VW] = {};
    V acc[kJ][W::kChunks];
    for (int jj = 0; jj < nj; ++jj) {
      const std::int64_t j = j0 + jj;
      std::memcpy(col[jj] + j, s.col(c + j), sizeof(T) * (rows - j));
      for (int q = q0; q < chunks; ++q)
        W::L::load(acc[jj][q], col[jj] + q * VW);
    }
    for (std::int64_t k = 0; k < hb; ++k) {
      const T* ck = ct + k * ps;
      for (int q = q0; q < chunks; ++q) {
        V cv;
        W::L::load(cv, ck + q * VW);
        for (int jj = 0; jj < nj; ++jj)
          W::L::msub(acc[jj][q], cv, W::Et::mirror(ck[j0 + jj]));
      }
    }
    for (int jj = 0; jj < nj; ++jj) {
      const std::int64_t j = j0 + jj;
      for (int q = q0; q < chunks; ++q)
        W::L::store(col[jj] + q * VW, acc[jj][q]);
      std::memcpy(s.col(c + j), col[jj] + j, sizeof(T) * (rows - j));
    }
  }
  for (std::int64_t q = 1; q <= s.nrhs; ++q)
    W::template subtract_products<false>(s.rhs(c, q), rows, ct, ps, hb,
                                         s.rhs(p_tail, q));
  // saved(k, end_P + r) = C_P(r, k): the rows as they stand.
  std::memcpy(s.saved_at(1, p_end + 1), s.coupling_at(c, 1),
              sizeof(T) * rows * hb);
  if (!has_q) return;

  // -C_P·S_P(P's tail rows), one head row at a time.
  const std::int64_t Q = W::padded(hb);
  const int kc = int(Q / VW);
  T* sp = one_block_scratch(s) + W::kMaxHb * W::kPad;
  W::copy_in(sp, Q, s.coupling_at(p_tail, 1), hb, hb, hb);
  T* buf = s.col(c - 1) + 1;
  std::memcpy(buf, s.coupling_at(head_end, 1), sizeof(T) * hb);
  constexpr int kI = 4;  // head rows side by side
  for (std::int64_t i0 = 0; i0 < rows; i0 += kI) {
    const int ni = int(std::min<std::int64_t>(kI, rows - i0));
    V acc[kI][W::kChunks];
    for (int ii = 0; ii < ni; ++ii)
      for (int q = 0; q < kc; ++q) W::L::zero(acc[ii][q]);
    for (std::int64_t m = 0; m < hb; ++m) {
      for (int q = 0; q < kc; ++q) {
        V sm;
        W::L::load(sm, sp + m * Q + q * VW);
        for (int ii = 0; ii < ni; ++ii)
          W::L::msub(acc[ii][q], sm, *s.coupling_at(c + i0 + ii, m + 1));
      }
    }
    for (int ii = 0; ii < ni; ++ii) {
      alignas(64) T out[W::kPad];
      for (int q = 0; q < kc; ++q) W::L::store(out + q * VW, acc[ii][q]);
      std::memcpy(s.coupling_at(c + i0 + ii, 1), out, sizeof(T) * hb);
    }
  }
}

}  // namespace pband
