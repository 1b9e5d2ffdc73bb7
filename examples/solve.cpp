// Factors a symmetric positive definite band matrix once with pband from
// C++ and solves it for several right-hand sides, checking the residual.
#include <pband/pband.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

int main() {
  const std::int32_t n = 100000, hb = 3, nrhs = 4;
  auto a = [](std::int32_t i, std::int32_t j) {  // |i - j| <= hb
    return i == j ? 6.0 : 1.0 / (1 + std::abs(i - j));
  };
  std::vector<double> ab(std::size_t(hb + 1) * n), b(std::size_t(n) * nrhs);
  for (std::int32_t j = 0; j < n; ++j)
    for (std::int32_t d = 0; d <= hb && j + d < n; ++d)
      ab[std::size_t(j) * (hb + 1) + d] = a(j + d, j);
  for (std::size_t k = 0; k < b.size(); ++k) b[k] = double(k % 11) - 5;
  const std::vector<double> b0 = b;

  pband::BandView l(ab, n, hb);  // becomes L of A = L·Lᵀ
  if (pband::Result r = pband::cholesky(l); !r) {
    std::fprintf(stderr, "cholesky: %s (column %d)\n", r.message(), r.info);
    return 1;
  }
  pband::cholesky_solve(l, pband::MatrixView(b, n, nrhs));

  double worst = 0;
  for (std::int32_t q = 0; q < nrhs; ++q)
    for (std::int32_t i = 0; i < n; ++i) {
      double r = b0[std::size_t(q) * n + i];
      for (std::int32_t j = std::max(0, i - hb); j <= std::min(n - 1, i + hb);
           ++j)
        r -= a(i, j) * b[std::size_t(q) * n + j];
      worst = std::max(worst, std::abs(r));
    }
  std::printf("C++: pband %s, n = %d, %d right-hand sides, max |b - A x| = "
              "%.3g\n", pband::version(), n, nrhs, worst);
  return worst < 1e-12 ? 0 : 1;
}
