// The condition estimate: against the true 1/(‖A‖₁‖A⁻¹‖₁) from a dense
// inverse in a wider type and, for the real types, reference ?pbcon on
// LAPACK's factor, over well and ill conditioned and scaled matrices;
// ?pbcon's special values; argument checks that touch nothing.
#include <cstdio>
#include <limits>

#include "tests/accuracy/refine_support.hpp"

namespace pband::test {
namespace {

template <class T>
class Condition : public ::testing::Test {};
TYPED_TEST_SUITE(Condition, ElementTypes);

// Reference ?pbcon after ?pbtrf on the same band, lower form.
template <class T>
Real<T> lapack_rcond(std::vector<T> a, int n, int hb, Real<T> anorm) {
  const int ld = hb + 1;
  int info = 0;
  Real<T> r = -1;
  std::vector<T> work(3 * n);
  std::vector<int> iwork(n);
  if constexpr (std::is_same_v<T, float>) {
    spbtrf_("L", &n, &hb, a.data(), &ld, &info, 1);
    spbcon_("L", &n, &hb, a.data(), &ld, &anorm, &r, work.data(), iwork.data(),
            &info, 1);
  } else {
    dpbtrf_("L", &n, &hb, a.data(), &ld, &info, 1);
    dpbcon_("L", &n, &hb, a.data(), &ld, &anorm, &r, work.data(), iwork.data(),
            &info, 1);
  }
  return r;
}

TYPED_TEST(Condition, WithinTenOfTheTrueValue) {
  using T = TypeParam;
  using R = Real<T>;
  const double eps = std::numeric_limits<R>::epsilon() / 2;
  const double tiny = 0.25 * std::numeric_limits<R>::min() / eps;
  struct Case {
    double cond, scale;
  };
  const Case cases[] = {{2, 1},
                        {std::sqrt(0.1 / eps), 1},
                        {0.1 / eps, 1},
                        {2, tiny},
                        {2, 1 / tiny}};
  double worst = 1;
  for (const Case c : cases)
    for (const std::int32_t hb : {1, 4}) {
      const std::int32_t n = 160;
      SCOPED_TRACE(::testing::Message() << "cond " << c.cond << " scale "
                                        << c.scale << " hb " << hb);
      const std::vector<T> band =
          conditioned_band<T>(n, hb, c.cond, c.scale, n + hb);
      const Stored<T> s(band, n, hb, 2);
      ASSERT_EQ(s.status, 0);
      R rcond = -1;
      ASSERT_EQ(s.rcond(&rcond, 2), 0);
      const double truth =
          1 / (double(s.anorm) * dense_norm1(dense_inverse(band, n, hb), n));
      // The estimate of ‖A⁻¹‖₁ is a lower bound (to the solves' error).
      EXPECT_GE(rcond, truth / 2);
      EXPECT_LE(rcond, 10 * truth);
      // On these matrices the estimate is near exact, not just within 10.
      EXPECT_LE(rcond, 3 * truth);
      worst = std::max({worst, rcond / truth, truth / rcond});
      if constexpr (!IsComplex<T>::value) {
        const R ref = lapack_rcond(band, n, hb, s.anorm);
        EXPECT_GE(rcond, ref / 2);
        EXPECT_LE(rcond, ref * 2);
      }
    }
  std::printf("worst ratio to the true rcond: %.4g\n", worst);
}

TYPED_TEST(Condition, SpecialValuesAsPbcon) {
  using T = TypeParam;
  using R = Real<T>;
  const Stored<T> s(random_band_matrix<T>(50, 2, 3), 50, 2, 1);
  Stored<T> zero = s;
  R r = -1;
  zero.anorm = 0;
  ASSERT_EQ(zero.rcond(&r, 1), 0);
  EXPECT_EQ(r, R(0));
  zero.anorm = std::numeric_limits<R>::quiet_NaN();
  ASSERT_EQ(zero.rcond(&r, 1), 0);
  EXPECT_TRUE(std::isnan(r));
  if constexpr (!IsComplex<T>::value) {
    EXPECT_TRUE(std::isnan(lapack_rcond(s.a, 50, 2, zero.anorm)));
  }
  r = -1;
  ASSERT_EQ(Refine<T>::rcond(0, 0, nullptr, 1, nullptr, 0, R(1), &r, 1), 0);
  EXPECT_EQ(r, R(1));
}

TYPED_TEST(Condition, BadArgumentsTouchNothing) {
  using T = TypeParam;
  using R = Real<T>;
  const Stored<T> s(random_band_matrix<T>(40, 3, 5), 40, 3, 1);
  const Stored<T> other(random_band_matrix<T>(41, 3, 5), 41, 3, 1);
  const auto* ab = c_ptr(s.af.data());
  const auto* f = c_ptr(s.factor.data());
  const std::int64_t lf = std::int64_t(s.factor.size());
  R r = -5;
  const auto call = [&](std::int32_t n, std::int32_t hb, decltype(ab) a,
                        std::int32_t ld, decltype(f) fa, std::int64_t l,
                        R anorm, R* out) {
    return Refine<T>::rcond(n, hb, a, ld, fa, l, anorm, out, 1);
  };
  EXPECT_EQ(call(-1, 3, ab, 4, f, lf, 1, &r), -1);
  EXPECT_EQ(call(40, -1, ab, 4, f, lf, 1, &r), -2);
  EXPECT_EQ(call(40, 3, nullptr, 4, f, lf, 1, &r), -3);
  EXPECT_EQ(call(40, 3, ab, 3, f, lf, 1, &r), -4);
  EXPECT_EQ(call(40, 3, ab, 4, c_ptr(other.factor.data()), lf, 1, &r), -5);
  EXPECT_EQ(call(40, 3, ab, 4, f, lf - 1, 1, &r), -6);
  EXPECT_EQ(call(40, 3, ab, 4, f, lf, -1, &r), -7);
  EXPECT_EQ(call(40, 3, ab, 4, f, lf, 1, nullptr), -8);
  EXPECT_EQ(r, R(-5));
}

}  // namespace
}  // namespace pband::test
