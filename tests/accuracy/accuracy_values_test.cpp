// The norm against reference LAPACK's ?lansb, the product and residual
// against the same sums in a wider type, over the shapes at the edges:
// hb = 0, n = 1, hb >= n, nrhs = 0, padded band and right-hand sides.
#include <cmath>
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "pband/pband.hpp"
#include "tests/accuracy/accuracy_support.hpp"

namespace pband::test {
namespace {

template <class T>
class AccuracyValues : public ::testing::Test {};
TYPED_TEST_SUITE(AccuracyValues, ElementTypes);

struct Shape {
  std::int32_t n, hb, nrhs, ab_pad, ld_pad;
};
const Shape kShapes[] = {{0, 0, 1, 0, 0},  {1, 0, 1, 0, 0},  {1, 3, 2, 1, 2},
                         {6, 0, 2, 0, 1},  {7, 10, 2, 0, 0}, {7, 6, 1, 2, 0},
                         {30, 3, 0, 0, 0}, {40, 4, 3, 2, 3}, {257, 9, 2, 0, 0}};

TYPED_TEST(AccuracyValues, NormMatchesLapack) {
  using T = TypeParam;
  const double eps = std::numeric_limits<Real<T>>::epsilon();
  for (const Shape& sh : kShapes) {
    const CSystem<T> s = c_system<T>(sh.n, sh.hb, 1, sh.ab_pad, 0, 11);
    Real<T> ours = -1;
    ASSERT_EQ(
        Accuracy<T>::norm1(sh.n, sh.hb, c_ptr(s.ab.data()), s.ldab, &ours, 2),
        0);
    const double want = lapack_norm1(s);
    EXPECT_LE(std::abs(ours - want), (2 * sh.hb + 2) * eps * want)
        << "n " << sh.n << " hb " << sh.hb;
    if (sh.n == 0) { EXPECT_EQ(ours, 0); }
  }
}

TYPED_TEST(AccuracyValues, NormPropagatesNaN) {
  using T = TypeParam;
  const Real<T> nan = std::numeric_limits<Real<T>>::quiet_NaN();
  // NaN on the diagonal, below it, and in a column with a smaller sum
  // than the largest, where a plain max would lose it.
  for (std::int64_t at : {0, 3, 2 * 4 + 2, 19 * 4}) {
    CSystem<T> s = c_system<T>(20, 3, 1, 0, 0, 5);
    if constexpr (IsComplex<T>::value)
      s.ab[at] = T(Real<T>(0), nan);
    else
      s.ab[at] = nan;
    s.ab[5 * 4] = T(Real<T>(1e6));  // the largest column lies elsewhere
    Real<T> ours = 0;
    ASSERT_EQ(
        Accuracy<T>::norm1(s.n, s.hb, c_ptr(s.ab.data()), s.ldab, &ours, 1), 0);
    EXPECT_TRUE(std::isnan(ours)) << "at " << at;
    EXPECT_TRUE(std::isnan(lapack_norm1(s)));
  }
}

TYPED_TEST(AccuracyValues, ProductAndResidualMatchWideSums) {
  using T = TypeParam;
  for (const Shape& sh : kShapes) {
    const CSystem<T> s =
        c_system<T>(sh.n, sh.hb, sh.nrhs, sh.ab_pad, sh.ld_pad, 21);
    const std::int64_t ld = std::max(sh.n, 1) + sh.ld_pad + 1;
    const std::size_t size = ld * std::max(sh.nrhs, 1);
    std::vector<T> y(size, sentinel<T>());
    ASSERT_EQ(Accuracy<T>::multiply(sh.n, sh.hb, sh.nrhs, c_ptr(s.ab.data()),
                                    s.ldab, c_ptr(s.bb.data()), s.ldb,
                                    c_ptr(y.data()), ld, 2),
              0);
    EXPECT_EQ(count_faults(s, wide_product(s, nullptr, 0), y, ld), 0)
        << "product n " << sh.n << " hb " << sh.hb;

    std::vector<T> b(size, sentinel<T>()), r(size, sentinel<T>());
    const std::vector<T> rhs = random_rhs<T>(sh.n, sh.nrhs, 31);
    for (std::int64_t q = 0; q < sh.nrhs; ++q)
      std::copy_n(rhs.data() + q * sh.n, sh.n, b.data() + q * ld);
    ASSERT_EQ(
        Accuracy<T>::residual(sh.n, sh.hb, sh.nrhs, c_ptr(s.ab.data()), s.ldab,
                              c_ptr(s.bb.data()), s.ldb, c_ptr(b.data()), ld,
                              c_ptr(r.data()), ld, 2),
        0);
    EXPECT_EQ(count_faults(s, wide_product(s, &b, ld), r, ld), 0)
        << "residual n " << sh.n << " hb " << sh.hb;

    // In place: b itself becomes the residual, with the same bits.
    ASSERT_EQ(
        Accuracy<T>::residual(sh.n, sh.hb, sh.nrhs, c_ptr(s.ab.data()), s.ldab,
                              c_ptr(s.bb.data()), s.ldb, c_ptr(b.data()), ld,
                              c_ptr(b.data()), ld, 2),
        0);
    for (std::size_t k = 0; k < size; ++k)
      ASSERT_TRUE(CSystem<T>::same(b[k], r[k])) << "in place, at " << k;
  }
}

// The C++ header over the same calls: the same values, and shapes that
// do not fit refused before the library is called.
TYPED_TEST(AccuracyValues, CppHeader) {
  using T = TypeParam;
  CSystem<T> s = c_system<T>(50, 4, 2, 1, 0, 41);
  const BandView<const T> a(std::span<const T>(s.ab), s.n, s.hb, s.ldab);
  Real<T> want = 0;
  ASSERT_EQ(Accuracy<T>::norm1(s.n, s.hb, c_ptr(s.ab.data()), s.ldab, &want, 1),
            0);
  EXPECT_EQ(pband::norm1(a), want);
  const MatrixView<const T> x(std::span<const T>(s.bb), s.n, s.nrhs, s.ldb);
  std::vector<T> y(s.bb.size()), c(s.bb.size()), r(s.bb.size());
  pband::multiply(a, x, MatrixView<T>(std::span<T>(y), s.n, s.nrhs), 2);
  ASSERT_EQ(
      Accuracy<T>::multiply(s.n, s.hb, s.nrhs, c_ptr(s.ab.data()), s.ldab,
                            c_ptr(s.bb.data()), s.ldb, c_ptr(c.data()), s.n, 1),
      0);
  EXPECT_EQ(y, c);
  const std::vector<T> b = random_rhs<T>(s.n, s.nrhs, 43);
  ASSERT_EQ(Accuracy<T>::residual(s.n, s.hb, s.nrhs, c_ptr(s.ab.data()), s.ldab,
                                  c_ptr(s.bb.data()), s.ldb, c_ptr(b.data()),
                                  s.n, c_ptr(r.data()), s.n, 1),
            0);
  y = b;
  pband::residual(a, x, MatrixView<T>(std::span<T>(y), s.n, s.nrhs));
  EXPECT_EQ(y, r);
  EXPECT_THROW(pband::multiply(a, x, MatrixView<T>(std::span<T>(y), 49, 2, 50)),
               std::invalid_argument);
  EXPECT_THROW(pband::multiply(a, x, MatrixView<T>(std::span<T>(y), 50, 1)),
               std::invalid_argument);
  // Each view whose shape does not fit, for multiply and residual.
  std::vector<T> z(s.bb.size());
  const std::span<T> ys(z), rs(z);
  const MatrixView<const T> x49(std::span<const T>(s.bb), 49, 2, s.ldb);
  const MatrixView<const T> x1(std::span<const T>(s.bb), 50, 1, s.ldb);
  EXPECT_THROW(pband::multiply(a, x49, MatrixView<T>(ys, 50, 2)),
               std::invalid_argument);
  EXPECT_THROW(pband::residual(a, x49, x, MatrixView<T>(rs, 50, 2)),
               std::invalid_argument);
  EXPECT_THROW(pband::residual(a, x, x49, MatrixView<T>(rs, 50, 2)),
               std::invalid_argument);
  EXPECT_THROW(pband::residual(a, x, x1, MatrixView<T>(rs, 50, 2)),
               std::invalid_argument);
  EXPECT_THROW(pband::residual(a, x, x, MatrixView<T>(rs, 49, 2, 50)),
               std::invalid_argument);
  EXPECT_THROW(pband::residual(a, x, x, MatrixView<T>(rs, 50, 1)),
               std::invalid_argument);
  EXPECT_EQ(z, std::vector<T>(z.size(), T(0))) << "output written";
}

}  // namespace
}  // namespace pband::test
