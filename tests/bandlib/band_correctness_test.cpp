// The band routines against LAPACK: solutions judged by the scaled
// residual and compared with ?pbsv (real) or ?gbsv of the full band
// (complex symmetric), factors by ‖L·Lᵀ − A‖, over block widths, half
// bandwidths and sizes that put the last pivot block in every position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tests/bandlib/bandlib_test_support.hpp"

namespace pband::test {
namespace {

struct Shape {
  std::int32_t n, hb, nb;
};

// n in {1, nb, nb + 1, many blocks} for nb in {1, 4, 32}, hb in
// {0, 1, 8, 17}; "many" also reaches well past 2·hb rows.
std::vector<Shape> shapes() {
  std::vector<Shape> out;
  for (std::int32_t nb : {1, 4, 32})
    for (std::int32_t hb : {0, 1, 8, 17})
      for (std::int32_t n : {1, nb, nb + 1, std::max(7 * nb + 3, 3 * hb + 5)})
        out.push_back({n, hb, nb});
  return out;
}

std::uint64_t seed_of(const Shape& s) {
  return 1000003u * std::uint64_t(s.n) + 1009u * s.hb + s.nb;
}

template <class T>
class BandCorrectness : public ::testing::Test {};
TYPED_TEST_SUITE(BandCorrectness, ElementTypes);

TYPED_TEST(BandCorrectness, FactorSolveAgreesWithLapack) {
  using T = TypeParam;
  const double eps = std::numeric_limits<Real<T>>::epsilon();
  for (const Shape& s : shapes()) {
    SCOPED_TRACE(::testing::Message()
                 << "n=" << s.n << " hb=" << s.hb << " nb=" << s.nb);
    const auto a0 = random_band_matrix<T>(s.n, s.hb, seed_of(s));
    const auto b0 = random_rhs<T>(s.n, 1, seed_of(s) + 1);
    auto a = a0;
    auto x = b0;
    std::int32_t status = -99;
    within(kHangLimit, [&] {
      Lib<T>::factor_solve(a.data(), s.n, s.hb, x.data(), s.nb, status);
    });
    ASSERT_EQ(status, 0);
    const double ratio = scaled_residual(a0, s.n, s.hb, b0, x, 1);
    EXPECT_LT(ratio, 30.0) << "scaled residual";
    EXPECT_LT(factor_residual(a0, a, s.n, s.hb), 30.0) << "factor residual";

    auto xr = b0;
    ASSERT_EQ(lapack_solve(a0, s.n, s.hb, xr, 1), 0);
    // The matrices are diagonally dominant by at least 1, so the two
    // solutions can differ only by rounding.
    EXPECT_LE(max_abs_diff(x, xr), 100.0 * (s.hb + 1) * eps * max_abs(xr))
        << "far from LAPACK's solution";
  }
}

TYPED_TEST(BandCorrectness, FactorThenSubstituteSolves) {
  using T = TypeParam;
  for (const Shape& s : shapes()) {
    SCOPED_TRACE(::testing::Message()
                 << "n=" << s.n << " hb=" << s.hb << " nb=" << s.nb);
    const auto a0 = random_band_matrix<T>(s.n, s.hb, seed_of(s) + 7);
    const auto b0 = random_rhs<T>(s.n, 1, seed_of(s) + 8);
    auto l = a0;
    auto x = b0;
    std::int32_t factor_status = -99, solve_status = -99;
    within(kHangLimit, [&] {
      Lib<T>::factor(l.data(), s.n, s.hb, s.nb, factor_status);
      Lib<T>::substitute(l.data(), s.n, s.hb, x.data(), s.nb, solve_status);
    });
    ASSERT_EQ(factor_status, 0);
    ASSERT_EQ(solve_status, 0);
    EXPECT_LT(factor_residual(a0, l, s.n, s.hb), 30.0) << "factor residual";
    EXPECT_LT(scaled_residual(a0, s.n, s.hb, b0, x, 1), 30.0)
        << "scaled residual";
  }
}

// A factor made elsewhere (here in a wider type, then rounded) is a valid
// input of the substitution too: it needs nothing but L in band storage.
TYPED_TEST(BandCorrectness, SubstituteSolvesWithAnyValidFactor) {
  using T = TypeParam;
  const std::int32_t n = 61, hb = 8;
  for (std::int32_t nb : {1, 4, 32}) {
    SCOPED_TRACE(::testing::Message() << "nb=" << nb);
    const auto a0 = random_band_matrix<T>(n, hb, 77);
    const auto b0 = random_rhs<T>(n, 1, 78);
    // A reference L built in the widest type, then rounded.
    std::vector<Wide<T>> w(a0.begin(), a0.end());
    for (std::int64_t j = 1; j <= n; ++j) {
      for (std::int64_t k = std::max<std::int64_t>(1, j - hb); k < j; ++k)
        for (std::int64_t i = j; i <= std::min<std::int64_t>(n, k + hb); ++i)
          w[pos(i, j, hb)] -= w[pos(i, k, hb)] * w[pos(j, k, hb)];
      const Wide<T> d = std::sqrt(w[pos(j, j, hb)]);
      w[pos(j, j, hb)] = d;
      for (std::int64_t i = j + 1; i <= std::min<std::int64_t>(n, j + hb); ++i)
        w[pos(i, j, hb)] /= d;
    }
    std::vector<T> l(w.size());
    std::transform(w.begin(), w.end(), l.begin(),
                   [](const Wide<T>& v) { return T(v); });
    auto x = b0;
    std::int32_t status = -99;
    within(kHangLimit,
           [&] { Lib<T>::substitute(l.data(), n, hb, x.data(), nb, status); });
    ASSERT_EQ(status, 0);
    EXPECT_LT(scaled_residual(a0, n, hb, b0, x, 1), 30.0);
  }
}

}  // namespace
}  // namespace pband::test
