// Private header of the band solver: the vector forms of the update
// phase for one block of a real type and a fixed half bandwidth, each
// element's terms in the general forms' order, HB elements at a time.
#pragma once

#include <algorithm>
#include <cstdint>

#include "kernels/element_traits.hpp"
#include "kernels/simd.hpp"
#include "solver/band_arrays.hpp"
#include "solver/forms/general.hpp"

namespace pband {

// The update of remaining block E = [e, end] from its right neighbour R,
// given R's spike row-major (HB a row: the coupling store, or the factor's
// scratch while it is still in cache) and y_R: the operations of
// update_from_right for the first right-hand side.
template <class T, int HB>
void update_tail_from_rows(const BandArrays<T>& s, std::int64_t e,
                           const T* spike, const T* y, std::int64_t rows) {
  using Tr = ElementTraits<T>;
  using L = Simd<T, HB>;
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

// Vector halves of the update: the sums over R's rows for all tail columns
// at once (one accumulator vector per tail column, each lane a sum of its
// own, formed from zero in increasing row); the head's rank-one updates a
// column at a time, and the new coupling row by row with the row as one
// vector. Blocks shorter than 2·HB + 1 take the general forms.
template <class T, int HB>
void update_from_right_vector(const BandArrays<T>& s, std::int64_t c,
                              std::int64_t nd) {
  using Tr = ElementTraits<T>;
  const std::int64_t end = s.last(c);
  if (end - c + 1 < 2 * HB + 1) return update_from_right<T, HB>(s, c, nd);
  if (c + nd > s.n) return;
  const std::int64_t r0 = c + nd;
  const std::int64_t rows = s.last(r0) - r0 + 1;
  const T* sr = s.coupling_at(r0, 1);
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
void update_from_left_vector(const BandArrays<T>& s, std::int64_t c,
                             std::int64_t nd, std::int64_t level_first) {
  using L = Simd<T, HB>;
  using V = typename L::V;
  const std::int64_t end = s.last(c);
  if (end - c + 1 < 2 * HB + 1)
    return update_from_left<T, HB>(s, c, nd, level_first);
  if (c - nd < level_first) return;
  const std::int64_t p0 = c - nd;
  const std::int64_t p_tail = p0 + s.block_size - HB;
  // C_P (E's head rows) column by column, each column padded so that a
  // vector may start at any of its rows.
  T* cp = s.coupling_at(c, 1);
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
  std::memcpy(s.saved_at(1, p0 + s.block_size), cp, sizeof(T) * HB * HB);

  if (p0 <= level_first) return;
  // -C_P·S_P(P's tail rows), row by row; the last row of C_P stays in the
  // band slots A(c … c+HB-1, c-1) as the row-by-row buffer leaves it.
  V sp[HB];
  for (int m = 0; m < HB; ++m) L::load(sp[m], s.coupling_at(p_tail + m, 1));
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

}  // namespace pband
