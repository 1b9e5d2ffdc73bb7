// The solver's result does not depend on the team: blocks, levels and the
// order of every operation are fixed, so teams of any size must leave
// byte-identical factors and solutions. Also the once-per-process choice
// of the block base.
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

// The block base is chosen by the first solve of any type and then kept.
class SolverTuning : public SolverFixture {};

TEST_F(SolverTuning, RealFirstKeepsItsBaseForComplex) {
  pband::testing::set_solver_block_base(0);
  SolveRun<double> real = make_run<double>(50, 2, 1, 5);
  solve_with_team(real, 3);
  EXPECT_EQ(pband::testing::solver_block_base(), 24);
  auto cplx = make_run<std::complex<float>>(50, 2, 1, 5);
  solve_with_team(cplx, 3);
  EXPECT_EQ(pband::testing::solver_block_base(), 24);
}

TEST_F(SolverTuning, ComplexFirstDependsOnTeam) {
  for (auto [team, base] : {std::pair{1, 16}, {2, 16}, {3, 8}, {8, 8}}) {
    pband::testing::set_solver_block_base(0);
    set_team_size(team);
    SolveRun<std::complex<double>> cplx =
        make_run<std::complex<double>>(40, 1, 1, 9);
    solve_with_team(cplx, team);
    EXPECT_EQ(pband::testing::solver_block_base(), base) << "team " << team;
    SolveRun<float> real = make_run<float>(40, 1, 1, 9);
    solve_with_team(real, 1);
    EXPECT_EQ(pband::testing::solver_block_base(), base) << "team " << team;
  }
}

}  // namespace
}  // namespace pband::test
