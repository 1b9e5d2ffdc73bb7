// A stored factor gives the bits of the solve that factors as it goes:
// factor once, solve any number of times on any team, for every type,
// around block, group and level boundaries; the factor is only read.
#include "tests/solver/solver_test_support.hpp"

namespace pband::test {
namespace {

template <class T>
struct Factored;
#define PBAND_FACTORED(T, SUFFIX)                                       \
  template <>                                                           \
  struct Factored<T> {                                                  \
    static constexpr auto one_shot = &solve_band_system_library_##SUFFIX;  \
    static constexpr auto factor = &factor_band_system_##SUFFIX;        \
    static constexpr auto solve = &solve_band_system_factored_##SUFFIX; \
  };
PBAND_FACTORED(float, r4)
PBAND_FACTORED(double, r8)
PBAND_FACTORED(std::complex<float>, c8)
PBAND_FACTORED(std::complex<double>, c16)
#undef PBAND_FACTORED

template <class T>
class SolverFactored : public SolverFixture {
 protected:
  void TearDown() override {
    pband::testing::set_solver_vector_forms(true);
    SolverFixture::TearDown();
  }
};
TYPED_TEST_SUITE(SolverFactored, ElementTypes);

template <class T>
void check_factored(std::int32_t base, std::int32_t n, std::int32_t hb,
                    std::int32_t nrhs) {
  using F = Factored<T>;
  SCOPED_TRACE(::testing::Message() << "base " << base << " n " << n << " hb "
                                    << hb << " nrhs " << nrhs);
  pband::testing::set_solver_block_base(base);
  const SolveRun<T> system = make_run<T>(n, hb, nrhs, 5 * n + hb);
  const std::size_t lw = 2 * std::size_t(n) * hb + 1;
  for (std::int32_t team : {1, 3}) {
    SCOPED_TRACE(::testing::Message() << "team " << team);
    SolveRun<T> once = system;
    once.a = system.a0;
    once.b = system.b0;
    std::vector<T> w(lw);
    F::one_shot(once.a.data(), n, hb, once.b.data(), nrhs, w.data(), team,
                once.status);
    ASSERT_EQ(once.status, 0);

    std::vector<T> a = system.a0, factor(lw);
    std::int32_t block_size = 0, status = -100;
    F::factor(a.data(), n, hb, factor.data(), team, block_size, status);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(block_size,
              block_size_for(base, hb) > n ? n : block_size_for(base, hb));
    EXPECT_TRUE(same_bits(a, once.a)) << "factor differs";
    const std::vector<T> a_kept = a, factor_kept = factor;
    for (std::int32_t solve_team : {1, 2, 5}) {
      std::vector<T> b = system.b0;
      status = -100;
      F::solve(a.data(), n, hb, b.data(), nrhs, factor.data(), block_size,
               solve_team, status);
      ASSERT_EQ(status, 0);
      EXPECT_TRUE(same_bits(b, once.b))
          << "solution differs, solve team " << solve_team;
    }
    EXPECT_TRUE(same_bits(a, a_kept)) << "a solve wrote the factor";
    EXPECT_TRUE(same_bits(factor, factor_kept)) << "a solve wrote W";
  }
}

// The real types' widths with and without their own copies, the fold and
// the separate update phase (short blocks), groups and one-block forms,
// wide forms; sizes around whole levels and short last blocks.
TYPED_TEST(SolverFactored, SameBitsAsOneShot) {
  const std::int32_t big = IsComplex<TypeParam>::value ? 16 : 24;
  std::int32_t nrhs = 1;
  for (std::int32_t hb : {0, 1, 2, 3, 8, 16, 17, 33}) {
    for (std::int32_t base : {7, big}) {
      const std::int32_t bs = block_size_for(base, hb);
      for (std::int32_t blocks : {1, 2, 5, 16, 37}) {
        for (std::int32_t extra : {0, 1, bs / 2}) {
          const std::int32_t n = blocks * bs + extra;
          if (n == 0) continue;
          check_factored<TypeParam>(base, n, hb, nrhs);
          nrhs = nrhs % 3 + 1;
        }
      }
    }
  }
}

// Without the vector forms the one-shot takes the general forms only; the
// stored factor's solve must still agree.
TYPED_TEST(SolverFactored, SameBitsWithGeneralForms) {
  pband::testing::set_solver_vector_forms(false);
  check_factored<TypeParam>(24, 1000, 8, 2);
  check_factored<TypeParam>(7, 333, 5, 1);
}

TYPED_TEST(SolverFactored, ArgumentsAndEmptyCalls) {
  using T = TypeParam;
  using F = Factored<T>;
  std::vector<T> a(10, T(1)), b(4, T(2)), w(16, T(3));
  const std::vector<T> b0 = b;
  std::int32_t status = 0;
  F::solve(nullptr, 4, 1, b.data(), 1, w.data(), 2, 1, status);
  EXPECT_EQ(status, -1);
  F::solve(a.data(), -1, 1, b.data(), 1, w.data(), 2, 1, status);
  EXPECT_EQ(status, -2);
  F::solve(a.data(), 4, -1, b.data(), 1, w.data(), 2, 1, status);
  EXPECT_EQ(status, -3);
  F::solve(a.data(), 4, 1, nullptr, 1, w.data(), 2, 1, status);
  EXPECT_EQ(status, -4);
  F::solve(a.data(), 4, 1, b.data(), -1, w.data(), 2, 1, status);
  EXPECT_EQ(status, -5);
  F::solve(a.data(), 4, 1, b.data(), 1, nullptr, 2, 1, status);
  EXPECT_EQ(status, -6);
  F::solve(a.data(), 4, 1, b.data(), 1, w.data(), 0, 1, status);
  EXPECT_EQ(status, -7);
  EXPECT_TRUE(same_bits(b, b0));
  F::solve(a.data(), 4, 1, b.data(), 0, w.data(), 2, 1, status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(same_bits(b, b0));
}

}  // namespace
}  // namespace pband::test
