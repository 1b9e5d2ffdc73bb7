// Same bits from every team: the condition estimate and the refinement
// (x, ferr, berr) on teams of 1, 2, 3 and 5, against a machine that
// reports 32 processors so that the solves and sums really split.
#include "runtime/runtime_testing.hpp"
#include "tests/accuracy/refine_support.hpp"
#include "tests/common/all_processors.hpp"

namespace pband::test {
namespace {

template <class T>
class RefineBits : public ::testing::Test {
 protected:
  void SetUp() override { testing::set_affinity_query(&all_processors); }
  void TearDown() override {
    testing::set_affinity_query(nullptr);
    testing::reset_team_size_state();
  }
};
TYPED_TEST_SUITE(RefineBits, ElementTypes);

TYPED_TEST(RefineBits, EveryTeamAlike) {
  using T = TypeParam;
  using R = Real<T>;
  const std::int32_t n = 20011, hb = 4, nrhs = 3;
  const std::vector<T> band = random_band_matrix<T>(n, hb, 21);
  const std::vector<T> b = random_rhs<T>(n, nrhs, 22);
  std::vector<T> first_x;
  std::vector<R> first_ferr, first_berr;
  R first_rcond = 0;
  for (const std::int32_t team : {1, 2, 3, 5}) {
    SCOPED_TRACE(::testing::Message() << "team " << team);
    // Complex factors keep the cut of their own team: one for every solve.
    const Stored<T> s(band, n, hb, IsComplex<T>::value ? 1 : team);
    ASSERT_EQ(s.status, 0);
    std::vector<T> x = b;
    ASSERT_EQ(
        Refine<T>::solve(n, hb, nrhs, c_ptr(s.af.data()), hb + 1,
                         c_ptr(s.factor.data()), std::int64_t(s.factor.size()),
                         c_ptr(x.data()), n, 1),
        0);
    for (std::size_t i = 0; i < x.size(); i += 3) x[i] *= Real<T>(1.001);
    std::vector<R> ferr, berr;
    R rcond = 0;
    ASSERT_EQ(s.rcond(&rcond, team), 0);
    ASSERT_EQ(s.refine(nrhs, b, x, ferr, berr, team), 0);
    if (team == 1) {
      first_x = x;
      first_ferr = ferr;
      first_berr = berr;
      first_rcond = rcond;
      continue;
    }
    EXPECT_TRUE(same_bits(x, first_x));
    EXPECT_TRUE(same_bits(ferr, first_ferr));
    EXPECT_TRUE(same_bits(berr, first_berr));
    EXPECT_TRUE(same_bits(std::vector<R>{rcond}, std::vector<R>{first_rcond}));
  }
}

}  // namespace
}  // namespace pband::test
