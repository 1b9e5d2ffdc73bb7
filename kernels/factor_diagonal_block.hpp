// In-place L·Lᵀ (Hermitian: L·Lᴴ) factorization of a run of consecutive
// band columns with the pivot test that decides whether a solve fails.
// Shared by the cyclic reduction solver and the band routine library.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "kernels/band_position.hpp"
#include "kernels/element_traits.hpp"
#include "kernels/isa.hpp"
#include "kernels/simd.hpp"

namespace pband {

// Factors columns first … last of the band matrix A in place, left-looking,
// using only columns of the block (contributions from earlier columns must
// already be applied). A pivot whose ElementTraits::pivot (real: the value,
// complex symmetric: the modulus, Hermitian: the real part) is not greater
// than threshold sets failure_flags[parity - 1] and returns at once,
// leaving that column updated but unscaled and later columns untouched. A
// NaN pivot passes.
// Rows below `last` are neither updated nor scaled.
template <class T>
void factor_diagonal_block(T* A, std::int32_t hb, std::int32_t first,
                           std::int32_t last, RealOf<T> threshold,
                           std::atomic<std::int32_t>* failure_flags,
                           std::int32_t parity);

// The same with the half bandwidth fixed at compile time when HB >= 0
// (then hb must equal it), which lets the short band loops unroll.
// `run_first` (when later than 0) is the first column of the run when the
// call carries on a run already factored up to first - 1.
template <class T, int HB = -1>
void factor_band_columns(T* A, std::int64_t hb, std::int64_t first,
                         std::int64_t last, RealOf<T> threshold,
                         std::atomic<std::int32_t>* failure_flags,
                         std::int32_t parity, std::int64_t run_first = 0) {
  using Tr = ElementTraits<T>;
  const std::int64_t kd = HB >= 0 ? HB : std::max<std::int64_t>(hb, 0);
  const std::int64_t start = run_first > 0 ? run_first : first;
  for (std::int64_t j = first; j <= last; ++j) {
    // Column j from the block's earlier columns, terms in increasing k.
    T* col_j = A + band_pos(j, j, kd);
    for (std::int64_t k = std::max<std::int64_t>(start, j - kd); k < j; ++k) {
      const T* col_k = A + band_pos(k, k, kd);
      const T ajk = Tr::mirror(col_k[j - k]);
      const std::int64_t i_end = std::min<std::int64_t>(k + kd, last);
      for (std::int64_t i = j; i <= i_end; ++i)
        col_j[i - j] = Tr::msub(col_j[i - j], col_k[i - k], ajk);
    }
    // Pivot test: "not greater than" fails, a NaN comparison passes.
    const T d = col_j[0];
    if (Tr::pivot(d) <= threshold) {
      failure_flags[parity - 1].store(1, std::memory_order_relaxed);
      return;
    }
    const T root = Tr::pivot_root(d);
    col_j[0] = root;
    const std::int64_t i_end = std::min<std::int64_t>(j + kd, last);
    for (std::int64_t i = j + 1; i <= i_end; ++i)
      col_j[i - j] = Tr::div(col_j[i - j], root);
  }
}

// Column j of a run from the HB columns before it, held in registers:
// win[d-1] is column j-d below its diagonal, and `before` of them belong to
// the run. dj (the diagonal) and bj (the HB rows below it) take every term
// in increasing column k = j - D, as factor_band_columns does; column k
// reaches rows up to k + HB, the first HB - D of bj.
template <class T, int HB>
void reduce_column_from_window(T& dj, typename Simd<T, HB>::V& bj,
                               const typename Simd<T, HB>::V (&win)[HB],
                               std::int64_t before) {
  using Tr = ElementTraits<T>;
  using L = Simd<T, HB>;
  using V = typename L::V;
  auto term = [&]<int D>(std::integral_constant<int, D>) {
    if (before < D) return;
    const T a = win[D - 1][D - 1];
    dj = Tr::msub(dj, a, a);
    V lk;
    L::template shifted_down<D>(lk, win[D - 1]);
    V nb = bj - lk * a;
    L::keep_after(nb, bj, HB - D);
    bj = nb;
  };
  [&]<int... Ds>(std::integer_sequence<int, Ds...>) {
    (term(std::integral_constant<int, HB - Ds>{}), ...);
  }
  (std::make_integer_sequence<int, HB>{});
}

// The window moves on by one column: bj becomes win[0].
template <class T, int HB>
void push_column(typename Simd<T, HB>::V (&win)[HB],
                 const typename Simd<T, HB>::V& bj) {
  for (int d = HB - 1; d > 0; --d) win[d] = win[d - 1];
  win[0] = bj;
}

// factor_band_columns for a real type and a fixed HB, the same operations
// in the same order: while a column has HB rows below its diagonal inside
// the run, those rows are one vector and the HB columns before it are kept
// in registers, so a column never waits for the stores of the one before.
template <class T, int HB>
void factor_band_columns_vector(T* A, std::int64_t first, std::int64_t last,
                                RealOf<T> threshold,
                                std::atomic<std::int32_t>* failure_flags,
                                std::int32_t parity) {
  using Tr = ElementTraits<T>;
  using L = Simd<T, HB>;
  using V = typename L::V;
  V win[HB] = {};  // win[d-1]: column j-d below its diagonal
  std::int64_t j = first;
  T* cj = A + band_pos(j, j, HB);
  for (; j + HB <= last; ++j, cj += HB + 1) {
    T dj = cj[0];
    V bj;
    L::load(bj, cj + 1);
    reduce_column_from_window<T, HB>(dj, bj, win, j - first);
    if (Tr::modulus(dj) <= threshold) {
      cj[0] = dj;
      L::store(cj + 1, bj);
      failure_flags[parity - 1].store(1, std::memory_order_relaxed);
      return;
    }
    const T root = Tr::sqrt(dj);
    cj[0] = root;
    bj = bj / root;
    L::store(cj + 1, bj);
    push_column<T, HB>(win, bj);
  }
  // The last columns of the run, from the stored columns.
  if (j <= last)
    factor_band_columns<T, HB>(A, HB, j, last, threshold, failure_flags, parity,
                               first);
}

namespace factor_detail {

// The vector form pays only with wide registers: compiled for AVX2 and
// AVX-512 and used where the processor has them, for half bandwidths whose
// column fits one register.
template <class T, int HB>
PBAND_TARGET_AVX2 PBAND_FLATTEN void factor_vector_avx2(
    T* A, std::int64_t first, std::int64_t last, RealOf<T> threshold,
    std::atomic<std::int32_t>* failure_flags, std::int32_t parity) {
  factor_band_columns_vector<T, HB>(A, first, last, threshold, failure_flags,
                                    parity);
}

template <class T, int HB>
PBAND_TARGET_AVX512 PBAND_FLATTEN void factor_vector_avx512(
    T* A, std::int64_t first, std::int64_t last, RealOf<T> threshold,
    std::atomic<std::int32_t>* failure_flags, std::int32_t parity) {
  factor_band_columns_vector<T, HB>(A, first, last, threshold, failure_flags,
                                    parity);
}

}  // namespace factor_detail

template <class T>
void factor_diagonal_block(T* A, std::int32_t hb, std::int32_t first,
                           std::int32_t last, RealOf<T> threshold,
                           std::atomic<std::int32_t>* failure_flags,
                           std::int32_t parity) {
  if constexpr (!ElementTraits<T>::is_complex) {
    // One register a column: vectors wider than the registers are split
    // by the compiler into moves through memory, slower than the scalar
    // loop. Sixteen floats a column shift through a window of sixteen
    // registers, which took 2.4 times the scalar loop's time (hb 16,
    // Xeon): doubles only.
    const std::int32_t isa = isa_in_use();
    if (isa >= 2 && sizeof(T) == 8 && hb == 64 / int(sizeof(T)))
      return factor_detail::factor_vector_avx512<T, 64 / sizeof(T)>(
          A, first, last, threshold, failure_flags, parity);
    if (isa >= 1) {
      using factor_detail::factor_vector_avx2;
      if (hb == 32 / int(sizeof(T)))
        return factor_vector_avx2<T, 32 / sizeof(T)>(A, first, last, threshold,
                                                     failure_flags, parity);
      if (hb == 4 && sizeof(T) == 4)
        return factor_vector_avx2<T, 4>(A, first, last, threshold,
                                        failure_flags, parity);
    }
  }
  factor_band_columns<T>(A, hb, first, last, threshold, failure_flags, parity);
}

}  // namespace pband
