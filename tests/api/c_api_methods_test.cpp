// The natural orders the C interface takes for small systems and wide
// bands: against LAPACK around the bounds where they start, the same bits
// on every team, and a matrix whose halves are positive definite while the
// whole is not.
#include <algorithm>
#include <cfenv>
#include <tuple>
#include <utility>
#include <xmmintrin.h>

#include "tests/api/c_api_support.hpp"
#include "tests/bandlib/bandlib_test_support.hpp"

namespace pband::test {
namespace {

// The widths from which the library solves in two ways (docs/api.md).
template <class T>
constexpr std::int32_t kTwoWayHb = IsComplex<T>::value ? 12
                                  : sizeof(T) == 4     ? 17
                                                       : 9;

template <class T>
class MethodsTest : public ::testing::Test {};
TYPED_TEST_SUITE(MethodsTest, ElementTypes);

TYPED_TEST(MethodsTest, SolvesAsLapackOnEveryTeam) {
  using T = TypeParam;
  const std::int32_t w = kTwoWayHb<T>;
  for (std::int32_t hb : {w - 1, w, w + 3, 2 * w, 100}) {
    // The least n for the two-way order: room for the seam, and past the
    // one-way bound.
    const std::int32_t least =
        std::max(4 * (hb + 1), ((1 << 16) + hb) / (hb + 1));
    for (std::int32_t n : {least - 1, least, least + 1, least + 1001}) {
      const auto [nrhs, ab_pad, b_pad] =
          n % 2 == 0 ? std::tuple{3, 2, 3} : std::tuple{1, 0, 0};
      SCOPED_TRACE(::testing::Message() << "n " << n << " hb " << hb);
      CSystem<T> s = c_system<T>(n, hb, nrhs, ab_pad, b_pad, 7 * n + hb);
      ASSERT_EQ(c_solve(s, 1), 0);
      EXPECT_LT(scaled_residual(s.a, n, hb, s.b, s.x(), nrhs), 30.0);
      EXPECT_TRUE(s.outside_untouched(s.ldab != hb + 1));
      std::vector<T> ref = s.b;
      ASSERT_EQ(lapack_solve(s.a, n, hb, ref, nrhs), 0);
      const double eps = std::numeric_limits<Real<T>>::epsilon();
      EXPECT_LT(max_abs_diff(s.x(), ref), 1e3 * eps * max_abs(ref));
      for (std::int32_t threads : {2, 3}) {
        CSystem<T> t = c_system<T>(n, hb, nrhs, ab_pad, b_pad, 7 * n + hb);
        ASSERT_EQ(c_solve(t, threads), 0);
        EXPECT_TRUE(same_bits(t.x(), s.x())) << "threads " << threads;
      }
    }
  }
}

// Either side of the bound below which a system is solved in natural
// order on the calling thread (which needs no workspace), against LAPACK
// and on every team.
TYPED_TEST(MethodsTest, EitherSideOfTheOneWayBound) {
  using T = TypeParam;
  for (std::int32_t hb : {1, 4, 8}) {
    const std::int32_t below = ((hb >= 8 ? 1 << 16 : 1 << 15) - 1) / (hb + 1);
    for (std::int32_t n : {below, below + 1}) {
      EXPECT_EQ(CApi<T>::workspace(n, hb, 1, hb + 1, n) == 0, n == below)
          << "n " << n << " hb " << hb;
      SCOPED_TRACE(::testing::Message() << "n " << n << " hb " << hb);
      CSystem<T> s = c_system<T>(n, hb, 2, 1, 0, n);
      ASSERT_EQ(c_solve(s, 1), 0);
      std::vector<T> ref = s.b;
      ASSERT_EQ(lapack_solve(s.a, n, hb, ref, 2), 0);
      const double eps = std::numeric_limits<Real<T>>::epsilon();
      EXPECT_LT(max_abs_diff(s.x(), ref), 1e3 * eps * max_abs(ref));
      CSystem<T> t = c_system<T>(n, hb, 2, 1, 0, n);
      ASSERT_EQ(c_solve(t, 2), 0);
      EXPECT_TRUE(same_bits(t.x(), s.x()));
    }
  }
}

// Identity halves joined across the split by a coupling of 1: each half
// factors, the whole is singular (a zero pivot, which fails the complex
// symmetric test too), and only the seam can tell.
TYPED_TEST(MethodsTest, IndefiniteSeamFails) {
  using T = TypeParam;
  const std::int32_t hb = kTwoWayHb<T>, n = 4096, split = n / 2;
  for (std::int32_t reach : {1, hb}) {
    SCOPED_TRACE(::testing::Message() << "coupling " << reach << " apart");
    CSystem<T> s = c_system<T>(n, hb, 1, 0, 0, 3);
    for (T& v : s.a) v = T(0);
    for (std::int64_t j = 1; j <= n; ++j) s.a[pos(j, j, hb)] = T(1);
    const std::int64_t j = split - (reach - 1) / 2;
    s.a[pos(j + reach, j, hb)] = T(1);
    s.lay_out();
    EXPECT_EQ(c_solve(s, 2), 1);
  }
}

// 4·I with the smallest normal number on the right: every solution
// element is subnormal, and each method flushes it to zero on every thread.
// The caller's mode is given back as it was, and the flags its own work
// raised stay (on one thread that is all of it; flags are per thread).
TYPED_TEST(MethodsTest, FlushesSubnormalResultsAndKeepsTheCallersMode) {
  using T = TypeParam;
  constexpr unsigned kFlush = 0x8000u;
  const unsigned mode = _mm_getcsr();
  struct Case {
    std::int32_t n, hb;
    const char* method;
  };
  const Case cases[] = {{100, 2, "one way"},
                        {20000, 2, "cyclic reduction"},
                        {8000, kTwoWayHb<T>, "two ways"}};
  for (const Case& c : cases)
    for (const auto& [caller_flushes, threads] :
         {std::pair{false, 1}, std::pair{true, 1}, std::pair{false, 2},
          std::pair{true, 2}}) {
      SCOPED_TRACE(::testing::Message()
                   << c.method << (caller_flushes ? ", caller flushes" : "")
                   << ", threads " << threads);
      CSystem<T> s = c_system<T>(c.n, c.hb, 2, 1, 1, 5);
      for (T& v : s.a) v = T(0);
      for (std::int64_t j = 1; j <= c.n; ++j) s.a[pos(j, j, c.hb)] = T(4);
      for (T& v : s.b) v = T(std::numeric_limits<Real<T>>::min());
      s.lay_out();
      _mm_setcsr(caller_flushes ? mode | kFlush : mode & ~kFlush);
      std::feclearexcept(FE_ALL_EXCEPT);
      const int status = c_solve(s, threads);
      const bool underflow = std::fetestexcept(FE_UNDERFLOW) != 0;
      const unsigned after = _mm_getcsr();
      _mm_setcsr(mode);
      ASSERT_EQ(status, 0);
      EXPECT_EQ(after & kFlush, caller_flushes ? kFlush : 0u);
      if (threads == 1) {
        EXPECT_TRUE(underflow);
      }
      EXPECT_EQ(max_abs(s.x()), 0.0);
    }
}

}  // namespace
}  // namespace pband::test
