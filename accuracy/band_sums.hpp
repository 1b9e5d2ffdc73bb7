// The sums behind the norm, product, residual and |A|·|X| + |B|, written
// once over the element type. Every output element is summed by one
// thread in one order, increasing column k across the band, so the bits
// never depend on the team. Private: included only by the per-type sources.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#include "accuracy/abs1.hpp"
#include "accuracy/band_accuracy.hpp"
#include "accuracy/row_team.hpp"
#include "kernels/element_traits.hpp"

namespace pband::accuracy {

// |a|: the modulus for complex values, as LAPACK's abs. ElementTraits'
// modulus of a real is the signed value a pivot test wants, not this.
template <class T>
RealOf<T> magnitude(T a) {
  if constexpr (ElementTraits<T>::is_complex)
    return ElementTraits<T>::modulus(a);
  else
    return std::fabs(a);
}

// Sum over column j of |A(k, j)|, k increasing: the order in which
// LAPACK's ?lansb('1', 'L') accumulates it. Row j of A is column j.
template <class T>
RealOf<T> column_sum(const BandCall<T>& c, std::int64_t j) {
  const std::int64_t lo = std::max<std::int64_t>(0, j - c.hb);
  const std::int64_t hi = std::min(c.n - 1, j + c.hb);
  RealOf<T> s = 0;
  for (std::int64_t k = lo; k < j; ++k)
    s = s + magnitude(c.ab[k * c.ldab + (j - k)]);
  for (std::int64_t k = j; k <= hi; ++k)
    s = s + magnitude(c.ab[j * c.ldab + (k - j)]);
  return s;
}

// The largest column sum of one call. A NaN sum wins over any number, as
// in LAPACK, which max() alone would not give.
template <class T>
struct NormCall {
  const BandCall<T>* band = nullptr;
  std::atomic<RealOf<T>> largest{0};
  std::atomic<bool> nan{false};
};

template <class T>
void norm_rows(void* p, std::int64_t lo, std::int64_t hi) {
  auto& c = *static_cast<NormCall<T>*>(p);
  RealOf<T> best = 0;
  bool nan = false;
  for (std::int64_t j = lo; j < hi; ++j) {
    const RealOf<T> s = column_sum(*c.band, j);
    nan = nan || std::isnan(s);
    best = std::max(best, s);
  }
  if (nan) c.nan.store(true);
  // max is exact, so the order in which threads meet here is harmless.
  RealOf<T> seen = c.largest.load();
  while (seen < best && !c.largest.compare_exchange_weak(seen, best)) {}
}

template <class T>
RealOf<T> norm1(const BandCall<T>& band, std::int32_t team) {
  if (band.n == 0) return 0;
  NormCall<T> c;
  c.band = &band;
  run_rows(&norm_rows<T>, &c, band.n,
           split_rows(band.n, 2 * band.hb + 1, team));
  if (c.nan.load()) return std::numeric_limits<RealOf<T>>::quiet_NaN();
  return c.largest.load();
}

// Row i of out for every right-hand side: from zero (product) or from b
// (residual), adding or subtracting A(i, k)·x(k) for k increasing; the
// lower triangle stands in for the upper one by symmetry.
template <class T>
void product_rows(void* p, std::int64_t lo, std::int64_t hi) {
  using E = ElementTraits<T>;
  const auto& c = *static_cast<const BandCall<T>*>(p);
  for (std::int64_t q = 0; q < c.nrhs; ++q) {
    const T* x = c.x + q * c.ldx;
    for (std::int64_t i = lo; i < hi; ++i) {
      const std::int64_t first = std::max<std::int64_t>(0, i - c.hb);
      const std::int64_t last = std::min(c.n - 1, i + c.hb);
      const T* left = c.ab + first * c.ldab + (i - first);
      const T* right = c.ab + i * c.ldab - i;
      T s = E::zero();
      if (c.b != nullptr) {
        s = c.b[q * c.ldb + i];
        for (std::int64_t k = first; k < i; ++k, left += c.ldab - 1)
          s = E::msub(s, *left, x[k]);
        for (std::int64_t k = i; k <= last; ++k) s = E::msub(s, right[k], x[k]);
      } else {
        for (std::int64_t k = first; k < i; ++k, left += c.ldab - 1)
          s = E::add(s, E::mul(*left, x[k]));
        for (std::int64_t k = i; k <= last; ++k)
          s = E::add(s, E::mul(right[k], x[k]));
      }
      c.out[q * c.ldo + i] = s;
    }
  }
}

template <class T>
void product(const BandCall<T>& band, std::int32_t team) {
  if (band.n == 0 || band.nrhs == 0) return;
  const std::int64_t row_work = (2 * band.hb + 1) * band.nrhs;
  run_rows(&product_rows<T>, const_cast<BandCall<T>*>(&band), band.n,
           split_rows(band.n, row_work, team));
}

template <class T>
struct AbsProductCall {
  const BandCall<T>* band = nullptr;
  RealOf<T>* out = nullptr;
  std::int64_t ldo = 1;
};

// Row i of |B| + |A|·|X| for every right-hand side, k increasing, as the
// product: one thread and one order per element.
template <class T>
void abs_product_rows(void* p, std::int64_t lo, std::int64_t hi) {
  const auto& a = *static_cast<const AbsProductCall<T>*>(p);
  const BandCall<T>& c = *a.band;
  for (std::int64_t q = 0; q < c.nrhs; ++q) {
    const T* x = c.x + q * c.ldx;
    for (std::int64_t i = lo; i < hi; ++i) {
      const std::int64_t first = std::max<std::int64_t>(0, i - c.hb);
      const std::int64_t last = std::min(c.n - 1, i + c.hb);
      const T* left = c.ab + first * c.ldab + (i - first);
      const T* right = c.ab + i * c.ldab - i;
      RealOf<T> s = c.b != nullptr ? abs1(c.b[q * c.ldb + i]) : RealOf<T>(0);
      for (std::int64_t k = first; k < i; ++k, left += c.ldab - 1)
        s = s + abs1(*left) * abs1(x[k]);
      for (std::int64_t k = i; k <= last; ++k)
        s = s + abs1(right[k]) * abs1(x[k]);
      a.out[q * a.ldo + i] = s;
    }
  }
}

template <class T>
void abs_product(const BandCall<T>& band, RealOf<T>* out, std::int64_t ldo,
                 std::int32_t team) {
  if (band.n == 0 || band.nrhs == 0) return;
  AbsProductCall<T> c;
  c.band = &band;
  c.out = out;
  c.ldo = ldo;
  const std::int64_t row_work = (2 * band.hb + 1) * band.nrhs;
  run_rows(&abs_product_rows<T>, &c, band.n,
           split_rows(band.n, row_work, team));
}

}  // namespace pband::accuracy

// The routines of one element type T, SUFFIX its ending (r4 … c16).
#define PBAND_ACCURACY_MEMBERS(T, SUFFIX)                                     \
  namespace pband {                                                           \
  RealOf<T> band_norm1_##SUFFIX(const BandCall<T>& call, std::int32_t team) { \
    return accuracy::norm1(call, team);                                       \
  }                                                                           \
  void band_product_##SUFFIX(const BandCall<T>& call, std::int32_t team) {    \
    accuracy::product(call, team);                                            \
  }                                                                           \
  void band_abs_product_##SUFFIX(const BandCall<T>& call, RealOf<T>* out,     \
                                 std::int64_t ldo, std::int32_t team) {       \
    accuracy::abs_product(call, out, ldo, team);                              \
  }                                                                           \
  }
