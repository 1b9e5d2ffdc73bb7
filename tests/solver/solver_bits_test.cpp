// The solver's result does not depend on the team: blocks, levels and the
// order of every operation are fixed, so teams of any size must leave
// byte-identical factors and solutions. Also each call's own choice of
// the block base.
#include "tests/solver/solver_test_support.hpp"

namespace pband::test {
namespace {

template <class T>
class SolverBits : public SolverFixture {};
TYPED_TEST_SUITE(SolverBits, ElementTypes);

// Teams of 2, 3, 5 and 8 against the team of one, on systems with many
// blocks and levels (small block base) and on the default cut.
template <class T>
void check_teams(std::int32_t base, std::int32_t n, std::int32_t hb,
                 std::int32_t nrhs) {
  pband::testing::set_solver_block_base(base);
  SCOPED_TRACE(::testing::Message() << "base " << base << " n " << n
                                    << " hb " << hb << " nrhs " << nrhs);
  SolveRun<T> one = make_run<T>(n, hb, nrhs, 31 * n + hb);
  solve_with_team(one, 1);
  ASSERT_EQ(one.status, 0);
  if (nrhs > 0) {
    ASSERT_LT(scaled_residual(one.a0, n, hb, one.b0, one.b, nrhs), 30.0);
  }
  for (std::int32_t team : {2, 3, 5, 8, 1}) {
    SCOPED_TRACE(::testing::Message() << "team " << team);
    SolveRun<T> other = one;
    solve_with_team(other, team);
    ASSERT_EQ(other.status, 0);
    EXPECT_TRUE(same_bits(other.a, one.a)) << "factor differs";
    EXPECT_TRUE(same_bits(other.b, one.b)) << "solution differs";
  }
}

TYPED_TEST(SolverBits, ManyLevelsNarrowBand) {
  check_teams<TypeParam>(3, 4 * 61 + 1, 2, 2);  // 62 blocks of 4
}
TYPED_TEST(SolverBits, ManyLevelsWideBand) {
  check_teams<TypeParam>(3, 18 * 21 + 7, 17, 1);  // short last block
}
TYPED_TEST(SolverBits, DefaultCut) {
  check_teams<TypeParam>(IsComplex<TypeParam>::value ? 8 : 24, 2000, 8, 3);
}
TYPED_TEST(SolverBits, DiagonalOnly) {
  check_teams<TypeParam>(3, 100, 0, 1);
}

// Every call takes its block base from its own element type and the team
// it asks for, so a solve gives the bits of that base whatever ran before.
class SolverTuning : public SolverFixture {};

// The solve's bits with the base forced, for comparison.
template <class T>
SolveRun<T> forced_base_run(const SolveRun<T>& system, std::int32_t base) {
  pband::testing::set_solver_block_base(base);
  SolveRun<T> r = system;
  solve_with_team(r, 1);
  pband::testing::set_solver_block_base(0);
  return r;
}

template <class T>
bool same_solve(const SolveRun<T>& x, const SolveRun<T>& y) {
  return x.status == 0 && y.status == 0 && same_bits(x.a, y.a) &&
         same_bits(x.b, y.b);
}

TEST_F(SolverTuning, EveryCallChoosesItsOwnBase) {
  using C = std::complex<double>;
  // hb 1: 256 columns a block with base 16, 64 with base 8.
  const SolveRun<C> cplx = make_run<C>(1000, 1, 2, 9);
  const SolveRun<float> real = make_run<float>(1000, 1, 2, 9);
  const SolveRun<C> by16 = forced_base_run(cplx, 16);
  const SolveRun<C> by8 = forced_base_run(cplx, 8);
  const SolveRun<float> by24 = forced_base_run(real, 24);
  ASSERT_FALSE(same_bits(by16.b, by8.b)) << "the bases must be told apart";
  // Large teams and small ones in turn, real solves in between.
  const std::pair<std::int32_t, bool> order[] = {
      {3, true}, {1, false}, {1, true}, {3, true}, {8, false},
      {2, true}, {8, true},  {2, false}, {3, true}};
  for (auto [team, is_complex] : order) {
    SCOPED_TRACE(::testing::Message() << "team " << team
                                      << (is_complex ? " complex" : " real"));
    if (is_complex) {
      SolveRun<C> r = cplx;
      solve_with_team(r, team);
      EXPECT_TRUE(same_solve(r, team <= 2 ? by16 : by8));
    } else {
      SolveRun<float> r = real;
      solve_with_team(r, team);
      EXPECT_TRUE(same_solve(r, by24));
    }
  }
  EXPECT_EQ(pband::testing::solver_block_base(), 0) << "a base was kept";
}

// The base follows the team asked for, not the threads that started.
TEST_F(SolverTuning, ThreadsThatFailToStartKeepTheBase) {
  using C = std::complex<float>;
  const SolveRun<C> cplx = make_run<C>(800, 2, 1, 12);
  const SolveRun<C> by8 = forced_base_run(cplx, 8);
  for (std::int32_t started : {0, 1}) {
    SCOPED_TRACE(::testing::Message() << "workers started " << started);
    pband::testing::os_fail_creation(pband::testing::OsObject::thread,
                                     started);
    SolveRun<C> r = cplx;
    solve_with_team(r, 4);
    pband::testing::os_clear_faults();
    EXPECT_TRUE(same_solve(r, by8));
  }
  EXPECT_EQ(workers_in_use(), 0);
}

}  // namespace
}  // namespace pband::test
