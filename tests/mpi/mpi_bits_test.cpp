// The distributed solve against the one-process solve pband_solve_*: the
// same bits in every rank's piece of X, for even, uneven and empty-rank
// splits and crumbs of a few rows, n around block and level boundaries,
// hb with and without the fold, nrhs 0 … 3, the four element types; on
// two threads a rank; with every array poisoned, so that a part of a
// neighbour used but never received shows. Run by mpirun at 1 … 4 ranks.
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "mpi/system_setup.hpp"
#include "pband/pband_mpi.h"
#include "tests/common/band_test_util.hpp"
#include "tests/mpi/mpi_test_util.hpp"

namespace pband::test {
namespace {

template <class T>
class MpiBits : public ::testing::Test {};
using Types =
    ::testing::Types<float, double, std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(MpiBits, Types);

// One system solved by one process and by the ranks under `split`; the
// elements of this rank's piece of X whose bits differ, summed over the
// ranks, and the statuses (which must be 0 everywhere).
template <class T>
std::int64_t compare(std::int32_t n, std::int32_t hb, std::int32_t nrhs,
                     Split split, std::int32_t threads, std::int32_t pad,
                     std::uint64_t seed) {
  const std::int32_t ld = hb + 1;
  std::vector<T> a = random_band_matrix<T>(n, hb, seed, hb);
  const std::vector<T> b = random_rhs<T>(n, nrhs, seed + 1);
  std::vector<T> x = b, a1 = a;
  EXPECT_EQ(one_process_solve<T>(n, hb, nrhs, a1.data(), ld, x.data(),
                                 std::max(n, 1)),
            0);
  const int p = ranks(), me = rank_of();
  const auto counts = split_rows(n, p, split);
  const std::int64_t first = first_row(counts, me);
  const auto count = static_cast<std::int32_t>(counts[std::size_t(me)]);
  // The piece, with `pad` rows of padding per column.
  const std::int32_t ldab = ld + pad, ldb = std::max(count, 1) + pad;
  std::vector<T> ab(std::size_t(std::max(count, 1)) * ldab, T(7));
  for (std::int64_t j = 0; j < count; ++j)
    for (std::int64_t i = 0; i <= std::min<std::int64_t>(hb, n - 1 - first - j);
         ++i)
      ab[std::size_t(j * ldab + i)] = a[std::size_t((first + j) * ld + i)];
  std::vector<T> piece(std::size_t(ldb) * std::max(nrhs, 1), T(5));
  for (std::int64_t q = 0; q < nrhs; ++q)
    for (std::int64_t i = 0; i < count; ++i)
      piece[std::size_t(q * ldb + i)] = b[std::size_t(q * n + first + i)];
  const int status = mpi_solve<T>(MPI_COMM_WORLD, n, hb, nrhs, first, count,
                                  ab.data(), ldab, piece.data(), ldb, threads);
  EXPECT_EQ(highest(status), 0);
  EXPECT_EQ(lowest(status), 0);
  std::int64_t bad = 0;
  for (std::int64_t q = 0; q < nrhs; ++q)
    bad += differing(piece.data() + q * ldb, x.data() + q * n + first, count);
  return summed(bad);
}

// n around the block boundaries (one block, two, powers of two and one
// past them, a short last block) for each hb: 0, 1, a small odd one, 8
// (the group forms), 20 (no fold) and one wider than n.
TYPED_TEST(MpiBits, SameBitsAsOneProcess) {
  using T = TypeParam;
  int case_number = 0;
  for (std::int32_t hb : {0, 1, 3, 8, 20}) {
    const std::int64_t bs = mpi::system_geometry<T>(1 << 20, hb, 1).block_size;
    for (std::int64_t n64 : {std::int64_t(1), std::int64_t(2), bs - 1, bs,
                             bs + 1, 2 * bs, 3 * bs + 1, 4 * bs, 4 * bs + 1,
                             8 * bs - 1, 8 * bs + hb, 13 * bs + 5}) {
      const auto n = static_cast<std::int32_t>(n64);
      for (Split s :
           {Split::even, Split::uneven, Split::empty_ranks, Split::crumbs}) {
        const std::int32_t nrhs = case_number % 4;
        ++case_number;
        SCOPED_TRACE(::testing::Message()
                     << "n " << n << " hb " << hb << " nrhs " << nrhs
                     << " split " << split_name(s));
        EXPECT_EQ(compare<T>(n, hb, nrhs, s, 1, case_number % 3,
                             std::uint64_t(case_number)),
                  0);
      }
    }
  }
}

TYPED_TEST(MpiBits, SameBitsOnTwoThreadsARank) {
  using T = TypeParam;
  const std::int64_t bs = mpi::system_geometry<T>(1 << 20, 8, 1).block_size;
  for (Split s : {Split::even, Split::uneven}) {
    SCOPED_TRACE(split_name(s));
    EXPECT_EQ(
        compare<T>(static_cast<std::int32_t>(37 * bs + 11), 8, 2, s, 2, 0, 99),
        0);
  }
}

// Every byte the ranks reserve starts as NaN: a read of any part of a
// neighbour that was never received spreads it into X.
TYPED_TEST(MpiBits, NothingReadThatWasNotReceived) {
  using T = TypeParam;
  mpi::poison_arrays = true;
  for (std::int32_t hb : {1, 8, 20}) {
    const std::int64_t bs = mpi::system_geometry<T>(1 << 20, hb, 1).block_size;
    for (Split s : {Split::uneven, Split::crumbs}) {
      SCOPED_TRACE(::testing::Message() << "hb " << hb << " " << split_name(s));
      EXPECT_EQ(
          compare<T>(static_cast<std::int32_t>(9 * bs + 3), hb, 3, s, 1, 0, 7),
          0);
    }
  }
  mpi::poison_arrays = false;
}

}  // namespace
}  // namespace pband::test
