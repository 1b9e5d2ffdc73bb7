// Helpers of the condition and refinement suites: the calls of one type by
// name, reference LAPACK's ?pbtrf/?pbcon/?pbrfs, band matrices of a chosen
// condition, and a dense inverse in a wider type for the true values.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "tests/api/c_api_support.hpp"

extern "C" {
#define PBAND_LAPACK_REFINE(L, T, R)                                         \
  void L##pbtrf_(const char*, const int*, const int*, T*, const int*, int*,  \
                 std::size_t);                                               \
  void L##pbcon_(const char*, const int*, const int*, const T*, const int*,  \
                 const R*, R*, T*, int*, int*, std::size_t);                 \
  void L##pbrfs_(const char*, const int*, const int*, const int*, const T*,  \
                 const int*, const T*, const int*, const T*, const int*, T*, \
                 const int*, R*, R*, T*, int*, int*, std::size_t);
PBAND_LAPACK_REFINE(s, float, float)
PBAND_LAPACK_REFINE(d, double, double)
#undef PBAND_LAPACK_REFINE
void dsbev_(const char*, const char*, const int*, const int*, double*,
            const int*, double*, double*, const int*, double*, int*,
            std::size_t, std::size_t);
}

namespace pband::test {

template <class T>
struct Refine;
#define PBAND_TEST_REFINE(T, L)                                    \
  template <>                                                      \
  struct Refine<T> {                                               \
    static constexpr auto workspace = &pband_factor_workspace_##L; \
    static constexpr auto factor = &pband_factor_##L;              \
    static constexpr auto solve = &pband_solve_factored_##L;       \
    static constexpr auto norm1 = &pband_norm1_##L;                \
    static constexpr auto rcond = &pband_rcond_##L;                \
    static constexpr auto refine = &pband_refine_##L;              \
  };
PBAND_TEST_REFINE(float, s)
PBAND_TEST_REFINE(double, d)
PBAND_TEST_REFINE(std::complex<float>, c)
PBAND_TEST_REFINE(std::complex<double>, z)
#undef PBAND_TEST_REFINE

// A band matrix (compact, ld = hb + 1) whose 2-norm condition is about
// `cond`, times `scale`: random off-diagonals, the diagonal shifted by
// LAPACK's eigenvalues so the smallest is (largest − smallest)/(cond − 1).
// Complex: D·A·D with D = diag(e^{iθ}) of random phases, so that A⁻¹'s
// elements turn every way (the same condition, far from a real matrix).
template <class T>
std::vector<T> conditioned_band(std::int32_t n, std::int32_t hb, double cond,
                                double scale, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int ld = hb + 1;
  std::vector<double> a(std::size_t(n) * ld, 0.0), lambda(n), work(3 * n);
  for (std::int64_t j = 0; j < n; ++j) {
    a[j * ld] = 2.0 * hb + 1;
    for (int d = 1; d <= hb && j + d < n; ++d) a[j * ld + d] = u(rng);
  }
  std::vector<double> s = a;
  int info = 0, one = 1;
  dsbev_("N", "L", &n, &hb, s.data(), &ld, lambda.data(), nullptr, &one,
         work.data(), &info, 1, 1);
  const double tau = (lambda[n - 1] - lambda[0]) / (cond - 1.0);
  std::vector<double> phase(n);
  for (double& p : phase) p = 3 * u(rng);
  std::vector<T> out(a.size());
  for (std::int64_t j = 0; j < n; ++j) {
    a[j * ld] += tau - lambda[0];
    for (int d = 0; d < ld && j + d < n; ++d) {
      const double v = scale * a[j * ld + d];
      if constexpr (IsComplex<T>::value) {
        const double t = phase[j] + phase[j + d];
        out[j * ld + d] = T(Real<T>(v * std::cos(t)), Real<T>(v * std::sin(t)));
      } else {
        out[j * ld + d] = T(Real<T>(v));
      }
    }
  }
  return out;
}

// A⁻¹ (dense, column-major) by Gauss-Jordan with partial pivoting in the
// wider type.
template <class T>
std::vector<Wide<T>> dense_inverse(const std::vector<T>& a, std::int32_t n,
                                   std::int32_t hb) {
  using W = Wide<T>;
  std::vector<W> m(std::size_t(n) * n), inv(m.size(), W(0));
  for (std::int64_t i = 0; i < n; ++i) {
    inv[i * n + i] = W(1);
    for (std::int64_t j = 0; j < n; ++j)
      m[j * n + i] = W(band_at(a, hb, i + 1, j + 1));
  }
  for (std::int64_t k = 0; k < n; ++k) {
    std::int64_t p = k;
    for (std::int64_t i = k + 1; i < n; ++i)
      if (std::abs(m[k * n + i]) > std::abs(m[k * n + p])) p = i;
    for (std::int64_t j = 0; j < n; ++j) {
      std::swap(m[j * n + k], m[j * n + p]);
      std::swap(inv[j * n + k], inv[j * n + p]);
    }
    const W d = m[k * n + k];
    for (std::int64_t j = 0; j < n; ++j) {
      m[j * n + k] /= d;
      inv[j * n + k] /= d;
    }
    for (std::int64_t i = 0; i < n; ++i) {
      const W f = m[k * n + i];
      if (i == k || f == W(0)) continue;
      for (std::int64_t j = 0; j < n; ++j) {
        m[j * n + i] -= f * m[j * n + k];
        inv[j * n + i] -= f * inv[j * n + k];
      }
    }
  }
  return inv;
}

template <class W>
double dense_norm1(const std::vector<W>& m, std::int64_t n) {
  double best = 0;
  for (std::int64_t j = 0; j < n; ++j) {
    double s = 0;
    for (std::int64_t i = 0; i < n; ++i) s += double(std::abs(m[j * n + i]));
    best = std::max(best, s);
  }
  return best;
}

// A band (compact) factored by pband_factor_* on a team, with its norm.
template <class T>
struct Stored {
  std::int32_t n, hb;
  std::vector<T> a, af, factor;
  Real<T> anorm = 0;
  int status = 0;
  Stored(std::vector<T> band, std::int32_t n_, std::int32_t hb_,
         std::int32_t threads)
      : n(n_), hb(hb_), a(std::move(band)) {
    using F = Refine<T>;
    // The factor may write the rows beyond n of the last columns.
    a.resize(std::size_t(n) * (hb + 1), T(0));
    af = a;
    F::norm1(n, hb, c_ptr(a.data()), hb + 1, &anorm, threads);
    factor.resize(std::max<std::int64_t>(F::workspace(n, hb, hb + 1), 1));
    status = F::factor(n, hb, c_ptr(af.data()), hb + 1, c_ptr(factor.data()),
                       std::int64_t(factor.size()), threads);
  }
  int rcond(Real<T>* r, std::int32_t threads) const {
    return Refine<T>::rcond(n, hb, c_ptr(af.data()), hb + 1,
                            c_ptr(factor.data()), std::int64_t(factor.size()),
                            anorm, r, threads);
  }
  int refine(std::int32_t nrhs, const std::vector<T>& b, std::vector<T>& x,
             std::vector<Real<T>>& ferr, std::vector<Real<T>>& berr,
             std::int32_t threads) const {
    ferr.assign(nrhs, -1);
    berr.assign(nrhs, -1);
    return Refine<T>::refine(n, hb, nrhs, c_ptr(a.data()), hb + 1,
                             c_ptr(af.data()), hb + 1, c_ptr(factor.data()),
                             std::int64_t(factor.size()), c_ptr(b.data()),
                             std::max(n, 1), c_ptr(x.data()), std::max(n, 1),
                             ferr.data(), berr.data(), threads);
  }
};

}  // namespace pband::test
