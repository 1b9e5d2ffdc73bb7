// Exact agreements the elimination order guarantees: the bits of a plain
// serial solve with the same order of terms, the same bits for every team
// size, the factorization's L equal to factor-and-solve's, the
// substitution's forward sweep equal to factor-and-solve's y, and the
// counters left at the first value past the end (one step per barrier).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/bandlib/bandlib_test_support.hpp"

namespace pband::test {
namespace {

struct Case {
  std::int32_t n, hb, nb;
};

// Several row blocks per phase (nb < hb), one (nb >= hb), none beyond the
// pivot (hb = 0), and a last block cut short.
const Case kCases[] = {{97, 8, 1},  {97, 8, 4}, {101, 17, 4}, {150, 17, 2},
                       {50, 3, 32}, {64, 0, 4}, {33, 17, 1},  {5, 8, 2}};

std::int32_t steps(std::int32_t n, std::int32_t width) {
  return (n + width - 1) / width;
}

template <class T>
class BandBits : public ::testing::Test {};
TYPED_TEST_SUITE(BandBits, ElementTypes);

TYPED_TEST(BandBits, WorkersGiveTheSameBitsForEveryTeamSize) {
  using T = TypeParam;
  for (const Case& c : kCases) {
    const auto a0 = random_band_matrix<T>(c.n, c.hb, 11 + c.n);
    const auto b0 = random_rhs<T>(c.n, 1, 12 + c.n);
    std::vector<T> fs_a1, fs_b1, f_a1, s_b1;
    for (std::int32_t size : {1, 2, 3, 5}) {
      SCOPED_TRACE(::testing::Message() << "n=" << c.n << " hb=" << c.hb
                                        << " nb=" << c.nb << " team=" << size);
      auto fs_a = a0, fs_b = b0, f_a = a0;
      WorkerTeam fs, f, s;
      factor_solve_on_team(size, fs_a, c.n, c.hb, fs_b, c.nb, fs);
      factor_on_team(size, f_a, c.n, c.hb, c.nb, f);
      auto s_b = b0;
      substitute_on_team(size, fs_a, c.n, c.hb, s_b, c.nb, s);
      if (size == 1) {
        fs_a1 = fs_a, fs_b1 = fs_b, f_a1 = f_a, s_b1 = s_b;
        // The promised order of terms, checked against a plain solve.
        const auto fs_ref = serial_solve(a0, c.n, c.hb, b0, 2 * c.nb);
        const auto s_ref = serial_solve(a0, c.n, c.hb, b0, c.nb);
        EXPECT_TRUE(same_bits(fs_a, fs_ref.l)) << "L";
        EXPECT_TRUE(same_bits(f_a, fs_a)) << "factorization's L";
        EXPECT_TRUE(same_bits(fs_b, fs_ref.x)) << "factor-and-solve x";
        EXPECT_TRUE(same_bits(s_b, s_ref.x)) << "substitution x";
      } else {
        EXPECT_TRUE(same_bits(fs_a, fs_a1)) << "factor-and-solve A";
        EXPECT_TRUE(same_bits(fs_b, fs_b1)) << "factor-and-solve B";
        EXPECT_TRUE(same_bits(f_a, f_a1)) << "factorization A";
        EXPECT_TRUE(same_bits(s_b, s_b1)) << "substitution B";
      }
      // One counter step per barrier: ⌈n/nb⌉ forward barriers, then
      // ⌈n/2nb⌉ (factor-and-solve) or ⌈n/nb⌉ (substitution) backward.
      const std::int32_t fwd = 1 + steps(c.n, c.nb) * c.nb;
      EXPECT_EQ(fs.forward_pivot, fwd);
      EXPECT_EQ(fs.forward_next, fwd);
      EXPECT_EQ(fs.backward_pivot, c.n - steps(c.n, 2 * c.nb) * 2 * c.nb);
      EXPECT_EQ(fs.backward_next, fs.backward_pivot);
      EXPECT_EQ(f.forward_pivot, fwd);
      EXPECT_EQ(f.forward_next, fwd);
      EXPECT_EQ(s.forward_pivot, fwd);
      EXPECT_EQ(s.backward_pivot, c.n - steps(c.n, c.nb) * c.nb);
      EXPECT_EQ(s.backward_next, s.backward_pivot);
      for (const WorkerTeam* t : {&fs, &f}) {
        EXPECT_EQ(t->failure_flags[0].load(), 0);
        EXPECT_EQ(t->failure_flags[1].load(), 0);
      }
    }
  }
}

TYPED_TEST(BandBits, DriversGiveTheSameBitsForEveryTeamSize) {
  using T = TypeParam;
  FakeProcessors eight;
  const Case c{120, 17, 2};
  const auto a0 = random_band_matrix<T>(c.n, c.hb, 5);
  const auto b0 = random_rhs<T>(c.n, 1, 6);
  // The team of one, run directly, is the reference.
  auto ref_a = a0, ref_b = b0;
  WorkerTeam t;
  factor_solve_on_team(1, ref_a, c.n, c.hb, ref_b, c.nb, t);
  auto ref_x2 = b0;
  substitute_on_team(1, ref_a, c.n, c.hb, ref_x2, c.nb, t);
  for (std::int32_t size : {1, 2, 3, 5}) {
    SCOPED_TRACE(::testing::Message() << "team=" << size);
    set_team_size(size);
    std::int32_t got = 0;
    get_team_size(got);
    ASSERT_EQ(got, size);
    auto a = a0, b = b0, l = a0, x2 = b0;
    std::int32_t s1 = -99, s2 = -99, s3 = -99;
    within(kHangLimit, [&] {
      Lib<T>::factor_solve(a.data(), c.n, c.hb, b.data(), c.nb, s1);
      Lib<T>::factor(l.data(), c.n, c.hb, c.nb, s2);
      Lib<T>::substitute(l.data(), c.n, c.hb, x2.data(), c.nb, s3);
    });
    EXPECT_EQ(s1, 0);
    EXPECT_EQ(s2, 0);
    EXPECT_EQ(s3, 0);
    EXPECT_TRUE(same_bits(a, ref_a));
    EXPECT_TRUE(same_bits(b, ref_b));
    EXPECT_TRUE(same_bits(l, ref_a));
    EXPECT_TRUE(same_bits(x2, ref_x2));
  }
}

TYPED_TEST(BandBits, FactorizationLeavesTheFactorOfFactorSolve) {
  using T = TypeParam;
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << "n=" << c.n << " hb=" << c.hb << " nb=" << c.nb);
    const auto a0 = random_band_matrix<T>(c.n, c.hb, 21 + c.nb);
    auto a = a0, l = a0;
    auto b = random_rhs<T>(c.n, 1, 22);
    std::int32_t s1 = -99, s2 = -99;
    within(kHangLimit, [&] {
      Lib<T>::factor_solve(a.data(), c.n, c.hb, b.data(), c.nb, s1);
      Lib<T>::factor(l.data(), c.n, c.hb, c.nb, s2);
    });
    ASSERT_EQ(s1, 0);
    ASSERT_EQ(s2, 0);
    EXPECT_FALSE(same_bits(l, a0)) << "nothing was factored";
    EXPECT_TRUE(same_bits(l, a));
  }
}

TYPED_TEST(BandBits, SubstitutionForwardSweepGivesFactorSolveY) {
  using T = TypeParam;
  const double eps = std::numeric_limits<Real<T>>::epsilon();
  for (const Case& c : kCases) {
    for (std::int32_t size : {1, 3}) {
      SCOPED_TRACE(::testing::Message() << "n=" << c.n << " hb=" << c.hb
                                        << " nb=" << c.nb << " team=" << size);
      const auto a0 = random_band_matrix<T>(c.n, c.hb, 31 + c.hb);
      const auto b0 = random_rhs<T>(c.n, 1, 32 + c.n);
      // Factor-and-solve with its backward sweep skipped: L and y.
      auto l = a0, y = b0;
      WorkerTeam fs;
      factor_solve_on_team(size, l, c.n, c.hb, y, c.nb, fs, true);
      EXPECT_EQ(fs.backward_pivot, 0) << "a backward phase ran";
      auto full_a = a0, full_b = b0;
      WorkerTeam full;
      factor_solve_on_team(size, full_a, c.n, c.hb, full_b, c.nb, full);
      ASSERT_TRUE(same_bits(l, full_a)) << "skipping changed L";
      // y solves L·y = b.
      double worst = 0;
      for (std::int64_t i = 1; i <= c.n; ++i) {
        Wide<T> s = -Wide<T>(b0[i - 1]);
        for (std::int64_t k = std::max<std::int64_t>(1, i - c.hb); k <= i; ++k)
          s += Wide<T>(l[pos(i, k, c.hb)]) * Wide<T>(y[k - 1]);
        worst = std::max(worst, double(std::abs(s)));
      }
      EXPECT_LT(worst, 30.0 * (c.hb + 1) * eps * (1 + max_abs(y)));
      // The substitution's forward sweep alone, on that L.
      auto y2 = b0;
      WorkerTeam s;
      substitute_on_team(size, l, c.n, c.hb, y2, c.nb, s, true);
      EXPECT_EQ(s.forward_pivot, 1 + steps(c.n, c.nb) * c.nb);
      EXPECT_TRUE(same_bits(y2, y));
      EXPECT_TRUE(same_bits(y, serial_solve(a0, c.n, c.hb, b0, c.nb).y));
    }
  }
}

}  // namespace
}  // namespace pband::test
