// The Hermitian entries of the C interface and their C++ forms against
// LAPACK's ?pbsv and ?pbtrf ('L'): scaled residuals over sizes around the
// block cut, the factor against LAPACK's, the bits of every team, a
// diagonal's imaginary part unread, the failing column, argument checks.
#include <algorithm>
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <vector>

#include "pband/pband.h"
#include "pband/pband.hpp"
#include "runtime/runtime_testing.hpp"
#include "tests/common/all_processors.hpp"
#include "tests/common/band_test_util.hpp"

extern "C" {
void cpbsv_(const char* uplo, const int* n, const int* kd, const int* nrhs,
            std::complex<float>* ab, const int* ldab, std::complex<float>* b,
            const int* ldb, int* info, std::size_t uplo_len);
void zpbsv_(const char* uplo, const int* n, const int* kd, const int* nrhs,
            std::complex<double>* ab, const int* ldab, std::complex<double>* b,
            const int* ldb, int* info, std::size_t uplo_len);
void cpbtrf_(const char* uplo, const int* n, const int* kd,
             std::complex<float>* ab, const int* ldab, int* info,
             std::size_t uplo_len);
void zpbtrf_(const char* uplo, const int* n, const int* kd,
             std::complex<double>* ab, const int* ldab, int* info,
             std::size_t uplo_len);
}

namespace pband::test {
namespace {

template <class T>
struct Herm;
#define PBAND_TEST_HERMITIAN(R, C, L, LAPACK)                               \
  template <>                                                               \
  struct Herm<std::complex<R>> {                                            \
    static C* c(std::complex<R>* p) { return reinterpret_cast<C*>(p); }     \
    static const C* c(const std::complex<R>* p) {                           \
      return reinterpret_cast<const C*>(p);                                 \
    }                                                                       \
    static constexpr auto solve = &pband_solve_hermitian_##L;               \
    static constexpr auto solve_work = &pband_solve_hermitian_work_##L;     \
    static constexpr auto workspace = &pband_solve_hermitian_workspace_##L; \
    static constexpr auto symmetric_workspace = &pband_solve_workspace_##L; \
    static constexpr auto cholesky = &pband_cholesky_hermitian_##L;         \
    static constexpr auto cholesky_solve =                                  \
        &pband_cholesky_solve_hermitian_##L;                                \
    static constexpr auto pbsv = &LAPACK##pbsv_;                            \
    static constexpr auto pbtrf = &LAPACK##pbtrf_;                          \
  };
PBAND_TEST_HERMITIAN(float, pband_complex_float, c, c)
PBAND_TEST_HERMITIAN(double, pband_complex_double, z, z)
#undef PBAND_TEST_HERMITIAN

// Element (i, j) of the Hermitian matrix in compact lower band storage;
// the diagonal's imaginary part is not part of it.
template <class T>
T hermitian_at(const std::vector<T>& a, std::int32_t hb, std::int64_t i,
               std::int64_t j) {
  if (i == j) return T(a[pos(i, i, hb)].real());
  if (std::max(i, j) - std::min(i, j) > hb) return T(0);
  return i > j ? a[pos(i, j, hb)] : std::conj(a[pos(j, i, hb)]);
}

// max over columns of ‖b − A·x‖₁ / (‖A‖₁·‖x‖₁·eps), sums in a wider type.
template <class T>
double hermitian_residual(const std::vector<T>& a, std::int32_t n,
                          std::int32_t hb, const std::vector<T>& b,
                          const std::vector<T>& x, std::int32_t nrhs) {
  using W = Wide<T>;
  double anorm = 0, worst = 0;
  for (std::int64_t j = 1; j <= n; ++j) {
    double s = 0;
    for (std::int64_t i = std::max<std::int64_t>(1, j - hb);
         i <= std::min<std::int64_t>(n, j + hb); ++i)
      s += std::abs(hermitian_at(a, hb, i, j));
    anorm = std::max(anorm, s);
  }
  for (std::int64_t q = 0; q < nrhs; ++q) {
    double rnorm = 0, xnorm = 0;
    for (std::int64_t i = 1; i <= n; ++i) {
      W s = W(b[q * n + i - 1]);
      for (std::int64_t j = std::max<std::int64_t>(1, i - hb);
           j <= std::min<std::int64_t>(n, i + hb); ++j)
        s -= W(hermitian_at(a, hb, i, j)) * W(x[q * n + j - 1]);
      rnorm += double(std::abs(s));
      xnorm += std::abs(x[q * n + i - 1]);
    }
    const double eps = std::numeric_limits<Real<T>>::epsilon();
    const double ratio = rnorm / anorm / xnorm / eps;
    if (std::isnan(ratio)) return ratio;
    worst = std::max(worst, ratio);
  }
  return worst;
}

// A Hermitian positive definite band (diagonally dominant), its diagonal
// given an imaginary part that must not be read.
template <class T>
std::vector<T> hermitian_band(std::int32_t n, std::int32_t hb,
                              std::uint64_t seed) {
  // Whole columns of hb + 1, as LAPACK reads them.
  std::vector<T> a = random_band_matrix<T>(n, hb, seed, hb);
  for (std::int64_t j = 1; j <= n; ++j)
    a[pos(j, j, hb)] += T(0, Real<T>(0.25 * ((j % 7) - 3)));
  return a;
}

// cols columns of `rows` moved from stride `from` to leading dimension
// ld, the other rows set to `pad`.
template <class T>
std::vector<T> with_ld(const std::vector<T>& a, std::int64_t rows,
                       std::int64_t cols, std::int64_t from, std::int64_t ld,
                       T pad) {
  std::vector<T> out(std::size_t(ld) * std::max<std::int64_t>(cols, 1), pad);
  for (std::int64_t j = 0; j < cols; ++j)
    std::copy_n(a.begin() + j * from, rows, out.begin() + j * ld);
  return out;
}

template <class T>
class HermitianCApi : public ::testing::Test {};
using ComplexTypes =
    ::testing::Types<std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(HermitianCApi, ComplexTypes);

// Solutions as good as LAPACK's ?pbsv, around the block cut of every
// width; padding rows of ab and b untouched.
TYPED_TEST(HermitianCApi, SolveMatchesLapack) {
  using T = TypeParam;
  using H = Herm<T>;
  const T pad(-7, 3);
  for (std::int32_t hb : {0, 1, 2, 8})
    for (std::int32_t n : {1, 2, 9, 31, 32, 33, 127, 128, 129, 257, 1000})
      for (std::int32_t nrhs = 0; nrhs <= 3; ++nrhs) {
        SCOPED_TRACE(::testing::Message()
                     << "n " << n << " hb " << hb << " nrhs " << nrhs);
        const auto a = hermitian_band<T>(n, hb, 11 * n + hb);
        const auto b = random_rhs<T>(n, nrhs, 5 * n + nrhs);
        const std::int32_t ldab = hb + 1 + (n % 2), ldb = n + 1;
        auto ab = with_ld(a, hb + 1, n, hb + 1, ldab, pad);
        auto x = with_ld(b, n, nrhs, n, ldb, pad);
        ASSERT_EQ(H::solve(n, hb, nrhs, H::c(ab.data()), ldab, H::c(x.data()),
                           ldb, 2),
                  0);
        std::vector<T> xc(std::size_t(n) * nrhs);
        for (std::int64_t q = 0; q < nrhs; ++q) {
          EXPECT_EQ(x[q * ldb + n], pad);
          std::copy_n(x.begin() + q * ldb, n, xc.begin() + q * n);
        }
        for (std::int64_t j = 0; ldab > hb + 1 && j < n; ++j)
          EXPECT_EQ(ab[j * ldab + hb + 1], pad);
        if (nrhs == 0) continue;
        EXPECT_LT(hermitian_residual(a, n, hb, b, xc, nrhs), 30);
        auto lab = a;
        auto lx = b;
        const int kd = hb, ld = hb + 1, nn = n, nr = nrhs;
        int info = -1;
        H::pbsv("L", &nn, &kd, &nr, lab.data(), &ld, lx.data(), &nn, &info, 1);
        ASSERT_EQ(info, 0);
        EXPECT_LT(hermitian_residual(a, n, hb, b, lx, nrhs), 30);
      }
}

// L equals LAPACK's ?pbtrf 'L' to rounding, with a real positive
// diagonal, and solves as well with either factor.
TYPED_TEST(HermitianCApi, CholeskyMatchesLapack) {
  using T = TypeParam;
  using H = Herm<T>;
  const double eps = std::numeric_limits<Real<T>>::epsilon();
  for (std::int32_t hb : {0, 1, 2, 8, 40, 200})
    for (std::int32_t n : {1, 5, 129, 1100, 2500}) {
      SCOPED_TRACE(::testing::Message() << "n " << n << " hb " << hb);
      const auto a = hermitian_band<T>(n, hb, 3 * n + hb);
      auto l = a, ref = a;
      const int kd = hb, ld = hb + 1, nn = n;
      int info = -1;
      H::pbtrf("L", &nn, &kd, ref.data(), &ld, &info, 1);
      ASSERT_EQ(info, 0);
      ASSERT_EQ(H::cholesky(n, hb, H::c(l.data()), hb + 1, 2), 0);
      double diff = 0, size = 0;
      for (std::size_t p = 0; p < l.size(); ++p) {
        diff = std::max<double>(diff, std::abs(l[p] - ref[p]));
        size = std::max<double>(size, std::abs(ref[p]));
      }
      EXPECT_LE(diff / size / eps, 4.0 * (hb + 1));
      for (std::int64_t j = 1; j <= n; ++j) {
        EXPECT_GT(l[pos(j, j, hb)].real(), 0);
        EXPECT_EQ(l[pos(j, j, hb)].imag(), 0);
      }
      const auto b = random_rhs<T>(n, 2, n);
      auto x = b, xref = b;
      ASSERT_EQ(H::cholesky_solve(n, hb, 2, H::c(l.data()), hb + 1,
                                  H::c(x.data()), n, 2),
                0);
      ASSERT_EQ(H::cholesky_solve(n, hb, 2, H::c(ref.data()), hb + 1,
                                  H::c(xref.data()), n, 1),
                0);
      EXPECT_LT(hermitian_residual(a, n, hb, b, x, 2), 30);
      EXPECT_LT(hermitian_residual(a, n, hb, b, xref, 2), 30);
    }
}

// The solve and the factor each have one set of bits for every team; the
// diagonal's imaginary part changes no bit.
TYPED_TEST(HermitianCApi, SameBitsForEveryTeamAndUnreadImaginaryDiagonal) {
  using T = TypeParam;
  using H = Herm<T>;
  pband::testing::set_affinity_query(&all_processors);
  const std::int32_t n = 3000, nrhs = 2;
  for (std::int32_t hb : {1, 2, 8, 20}) {
    SCOPED_TRACE(::testing::Message() << "hb " << hb);
    const auto a = hermitian_band<T>(n, hb, hb);
    auto real_diagonal = a;
    for (std::int64_t j = 1; j <= n; ++j)
      real_diagonal[pos(j, j, hb)] = T(a[pos(j, j, hb)].real());
    const auto b = random_rhs<T>(n, nrhs, hb);
    std::vector<std::vector<T>> x, l;
    for (int threads = 1; threads <= 4; ++threads) {
      const std::vector<T>* both[] = {&a, &real_diagonal};
      for (const std::vector<T>* m : both) {
        auto ab = *m;
        x.push_back(b);
        ASSERT_EQ(H::solve(n, hb, nrhs, H::c(ab.data()), hb + 1,
                           H::c(x.back().data()), n, threads),
                  0);
        l.push_back(*m);
        ASSERT_EQ(H::cholesky(n, hb, H::c(l.back().data()), hb + 1, threads),
                  0);
      }
    }
    EXPECT_LT(hermitian_residual(a, n, hb, b, x[0], nrhs), 30);
    for (std::size_t k = 1; k < x.size(); ++k) {
      EXPECT_TRUE(same_bits(x[k], x[0])) << "run " << k;
      EXPECT_TRUE(same_bits(l[k], l[0])) << "run " << k;
    }
  }
  pband::testing::set_affinity_query(nullptr);
}

// A pivot whose real part is not positive fails at LAPACK's column: a
// negative diagonal in the first, middle and last column, and a diagonal
// of modulus 5 but real part 0 (a complex symmetric pivot would pass).
TYPED_TEST(HermitianCApi, FailingPivotNamesLapacksColumn) {
  using T = TypeParam;
  using H = Herm<T>;
  const std::int32_t n = 200, hb = 3;
  for (auto [column, pivot] :
       {std::pair{1, T(0, 5)}, std::pair{1, T(-1, 0)}, std::pair{100, T(-1, 2)},
        std::pair{200, T(0, 0)}}) {
    SCOPED_TRACE(::testing::Message() << "column " << column);
    auto a = hermitian_band<T>(n, hb, column);
    a[pos(column, column, hb)] = pivot;
    auto ref = a, l = a, ab = a;
    const int kd = hb, ld = hb + 1, nn = n;
    int info = -1;
    H::pbtrf("L", &nn, &kd, ref.data(), &ld, &info, 1);
    EXPECT_EQ(info, column);
    EXPECT_EQ(H::cholesky(n, hb, H::c(l.data()), hb + 1, 2), info);
    auto b = random_rhs<T>(n, 1, 1);
    EXPECT_EQ(H::solve(n, hb, 1, H::c(ab.data()), hb + 1, H::c(b.data()), n, 2),
              1);
  }
}

// Invalid arguments: -i for the first one in LAPACK's order, nothing
// touched; the caller's workspace as the symmetric solve's.
TYPED_TEST(HermitianCApi, ArgumentChecksTouchNothing) {
  using T = TypeParam;
  using H = Herm<T>;
  const std::int32_t n = 40, hb = 2;
  const auto a = hermitian_band<T>(n, hb, 1);
  const auto b0 = random_rhs<T>(n, 1, 2);
  auto ab = a;
  auto b = b0;
  T* A = ab.data();
  T* B = b.data();
  auto solve = [&](int nn, int k, int r, T* p, int ld, T* q, int ldb) {
    return H::solve(nn, k, r, H::c(p), ld, H::c(q), ldb, 1);
  };
  EXPECT_EQ(solve(-1, hb, 1, A, hb + 1, B, n), -1);
  EXPECT_EQ(solve(n, -1, 1, A, hb + 1, B, n), -2);
  EXPECT_EQ(solve(n, hb, -1, A, hb + 1, B, n), -3);
  EXPECT_EQ(solve(n, hb, 1, nullptr, hb + 1, B, n), -4);
  EXPECT_EQ(solve(n, hb, 1, A, hb, B, n), -5);
  EXPECT_EQ(solve(n, hb, 1, A, hb + 1, nullptr, n), -6);
  EXPECT_EQ(solve(n, hb, 1, A, hb + 1, B, n - 1), -7);
  EXPECT_EQ(H::workspace(n, hb, 1, hb, n), -5);
  const std::int64_t need = H::workspace(n, hb, 1, hb + 2, n);
  EXPECT_EQ(need, H::symmetric_workspace(n, hb, 1, hb + 2, n));
  EXPECT_GT(need, 0);
  std::vector<T> work(need);
  EXPECT_EQ(
      H::solve_work(n, hb, 1, H::c(A), hb + 2, H::c(B), n, 1, nullptr, need),
      -9);
  EXPECT_EQ(H::solve_work(n, hb, 1, H::c(A), hb + 2, H::c(B), n, 1,
                          H::c(work.data()), need - 1),
            -10);
  EXPECT_EQ(H::cholesky(-1, hb, H::c(A), hb + 1, 1), -1);
  EXPECT_EQ(H::cholesky(n, -1, H::c(A), hb + 1, 1), -2);
  EXPECT_EQ(H::cholesky(n, hb, nullptr, hb + 1, 1), -3);
  EXPECT_EQ(H::cholesky(n, hb, H::c(A), hb, 1), -4);
  EXPECT_EQ(H::cholesky_solve(n, hb, 1, H::c(A), hb, H::c(B), n, 1), -5);
  EXPECT_EQ(H::cholesky_solve(n, hb, 1, H::c(A), hb + 1, H::c(B), 0, 1), -7);
  EXPECT_TRUE(same_bits(ab, a));
  EXPECT_TRUE(same_bits(b, b0));
}

// The C++ forms: the bits of the C calls, exceptions for bad arguments.
TYPED_TEST(HermitianCApi, CppFormsGiveTheCBits) {
  using T = TypeParam;
  using H = Herm<T>;
  const std::int32_t n = 500, hb = 4, nrhs = 2;
  const auto a = hermitian_band<T>(n, hb, 9);
  const auto b = random_rhs<T>(n, nrhs, 9);
  auto ab = a, x = b, l = a, y = b;
  ASSERT_EQ(
      H::solve(n, hb, nrhs, H::c(ab.data()), hb + 1, H::c(x.data()), n, 2), 0);
  ASSERT_EQ(H::cholesky(n, hb, H::c(l.data()), hb + 1, 2), 0);
  ASSERT_EQ(H::cholesky_solve(n, hb, nrhs, H::c(l.data()), hb + 1,
                              H::c(y.data()), n, 2),
            0);

  auto cab = a, cx = b, cl = a, cy = b;
  ASSERT_TRUE(pband::solve_hermitian(pband::BandView(cab, n, hb),
                                     pband::MatrixView(cx, n, nrhs), 2));
  EXPECT_TRUE(same_bits(cx, x));
  auto wab = a, wx = b;
  pband::BandView wa(wab, n, hb);
  pband::MatrixView wb(wx, n, nrhs);
  std::vector<T> work(pband::solve_hermitian_workspace_size(wa, wb));
  ASSERT_TRUE(pband::solve_hermitian(wa, wb, work, 2));
  EXPECT_TRUE(same_bits(wx, x));
  ASSERT_TRUE(pband::cholesky_hermitian(pband::BandView(cl, n, hb), 2));
  EXPECT_TRUE(same_bits(cl, l));
  const std::vector<T>& factor = cl;
  pband::cholesky_solve_hermitian(pband::BandView(factor, n, hb),
                                  pband::MatrixView(cy, n, nrhs), 2);
  EXPECT_TRUE(same_bits(cy, y));

  auto bad = a;
  bad[pos(7, 7, hb)] = T(-1);
  EXPECT_EQ(pband::cholesky_hermitian(pband::BandView(bad, n, hb)).info, 7);
  std::vector<T> short_b(n - 1);
  EXPECT_THROW((void)pband::solve_hermitian(pband::BandView(cab, n, hb),
                                            pband::MatrixView(short_b)),
               std::invalid_argument);
}

}  // namespace
}  // namespace pband::test
