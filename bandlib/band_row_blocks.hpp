// The arithmetic of one row block, for each of the band routines' three
// kinds of phase: what a thread does with the rows it has claimed. No
// threads here; the sweeps decide which rows and when.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "bandlib/band_library.hpp"
#include "kernels/band_position.hpp"
#include "kernels/diagonal_block.hpp"
#include "kernels/element_traits.hpp"

namespace pband::detail {

using Flags = FailureFlags;

// Diagonal element of column j; element (r, j) is col[r - j].
template <class T>
T* column(T* A, std::int64_t j, std::int64_t kd) {
  return A + band_pos(j, j, kd);
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
      const T ajk = Tr::mirror(ck[j - k]);
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
      const T ajk = Tr::mirror(ck[j - k]);
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
      const T aik = Tr::mirror(ck[i - k]);
      for (std::int64_t r = i; r <= band_end; ++r)
        ci[r - i] = Tr::msub(ci[r - i], ck[r - k], aik);
    }
  }
  // 4.2 Factor the pivot block, with the pivot test.
  factor_diagonal_block_of(
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
      s = Tr::msub(s, Tr::mirror(ci[k - i]), B[k - 1]);
    B[i - 1] = s;
  }
  if (O != d || P > O) return;
  for (std::int64_t i = O; i >= P; --i) {
    const T* ci = column(A, i, kd);
    const std::int64_t k_end = std::min(i + kd, O);
    T s = B[i - 1];
    for (std::int64_t k = i + 1; k <= k_end; ++k)
      s = Tr::msub(s, Tr::mirror(ci[k - i]), B[k - 1]);
    B[i - 1] = Tr::div(s, ci[0]);
  }
}

}  // namespace pband::detail
