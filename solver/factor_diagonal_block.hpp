// In-place L·Lᵀ factorization of a run of consecutive band columns with
// the pivot test that decides whether a solve fails. Shared by the cyclic
// reduction solver and the band routine library.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "solver/element_traits.hpp"

namespace pband {

// 0-based position of element (i, j), i >= j, 1-based indices, in lower
// band storage with column stride hb + 1. 64-bit: large systems overflow.
inline std::int64_t band_pos(std::int64_t i, std::int64_t j, std::int64_t hb) {
  return (j - 1) * (hb + 1) + (i - j);
}

// Factors columns first … last of the band matrix A in place, left-looking,
// using only columns of the block (contributions from earlier columns must
// already be applied). A pivot whose modulus is not greater than threshold
// sets failure_flags[parity - 1] and returns at once, leaving that column
// updated but unscaled and later columns untouched. A NaN pivot passes.
// Rows below `last` are neither updated nor scaled.
template <class T>
void factor_diagonal_block(T* A, std::int32_t hb, std::int32_t first,
                           std::int32_t last, RealOf<T> threshold,
                           std::atomic<std::int32_t>* failure_flags,
                           std::int32_t parity);

// The same with the half bandwidth fixed at compile time when HB >= 0
// (then hb must equal it), which lets the short band loops unroll.
template <class T, int HB = -1>
void factor_band_columns(T* A, std::int64_t hb, std::int64_t first,
                         std::int64_t last, RealOf<T> threshold,
                         std::atomic<std::int32_t>* failure_flags,
                         std::int32_t parity) {
  using Tr = ElementTraits<T>;
  const std::int64_t kd = HB >= 0 ? HB : std::max<std::int64_t>(hb, 0);
  for (std::int64_t j = first; j <= last; ++j) {
    // Column j from the block's earlier columns, terms in increasing k.
    T* col_j = A + band_pos(j, j, kd);
    for (std::int64_t k = std::max<std::int64_t>(first, j - kd); k < j; ++k) {
      const T* col_k = A + band_pos(k, k, kd);
      const T ajk = col_k[j - k];
      const std::int64_t i_end = std::min<std::int64_t>(k + kd, last);
      for (std::int64_t i = j; i <= i_end; ++i)
        col_j[i - j] = Tr::msub(col_j[i - j], col_k[i - k], ajk);
    }
    // Pivot test: "not greater than" fails, a NaN comparison passes.
    const T d = col_j[0];
    if (Tr::modulus(d) <= threshold) {
      failure_flags[parity - 1].store(1, std::memory_order_relaxed);
      return;
    }
    const T root = Tr::sqrt(d);
    col_j[0] = root;
    const std::int64_t i_end = std::min<std::int64_t>(j + kd, last);
    for (std::int64_t i = j + 1; i <= i_end; ++i)
      col_j[i - j] = Tr::div(col_j[i - j], root);
  }
}

template <class T>
void factor_diagonal_block(T* A, std::int32_t hb, std::int32_t first,
                           std::int32_t last, RealOf<T> threshold,
                           std::atomic<std::int32_t>* failure_flags,
                           std::int32_t parity) {
  factor_band_columns<T>(A, hb, first, last, threshold, failure_flags,
                         parity);
}

}  // namespace pband
