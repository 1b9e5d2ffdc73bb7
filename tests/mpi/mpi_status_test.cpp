// The distributed solve's statuses: a failed pivot anywhere gives 1 on
// every rank, as the one-process solve gives 1; an invalid argument on
// one rank gives every rank the same −i and touches nothing anywhere;
// no rank is left waiting (the test's time limit fails a hang).
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/common/band_test_util.hpp"
#include "tests/mpi/mpi_test_util.hpp"

namespace pband::test {
namespace {

template <class T>
class MpiStatus : public ::testing::Test {};
using Types =
    ::testing::Types<float, double, std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(MpiStatus, Types);

// This rank's piece of one system, with padding rows so that a stray
// write shows.
template <class T>
struct Piece {
  std::int64_t n = 0, first = 0;
  std::int32_t hb = 0, nrhs = 0, count = 0, ldab = 0, ldb = 0;
  std::vector<T> ab, b;

  Piece(const std::vector<T>& a, const std::vector<T>& rhs, std::int32_t order,
        std::int32_t half_band, std::int32_t columns, Split split)
      : n(order), hb(half_band), nrhs(columns) {
    const auto counts = split_rows(n, ranks(), split);
    first = first_row(counts, rank_of());
    count = static_cast<std::int32_t>(counts[std::size_t(rank_of())]);
    ldab = hb + 2;
    ldb = std::max(count, 1) + 1;
    ab.assign(std::size_t(std::max(count, 1)) * ldab, T(3));
    b.assign(std::size_t(ldb) * nrhs, T(4));
    for (std::int64_t j = 0; j < count; ++j) {
      for (std::int64_t i = 0;
           i <= std::min<std::int64_t>(hb, n - 1 - first - j); ++i)
        ab[std::size_t(j * ldab + i)] =
            a[std::size_t((first + j) * (hb + 1) + i)];
      for (std::int64_t q = 0; q < nrhs; ++q)
        b[std::size_t(q * ldb + j)] = rhs[std::size_t(q * n + first + j)];
    }
  }
};

// Column j (0-based) of A zero but for a diagonal that fails the pivot
// test at once: −1 for the real types (not positive), 0 for the complex.
template <class T>
void plant_failure(std::vector<T>& a, std::int32_t n, std::int32_t hb,
                   std::int64_t j) {
  for (std::int64_t k = std::max<std::int64_t>(0, j - hb); k < j; ++k)
    a[std::size_t(k * (hb + 1) + (j - k))] = T(0);
  for (std::int64_t i = 1; i <= std::min<std::int64_t>(hb, n - 1 - j); ++i)
    a[std::size_t(j * (hb + 1) + i)] = T(0);
  a[std::size_t(j * (hb + 1))] = IsComplex<T>::value ? T(0) : T(-1);
}

TYPED_TEST(MpiStatus, FailedPivotGivesOneOnEveryRank) {
  using T = TypeParam;
  const std::int32_t n = 1500, hb = 5, nrhs = 2;
  for (std::int64_t j :
       {std::int64_t(0), std::int64_t(n / 2), std::int64_t(n - 1)}) {
    for (Split s : {Split::even, Split::empty_ranks}) {
      SCOPED_TRACE(::testing::Message()
                   << "column " << j << " " << split_name(s));
      std::vector<T> a = random_band_matrix<T>(n, hb, 11, hb);
      plant_failure(a, n, hb, j);
      const std::vector<T> rhs = random_rhs<T>(n, nrhs, 12);
      std::vector<T> a1 = a, x = rhs;
      EXPECT_EQ(
          one_process_solve<T>(n, hb, nrhs, a1.data(), hb + 1, x.data(), n), 1);
      Piece<T> p(a, rhs, n, hb, nrhs, s);
      const int status =
          mpi_solve<T>(MPI_COMM_WORLD, p.n, p.hb, p.nrhs, p.first, p.count,
                       p.ab.data(), p.ldab, p.b.data(), p.ldb, 1);
      EXPECT_EQ(lowest(status), 1);
      EXPECT_EQ(highest(status), 1);
    }
  }
}

// Argument i broken on one rank (first, then last): every rank returns −i
// and every rank's arrays keep their bytes.
TYPED_TEST(MpiStatus, BadArgumentOnOneRankGivesAllTheSameStatus) {
  using T = TypeParam;
  const std::int32_t n = 700, hb = 4, nrhs = 2;
  const std::vector<T> a = random_band_matrix<T>(n, hb, 21, hb);
  const std::vector<T> rhs = random_rhs<T>(n, nrhs, 22);
  struct Case {
    int expect;
    const char* what;
  };
  const Case cases[] = {
      {-2, "n -1"},          {-2, "n + 1"},    {-3, "hb -1"},
      {-3, "hb + 1"},        {-4, "nrhs -1"},  {-4, "nrhs + 1"},
      {-5, "first -1"},      {-6, "count -1"}, {-6, "count + 1"},
      {-7, "ab null"},       {-8, "ldab hb"},  {-9, "b null"},
      {-10, "ldb count - 1"}};
  for (int bad_rank : {0, ranks() - 1}) {
    for (const Case& c : cases) {
      // On one rank n, hb and nrhs + 1 are just another system.
      const std::string w = c.what;
      if (ranks() == 1 && w.find(" + 1") != std::string::npos &&
          w != "count + 1")
        continue;
      SCOPED_TRACE(::testing::Message() << c.what << " on rank " << bad_rank);
      Piece<T> p(a, rhs, n, hb, nrhs, Split::even);
      const std::vector<T> ab0 = p.ab, b0 = p.b;
      std::int64_t pn = p.n, first = p.first;
      std::int32_t phb = p.hb, q = p.nrhs, count = p.count, ldab = p.ldab,
                   ldb = p.ldb;
      T* pa = p.ab.data();
      T* pb = p.b.data();
      if (rank_of() == bad_rank) {
        if (w == "n -1") pn = -1;
        if (w == "n + 1") pn += 1;
        if (w == "hb -1") phb = -1;
        if (w == "hb + 1") phb += 1;
        if (w == "nrhs -1") q = -1;
        if (w == "nrhs + 1") q += 1;
        if (w == "first -1") first = -1;
        if (w == "count -1") count = -1;
        if (w == "count + 1") count += 1;
        if (w == "ab null") pa = nullptr;
        if (w == "ldab hb") ldab = phb;
        if (w == "b null") pb = nullptr;
        if (w == "ldb count - 1") ldb = count - 1;
      }
      const int status = mpi_solve<T>(MPI_COMM_WORLD, pn, phb, q, first, count,
                                      pa, ldab, pb, ldb, 1);
      EXPECT_EQ(lowest(status), c.expect);
      EXPECT_EQ(highest(status), c.expect);
      EXPECT_EQ(
          summed(differing(p.ab.data(), ab0.data(), std::int64_t(p.ab.size())) +
                 differing(p.b.data(), b0.data(), std::int64_t(p.b.size()))),
          0);
    }
  }
}

// Rank 0's piece must start at row 0; no communicator on any rank is −1.
TYPED_TEST(MpiStatus, PiecesAndCommunicator) {
  using T = TypeParam;
  const std::int32_t n = 300, hb = 2;
  const std::vector<T> a = random_band_matrix<T>(n, hb, 31, hb);
  const std::vector<T> rhs = random_rhs<T>(n, 1, 32);
  Piece<T> p(a, rhs, n, hb, 1, Split::even);
  const std::int64_t first = rank_of() == 0 ? 1 : p.first;
  int status = mpi_solve<T>(MPI_COMM_WORLD, p.n, p.hb, 1, first, p.count,
                            p.ab.data(), p.ldab, p.b.data(), p.ldb, 1);
  EXPECT_EQ(lowest(status), -5);
  EXPECT_EQ(highest(status), -5);
  status = mpi_solve<T>(MPI_COMM_NULL, p.n, p.hb, 1, p.first, p.count,
                        p.ab.data(), p.ldab, p.b.data(), p.ldb, 1);
  EXPECT_EQ(status, -1);
}

}  // namespace
}  // namespace pband::test
