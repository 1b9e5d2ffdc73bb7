// Mixed precision solves: solutions against reference LAPACK with
// LAPACK's scaled residual, every fall back with the double solve's bits,
// argument checks that touch nothing, and the same bits on every team.
#include <cfloat>
#include <complex>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "pband/pband.hpp"
#include "tests/api/c_api_support.hpp"

namespace pband::test {
namespace {

template <class T>
struct Mixed;
template <>
struct Mixed<double> {
  static constexpr auto solve = &pband_solve_mixed_ds;
};
template <>
struct Mixed<std::complex<double>> {
  static constexpr auto solve = &pband_solve_mixed_zc;
};

template <class T>
class MixedSolve : public ::testing::Test {};
using MixedTypes = ::testing::Types<double, std::complex<double>>;
TYPED_TEST_SUITE(MixedSolve, MixedTypes);

// A system, x laid out like b (with its own padding), and what a call
// returned.
template <class T>
struct MixedRun {
  CSystem<T> s;
  std::int32_t ldx = 0;
  std::vector<T> xx;
  std::int32_t iter = -100;
  int status = -100;

  std::vector<T> x() const {
    std::vector<T> out(std::size_t(s.n) * s.nrhs);
    for (std::int64_t q = 0; q < s.nrhs; ++q)
      for (std::int64_t i = 0; i < s.n; ++i) out[q * s.n + i] = xx[q * ldx + i];
    return out;
  }
};

template <class T>
MixedRun<T> mixed_run(CSystem<T> s, std::int32_t x_pad, std::int32_t threads) {
  MixedRun<T> r;
  r.s = std::move(s);
  r.ldx = std::max(r.s.n, 1) + x_pad;
  r.xx.assign(std::size_t(r.ldx) * std::max(r.s.nrhs, 1), sentinel<T>());
  r.status = Mixed<T>::solve(r.s.n, r.s.hb, r.s.nrhs, c_ptr(r.s.ab.data()),
                             r.s.ldab, c_ptr(r.s.bb.data()), r.s.ldb,
                             c_ptr(r.xx.data()), r.ldx, &r.iter, threads);
  return r;
}

// pband_solve_d/_z of a copy of the same system: the fall back's answer.
template <class T>
std::vector<T> double_solve(const CSystem<T>& s) {
  CSystem<T> c = s;
  EXPECT_EQ(c_solve(c, 1), 0);
  return c.x();
}

template <class T>
bool rows_beyond_untouched(const MixedRun<T>& r) {
  for (std::int64_t q = 0; q < r.s.nrhs; ++q)
    for (std::int64_t i = r.s.n; i < r.ldx; ++i)
      if (!CSystem<T>::same(r.xx[q * r.ldx + i], sentinel<T>())) return false;
  return true;
}

TYPED_TEST(MixedSolve, MatchesReferenceLapack) {
  using T = TypeParam;
  for (auto [n, hb, nrhs] : {std::tuple{1, 0, 1},
                             {7, 2, 3},
                             {200, 5, 2},
                             {1000, 16, 1},
                             {30, 40, 2}})
    for (std::int32_t pad : {0, 2}) {
      const CSystem<T> s = c_system<T>(n, hb, nrhs, pad, pad, 11 + n + hb);
      const MixedRun<T> r = mixed_run(s, pad + 1, 0);
      ASSERT_EQ(r.status, 0) << n << " " << hb;
      // Diagonally dominant: single precision is enough to converge.
      EXPECT_GE(r.iter, 0);
      EXPECT_LE(r.iter, 5);
      const std::vector<T> x = r.x();
      std::vector<T> a = s.a;
      EXPECT_LT(scaled_residual(a, n, hb, s.b, x, nrhs), 30.0);
      std::vector<T> ref = s.b;
      ASSERT_EQ(lapack_solve(a, n, hb, ref, nrhs), 0);
      double diff = 0, size = 0;
      for (std::size_t k = 0; k < ref.size(); ++k) {
        diff = std::max(diff, std::abs(x[k] - ref[k]));
        size = std::max(size, std::abs(ref[k]));
      }
      EXPECT_LE(diff, 1e-12 * size) << n << " " << hb;
      // ab and b are only read; the rows beyond n of x never written.
      const CSystem<T> again = c_system<T>(n, hb, nrhs, pad, pad, 11 + n + hb);
      EXPECT_TRUE(same_bits(r.s.ab, again.ab));
      EXPECT_TRUE(same_bits(r.s.bb, again.bb));
      EXPECT_TRUE(rows_beyond_untouched(r));
    }
}

// Scales A (and so x) by `factor`, keeping the system as it was.
template <class T>
void scale_matrix(CSystem<T>& s, double factor) {
  for (auto& v : s.a) v *= Real<T>(factor);
  s.lay_out();
}

TYPED_TEST(MixedSolve, OverflowInSingleFallsBack) {
  using T = TypeParam;
  CSystem<T> big_a = c_system<T>(50, 3, 2, 1, 0, 5);
  scale_matrix(big_a, 1e39);
  CSystem<T> big_b = c_system<T>(50, 3, 2, 0, 1, 6);
  for (auto& v : big_b.b) v *= Real<T>(1e39);
  big_b.lay_out();
  for (const CSystem<T>* s : {&big_a, &big_b}) {
    const MixedRun<T> r = mixed_run(*s, 0, 2);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.iter, -2);
    EXPECT_TRUE(same_bits(r.x(), double_solve(*s)));
    EXPECT_TRUE(same_bits(r.s.ab, s->ab));
  }
}

// A leading 2 × 2 block [1 1; 1 a22] apart from the rest: with a22 =
// 1 + 1e-9 positive definite, but singular once rounded to single, so the
// single factor meets a zero pivot; with a22 = 1 singular in double too.
template <class T>
CSystem<T> singular_block(std::int32_t n, double a22) {
  CSystem<T> s = c_system<T>(n, 1, 2, 0, 0, 9);
  for (std::int64_t j = 1; j <= n; ++j) {
    s.a[pos(j, j, 1)] = T(4);
    if (j < n) s.a[pos(j + 1, j, 1)] = T(1);
  }
  s.a[pos(1, 1, 1)] = T(1);
  s.a[pos(2, 1, 1)] = T(1);
  s.a[pos(2, 2, 1)] = T(a22);
  s.a[pos(3, 2, 1)] = T(0);
  s.lay_out();
  return s;
}

TYPED_TEST(MixedSolve, FailedSingleFactorFallsBack) {
  using T = TypeParam;
  const CSystem<T> s = singular_block<T>(40, 1 + 1e-9);
  const MixedRun<T> r = mixed_run(s, 0, 3);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.iter, -3);
  EXPECT_TRUE(same_bits(r.x(), double_solve(s)));
  EXPECT_LT(scaled_residual(s.a, s.n, s.hb, s.b, r.x(), s.nrhs), 30.0);
}

TYPED_TEST(MixedSolve, NotPositiveDefiniteInDoubleEither) {
  using T = TypeParam;
  const MixedRun<T> r = mixed_run(singular_block<T>(40, 1), 0, 1);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.iter, -3);
}

// tridiag(−1, 2, −1) of order n: condition about 0.4·n², beyond what
// single precision can refine from once n² passes 1/eps of single.
template <class T>
CSystem<T> laplacian(std::int32_t n) {
  CSystem<T> s = c_system<T>(n, 1, 1, 0, 0, 3);
  for (std::int64_t j = 1; j <= n; ++j) {
    s.a[pos(j, j, 1)] = T(2);
    if (j < n) s.a[pos(j + 1, j, 1)] = T(-1);
  }
  s.lay_out();
  return s;
}

TYPED_TEST(MixedSolve, NoConvergenceFallsBack) {
  using T = TypeParam;
  const CSystem<T> hard = laplacian<T>(300000);
  const MixedRun<T> r = mixed_run(hard, 0, 2);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.iter, -31);
  EXPECT_TRUE(same_bits(r.x(), double_solve(hard)));
  // Well within single precision's reach: a few steps.
  const MixedRun<T> easy = mixed_run(laplacian<T>(300), 0, 2);
  EXPECT_EQ(easy.status, 0);
  EXPECT_GE(easy.iter, 1);
  EXPECT_LE(easy.iter, 10);
}

TYPED_TEST(MixedSolve, NanNeverCountsAsConverged) {
  using T = TypeParam;
  CSystem<T> s = c_system<T>(30, 2, 1, 0, 0, 4);
  s.b[7] = T(std::numeric_limits<double>::quiet_NaN());
  s.lay_out();
  const MixedRun<T> r = mixed_run(s, 0, 1);
  EXPECT_EQ(r.iter, -31);
  EXPECT_EQ(r.status, 0);
}

TYPED_TEST(MixedSolve, EmptyAndNoRightHandSide) {
  using T = TypeParam;
  std::int32_t iter = -100;
  EXPECT_EQ(
      Mixed<T>::solve(0, 3, 2, nullptr, 4, nullptr, 1, nullptr, 1, &iter, 1),
      0);
  EXPECT_EQ(iter, 0);
  // nrhs = 0 still factors, as pband_solve_* does.
  const MixedRun<T> r = mixed_run(c_system<T>(20, 2, 0, 0, 0, 8), 0, 1);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.iter, 0);
  CSystem<T> bad = singular_block<T>(40, 1);
  bad.nrhs = 0;
  EXPECT_EQ(mixed_run(bad, 0, 1).status, 1);
}

TYPED_TEST(MixedSolve, ArgumentChecksTouchNothing) {
  using T = TypeParam;
  const CSystem<T> s = c_system<T>(12, 2, 2, 0, 0, 1);
  std::vector<T> x(24, sentinel<T>());
  const auto ab = c_ptr(s.ab.data());
  const auto b = c_ptr(s.bb.data());
  const auto xp = c_ptr(x.data());
  std::int32_t iter = -100;
  const auto call = Mixed<T>::solve;
  EXPECT_EQ(call(-1, 2, 2, ab, 3, b, 12, xp, 12, &iter, 1), -1);
  EXPECT_EQ(call(12, -1, 2, ab, 3, b, 12, xp, 12, &iter, 1), -2);
  EXPECT_EQ(call(12, 2, -1, ab, 3, b, 12, xp, 12, &iter, 1), -3);
  EXPECT_EQ(call(12, 2, 2, nullptr, 3, b, 12, xp, 12, &iter, 1), -4);
  EXPECT_EQ(call(12, 2, 2, ab, 2, b, 12, xp, 12, &iter, 1), -5);
  EXPECT_EQ(call(12, 2, 2, ab, 3, nullptr, 12, xp, 12, &iter, 1), -6);
  EXPECT_EQ(call(12, 2, 2, ab, 3, b, 11, xp, 12, &iter, 1), -7);
  EXPECT_EQ(call(12, 2, 2, ab, 3, b, 12, nullptr, 12, &iter, 1), -8);
  EXPECT_EQ(call(12, 2, 2, ab, 3, b, 12, xp, 11, &iter, 1), -9);
  EXPECT_EQ(call(12, 2, 2, ab, 3, b, 12, xp, 12, nullptr, 1), -10);
  // The first bad argument wins.
  EXPECT_EQ(call(12, 2, 2, ab, 2, b, 12, xp, 11, nullptr, 1), -5);
  EXPECT_EQ(iter, -100);
  for (const T& v : x) EXPECT_TRUE(CSystem<T>::same(v, sentinel<T>()));
  // Arrays may be absent when nothing is in them.
  EXPECT_EQ(call(12, 2, 0, ab, 3, nullptr, 12, nullptr, 12, &iter, 1), 0);
}

TYPED_TEST(MixedSolve, CppInterface) {
  using T = TypeParam;
  const CSystem<T> s = c_system<T>(64, 4, 2, 0, 0, 21);
  std::vector<T> x(s.bb.size());
  const MixedResult r = pband::solve_mixed(BandView<const T>(s.ab, s.n, s.hb),
                                           MatrixView<const T>(s.bb, 64, 2),
                                           MatrixView<T>(x, 64, 2), 1);
  EXPECT_TRUE(r.ok());
  const MixedRun<T> c = mixed_run(s, 0, 1);
  EXPECT_EQ(r.iter, c.iter);
  EXPECT_TRUE(same_bits(x, c.xx));
  std::vector<T> narrow(64);
  EXPECT_THROW((void)pband::solve_mixed(BandView<const T>(s.ab, s.n, s.hb),
                                        MatrixView<const T>(s.bb, 64, 2),
                                        MatrixView<T>(narrow, 64, 1), 1),
               std::invalid_argument);
  const MixedResult bad = pband::solve_mixed(
      BandView<const T>(singular_block<T>(40, 1).ab, 40, 1),
      MatrixView<const T>(s.bb, 40, 1), MatrixView<T>(narrow, 40, 1), 1);
  EXPECT_FALSE(bad.ok());
  EXPECT_EQ(bad.iter, -3);
}

}  // namespace
}  // namespace pband::test
