// The benchmark's test system: a symmetric positive definite band matrix
// formed as L·Lᵀ plus nine times its diagonal, a pseudo-random exact
// solution X and B = A·X, bit-identical on every call.
#include <algorithm>
#include <cstdint>

#include "driver/benchmark.hpp"

namespace pband {

namespace {

// 0-based position of (i, j), i >= j, 1-based, column stride kd + 1.
inline std::int64_t at(std::int64_t i, std::int64_t j, std::int64_t kd) {
  return (j - 1) * (kd + 1) + (i - j);
}

// In place: rows from the last up, each from the diagonal leftwards, so
// every value a new one depends on is still the factor's.
template <class T>
void form_band_llt(T* A, std::int32_t n, std::int32_t hb) {
  const std::int64_t kd = std::max(hb, 0);
  for (std::int64_t J = n; J >= 1; --J) {
    const std::int64_t lo = std::max<std::int64_t>(1, J - kd);
    for (std::int64_t I = J; I >= lo; --I) {
      T s = A[at(J, I, kd)] * A[at(I, I, kd)];
      for (std::int64_t K = lo; K < I; ++K) s = s + A[at(J, K, kd)] * A[at(I, K, kd)];
      A[at(J, I, kd)] = s;
    }
  }
}

}  // namespace

std::int64_t band_storage_length(std::int32_t n, std::int32_t hb) {
  if (n <= 0) return 0;
  return std::int64_t(n) + std::int64_t(std::max(hb, 0)) * (n - 1);
}

// Without a status to report in, invalid sizes or a missing array leave
// everything untouched.
void form_band_llt_r4(float* A, std::int32_t n, std::int32_t hb) {
  if (hb < 0 || (n > 0 && A == nullptr)) return;
  form_band_llt(A, n, hb);
}

void form_band_llt_r8(double* A, std::int32_t n, std::int32_t hb) {
  if (hb < 0 || (n > 0 && A == nullptr)) return;
  form_band_llt(A, n, hb);
}

void make_test_problem(float* A, float* B, float* X, std::int32_t n,
                       std::int32_t hb, std::int32_t nrhs) {
  if (n < 0 || hb < 0 || nrhs < 0) return;
  if (n > 0 && (A == nullptr || (nrhs > 0 && (B == nullptr || X == nullptr))))
    return;
  seed_test_generator();
  const std::int64_t kd = std::max(hb, 0);
  const std::int64_t length = band_storage_length(n, hb);

  // The factor L: every stored element of row i holds ((i-1) mod hb) + 1.
  std::int32_t counter = 0;
  for (std::int64_t k = 0; k < length; ++k) {
    ++counter;
    if (counter > hb) counter = 1;
    A[k] = static_cast<float>(counter);
  }
  form_band_llt_r4(A, n, hb);
  for (std::int64_t j = 1; j <= n; ++j) A[at(j, j, kd)] *= 10.0f;

  for (std::int64_t c = 0; c < nrhs; ++c)
    for (std::int64_t r = 0; r < n; ++r) random_uniform_r4(X[c * n + r]);

  // B = A·X: diagonal term, then left of it, then below it.
  for (std::int64_t c = 0; c < nrhs; ++c) {
    const float* x = X + c * n;
    for (std::int64_t l = 1; l <= n; ++l) {
      float s = A[at(l, l, kd)] * x[l - 1];
      for (std::int64_t v = std::max<std::int64_t>(1, l - kd); v < l; ++v)
        s = s + A[at(l, v, kd)] * x[v - 1];
      const std::int64_t last = std::min<std::int64_t>(n, l + kd);
      for (std::int64_t i = l + 1; i <= last; ++i) s = s + A[at(i, l, kd)] * x[i - 1];
      B[c * n + l - 1] = s;
    }
  }
}

}  // namespace pband
