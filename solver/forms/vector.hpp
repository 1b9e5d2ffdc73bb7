// Private header of the band solver: the vector forms of the factor phase
// for one block of a real type and a fixed half bandwidth, and the
// interleaved back-substitution of several blocks, each doing the general
// forms' operations in the same order.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "kernels/element_traits.hpp"
#include "kernels/factor_diagonal_block.hpp"
#include "kernels/simd.hpp"
#include "solver/band_arrays.hpp"
#include "solver/forms/general.hpp"
#include "solver/forms/scratch.hpp"
#include "solver/forms/update.hpp"

namespace pband {

// Count blocks of one back-substitution phase, each exactly as alone. Each
// row of a backward solve waits for the row below it; the rows of the
// blocks are interleaved so that one's wait overlaps the others' work.
template <class T, int HB, int Count>
void back_substitution_blocks(const BandArrays<T>& s,
                              const std::int64_t (&cs)[Count],
                              std::int64_t nd) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  const std::int64_t len = s.last(cs[0]) - cs[0] + 1;
  bool same = true;
  for (int b = 1; b < Count; ++b)
    same = same && s.last(cs[b]) - cs[b] + 1 == len;
  if (Count == 1 || s.nrhs != 1 || hb == 0 || !same) {
    for (int b = 0; b < Count; ++b)
      back_substitution_block<T, HB>(s, cs[b], nd);
    return;
  }
  // Everything but the backward solves.
  for (int b = 0; b < Count; ++b) {
    const std::int64_t c = cs[b], end = c + len - 1;
    T* x = s.rhs(c, 1);
    if (c - nd >= 1) {
      const T* xp = s.rhs(c - nd + s.block_size - hb, 1);
      std::int64_t i0 = 0;
      if constexpr (kHasVectorForms<T, HB>) {
        // HB rows of the spike at a time, turned into columns, so that
        // each x(i) still takes its terms in increasing k.
        using L = Simd<T, HB>;
        using V = typename L::V;
        for (; i0 + HB <= len; i0 += HB) {
          V col[HB];
          for (int r = 0; r < HB; ++r)
            L::load(col[r], s.coupling_at(c + i0 + r, 1));
          L::transpose(col);
          V xv;
          L::load(xv, x + i0);
          for (int k = 0; k < HB; ++k) xv = xv - col[k] * xp[k];
          L::store(x + i0, xv);
        }
      }
      for (std::int64_t k = 1; k <= hb; ++k) {
        const T* sk = s.coupling_at(c, k);
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
        const T* sv = s.saved_at(1, end + r);
        const T xv = xr[r - 1];
        for (std::int64_t k = 0; k < hb; ++k)
          xt[k] = Tr::msub(xt[k], Tr::mirror(sv[k]), xv);
      }
    }
  }
  // Row i, d rows above the block's end: x(i) := (x(i) - Σ L(k, i)·x(k))
  // / L(i, i) over the min(hb, d) rows below it.
  T* x[Count];
  const T* l[Count];
  for (int b = 0; b < Count; ++b) {
    x[b] = s.rhs(cs[b] + len - 1, 1);
    l[b] = s.template column<HB>(cs[b] + len - 1);
  }
  const std::int64_t stride = hb + 1;
  std::int64_t d = 0;
  if constexpr (kHasVectorForms<T, HB>) {
    // The last HB rows have fewer terms; the others keep the HB values
    // below them in a vector, so a row never waits for a reload of the
    // value just stored.
    using L = Simd<T, HB>;
    using V = typename L::V;
    for (; d < HB && d < len; ++d) {
      for (int b = 0; b < Count; ++b) {
        T* xi = x[b] - d;
        const T* li = l[b] - d * stride;
        T t = xi[0];
        for (std::int64_t k = 1; k <= d; ++k) t = Tr::msub(t, li[k], xi[k]);
        xi[0] = Tr::div(t, li[0]);
      }
    }
    if (d == len) return;
    V win[Count];
    for (int b = 0; b < Count; ++b) L::load(win[b], x[b] - HB + 1);
    for (; d < len; ++d) {
      for (int b = 0; b < Count; ++b) {
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
      for (int b = 0; b < Count; ++b) {
        T* xi = x[b] - d;
        const T* li = l[b] - d * stride;
        T t = xi[0];
        const std::int64_t m = std::min(hb, d);
        for (std::int64_t k = 1; k <= m; ++k)
          t = Tr::msub(t, Tr::mirror(li[k]), xi[k]);
        xi[0] = Tr::div(t, li[0]);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Vector form of the factor phase for the real types and a fixed half
// bandwidth (the update's is in vector_update.hpp): the same operations
// on every element in the same order, computed HB independent elements
// at a time (the hb spike columns, the rows of a coupling column). Blocks
// too short or too long for it take the general forms.
// ---------------------------------------------------------------------------

// Elements of the per-block scratch (the left spike, row by row).
inline constexpr std::int64_t kVectorScratch = 4096;

// Right coupling C·Lᵀ = K' of block [c, end] with the right neighbour's HB
// head rows of a coupling column as one vector; at level 1, K' comes from
// the band below the tail.
template <class T, int HB>
void right_coupling_vector(const BandArrays<T>& s, std::int64_t c,
                           std::int64_t end, std::int64_t w, std::int64_t nd) {
  using L = Simd<T, HB>;
  using V = typename L::V;
  constexpr std::int64_t S = HB + 1;
  const std::int64_t head = c + nd;
  const std::int64_t t0 = end - HB;
  T* base = s.coupling_at(head, 1);
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

// Factor phase, fused: column j of the diagonal block is factored left-
// looking, then row j of the left spike (held row-major, one vector a
// row) and of the first right-hand side are divided by the pivot and
// reduced below it. The spike and that right-hand side are written back
// only when the whole block succeeded. Count blocks of one length go through
// the columns side by side: each column waits for the one before it, and
// the other block's column fills that wait.
template <class T, int HB, int Count>
bool factor_blocks_vector(const BandArrays<T>& s,
                          const std::int64_t (&cs)[Count], std::int64_t w,
                          std::int64_t nd, std::int64_t level_first,
                          RealOf<T> threshold,
                          std::atomic<std::int32_t>* failure_flags,
                          std::int32_t parity, bool fold) {
  using Tr = ElementTraits<T>;
  using L = Simd<T, HB>;
  using V = typename L::V;
  constexpr std::int64_t S = HB + 1;  // column stride of the band
  const std::int64_t len = s.last(cs[0]) - cs[0] + 1;
  const bool rhs = s.nrhs > 0;
  struct Block {
    std::int64_t c, end;
    bool left;
    T* cj;      // the column being factored
    V win[HB];  // the HB columns before it, below their diagonals
    T* v;       // the spike, row by row, and the right-hand side, in scratch
    T* y;
  };
  Block blocks[Count];
  static_assert(Count * 2 * kVectorScratch * sizeof(T) <=
                kOneBlockScratchBytes);
  for (int b = 0; b < Count; ++b) {
    blocks[b].v = one_block_scratch(s) + b * 2 * kVectorScratch;
    blocks[b].y = blocks[b].v + kVectorScratch;
  }

  for (int b = 0; b < Count; ++b) {
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
        std::memcpy(v, s.coupling_at(c, 1), sizeof(T) * HB * HB);
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
    for (int b = 0; b < Count; ++b) {
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

  for (int b = 0; b < Count; ++b) {
    const Block& k_ = blocks[b];
    const std::int64_t c = k_.c, end = k_.end;
    if (k_.left) std::memcpy(s.coupling_at(c, 1), k_.v, sizeof(T) * len * HB);
    if (rhs) std::memcpy(s.rhs(c, 1), k_.y, sizeof(T) * len);
    for (std::int64_t q = 2; q <= s.nrhs; ++q)
      forward_solve_block<T, HB>(s, c, end, s.rhs(c, q));

    if (c + nd <= s.n) {
      if (c + nd + HB - 1 > s.n)
        right_coupling<T, HB>(s, c, end, w, nd);
      else
        right_coupling_vector<T, HB>(s, c, end, w, nd);
    }
    if (!fold) continue;
    if (k_.left) {
      if (s.nrhs <= 1)
        update_tail_from_rows<T, HB>(s, c - nd, k_.v, k_.y, len);
      else
        update_right_one<T, HB>(s, c - nd, nd);
    }
    if (c + nd <= s.n) update_left_one<T, HB>(s, c + nd, nd, level_first);
  }
  return true;
}

// Whether a block can take the vector factor form.
template <class T, int HB>
bool factor_vector_fits(const BandArrays<T>& s, std::int64_t c) {
  const std::int64_t len = s.last(c) - c + 1;
  return s.scratch != nullptr && len >= 2 * HB + 1 &&
         len * HB <= kVectorScratch;
}

}  // namespace pband
