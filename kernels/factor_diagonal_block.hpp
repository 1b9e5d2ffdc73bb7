// In-place L·Lᵀ (Hermitian: L·Lᴴ) factorization of a run of consecutive
// band columns with the pivot test that decides whether a solve fails.
// Shared by the cyclic reduction solver and the band routine library.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <immintrin.h>
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

// The rows below a diagonal as AVX-512 vectors of W values, masked where
// a column ends: the loads read nothing past it, and a term leaves the
// rows it does not reach as they were.
template <class T>
struct Rows512 {
  static constexpr int W = 64 / int(sizeof(T));
  using V = typename Simd<T, W>::V;
  [[gnu::always_inline]] PBAND_TARGET_AVX512 static V load(const T* p,
                                                           unsigned m) {
    if constexpr (sizeof(T) == 8)
      return V(_mm512_maskz_loadu_pd(__mmask8(m), p));
    else
      return V(_mm512_maskz_loadu_ps(__mmask16(m), p));
  }
  [[gnu::always_inline]] PBAND_TARGET_AVX512 static void store(T* p,
                                                             unsigned m, V v) {
    if constexpr (sizeof(T) == 8)
      _mm512_mask_storeu_pd(p, __mmask8(m), __m512d(v));
    else
      _mm512_mask_storeu_ps(p, __mmask16(m), __m512(v));
  }
  // Lanes of m: x - l·a; the others keep x.
  [[gnu::always_inline]] PBAND_TARGET_AVX512 static V msub(V x, unsigned m,
                                                           V l, T a) {
    const V r = x - l * a;
    if constexpr (sizeof(T) == 8)
      return V(_mm512_mask_blend_pd(__mmask8(m), __m512d(x), __m512d(r)));
    else
      return V(_mm512_mask_blend_ps(__mmask16(m), __m512(x), __m512(r)));
  }
  // Lanes 1 … W-1 of v, then lane 0 of next.
  [[gnu::always_inline]] PBAND_TARGET_AVX512 static V down1(const V& v,
                                                           const V& next) {
    return down1(v, next, std::make_index_sequence<W>{});
  }
  template <std::size_t... I>
  [[gnu::always_inline]] PBAND_TARGET_AVX512 static V down1(
      const V& v, const V& next, std::index_sequence<I...>) {
    return __builtin_shufflevector(v, next, int(I) + 1 ...);
  }
};

// factor_band_columns for a real type and a band wider than the windows
// above, the same operations in the same order: a column's rows below the
// diagonal are NV masked vectors that take each earlier column's term at
// once, reading it from memory, but the column just before from registers,
// so a column never waits for the stores of the one before. Where the
// column loop carries each row through memory, this carries it in
// registers.
template <class T, int NV>
PBAND_TARGET_AVX512 PBAND_FLATTEN void factor_columns_masked(
    T* A, std::int64_t kd, std::int64_t first, std::int64_t last,
    RealOf<T> threshold, std::atomic<std::int32_t>* failure_flags,
    std::int32_t parity) {
  using Tr = ElementTraits<T>;
  using O = Rows512<T>;
  using V = typename O::V;
  constexpr int W = O::W;
  // Lanes of vector v among the first `rows` rows.
  auto lanes = [](std::int64_t rows, int v) {
    const std::int64_t c = std::clamp<std::int64_t>(rows - v * W, 0, W);
    return (1u << c) - 1u;
  };
  const std::int64_t S = kd + 1;
  V prev[NV] = {};  // column j-1 below its diagonal
  std::int64_t j = first;
  T* cj = A + band_pos(j, j, kd);
  for (; j + kd <= last; ++j, cj += S) {
    T dj = cj[0];
    V bj[NV];
    for (int v = 0; v < NV; ++v) bj[v] = O::load(cj + 1 + v * W, lanes(kd, v));
    // Terms in increasing column k = j - D; column k reaches rows up to
    // k + kd, the first kd - D of bj.
    const std::int64_t before = std::min(kd, j - first);
    for (std::int64_t D = before; D >= 2; --D) {
      const T* ck = cj - D * S;
      const T a = ck[D];
      dj = Tr::msub(dj, a, a);
      for (int v = 0; v < NV; ++v) {
        const unsigned m = lanes(kd - D, v);
        if (m == 0) break;
        bj[v] = O::msub(bj[v], m, O::load(ck + D + 1 + v * W, m), a);
      }
    }
    if (before >= 1) {
      const T a = prev[0][0];
      dj = Tr::msub(dj, a, a);
      for (int v = 0; v < NV; ++v) {
        const V next = v + 1 < NV ? prev[v + 1] : V{};
        bj[v] = O::msub(bj[v], lanes(kd - 1, v), O::down1(prev[v], next), a);
      }
    }
    if (Tr::pivot(dj) <= threshold) {
      cj[0] = dj;
      for (int v = 0; v < NV; ++v) O::store(cj + 1 + v * W, lanes(kd, v), bj[v]);
      failure_flags[parity - 1].store(1, std::memory_order_relaxed);
      return;
    }
    const T root = Tr::pivot_root(dj);
    cj[0] = root;
    for (int v = 0; v < NV; ++v) {
      bj[v] = bj[v] / root;
      O::store(cj + 1 + v * W, lanes(kd, v), bj[v]);
      prev[v] = bj[v];
    }
  }
  // The last columns of the run, from the stored columns.
  if (j <= last)
    factor_band_columns<T>(A, kd, j, last, threshold, failure_flags, parity,
                           first);
}

// The masked form for hb up to 8 vectors.
template <class T>
bool factor_masked(T* A, std::int64_t hb, std::int64_t first,
                   std::int64_t last, RealOf<T> threshold,
                   std::atomic<std::int32_t>* failure_flags,
                   std::int32_t parity) {
  constexpr int W = Rows512<T>::W;
  const std::int64_t nv = (hb + W - 1) / W;
  if (nv == 1)
    factor_columns_masked<T, 1>(A, hb, first, last, threshold, failure_flags,
                                parity);
  else if (nv == 2)
    factor_columns_masked<T, 2>(A, hb, first, last, threshold, failure_flags,
                                parity);
  else if (nv <= 4)
    factor_columns_masked<T, 4>(A, hb, first, last, threshold, failure_flags,
                                parity);
  else if (nv <= 8)
    factor_columns_masked<T, 8>(A, hb, first, last, threshold, failure_flags,
                                parity);
  else
    return false;
  return true;
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
    // Xeon): doubles only. Wider bands (up to eight registers a column)
    // take the masked form, which reads earlier columns from memory
    // instead of shifting them through registers.
    const std::int32_t isa = isa_in_use();
    if (isa >= 2 && sizeof(T) == 8 && hb == 64 / int(sizeof(T)))
      return factor_detail::factor_vector_avx512<T, 64 / sizeof(T)>(
          A, first, last, threshold, failure_flags, parity);
    if (isa >= 2 && hb > 8 &&
        factor_detail::factor_masked<T>(A, hb, first, last, threshold,
                                        failure_flags, parity))
      return;
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
