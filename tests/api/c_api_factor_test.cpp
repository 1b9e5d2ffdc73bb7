// The C interface's stored factor: factor once, solve many times, with the
// bits of pband_solve_* of the same system; padded layouts, argument
// checks that touch nothing, and factors of other systems refused.
#include "tests/api/c_api_support.hpp"

namespace pband::test {
namespace {

template <class T>
struct CFactor;
#define PBAND_TEST_C_FACTOR(T, L)                                  \
  template <>                                                      \
  struct CFactor<T> {                                              \
    static constexpr auto workspace = &pband_factor_workspace_##L; \
    static constexpr auto factor = &pband_factor_##L;              \
    static constexpr auto solve = &pband_solve_factored_##L;       \
  };
PBAND_TEST_C_FACTOR(float, s)
PBAND_TEST_C_FACTOR(double, d)
PBAND_TEST_C_FACTOR(std::complex<float>, c)
PBAND_TEST_C_FACTOR(std::complex<double>, z)
#undef PBAND_TEST_C_FACTOR

template <class T>
class CApiFactor : public ::testing::Test {};
TYPED_TEST_SUITE(CApiFactor, ElementTypes);

// hb above n - 1, padded band and right-hand sides, one and several
// right-hand sides, factor and solve on different teams; right-hand sides
// near underflow, whose solutions the solve flushes where it goes below the
// smallest normal number.
TYPED_TEST(CApiFactor, SameBitsAsOneSolve) {
  using T = TypeParam;
  using F = CFactor<T>;
  struct Case {
    std::int32_t n, hb, nrhs, ab_pad, b_pad;
    bool tiny = false;
  };
  for (const Case c :
       {Case{1000, 8, 1, 0, 0}, Case{777, 3, 3, 2, 5}, Case{500, 17, 2, 0, 0},
        Case{5, 9, 2, 1, 1}, Case{2000, 2, 1, 3, 0},
        // large enough for cyclic reduction, and for the two-way order
        Case{9000, 8, 2, 0, 1}, Case{4000, 20, 3, 1, 2},
        Case{9000, 8, 1, 0, 0, true}, Case{4000, 20, 1, 0, 0, true}}) {
    for (std::int32_t threads : {1, 2}) {
      SCOPED_TRACE(::testing::Message()
                   << "n " << c.n << " hb " << c.hb << " nrhs " << c.nrhs
                   << " threads " << threads);
      CSystem<T> once =
          c_system<T>(c.n, c.hb, c.nrhs, c.ab_pad, c.b_pad, c.n + c.hb);
      if (c.tiny) {
        for (T& v : once.b) v *= std::numeric_limits<Real<T>>::min();
        once.lay_out();
      }
      CSystem<T> f = once;
      ASSERT_EQ(c_solve(once, threads), 0);

      const std::int64_t lfactor = F::workspace(f.n, f.hb, f.ldab);
      ASSERT_GT(lfactor, 0);
      std::vector<T> factor(lfactor);
      ASSERT_EQ(F::factor(f.n, f.hb, c_ptr(f.ab.data()), f.ldab,
                          c_ptr(factor.data()), lfactor, threads),
                0);
      EXPECT_TRUE(f.outside_untouched(c.ab_pad > 0));
      const std::vector<T> ab_kept = f.ab, factor_kept = factor;
      for (std::int32_t solve_threads : {1, 3}) {
        CSystem<T> s = f;
        ASSERT_EQ(F::solve(s.n, s.hb, s.nrhs, c_ptr(s.ab.data()), s.ldab,
                           c_ptr(factor.data()), lfactor, c_ptr(s.bb.data()),
                           s.ldb, solve_threads),
                  0);
        EXPECT_TRUE(same_bits(s.x(), once.x()));
        EXPECT_TRUE(s.outside_untouched(false));
        EXPECT_TRUE(same_bits(s.ab, ab_kept)) << "the solve wrote ab";
      }
      EXPECT_TRUE(same_bits(factor, factor_kept)) << "the solve wrote it";
    }
  }
}

TYPED_TEST(CApiFactor, ArgumentsTouchNothing) {
  using T = TypeParam;
  using F = CFactor<T>;
  CSystem<T> s = c_system<T>(50, 4, 2, 1, 1, 3);
  const std::int64_t lf = F::workspace(s.n, s.hb, s.ldab);
  EXPECT_EQ(F::workspace(-1, 4, 6), -1);
  EXPECT_EQ(F::workspace(50, -1, 6), -2);
  EXPECT_EQ(F::workspace(50, 4, 4), -3);
  // Larger than any address space: said so, without overflow.
  EXPECT_EQ(F::workspace(2'000'000'000, 2'000'000'000, 2'000'000'001),
            PBAND_OUT_OF_MEMORY);
  EXPECT_GT(F::workspace(1'000'000, 8, 9), 2 * 1'000'000 * 8);
  std::vector<T> factor(lf, sentinel<T>());
  const CSystem<T> kept = s;
  auto* ab = c_ptr(s.ab.data());
  auto* fp = c_ptr(factor.data());
  EXPECT_EQ(F::factor(-1, 4, ab, s.ldab, fp, lf, 1), -1);
  EXPECT_EQ(F::factor(50, -1, ab, s.ldab, fp, lf, 1), -2);
  EXPECT_EQ(F::factor(50, 4, nullptr, s.ldab, fp, lf, 1), -3);
  EXPECT_EQ(F::factor(50, 4, ab, 4, fp, lf, 1), -4);
  EXPECT_EQ(F::factor(50, 4, ab, s.ldab, nullptr, lf, 1), -5);
  EXPECT_EQ(F::factor(50, 4, ab, s.ldab, fp, lf - 1, 1), -6);
  EXPECT_TRUE(same_bits(s.ab, kept.ab));
  for (const T& v : factor) ASSERT_TRUE(CSystem<T>::same(v, sentinel<T>()));

  ASSERT_EQ(F::factor(50, 4, ab, s.ldab, fp, lf, 1), 0);
  auto* b = c_ptr(s.bb.data());
  EXPECT_EQ(F::solve(-1, 4, 2, ab, s.ldab, fp, lf, b, s.ldb, 1), -1);
  EXPECT_EQ(F::solve(50, -1, 2, ab, s.ldab, fp, lf, b, s.ldb, 1), -2);
  EXPECT_EQ(F::solve(50, 4, -1, ab, s.ldab, fp, lf, b, s.ldb, 1), -3);
  EXPECT_EQ(F::solve(50, 4, 2, nullptr, s.ldab, fp, lf, b, s.ldb, 1), -4);
  EXPECT_EQ(F::solve(50, 4, 2, ab, 4, fp, lf, b, s.ldb, 1), -5);
  EXPECT_EQ(F::solve(50, 4, 2, ab, s.ldab, nullptr, lf, b, s.ldb, 1), -6);
  EXPECT_EQ(F::solve(50, 4, 2, ab, s.ldab, fp, lf - 1, b, s.ldb, 1), -7);
  EXPECT_EQ(F::solve(50, 4, 2, ab, s.ldab, fp, lf, nullptr, s.ldb, 1), -8);
  EXPECT_EQ(F::solve(50, 4, 2, ab, s.ldab, fp, lf, b, 49, 1), -9);
  // A factor of another system: other n, other hb, other layout.
  EXPECT_EQ(F::solve(49, 4, 2, ab, s.ldab, fp, lf, b, s.ldb, 1), -6);
  EXPECT_EQ(F::solve(50, 3, 2, ab, s.ldab, fp, lf, b, s.ldb, 1), -6);
  EXPECT_EQ(F::solve(50, 4, 2, ab, 5, fp, lf, b, s.ldb, 1), -6);
  EXPECT_TRUE(same_bits(s.bb, kept.bb));
  EXPECT_EQ(F::solve(50, 4, 0, ab, s.ldab, fp, lf, nullptr, s.ldb, 1), 0);
  EXPECT_EQ(F::solve(0, 4, 2, nullptr, 5, nullptr, 0, nullptr, 1, 1), 0);
}

// A failed factor is no factor: its solves are refused.
TYPED_TEST(CApiFactor, FailedPivot) {
  using T = TypeParam;
  using F = CFactor<T>;
  CSystem<T> s = c_system<T>(300, 5, 1, 0, 0, 9);
  s.ab[0] = T(0);  // the first pivot: zero for every type
  const std::int64_t lf = F::workspace(s.n, s.hb, s.ldab);
  std::vector<T> factor(lf);
  EXPECT_EQ(F::factor(s.n, s.hb, c_ptr(s.ab.data()), s.ldab,
                      c_ptr(factor.data()), lf, 2),
            1);
  const std::vector<T> b = s.bb;
  EXPECT_EQ(F::solve(s.n, s.hb, 1, c_ptr(s.ab.data()), s.ldab,
                     c_ptr(factor.data()), lf, c_ptr(s.bb.data()), s.ldb, 1),
            -6);
  EXPECT_TRUE(same_bits(s.bb, b));
}

}  // namespace
}  // namespace pband::test
