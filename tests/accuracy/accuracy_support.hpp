// Helpers of the accuracy suites: the norm, product and residual calls of
// one element type by name, reference LAPACK's ?lansb, and the product
// formed again in a wider type with the bound it must meet.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "tests/api/c_api_support.hpp"

extern "C" {
float slansb_(const char* norm, const char* uplo, const int* n, const int* k,
              const float* ab, const int* ldab, float* work, std::size_t,
              std::size_t);
double dlansb_(const char* norm, const char* uplo, const int* n, const int* k,
               const double* ab, const int* ldab, double* work, std::size_t,
               std::size_t);
float clansb_(const char* norm, const char* uplo, const int* n, const int* k,
              const std::complex<float>* ab, const int* ldab, float* work,
              std::size_t, std::size_t);
double zlansb_(const char* norm, const char* uplo, const int* n, const int* k,
               const std::complex<double>* ab, const int* ldab, double* work,
               std::size_t, std::size_t);
}

namespace pband::test {

template <class T>
struct Accuracy;

#define PBAND_TEST_ACCURACY(T, L)                         \
  template <>                                             \
  struct Accuracy<T> {                                    \
    static constexpr auto norm1 = &pband_norm1_##L;       \
    static constexpr auto multiply = &pband_multiply_##L; \
    static constexpr auto residual = &pband_residual_##L; \
    static constexpr auto lansb = &L##lansb_;             \
  };
PBAND_TEST_ACCURACY(float, s)
PBAND_TEST_ACCURACY(double, d)
PBAND_TEST_ACCURACY(std::complex<float>, c)
PBAND_TEST_ACCURACY(std::complex<double>, z)
#undef PBAND_TEST_ACCURACY

// LAPACK's one-norm of the band as the C layout holds it.
template <class T>
Real<T> lapack_norm1(const CSystem<T>& s) {
  std::vector<Real<T>> work(std::max(s.n, 1));
  const int n = s.n, k = std::min(s.hb, std::max(s.n - 1, 0)), ld = s.ldab;
  return Accuracy<T>::lansb("1", "L", &n, &k, s.ab.data(), &ld, work.data(), 1,
                            1);
}

// Y = A·X, or B − A·X with B given, from the compact a of s in a wider
// type, beside |A|·|X| (+ |B|) that scales its rounding error.
template <class T>
struct WideProduct {
  std::vector<Wide<T>> value;
  std::vector<double> scale;
};

template <class T>
WideProduct<T> wide_product(const CSystem<T>& s,
                            std::type_identity_t<const std::vector<T>*> b,
                            std::int64_t ldb) {
  WideProduct<T> p;
  p.value.assign(std::size_t(s.n) * s.nrhs, Wide<T>(0));
  p.scale.assign(p.value.size(), 0.0);
  for (std::int64_t q = 0; q < s.nrhs; ++q)
    for (std::int64_t i = 1; i <= s.n; ++i) {
      const std::size_t at = q * s.n + (i - 1);
      Wide<T> sum(0);
      double scale = 0;
      if (b != nullptr) {
        sum = Wide<T>((*b)[q * ldb + i - 1]);
        scale = std::abs((*b)[q * ldb + i - 1]);
      }
      for (std::int64_t k = 1; k <= s.n; ++k) {
        if (std::abs(i - k) > s.hb) continue;
        const T a = band_at(s.a, s.hb, i, k);
        const T x = s.bb[q * s.ldb + k - 1];
        const Wide<T> t = Wide<T>(a) * Wide<T>(x);
        sum = b != nullptr ? sum - t : sum + t;
        scale += double(std::abs(a)) * double(std::abs(x));
      }
      p.value[at] = sum;
      p.scale[at] = scale;
    }
  return p;
}

// Each element of out (leading dimension ld) within (terms + 2)·eps of
// the wider result, relative to its scale, twice that for complex
// products; the rows beyond n untouched. Returns the number of faults.
template <class T>
int count_faults(const CSystem<T>& s, const WideProduct<T>& want,
                 const std::vector<T>& out, std::int64_t ld) {
  const double eps = std::numeric_limits<Real<T>>::epsilon();
  const double terms = 2.0 * std::min(s.hb, s.n) + 2;
  const double c = IsComplex<T>::value ? 2.0 : 1.0;
  int faults = 0;
  for (std::int64_t q = 0; q < s.nrhs; ++q) {
    for (std::int64_t i = 0; i < s.n; ++i) {
      const std::size_t at = q * s.n + i;
      const double err =
          double(std::abs(Wide<T>(out[q * ld + i]) - want.value[at]));
      if (!(err <= c * (terms + 2) * eps * want.scale[at])) ++faults;
    }
    for (std::int64_t i = s.n; i < ld; ++i)
      if (!CSystem<T>::same(out[q * ld + i], sentinel<T>())) ++faults;
  }
  return faults;
}

}  // namespace pband::test
