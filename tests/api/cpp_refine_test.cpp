// pband::Factor's condition estimate and refinement: the bits of the C
// calls on the same factor, one ferr and berr per column, and the
// exceptions of bad arguments and of a factor that failed.
#include "pband/pband.hpp"
#include "tests/accuracy/refine_support.hpp"

namespace pband::test {
namespace {

template <class T>
class CppRefine : public ::testing::Test {};
TYPED_TEST_SUITE(CppRefine, ElementTypes);

TYPED_TEST(CppRefine, MembersGiveTheCBits) {
  using T = TypeParam;
  using R = Real<T>;
  const std::int32_t n = 300, hb = 3, nrhs = 2;
  std::vector<T> band = random_band_matrix<T>(n, hb, 41, hb);
  const std::vector<T> b = random_rhs<T>(n, nrhs, 42);
  const Stored<T> s(band, n, hb, 2);
  const pband::Factor<T> f(pband::BandView<const T>(band, n, hb), 2);
  EXPECT_EQ(f.anorm(), s.anorm);
  R rcond = 0;
  ASSERT_EQ(s.rcond(&rcond, 1), 0);
  EXPECT_EQ(f.rcond(3), rcond);

  std::vector<T> x = b, y = b;
  f.solve(pband::MatrixView<T>(x, n, nrhs));
  for (std::size_t i = 0; i < x.size(); i += 2) x[i] *= R(1.01);
  y = x;
  std::vector<R> ferr, berr;
  ASSERT_EQ(s.refine(nrhs, b, y, ferr, berr, 1), 0);
  const pband::BandView<const T> a(band, n, hb);
  const pband::MatrixView<const T> bv(b, n, nrhs);
  const auto out = f.refine(a, bv, pband::MatrixView<T>(x, n, nrhs), 2);
  EXPECT_TRUE(same_bits(x, y));
  EXPECT_TRUE(same_bits(out.ferr, ferr));
  EXPECT_TRUE(same_bits(out.berr, berr));

  // Shapes the C call would accept: the header must refuse them itself.
  EXPECT_THROW(f.refine(a, bv, pband::MatrixView<T>(x, n - 1, nrhs, n)),
               std::invalid_argument);
  EXPECT_THROW(f.refine(a, pband::MatrixView<const T>(b, n - 1, nrhs, n),
                        pband::MatrixView<T>(x, n, nrhs)),
               std::invalid_argument);
  EXPECT_THROW(f.refine(a, bv, pband::MatrixView<T>(x, n, 1)),
               std::invalid_argument);
  EXPECT_THROW(f.refine(pband::BandView<const T>(band, n - 1, hb), bv,
                        pband::MatrixView<T>(x, n, nrhs)),
               std::invalid_argument);
  // A failed factor is a logic error, not a bad argument.
  const auto no_factor = [](auto call) {
    try {
      call();
    } catch (const std::invalid_argument&) {
      return false;
    } catch (const std::logic_error&) { return true; }
    return false;
  };
  std::vector<T> bad(band.size(), T(0));
  const pband::Factor<T> failed(pband::BandView<const T>(bad, n, hb));
  EXPECT_TRUE(no_factor([&] { (void)failed.rcond(); }));
  EXPECT_TRUE(no_factor(
      [&] { failed.refine(a, bv, pband::MatrixView<T>(x, n, nrhs)); }));
}

}  // namespace
}  // namespace pband::test
