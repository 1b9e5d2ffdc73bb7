// The scale factors and the scaling written once over the element type,
// in LAPACK's order of operations so that the real types give ?pbequ's
// and ?laqsb's bits. One pass over n (or the band) on the calling
// thread: the work is small beside a factor. Private: included only by
// band_scaling.cpp.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "accuracy/band_scaling.hpp"
#include "kernels/element_traits.hpp"

namespace pband::accuracy {

// The diagonal as equilibration reads it: real types the value itself
// (a negative one is refused), complex symmetric ones its modulus.
template <class T>
RealOf<T> diagonal(T a) {
  if constexpr (ElementTraits<T>::is_complex)
    return ElementTraits<T>::modulus(a);
  else
    return a;
}

template <class T>
ScaleFactors<RealOf<T>> scale_factors(const T* ab, std::int64_t n,
                                      std::int64_t ldab, RealOf<T>* s) {
  using R = RealOf<T>;
  ScaleFactors<R> f;
  if (n == 0) return f;
  R smin = diagonal(ab[0]);
  f.amax = smin;
  for (std::int64_t i = 0; i < n; ++i) {
    s[i] = diagonal(ab[i * ldab]);
    smin = std::min(smin, s[i]);
    f.amax = std::max(f.amax, s[i]);
  }
  if (smin <= 0) {
    for (std::int64_t i = 0; i < n; ++i)
      if (s[i] <= 0) {
        f.status = i + 1;
        return f;
      }
  }
  for (std::int64_t i = 0; i < n; ++i) s[i] = R(1) / std::sqrt(s[i]);
  f.scond = std::sqrt(smin) / std::sqrt(f.amax);
  return f;
}

// ?laqsb's test: scaling pays when the factors are far apart or the
// diagonal's size is near either end of the range.
template <class R>
bool scaling_needed(R scond, R amax) {
  constexpr R kThreshold = R(0.1);
  // LAPACK's safe minimum over its precision (eps times the radix).
  const R small =
      std::numeric_limits<R>::min() / std::numeric_limits<R>::epsilon();
  const R large = R(1) / small;
  return !(scond >= kThreshold && amax >= small && amax <= large);
}

template <class T>
bool scale(T* ab, std::int64_t n, std::int64_t hb, std::int64_t ldab,
           const RealOf<T>* s, RealOf<T> scond, RealOf<T> amax) {
  using R = RealOf<T>;
  if (n <= 0 || !scaling_needed(scond, amax)) return false;
  for (std::int64_t j = 0; j < n; ++j) {
    const R cj = s[j];
    const std::int64_t last = std::min(n - 1, j + hb);
    for (std::int64_t i = j; i <= last; ++i) {
      const R c = cj * s[i];
      T& a = ab[j * ldab + (i - j)];
      if constexpr (ElementTraits<T>::is_complex)
        a = T(c * a.real(), c * a.imag());
      else
        a = c * a;
    }
  }
  return true;
}

}  // namespace pband::accuracy

// The routines of one element type T, SUFFIX its ending (r4 … c16).
#define PBAND_SCALING_MEMBERS(T, SUFFIX)                                 \
  namespace pband {                                                      \
  ScaleFactors<RealOf<T>> band_scale_factors_##SUFFIX(const T* ab,       \
                                                      std::int64_t n,    \
                                                      std::int64_t ldab, \
                                                      RealOf<T>* s) {    \
    return accuracy::scale_factors(ab, n, ldab, s);                      \
  }                                                                      \
  bool band_scale_##SUFFIX(T* ab, std::int64_t n, std::int64_t hb,       \
                           std::int64_t ldab, const RealOf<T>* s,        \
                           RealOf<T> scond, RealOf<T> amax) {            \
    return accuracy::scale(ab, n, hb, ldab, s, scond, amax);             \
  }                                                                      \
  }
