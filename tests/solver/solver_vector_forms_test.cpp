// The solver's vector forms must leave the bits of the one-block general
// forms: blocks of a phase done in groups, side by side in vector lanes,
// and a wide band's cubic work with vectors across a block; on every
// instruction set, for every team, around the edges of groups, blocks and
// levels.
#include "tests/solver/solver_test_support.hpp"

namespace pband::test {
namespace {

template <class T>
class SolverVectorForms : public SolverFixture {
 protected:
  void TearDown() override {
    pband::testing::set_solver_vector_forms(true);
    pband::testing::set_solver_isa(-1);
    SolverFixture::TearDown();
  }
};
TYPED_TEST_SUITE(SolverVectorForms, ElementTypes);

// One system solved by the general forms on a team of one, then by the
// vector forms on teams of one and three; every instruction set.
template <class T>
void check_groups(std::int32_t base, std::int32_t n, std::int32_t hb,
                  std::int32_t nrhs,
                  SolveFunction<T> solve = Solver<T>::solve) {
  SCOPED_TRACE(::testing::Message() << "base " << base << " n " << n << " hb "
                                    << hb << " nrhs " << nrhs);
  pband::testing::set_solver_block_base(base);
  const SolveRun<T> system = make_run<T>(n, hb, nrhs, 7 * n + hb);
  for (std::int32_t isa = 0; isa <= pband::testing::solver_isa_widest();
       ++isa) {
    pband::testing::set_solver_isa(isa);
    pband::testing::set_solver_vector_forms(false);
    SolveRun<T> one = system;
    solve_with_team(one, 1, solve);
    ASSERT_EQ(one.status, 0);
    pband::testing::set_solver_vector_forms(true);
    for (std::int32_t team : {1, 3}) {
      SCOPED_TRACE(::testing::Message() << "isa " << isa << " team " << team);
      SolveRun<T> grouped = system;
      solve_with_team(grouped, team, solve);
      ASSERT_EQ(grouped.status, 0);
      EXPECT_TRUE(same_bits(grouped.a, one.a)) << "factor differs";
      EXPECT_TRUE(same_bits(grouped.b, one.b)) << "solution differs";
    }
  }
}

// Widths with their own group code (8) and without, with the update
// folded into the factor phase (blocks of 2·hb or more) and in its own
// phase; level-one block counts around multiples of the widest group (16
// blocks) and a last block full, as short as the head, or of one column.
TYPED_TEST(SolverVectorForms, GroupsSameBitsAsOneByOne) {
  const std::int64_t before = pband::testing::solver_groups_done();
  const std::int32_t big = IsComplex<TypeParam>::value ? 16 : 24;
  std::int32_t nrhs = 0;
  for (std::int32_t hb : {1, 3, 4, 8, 9, 16, 17}) {
    for (std::int32_t base : {7, big}) {
      const std::int32_t bs = block_size_for(base, hb);
      for (std::int32_t blocks : {34, 67}) {
        for (std::int32_t last : {bs, hb, 1}) {
          const std::int32_t n = (blocks - 1) * bs + last;
          if (n > 40000) continue;
          check_groups<TypeParam>(base, n, hb, nrhs);
          nrhs = (nrhs + 1) % 4;
        }
      }
    }
  }
  EXPECT_GT(pband::testing::solver_groups_done(), before)
      << "no group was taken";
}

// Wide bands (blocks of hb + 1): vector lengths that fill vectors and
// leave remainders, a last block full, short or of one column; for the
// complex types also hb 16, compiled apart, and the widest they take.
template <class T>
void check_wide(SolveFunction<T> solve = Solver<T>::solve) {
  std::vector<std::int32_t> hbs = {23, 33, 64};
  if (IsComplex<T>::value) hbs = {16, 23, 33, 64, 65};
  std::int32_t nrhs = 1;
  for (std::int32_t hb : hbs) {
    const std::int32_t bs = block_size_for(24, hb);
    for (std::int32_t last : {bs, 1}) {
      check_groups<T>(24, 20 * bs + last, hb, nrhs, solve);
      nrhs = nrhs % 3 + 1;
    }
  }
}

TYPED_TEST(SolverVectorForms, WideBandsSameBitsAsGeneral) {
  check_wide<TypeParam>();
}

// Hermitian systems in complex storage: the wide forms' conjugates and
// real divisors.
template <class R>
void solve_hermitian(std::complex<R>* a, std::int32_t n, std::int32_t hb,
                     std::complex<R>* b, std::int32_t nrhs, std::complex<R>* w,
                     std::int32_t& status) {
  using H = Hermitian<R>;
  auto h = [](std::complex<R>* p) { return reinterpret_cast<H*>(p); };
  if constexpr (std::is_same_v<R, float>)
    solve_band_system_h8(h(a), n, hb, h(b), nrhs, h(w), status);
  else
    solve_band_system_h16(h(a), n, hb, h(b), nrhs, h(w), status);
}

using HermitianVectorForms = SolverVectorForms<std::complex<double>>;
TEST_F(HermitianVectorForms, WideBandsSameBitsAsGeneral) {
  check_wide<std::complex<float>>(&solve_hermitian<float>);
  check_wide<std::complex<double>>(&solve_hermitian<double>);
}

}  // namespace
}  // namespace pband::test
