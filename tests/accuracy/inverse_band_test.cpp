// The band of the inverse from a natural-order factor: against a dense
// inverse in a wider type, for every type, widths up to and beyond n, and
// padded storage left alone; each invalid argument refused, nothing
// touched.
#include <gtest/gtest.h>
#include <vector>

#include "pband/pband.h"
#include "tests/common/band_test_util.hpp"

namespace pband::test {
namespace {

template <class T>
struct Calls;
#define PBAND_TEST_INVERSE(T, L)                             \
  template <>                                                \
  struct Calls<T> {                                          \
    static constexpr auto cholesky = &pband_cholesky_##L;    \
    static constexpr auto inverse = &pband_inverse_band_##L; \
  };
PBAND_TEST_INVERSE(float, s)
PBAND_TEST_INVERSE(double, d)
PBAND_TEST_INVERSE(std::complex<float>, c)
PBAND_TEST_INVERSE(std::complex<double>, z)
#undef PBAND_TEST_INVERSE

template <class T>
auto* c_of(T* p) {
  if constexpr (std::is_same_v<T, std::complex<float>>)
    return reinterpret_cast<pband_complex_float*>(p);
  else if constexpr (std::is_same_v<T, std::complex<double>>)
    return reinterpret_cast<pband_complex_double*>(p);
  else
    return p;
}

// inv(A) of the compact band a, by Gauss-Jordan in the wide type (the
// matrices are diagonally dominant: no pivoting needed).
template <class T>
std::vector<Wide<T>> dense_inverse(const std::vector<T>& a, std::int32_t n,
                                   std::int32_t hb) {
  using W = Wide<T>;
  std::vector<W> m(std::size_t(n) * n), inv(std::size_t(n) * n);
  for (std::int64_t i = 1; i <= n; ++i)
    for (std::int64_t j = 1; j <= n; ++j) {
      if (std::abs(i - j) <= hb)
        m[(i - 1) * n + (j - 1)] =
            W(a[pos(std::max(i, j), std::min(i, j), hb)]);
      inv[(i - 1) * n + (j - 1)] = W(i == j ? 1 : 0);
    }
  for (std::int64_t p = 0; p < n; ++p) {
    const W d = m[p * n + p];
    for (std::int64_t c = 0; c < n; ++c) {
      m[p * n + c] /= d;
      inv[p * n + c] /= d;
    }
    for (std::int64_t r = 0; r < n; ++r) {
      if (r == p) continue;
      const W f = m[r * n + p];
      for (std::int64_t c = 0; c < n; ++c) {
        m[r * n + c] -= f * m[p * n + c];
        inv[r * n + c] -= f * inv[p * n + c];
      }
    }
  }
  return inv;
}

template <class T>
class InverseBand : public ::testing::Test {};
using Types =
    ::testing::Types<float, double, std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(InverseBand, Types);

TYPED_TEST(InverseBand, MatchesTheDenseInverse) {
  using T = TypeParam;
  const double eps = std::numeric_limits<Real<T>>::epsilon();
  for (std::int32_t n : {1, 2, 7, 40}) {
    for (std::int32_t hb : {0, 1, 3, 9}) {
      SCOPED_TRACE(::testing::Message() << "n " << n << " hb " << hb);
      const std::vector<T> a = random_band_matrix<T>(n, hb, 17 * n + hb);
      const std::int32_t ld = hb + 3;  // padded: two rows never touched
      std::vector<T> l(std::size_t(ld) * n, T(-9)), z(l.size(), T(-9));
      for (std::int64_t j = 0; j < n; ++j)
        for (std::int64_t r = 0; r <= hb && j + r < n; ++r)
          l[j * ld + r] = a[pos(j + r + 1, j + 1, hb)];
      ASSERT_EQ(Calls<T>::cholesky(n, hb, c_of(l.data()), ld, 1), 0);
      const std::vector<T> l_kept = l;
      ASSERT_EQ(
          Calls<T>::inverse(n, hb, c_of(l.data()), ld, c_of(z.data()), ld), 0);
      EXPECT_EQ(std::memcmp(l.data(), l_kept.data(), l.size() * sizeof(T)), 0);
      const auto inv = dense_inverse(a, n, hb);
      double biggest = 0;
      for (const auto& v : inv)
        biggest = std::max(biggest, double(std::abs(v)));
      for (std::int64_t j = 0; j < n; ++j) {
        for (std::int64_t r = 0; r < ld; ++r) {
          const T got = z[j * ld + r];
          if (r > hb || j + r >= n) {
            EXPECT_EQ(got, T(-9)) << "outside the band, row " << r;
            continue;
          }
          const auto want = inv[(j + r) * n + j];
          EXPECT_LT(std::abs(Wide<T>(got) - want), 50 * n * eps * biggest)
              << "row " << j + r + 1 << " column " << j + 1;
        }
      }
    }
  }
}

TYPED_TEST(InverseBand, ArgumentsTouchNothing) {
  using T = TypeParam;
  std::vector<T> l(12, T(1)), z(12, T(5));
  auto* lp = c_of(l.data());
  auto* zp = c_of(z.data());
  EXPECT_EQ(Calls<T>::inverse(-1, 2, lp, 3, zp, 3), -1);
  EXPECT_EQ(Calls<T>::inverse(4, -1, lp, 3, zp, 3), -2);
  EXPECT_EQ(Calls<T>::inverse(4, 2, nullptr, 3, zp, 3), -3);
  EXPECT_EQ(Calls<T>::inverse(4, 2, lp, 2, zp, 3), -4);
  EXPECT_EQ(Calls<T>::inverse(4, 2, lp, 3, nullptr, 3), -5);
  EXPECT_EQ(Calls<T>::inverse(4, 2, lp, 3, zp, 2), -6);
  for (const T& v : z) EXPECT_EQ(v, T(5));
  EXPECT_EQ(Calls<T>::inverse(0, 2, nullptr, 3, nullptr, 3), 0);
}

}  // namespace
}  // namespace pband::test
