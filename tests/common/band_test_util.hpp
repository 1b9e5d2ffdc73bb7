// Test helpers shared by the solver and band library suites: random band
// systems in lower band storage, reference solves through LAPACK, and the
// scaled residual ‖b − A·x‖₁ / (‖A‖₁·‖x‖₁·eps) by which solutions are judged.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

extern "C" {
// Symmetric positive definite band (real) and general band (complex).
void spbsv_(const char* uplo, const int* n, const int* kd, const int* nrhs,
            float* ab, const int* ldab, float* b, const int* ldb, int* info,
            std::size_t uplo_len);
void dpbsv_(const char* uplo, const int* n, const int* kd, const int* nrhs,
            double* ab, const int* ldab, double* b, const int* ldb, int* info,
            std::size_t uplo_len);
void cgbsv_(const int* n, const int* kl, const int* ku, const int* nrhs,
            std::complex<float>* ab, const int* ldab, int* ipiv,
            std::complex<float>* b, const int* ldb, int* info);
void zgbsv_(const int* n, const int* kl, const int* ku, const int* nrhs,
            std::complex<double>* ab, const int* ldab, int* ipiv,
            std::complex<double>* b, const int* ldb, int* info);
}

namespace pband::test {

template <class T>
struct IsComplex : std::false_type {};
template <class R>
struct IsComplex<std::complex<R>> : std::true_type {};

// The real type of an element (itself for the real types). A partial
// specialisation: conditional_t would name T::value_type for every T.
template <class T>
struct RealPart {
  using type = T;
};
template <class R>
struct RealPart<std::complex<R>> {
  using type = R;
};
template <class T>
using Real = typename RealPart<T>::type;

// A wider type to accumulate residuals in.
template <class T>
using Wide = std::conditional_t<
    IsComplex<T>::value,
    std::conditional_t<std::is_same_v<Real<T>, float>, std::complex<double>,
                       std::complex<long double>>,
    std::conditional_t<std::is_same_v<T, float>, double, long double>>;

inline std::int64_t band_length(std::int32_t n, std::int32_t hb) {
  return n <= 0 ? 0 : std::int64_t(n) + std::int64_t(hb) * (n - 1);
}

// 0-based position of (i, j), i >= j, 1-based indices.
inline std::int64_t pos(std::int64_t i, std::int64_t j, std::int64_t hb) {
  return (j - 1) * (hb + 1) + (i - j);
}

template <class T>
T random_value(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  if constexpr (IsComplex<T>::value) {
    // Sequenced draws: the same data from every compiler.
    const Real<T> re = Real<T>(u(rng));
    const Real<T> im = Real<T>(u(rng));
    return T(re, im);
  }
  else
    return T(u(rng));
}

// Random symmetric (complex: complex symmetric) band matrix whose diagonal
// dominates its rows, so the factorization never meets a bad pivot. The
// storage is sized n + hb(n-1) plus `pad` extra elements.
template <class T>
std::vector<T> random_band_matrix(std::int32_t n, std::int32_t hb,
                                  std::uint64_t seed, std::int64_t pad = 0) {
  std::mt19937_64 rng(seed);
  std::vector<T> a(band_length(n, hb) + pad, T(0));
  for (std::int64_t j = 1; j <= n; ++j)
    for (std::int64_t i = j + 1; i <= std::min<std::int64_t>(n, j + hb); ++i)
      a[pos(i, j, hb)] = random_value<T>(rng);
  for (std::int64_t j = 1; j <= n; ++j) {
    double off = 0;
    for (std::int64_t k = std::max<std::int64_t>(1, j - hb); k <= std::min<std::int64_t>(n, j + hb); ++k)
      if (k != j) off += std::abs(k > j ? a[pos(k, j, hb)] : a[pos(j, k, hb)]);
    a[pos(j, j, hb)] = T(Real<T>(off + 1.0 + std::abs(random_value<double>(rng))));
  }
  return a;
}

template <class T>
std::vector<T> random_rhs(std::int32_t n, std::int32_t nrhs,
                          std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<T> b(std::size_t(std::max(n, 0)) * std::max(nrhs, 0));
  for (auto& v : b) v = random_value<T>(rng);
  return b;
}

// Element (i, j) of the symmetric matrix held in lower band storage.
template <class T>
T band_at(const std::vector<T>& a, std::int32_t hb, std::int64_t i,
          std::int64_t j) {
  if (i < j) std::swap(i, j);
  if (i - j > hb) return T(0);
  return a[pos(i, j, hb)];
}

// ‖A‖₁ of the symmetric band matrix.
template <class T>
double norm1(const std::vector<T>& a, std::int32_t n, std::int32_t hb) {
  double best = 0;
  for (std::int64_t j = 1; j <= n; ++j) {
    double s = 0;
    for (std::int64_t i = std::max<std::int64_t>(1, j - hb);
         i <= std::min<std::int64_t>(n, j + hb); ++i)
      s += std::abs(band_at(a, hb, i, j));
    best = std::max(best, s);
  }
  return best;
}

// max over right-hand sides of ‖b − A·x‖₁ / (‖A‖₁·‖x‖₁·eps), eps of the
// real type; LAPACK's tests accept below 30. A is the original matrix.
template <class T>
double scaled_residual(const std::vector<T>& a, std::int32_t n,
                       std::int32_t hb, const std::vector<T>& b,
                       const std::vector<T>& x, std::int32_t nrhs) {
  using W = Wide<T>;
  const double eps = std::numeric_limits<Real<T>>::epsilon();
  const double anorm = norm1(a, n, hb);
  double worst = 0;
  for (std::int32_t c = 0; c < nrhs; ++c) {
    const T* bc = b.data() + std::size_t(c) * n;
    const T* xc = x.data() + std::size_t(c) * n;
    double rnorm = 0, xnorm = 0;
    for (std::int64_t i = 1; i <= n; ++i) {
      W s = W(bc[i - 1]);
      for (std::int64_t j = std::max<std::int64_t>(1, i - hb);
           j <= std::min<std::int64_t>(n, i + hb); ++j)
        s -= W(band_at(a, hb, i, j)) * W(xc[j - 1]);
      rnorm += double(std::abs(s));
      xnorm += std::abs(xc[i - 1]);
    }
    if (rnorm == 0) continue;
    if (anorm == 0 || xnorm == 0) return std::numeric_limits<double>::infinity();
    // A NaN must not vanish in the maximum: it fails every bound.
    const double ratio = rnorm / anorm / xnorm / eps;
    if (std::isnan(ratio)) return ratio;
    worst = std::max(worst, ratio);
  }
  return worst;
}

// Reference solution through LAPACK: ?pbsv for the real types, ?gbsv of
// the full band for the complex symmetric ones. Returns LAPACK's info.
template <class T>
int lapack_solve(const std::vector<T>& a, std::int32_t n, std::int32_t hb,
                 std::vector<T>& b, std::int32_t nrhs) {
  int info = 0;
  const int nn = n, kd = hb, nr = nrhs, ldb = std::max(n, 1);
  if constexpr (!IsComplex<T>::value) {
    const int ldab = hb + 1;
    std::vector<T> ab(std::size_t(ldab) * std::max(n, 1), T(0));
    for (std::int64_t j = 1; j <= n; ++j)
      for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + hb); ++i)
        ab[(j - 1) * ldab + (i - j)] = a[pos(i, j, hb)];
    if constexpr (std::is_same_v<T, float>)
      spbsv_("L", &nn, &kd, &nr, ab.data(), &ldab, b.data(), &ldb, &info, 1);
    else
      dpbsv_("L", &nn, &kd, &nr, ab.data(), &ldab, b.data(), &ldb, &info, 1);
  } else {
    const int ldab = 3 * hb + 1;
    std::vector<T> ab(std::size_t(ldab) * std::max(n, 1), T(0));
    std::vector<int> ipiv(std::max(n, 1));
    // General band storage: AB(kl + ku + 1 + i - j, j) = A(i, j).
    for (std::int64_t j = 1; j <= n; ++j)
      for (std::int64_t i = std::max<std::int64_t>(1, j - hb);
           i <= std::min<std::int64_t>(n, j + hb); ++i)
        ab[(j - 1) * ldab + (2 * hb + i - j)] = band_at(a, hb, i, j);
    if constexpr (std::is_same_v<Real<T>, float>)
      cgbsv_(&nn, &kd, &kd, &nr, ab.data(), &ldab, ipiv.data(), b.data(), &ldb, &info);
    else
      zgbsv_(&nn, &kd, &kd, &nr, ab.data(), &ldab, ipiv.data(), b.data(), &ldb, &info);
  }
  return info;
}

// Byte-for-byte equality of two arrays (NaNs and signed zeros included).
template <class T>
bool same_bits(const std::vector<T>& x, const std::vector<T>& y) {
  return x.size() == y.size() &&
         (x.empty() ||
          std::memcmp(x.data(), y.data(), x.size() * sizeof(T)) == 0);
}

}  // namespace pband::test
