// Same bits from every team: the norm, product and residual on teams of
// 1, 2, 3, 5 and all processors, at sizes around the claim boundaries,
// against a machine that reports 32 processors so the teams really form.
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "accuracy/row_team.hpp"
#include "runtime/runtime_testing.hpp"
#include "tests/accuracy/accuracy_support.hpp"
#include "tests/common/all_processors.hpp"

namespace pband::test {
namespace {

template <class T>
class AccuracyBits : public ::testing::Test {
 protected:
  void SetUp() override { testing::set_affinity_query(&all_processors); }
  void TearDown() override {
    testing::set_affinity_query(nullptr);
    testing::reset_team_size_state();
  }
};
TYPED_TEST_SUITE(AccuracyBits, ElementTypes);

constexpr std::int32_t kTeams[] = {2, 3, 5, 0};

TEST(RowSplit, SmallCallsStayOnTheCallingThread) {
  testing::set_affinity_query(&all_processors);
  EXPECT_EQ(split_rows(kSerialWork / 17 - 1, 17, 5).team, 1);
  EXPECT_EQ(split_rows(kSerialWork, 1, 1).team, 1);
  EXPECT_EQ(split_rows(kSerialWork, 1, 5).team, 2);
  EXPECT_EQ(split_rows(100 * kSerialWork, 1, 5).team, 5);
  EXPECT_EQ(split_rows(100, kClaimWork / 4, 5).rows_per_claim, 4);
  testing::set_affinity_query(nullptr);
  testing::reset_team_size_state();
}

// Sizes just below, at and above a multiple of the claim.
std::vector<std::int32_t> around_claims(std::int32_t hb, std::int32_t nrhs) {
  const std::int64_t work = (2 * hb + 1) * nrhs;
  const std::int64_t claim = split_rows(1, work, 1).rows_per_claim;
  const std::int64_t k = 3 * kSerialWork / (claim * work) + 2;
  return {std::int32_t(k * claim - 1), std::int32_t(k * claim),
          std::int32_t(k * claim + 1), std::int32_t((k + 3) * claim + 7)};
}

TYPED_TEST(AccuracyBits, NormOnEveryTeam) {
  using T = TypeParam;
  for (std::int32_t hb : {0, 5, 16})
    for (std::int32_t n : around_claims(hb, 1)) {
      ASSERT_GT(split_rows(n, 2 * hb + 1, 5).team, 2);
      const CSystem<T> s = c_system<T>(n, hb, 1, 1, 0, 3 + hb);
      Real<T> one = 0, many = 0;
      ASSERT_EQ(Accuracy<T>::norm1(n, hb, c_ptr(s.ab.data()), s.ldab, &one, 1),
                0);
      for (std::int32_t team : kTeams) {
        ASSERT_EQ(
            Accuracy<T>::norm1(n, hb, c_ptr(s.ab.data()), s.ldab, &many, team),
            0);
        EXPECT_EQ(std::memcmp(&one, &many, sizeof one), 0)
            << "n " << n << " hb " << hb << " team " << team;
      }
    }
}

TYPED_TEST(AccuracyBits, ProductAndResidualOnEveryTeam) {
  using T = TypeParam;
  for (auto [hb_, nrhs_] : {std::pair{1, 1}, {8, 3}})
    for (std::int32_t n : around_claims(hb_, nrhs_)) {
      // Named copies: lambdas cannot capture structured bindings in every
      // compiler this builds with.
      const std::int32_t hb = hb_, nrhs = nrhs_;
      ASSERT_GT(split_rows(n, (2 * hb + 1) * nrhs, 5).team, 2);
      const CSystem<T> s = c_system<T>(n, hb, nrhs, 0, 1, 7 + n);
      const std::vector<T> b = random_rhs<T>(n, nrhs, 9);
      const std::size_t size = std::size_t(n) * nrhs;
      auto run = [&](std::int32_t team, bool residual) {
        std::vector<T> out(size, sentinel<T>());
        const int status =
            residual ? Accuracy<T>::residual(n, hb, nrhs, c_ptr(s.ab.data()),
                                             s.ldab, c_ptr(s.bb.data()), s.ldb,
                                             c_ptr(b.data()), n,
                                             c_ptr(out.data()), n, team)
                     : Accuracy<T>::multiply(n, hb, nrhs, c_ptr(s.ab.data()),
                                             s.ldab, c_ptr(s.bb.data()), s.ldb,
                                             c_ptr(out.data()), n, team);
        EXPECT_EQ(status, 0);
        return out;
      };
      for (bool residual : {false, true}) {
        const std::vector<T> one = run(1, residual);
        for (std::int32_t team : kTeams)
          EXPECT_EQ(std::memcmp(one.data(), run(team, residual).data(),
                                size * sizeof(T)),
                    0)
              << "n " << n << " hb " << hb << " team " << team
              << (residual ? " residual" : " product");
      }
    }
}

}  // namespace
}  // namespace pband::test
