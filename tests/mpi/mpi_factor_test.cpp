// The distributed stored factor: its solves against the one-process solve
// (the same bits, for several right-hand sides, splits and teams), a
// failed factor that its solves refuse on every rank, and the share of
// another piece refused.
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "mpi/system_setup.hpp"
#include "tests/common/band_test_util.hpp"
#include "tests/mpi/mpi_test_util.hpp"

namespace pband::test {
namespace {

template <class T>
class MpiFactor : public ::testing::Test {};
using Types =
    ::testing::Types<float, double, std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(MpiFactor, Types);

// This rank's piece of a system (band stride hb + 1) and its share of
// the factor.
template <class T>
struct Share {
  std::int64_t first = 0;
  std::int32_t count = 0;
  std::vector<T> ab, factor;

  Share(const std::vector<T>& a, std::int32_t n, std::int32_t hb, Split s) {
    const auto counts = split_rows(n, ranks(), s);
    first = first_row(counts, rank_of());
    count = static_cast<std::int32_t>(counts[std::size_t(rank_of())]);
    ab.assign(a.begin() + first * (hb + 1),
              a.begin() + std::min<std::int64_t>(std::int64_t(a.size()),
                                                 (first + count) * (hb + 1)));
    ab.resize(std::size_t(std::max(count, 1)) * (hb + 1));
    const std::int64_t need =
        mpi_factor_workspace<T>(n, hb, first, count, hb + 1);
    EXPECT_GE(need, 0);
    factor.assign(std::size_t(std::max<std::int64_t>(need, 1)), T(0));
  }
  // Solves with the share; the elements of X whose bits differ from x's.
  std::int64_t solve_differs(const std::vector<T>& rhs, const std::vector<T>& x,
                             std::int32_t n, std::int32_t hb, std::int32_t nrhs,
                             std::int32_t threads) {
    const std::int32_t ldb = std::max(count, 1);
    std::vector<T> b(std::size_t(ldb) * nrhs);
    for (std::int64_t q = 0; q < nrhs; ++q)
      for (std::int64_t i = 0; i < count; ++i)
        b[std::size_t(q * ldb + i)] = rhs[std::size_t(q * n + first + i)];
    const int status = mpi_solve_factored<T>(
        MPI_COMM_WORLD, n, hb, nrhs, first, count, factor.data(),
        std::int64_t(factor.size()), b.data(), ldb, threads);
    EXPECT_EQ(highest(status), 0);
    EXPECT_EQ(lowest(status), 0);
    std::int64_t bad = 0;
    for (std::int64_t q = 0; q < nrhs; ++q)
      bad += differing(b.data() + q * ldb, x.data() + q * n + first, count);
    return summed(bad);
  }
};

TYPED_TEST(MpiFactor, SolvesHaveTheBitsOfOneProcess) {
  using T = TypeParam;
  for (std::int32_t hb : {1, 8, 20}) {
    const std::int64_t bs = mpi::system_geometry<T>(1 << 20, hb, 1).block_size;
    const auto n = static_cast<std::int32_t>(11 * bs + 7);
    const std::vector<T> a = random_band_matrix<T>(n, hb, 41, hb);
    for (Split s : {Split::even, Split::uneven, Split::crumbs}) {
      SCOPED_TRACE(::testing::Message() << "hb " << hb << " " << split_name(s));
      Share<T> share(a, n, hb, s);
      const int status = mpi_factor<T>(
          MPI_COMM_WORLD, n, hb, share.first, share.count, share.ab.data(),
          hb + 1, share.factor.data(), std::int64_t(share.factor.size()), 1);
      EXPECT_EQ(lowest(status), 0);
      EXPECT_EQ(highest(status), 0);
      // Two solves with the same factor, other right-hand sides and teams.
      for (std::int32_t nrhs : {1, 3}) {
        const std::vector<T> rhs = random_rhs<T>(n, nrhs, 42 + nrhs);
        std::vector<T> a1 = a, x = rhs;
        ASSERT_EQ(
            one_process_solve<T>(n, hb, nrhs, a1.data(), hb + 1, x.data(), n),
            0);
        EXPECT_EQ(share.solve_differs(rhs, x, n, hb, nrhs, nrhs == 3 ? 2 : 1),
                  0);
      }
    }
  }
}

TYPED_TEST(MpiFactor, FailedOrForeignFactorIsRefused) {
  using T = TypeParam;
  const std::int32_t n = 900, hb = 3;
  std::vector<T> a = random_band_matrix<T>(n, hb, 51, hb);
  const std::vector<T> ok = a;
  // Column 600 fails its pivot at once: zero but for a diagonal of −1
  // (complex: 0).
  for (std::int64_t k = 597; k < 600; ++k)
    a[std::size_t(k * (hb + 1) + (600 - k))] = T(0);
  for (std::int64_t i = 1; i <= hb; ++i)
    a[std::size_t(600 * (hb + 1) + i)] = T(0);
  a[std::size_t(600 * (hb + 1))] = IsComplex<T>::value ? T(0) : T(-1);
  Share<T> share(a, n, hb, Split::even);
  int status = mpi_factor<T>(MPI_COMM_WORLD, n, hb, share.first, share.count,
                             share.ab.data(), hb + 1, share.factor.data(),
                             std::int64_t(share.factor.size()), 1);
  EXPECT_EQ(lowest(status), 1);
  EXPECT_EQ(highest(status), 1);
  std::vector<T> b(std::size_t(std::max(share.count, 1)), T(1));
  status = mpi_solve_factored<T>(
      MPI_COMM_WORLD, n, hb, 1, share.first, share.count, share.factor.data(),
      std::int64_t(share.factor.size()), b.data(), std::max(share.count, 1), 1);
  EXPECT_EQ(lowest(status), -7);
  EXPECT_EQ(highest(status), -7);
  // A good factor of a split, used with another split: refused.
  if (ranks() > 1) {
    Share<T> even(ok, n, hb, Split::even);
    EXPECT_EQ(
        highest(mpi_factor<T>(MPI_COMM_WORLD, n, hb, even.first, even.count,
                              even.ab.data(), hb + 1, even.factor.data(),
                              std::int64_t(even.factor.size()), 1)),
        0);
    const auto other = split_rows(n, ranks(), Split::uneven);
    const std::int64_t first = first_row(other, rank_of());
    const auto count = static_cast<std::int32_t>(other[std::size_t(rank_of())]);
    std::vector<T> x(std::size_t(std::max(count, 1)), T(1));
    status = mpi_solve_factored<T>(
        MPI_COMM_WORLD, n, hb, 1, first, count, even.factor.data(),
        std::int64_t(even.factor.size()), x.data(), std::max(count, 1), 1);
    EXPECT_EQ(lowest(status), -7);
  }
  EXPECT_EQ(mpi_factor_workspace<T>(-1, hb, 0, 0, hb + 1), -1);
  EXPECT_EQ(mpi_factor_workspace<T>(n, -1, 0, 0, hb + 1), -2);
  EXPECT_EQ(mpi_factor_workspace<T>(n, hb, n + 1, 0, hb + 1), -3);
  EXPECT_EQ(mpi_factor_workspace<T>(n, hb, 0, n + 1, hb + 1), -4);
  EXPECT_EQ(mpi_factor_workspace<T>(n, hb, 0, n, hb), -5);
}

}  // namespace
}  // namespace pband::test
