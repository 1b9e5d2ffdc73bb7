// The test system: known matrix values, B against an exact product, and
// bit-identical rebuilds.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "driver/benchmark.hpp"

namespace pband {
namespace {

struct Problem {
  std::int32_t n, hb;
  std::vector<float> a, b, x;
  Problem(std::int32_t n_, std::int32_t hb_)
      : n(n_), hb(hb_), a(band_storage_length(n_, hb_)), b(n_), x(n_) {
    make_test_problem(a.data(), b.data(), x.data(), n, hb, 1);
  }
  float at(std::int64_t i, std::int64_t j) const {
    return a[(j - 1) * (hb + 1) + (i - j)];
  }
};

TEST(TestProblem, MatrixForHalfBandwidthEight) {
  const Problem p(100, 8);
  const float col1[] = {10, 2, 3, 4, 5, 6, 7, 8, 1};
  const float col9[] = {90, 16, 21, 24, 25, 24, 21, 16, 1};
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(p.at(1 + k, 1), col1[k]);
    EXPECT_EQ(p.at(9 + k, 9), col9[k]);
  }
  const float diagonal[] = {10, 80, 270, 640, 1250, 2160, 3430, 5120, 90, 360, 810, 1440};
  for (int j = 0; j < 12; ++j) EXPECT_EQ(p.at(j + 1, j + 1), diagonal[j]);
  // (J, I) = (I - max(1, J-8) + 1)·v(J)·v(I), ten times on the diagonal.
  auto v = [](std::int64_t i) { return float((i - 1) % 8 + 1); };
  for (std::int64_t j = 1; j <= p.n; ++j)
    for (std::int64_t i = j; i <= std::min<std::int64_t>(p.n, j + 8); ++i) {
      float expected = float(j - std::max<std::int64_t>(1, i - 8) + 1) * v(i) * v(j);
      if (i == j) expected *= 10;
      ASSERT_EQ(p.at(i, j), expected) << i << "," << j;
    }
}

TEST(TestProblem, SolutionIsTheGeneratorSequence) {
  const Problem p(1000, 8);
  seed_test_generator();
  for (float value : p.x) {
    float draw;
    random_uniform_r4(draw);
    ASSERT_EQ(value, draw);
  }
}

TEST(TestProblem, RightHandSideIsTheProductToRounding) {
  const Problem p(5000, 8);
  for (std::int64_t l = 1; l <= p.n; ++l) {
    double exact = 0;  // integer entries times 24-bit draws: exact
    for (std::int64_t j = std::max<std::int64_t>(1, l - 8);
         j <= std::min<std::int64_t>(p.n, l + 8); ++j)
      exact += double(j <= l ? p.at(l, j) : p.at(j, l)) * p.x[j - 1];
    ASSERT_NEAR(p.b[l - 1], exact, 1e-5 * exact) << l;
  }
}

TEST(TestProblem, SmallCases) {
  const Problem one(1, 8);
  EXPECT_EQ(one.a.size(), 1u);
  EXPECT_EQ(one.a[0], 10.0f);
  EXPECT_EQ(one.b[0], 10.0f * one.x[0]);

  const Problem diagonal(50, 0);
  ASSERT_EQ(diagonal.a.size(), 50u);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(diagonal.a[i], 10.0f);
    EXPECT_EQ(diagonal.b[i], 10.0f * diagonal.x[i]);
  }
}

TEST(TestProblem, RebuildsBitIdentically) {
  Problem p(3000, 8);
  const auto a = p.a, b = p.b, x = p.x;
  std::fill(p.a.begin(), p.a.end(), -1.0f);  // as a solve leaves them
  std::fill(p.b.begin(), p.b.end(), 7.0f);
  float draw;
  random_uniform_r4(draw);  // a moved generator is reseeded
  make_test_problem(p.a.data(), p.b.data(), p.x.data(), p.n, p.hb, 1);
  EXPECT_EQ(std::memcmp(a.data(), p.a.data(), a.size() * 4), 0);
  EXPECT_EQ(std::memcmp(b.data(), p.b.data(), b.size() * 4), 0);
  EXPECT_EQ(std::memcmp(x.data(), p.x.data(), x.size() * 4), 0);
}

TEST(BandProduct, DoublePrecisionMatchesDenseProduct) {
  const std::int32_t n = 40, hb = 5;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> digit(-9, 9);
  std::vector<double> l(band_storage_length(n, hb));
  for (double& value : l) value = digit(rng);  // small integers: exact sums
  std::vector<double> a = l;
  form_band_llt_r8(a.data(), n, hb);
  auto entry = [&](const std::vector<double>& s, std::int64_t i, std::int64_t j) {
    return (i < j || i - j > hb) ? 0.0 : s[(j - 1) * (hb + 1) + (i - j)];
  };
  for (std::int64_t j = 1; j <= n; ++j)
    for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + hb); ++i) {
      double sum = 0;
      for (std::int64_t k = 1; k <= j; ++k) sum += entry(l, i, k) * entry(l, j, k);
      ASSERT_EQ(entry(a, i, j), sum) << i << "," << j;
    }
}

}  // namespace
}  // namespace pband
