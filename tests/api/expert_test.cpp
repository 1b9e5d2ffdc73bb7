// The expert driver: equilibration as reference LAPACK's dpbequ and
// dlaqsb decide, X scaled back and checked against dpbsv of the original
// system, the condition estimate and refinement's bounds, status n + 1 on
// a matrix singular to working precision, the caller's factor, argument
// checks that touch nothing.
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "tests/api/c_api_support.hpp"

namespace pband::test {
namespace {

// A badly scaled system: rows and columns j multiplied by 10^(j mod 5).
CSystem<double> graded(std::int32_t n, std::int32_t hb) {
  CSystem<double> s = c_system<double>(n, hb, 2, 1, 1, 3 + n);
  for (std::int64_t j = 1; j <= n; ++j)
    for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + hb); ++i)
      s.a[pos(i, j, hb)] *= std::pow(10.0, (j % 5) + (i % 5));
  s.lay_out();
  return s;
}

struct Expert {
  CSystem<double> s;
  std::vector<double> afb, factor, sc, xx, ferr, berr;
  std::int32_t ldafb = 0;
  char equed = '?';
  double rcond = -1;
  int status = -100;

  explicit Expert(CSystem<double> sys) : s(std::move(sys)) {
    ldafb = s.hb + 2;
    afb.assign(std::size_t(ldafb) * s.n, -5);
    factor.resize(pband_factor_workspace_d(s.n, s.hb, ldafb));
    sc.assign(s.n, -5);
    xx.assign(s.bb.size(), -5);
    ferr.assign(s.nrhs, -5);
    berr.assign(s.nrhs, -5);
  }
  int run(char fact) {
    status = pband_solve_expert_d(
        fact, s.n, s.hb, s.nrhs, s.ab.data(), s.ldab, afb.data(), ldafb, &equed,
        sc.data(), factor.data(), std::int64_t(factor.size()), s.bb.data(),
        s.ldb, xx.data(), s.ldb, &rcond, ferr.data(), berr.data(), 1);
    return status;
  }
  std::vector<double> x() const {
    CSystem<double> c = s;
    c.bb = xx;
    return c.x();
  }
};

TEST(Expert, EquilibratesAsLapackAndScalesBack) {
  const CSystem<double> original = graded(60, 3);
  Expert e(original);
  ASSERT_EQ(e.run('E'), 0);
  EXPECT_EQ(e.equed, 'Y');
  // The scaled matrix is well conditioned: the estimate says so.
  EXPECT_GT(e.rcond, 1e-3);
  EXPECT_LE(e.rcond, 1.0);
  // The factors and the scaled band are dpbequ's and dlaqsb's: the
  // equilibration suite checks those; here X of the original system.
  std::vector<double> a = original.a, ref = original.b;
  ASSERT_EQ(lapack_solve(a, 60, 3, ref, 2), 0);
  const std::vector<double> x = e.x();
  for (std::size_t k = 0; k < ref.size(); ++k)
    EXPECT_NEAR(x[k], ref[k], 1e-9 * std::abs(ref[k]) + 1e-300) << k;
  // The bounds hold: the true error is below ferr, berr near eps.
  for (std::int32_t q = 0; q < 2; ++q) {
    double err = 0, big = 0;
    for (std::int64_t i = 0; i < 60; ++i) {
      err = std::max(err, std::abs(x[q * 60 + i] - ref[q * 60 + i]));
      big = std::max(big, std::abs(ref[q * 60 + i]));
    }
    EXPECT_LE(err / big, e.ferr[q] * 1.0001 + 1e-15) << q;
    EXPECT_LT(e.berr[q], 1e-14) << q;
  }
}

TEST(Expert, WellScaledIsLeftAlone) {
  Expert e(c_system<double>(40, 2, 1, 1, 1, 8));
  ASSERT_EQ(e.run('E'), 0);
  EXPECT_EQ(e.equed, 'N');
  EXPECT_LT(scaled_residual(e.s.a, 40, 2, e.s.b, e.x(), 1), 30.0);
}

TEST(Expert, SmallRcondIsNPlusOne) {
  // Diagonal, one element 1e-18 of the others: condition 1e18.
  CSystem<double> s = c_system<double>(40, 2, 1, 0, 0, 8);
  std::fill(s.a.begin(), s.a.end(), 0.0);
  for (std::int64_t j = 1; j <= 40; ++j) s.a[pos(j, j, 2)] = 1.0;
  s.a[pos(17, 17, 2)] = 1e-18;
  s.lay_out();
  Expert e(s);
  EXPECT_EQ(e.run('N'), 41);
  EXPECT_LT(e.rcond, 1e-16);
  EXPECT_GT(e.rcond, 0.0);
  // The solution and the bounds are still there.
  EXPECT_LT(scaled_residual(e.s.a, 40, 2, e.s.b, e.x(), 1), 30.0);
  EXPECT_GE(e.berr[0], 0.0);
  EXPECT_GE(e.ferr[0], 0.0);
}

TEST(Expert, FailedFactorGivesRcondZero) {
  CSystem<double> s = c_system<double>(30, 1, 1, 0, 0, 2);
  s.a[pos(5, 5, 1)] = -1;
  s.lay_out();
  Expert e(s);
  EXPECT_EQ(e.run('N'), 1);
  EXPECT_EQ(e.rcond, 0);
}

TEST(Expert, CallersFactor) {
  Expert e(c_system<double>(50, 4, 2, 1, 1, 6));
  ASSERT_EQ(e.run('N'), 0);
  const std::vector<double> first = e.xx;
  // 'F' with the factor just made: the same X.
  std::fill(e.xx.begin(), e.xx.end(), -5);
  e.equed = 'N';
  ASSERT_EQ(e.run('F'), 0);
  EXPECT_TRUE(same_bits(e.xx, first));
  // What is not a factor is refused.
  e.factor[0] = 0;
  EXPECT_EQ(e.run('F'), -11);
}

TEST(Expert, ArgumentChecksTouchNothing) {
  Expert e(c_system<double>(10, 2, 1, 0, 0, 1));
  const std::vector<double> ab = e.s.ab, bb = e.s.bb;
  auto call = [&](char fact, int32_t n, int32_t hb, int32_t nrhs, double* a,
                  int32_t lda, double* af, int32_t ldaf, char* eq, double* s,
                  double* f, int64_t lf, double* b, int32_t ldb, double* x,
                  int32_t ldx, double* rc, double* fe, double* be) {
    return pband_solve_expert_d(fact, n, hb, nrhs, a, lda, af, ldaf, eq, s, f,
                                lf, b, ldb, x, ldx, rc, fe, be, 1);
  };
  double* a = e.s.ab.data();
  double* af = e.afb.data();
  double* sc = e.sc.data();
  double* f = e.factor.data();
  const int64_t lf = std::int64_t(e.factor.size());
  double* b = e.s.bb.data();
  double* x = e.xx.data();
  double rc = -7;
  double* fe = e.ferr.data();
  double* be = e.berr.data();
  char eq = '?';
  EXPECT_EQ(call('X', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf, b, 10, x, 10, &rc,
                 fe, be),
            -1);
  EXPECT_EQ(call('N', -1, 2, 1, a, 3, af, 4, &eq, sc, f, lf, b, 10, x, 10, &rc,
                 fe, be),
            -2);
  EXPECT_EQ(call('N', 10, -1, 1, a, 3, af, 4, &eq, sc, f, lf, b, 10, x, 10, &rc,
                 fe, be),
            -3);
  EXPECT_EQ(call('N', 10, 2, -1, a, 3, af, 4, &eq, sc, f, lf, b, 10, x, 10, &rc,
                 fe, be),
            -4);
  EXPECT_EQ(call('N', 10, 2, 1, nullptr, 3, af, 4, &eq, sc, f, lf, b, 10, x, 10,
                 &rc, fe, be),
            -5);
  EXPECT_EQ(call('N', 10, 2, 1, a, 2, af, 4, &eq, sc, f, lf, b, 10, x, 10, &rc,
                 fe, be),
            -6);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, nullptr, 4, &eq, sc, f, lf, b, 10, x, 10,
                 &rc, fe, be),
            -7);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 2, &eq, sc, f, lf, b, 10, x, 10, &rc,
                 fe, be),
            -8);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 4, nullptr, sc, f, lf, b, 10, x, 10,
                 &rc, fe, be),
            -9);
  EXPECT_EQ(call('F', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf, b, 10, x, 10, &rc,
                 fe, be),
            -9);
  EXPECT_EQ(call('E', 10, 2, 1, a, 3, af, 4, &eq, nullptr, f, lf, b, 10, x, 10,
                 &rc, fe, be),
            -10);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 4, &eq, sc, nullptr, lf, b, 10, x, 10,
                 &rc, fe, be),
            -11);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf - 1, b, 10, x, 10,
                 &rc, fe, be),
            -12);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf, nullptr, 10, x, 10,
                 &rc, fe, be),
            -13);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf, b, 9, x, 10, &rc,
                 fe, be),
            -14);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf, b, 10, nullptr, 10,
                 &rc, fe, be),
            -15);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf, b, 10, x, 9, &rc,
                 fe, be),
            -16);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf, b, 10, x, 10,
                 nullptr, fe, be),
            -17);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf, b, 10, x, 10, &rc,
                 nullptr, be),
            -18);
  EXPECT_EQ(call('N', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf, b, 10, x, 10, &rc,
                 fe, nullptr),
            -19);
  eq = 'Y';
  e.sc.assign(10, 1.0);
  e.sc[4] = 0;
  EXPECT_EQ(call('F', 10, 2, 1, a, 3, af, 4, &eq, sc, f, lf, b, 10, x, 10, &rc,
                 fe, be),
            -10);
  EXPECT_EQ(eq, 'Y');
  EXPECT_EQ(rc, -7);
  EXPECT_TRUE(same_bits(e.s.ab, ab));
  EXPECT_TRUE(same_bits(e.s.bb, bb));
  for (double v : e.xx) EXPECT_EQ(v, -5);
}

}  // namespace
}  // namespace pband::test
