// Helpers of the C interface suites: the calls of one element type by
// name, systems in LAPACK's band layout with padding that must stay as it
// was, and the solution taken back out of a padded right-hand side.
#pragma once

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "pband/pband.h"
#include "tests/common/band_test_util.hpp"

namespace pband::test {

using ElementTypes =
    ::testing::Types<float, double, std::complex<float>, std::complex<double>>;

template <class T>
struct CApi;

#define PBAND_TEST_C_API(T, C, L)                                    \
  template <>                                                        \
  struct CApi<T> {                                                   \
    using Elem = C;                                                  \
    static constexpr auto solve = &pband_solve_##L;                  \
    static constexpr auto solve_work = &pband_solve_work_##L;        \
    static constexpr auto workspace = &pband_solve_workspace_##L;    \
    static constexpr auto cholesky = &pband_cholesky_##L;            \
    static constexpr auto cholesky_solve = &pband_cholesky_solve_##L; \
  };
PBAND_TEST_C_API(float, float, s)
PBAND_TEST_C_API(double, double, d)
PBAND_TEST_C_API(std::complex<float>, pband_complex_float, c)
PBAND_TEST_C_API(std::complex<double>, pband_complex_double, z)
#undef PBAND_TEST_C_API

template <class T>
auto* c_ptr(T* p) {
  return reinterpret_cast<typename CApi<T>::Elem*>(p);
}
template <class T>
const auto* c_ptr(const T* p) {
  return reinterpret_cast<const typename CApi<T>::Elem*>(p);
}

// A value no solve produces from our systems: marks storage that must not
// be written (and, being NaN, poisons any result that reads it).
template <class T>
T sentinel() {
  const Real<T> nan = std::numeric_limits<Real<T>>::quiet_NaN();
  if constexpr (IsComplex<T>::value)
    return T(nan, Real<T>(-7));
  else
    return nan;
}

// One system in the C layout: ab with leading dimension ldab, B with ldb,
// every position outside the matrix and the right-hand sides set to the
// sentinel.
template <class T>
struct CSystem {
  std::int32_t n = 0, hb = 0, nrhs = 0, ldab = 0, ldb = 0;
  std::vector<T> a;       // the matrix, compact (stride hb + 1)
  std::vector<T> b;       // right-hand sides, compact (stride n)
  std::vector<T> ab, bb;  // the same in the C layout

  // The solution (or whatever B holds) out of bb, compact.
  std::vector<T> x() const {
    std::vector<T> out(std::size_t(n) * nrhs);
    for (std::int64_t q = 0; q < nrhs; ++q)
      for (std::int64_t i = 0; i < n; ++i)
        out[q * n + i] = bb[q * ldb + i];
    return out;
  }
  // The factor (or whatever ab holds) out of ab, compact.
  std::vector<T> band() const {
    std::vector<T> out(a.size());
    for (std::int64_t j = 1; j <= n; ++j)
      for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + hb); ++i)
        out[pos(i, j, hb)] = ab[(j - 1) * ldab + (i - j)];
    return out;
  }
  // True when every position outside the matrix in ab (padding rows and
  // rows beyond n, with `beyond`) and outside n rows in bb is untouched.
  bool outside_untouched(bool beyond) const {
    for (std::int64_t j = 0; j < n; ++j)
      for (std::int64_t r = 0; r < ldab; ++r) {
        const bool inside = r <= hb && j + r < n;
        const bool row_beyond = r <= hb && j + r >= n;
        if (!inside && (beyond || !row_beyond) &&
            !same(ab[j * ldab + r], sentinel<T>()))
          return false;
      }
    for (std::int64_t q = 0; q < nrhs; ++q)
      for (std::int64_t i = n; i < ldb; ++i)
        if (!same(bb[q * ldb + i], sentinel<T>())) return false;
    return true;
  }
  static bool same(const T& x, const T& y) {
    return std::memcmp(&x, &y, sizeof(T)) == 0;
  }
  // ab and bb from a and b.
  void lay_out() {
    ab.assign(std::size_t(ldab) * std::max(n, 1), sentinel<T>());
    for (std::int64_t j = 1; j <= n; ++j)
      for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + hb); ++i)
        ab[(j - 1) * ldab + (i - j)] = a[pos(i, j, hb)];
    bb.assign(std::size_t(ldb) * std::max(nrhs, 1), sentinel<T>());
    for (std::int64_t q = 0; q < nrhs; ++q)
      for (std::int64_t i = 0; i < n; ++i) bb[q * ldb + i] = b[q * n + i];
  }
};

template <class T>
CSystem<T> c_system(std::int32_t n, std::int32_t hb, std::int32_t nrhs,
                    std::int32_t ab_pad, std::int32_t b_pad,
                    std::uint64_t seed) {
  CSystem<T> s;
  s.n = n;
  s.hb = hb;
  s.nrhs = nrhs;
  s.ldab = hb + 1 + ab_pad;
  s.ldb = std::max(n, 1) + b_pad;
  s.a = random_band_matrix<T>(n, hb, seed);
  s.b = random_rhs<T>(n, nrhs, seed + 1);
  s.lay_out();
  return s;
}

template <class T>
int c_solve(CSystem<T>& s, std::int32_t threads) {
  return CApi<T>::solve(s.n, s.hb, s.nrhs, c_ptr(s.ab.data()), s.ldab,
                        c_ptr(s.bb.data()), s.ldb, threads);
}

}  // namespace pband::test
