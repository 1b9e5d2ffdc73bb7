// Pivot failures: a bad pivot in the k-th pivot block ends every thread
// after exactly k barriers with the flag of the k-th phase's parity set,
// no backward phase runs, the drivers report status 1, and nothing hangs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tests/bandlib/bandlib_test_support.hpp"

namespace pband::test {
namespace {

template <class T>
class BandFailure : public ::testing::Test {};
TYPED_TEST_SUITE(BandFailure, ElementTypes);

struct Plant {
  std::int32_t n, hb, nb, block;  // zero pivot in pivot block `block`
};

// First, second, third, middle and last block; parities 1 and 2; a pivot
// at the start, inside and at the end of its block.
const Plant kPlants[] = {{40, 8, 4, 1},   {40, 8, 4, 2},  {40, 3, 1, 3},
                         {41, 17, 2, 11}, {41, 0, 4, 11}, {60, 8, 32, 2},
                         {37, 5, 3, 6},   {9, 2, 1, 9}};

std::int64_t planted_column(const Plant& p) {
  const std::int64_t first = std::int64_t(p.block - 1) * p.nb + 1;
  const std::int64_t last = std::min<std::int64_t>(first + p.nb - 1, p.n);
  // Vary the position inside the block with the block number.
  return first + (p.block % 3 == 0   ? 0
                  : p.block % 3 == 1 ? last - first
                                     : (last - first) / 2);
}

TYPED_TEST(BandFailure, WorkersStopAfterTheFailingPhase) {
  using T = TypeParam;
  for (const Plant& p : kPlants) {
    for (std::int32_t size : {1, 2, 3}) {
      const std::int64_t j = planted_column(p);
      SCOPED_TRACE(::testing::Message()
                   << "n=" << p.n << " hb=" << p.hb << " nb=" << p.nb
                   << " block=" << p.block << " column=" << j
                   << " team=" << size);
      auto a0 = random_band_matrix<T>(p.n, p.hb, 41 + p.block);
      plant_zero_pivot(a0, p.hb, j);
      const auto b0 = random_rhs<T>(p.n, 1, 42);
      const std::int32_t parity_index = (p.block - 1) % 2;

      auto a = a0, b = b0;
      WorkerTeam fs;
      factor_solve_on_team(size, a, p.n, p.hb, b, p.nb, fs);
      EXPECT_EQ(fs.forward_pivot, 1 + p.block * p.nb) << "barriers passed";
      EXPECT_EQ(fs.forward_next, fs.forward_pivot);
      EXPECT_EQ(fs.failure_flags[parity_index].load(), 1);
      EXPECT_EQ(fs.failure_flags[1 - parity_index].load(), 0);
      EXPECT_EQ(fs.backward_pivot, p.n) << "a backward phase ran";
      EXPECT_EQ(fs.backward_next, p.n);
      // The failed column is updated but not scaled: its pivot stays 0.
      EXPECT_EQ(a[pos(j, j, p.hb)], T(0));

      auto l = a0;
      WorkerTeam f;
      factor_on_team(size, l, p.n, p.hb, p.nb, f);
      EXPECT_EQ(f.forward_pivot, 1 + p.block * p.nb);
      EXPECT_EQ(f.failure_flags[parity_index].load(), 1);
      EXPECT_EQ(f.failure_flags[1 - parity_index].load(), 0);
      // Both routines transform A alike up to the failure.
      EXPECT_TRUE(same_bits(l, a));
    }
  }
}

TYPED_TEST(BandFailure, DriversReportStatusOne) {
  using T = TypeParam;
  for (const Plant& p : kPlants) {
    SCOPED_TRACE(::testing::Message() << "n=" << p.n << " hb=" << p.hb << " nb="
                                      << p.nb << " block=" << p.block);
    auto a0 = random_band_matrix<T>(p.n, p.hb, 43);
    plant_zero_pivot(a0, p.hb, planted_column(p));
    auto a = a0, l = a0;
    auto b = random_rhs<T>(p.n, 1, 44);
    std::int32_t s1 = -99, s2 = -99;
    within(kHangLimit, [&] {
      Lib<T>::factor_solve(a.data(), p.n, p.hb, b.data(), p.nb, s1);
      Lib<T>::factor(l.data(), p.n, p.hb, p.nb, s2);
    });
    EXPECT_EQ(s1, 1);
    EXPECT_EQ(s2, 1);
  }
}

// Columns before the failed block hold the finished factor: the factor of
// the same matrix cut off before that block (whose L they must equal).
TYPED_TEST(BandFailure, ColumnsBeforeTheFailedBlockHoldL) {
  using T = TypeParam;
  const std::int32_t n = 48, hb = 8, nb = 4, block = 7;
  const std::int64_t first = (block - 1) * nb + 1;
  auto a0 = random_band_matrix<T>(n, hb, 45);
  plant_zero_pivot(a0, hb, first + 1);
  auto a = a0;
  auto b = random_rhs<T>(n, 1, 46);
  WorkerTeam t;
  factor_solve_on_team(2, a, n, hb, b, nb, t);
  ASSERT_EQ(t.failure_flags[(block - 1) % 2].load(), 1);
  // A leading section of a band matrix whose n is a multiple of nb is
  // factored by the same operations on its columns.
  const std::int32_t cut = std::int32_t(first - 1 + hb);
  std::vector<T> lead(a0.begin(), a0.begin() + band_length(cut, hb));
  std::vector<T> lead_b(std::size_t(cut), T(1));
  WorkerTeam u;
  factor_solve_on_team(1, lead, cut, hb, lead_b, nb, u);
  for (std::int64_t col = 1; col < first; ++col)
    for (std::int64_t i = col; i <= std::min<std::int64_t>(col + hb, cut); ++i)
      EXPECT_EQ(a[pos(i, col, hb)], lead[pos(i, col, hb)])
          << "L(" << i << ", " << col << ")";
}

// The pivot test compares with the threshold: equal fails, above passes.
TYPED_TEST(BandFailure, ThresholdDecidesExactlyAtThePivotValue) {
  using T = TypeParam;
  using R = Real<T>;
  const std::int32_t n = 20, hb = 3, nb = 2;
  // Off-diagonals 0: every updated pivot is its diagonal element exactly.
  std::vector<T> a0(band_length(n, hb), T(0));
  for (std::int64_t i = 1; i <= n; ++i) a0[pos(i, i, hb)] = T(R(9));
  a0[pos(13, 13, hb)] = T(R(4));  // pivot block 7
  const auto b0 = random_rhs<T>(n, 1, 47);
  for (R threshold : {R(4), std::nextafter(R(4), R(0))}) {
    const bool fails = threshold == R(4);
    SCOPED_TRACE(::testing::Message() << "threshold=" << threshold);
    auto a = a0, b = b0;
    WorkerTeam t;
    factor_solve_on_team(2, a, n, hb, b, nb, t, false, threshold);
    EXPECT_EQ(t.failure_flags[0].load(), fails ? 1 : 0);
    EXPECT_EQ(t.failure_flags[1].load(), 0);
    EXPECT_EQ(t.forward_pivot, fails ? 1 + 7 * nb : 1 + 10 * nb);
    if (!fails) {
      EXPECT_EQ(a[pos(13, 13, hb)], T(R(2)));
    }
  }
}

}  // namespace
}  // namespace pband::test
