// The band of the inverse of a symmetric band matrix (A⁻¹ within hb of
// the diagonal, which smoothing methods read for degrees of freedom and
// cross-validation), from its natural-order factor L, in O(n·hb²).
#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>

#include "kernels/element_traits.hpp"

namespace pband {

// Z := the band of (L·Lᵀ)⁻¹, lower band storage: column j of L at
// l + (j-1)·ldl from its diagonal, the same for z. The recurrence runs
// from the last column up: for i = j+hb … j, then the diagonal,
//   Z(i, j) = (δ_ij / L(j, j) − Σ_{k=j+1}^{j+hb} L(k, j)·Z(k, i)) / L(j, j)
// with Z symmetric and the sum in increasing k. Nothing is conjugated.
// A zero on L's diagonal is not reported: Z then holds infinities or NaNs.
// Arguments come checked: 0 <= hb < n (or n = 0), ldl and ldz > hb.
template <class T>
void band_inverse(std::int64_t n, std::int64_t hb, const T* l, std::int64_t ldl,
                  T* z, std::int64_t ldz) {
  using Tr = ElementTraits<T>;
  // Z(r, c), r >= c, both 1-based and within the band.
  auto at = [&](std::int64_t r, std::int64_t c) -> T& {
    return r >= c ? z[(c - 1) * ldz + (r - c)] : z[(r - 1) * ldz + (c - r)];
  };
  for (std::int64_t j = n; j >= 1; --j) {
    const T* lj = l + (j - 1) * ldl;
    const std::int64_t last = std::min(n, j + hb);
    for (std::int64_t i = last; i >= j; --i) {
      T t = i == j ? Tr::div(T(1), lj[0]) : Tr::zero();
      for (std::int64_t k = j + 1; k <= last; ++k)
        t = Tr::msub(t, lj[k - j], at(k, i));
      at(i, j) = Tr::div(t, lj[0]);
    }
  }
}

void band_inverse_r4(std::int64_t n, std::int64_t hb, const float* l,
                     std::int64_t ldl, float* z, std::int64_t ldz);
void band_inverse_r8(std::int64_t n, std::int64_t hb, const double* l,
                     std::int64_t ldl, double* z, std::int64_t ldz);
void band_inverse_c8(std::int64_t n, std::int64_t hb,
                     const std::complex<float>* l, std::int64_t ldl,
                     std::complex<float>* z, std::int64_t ldz);
void band_inverse_c16(std::int64_t n, std::int64_t hb,
                      const std::complex<double>* l, std::int64_t ldl,
                      std::complex<double>* z, std::int64_t ldz);

}  // namespace pband
