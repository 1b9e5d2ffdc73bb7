// The C++ header: views refuse storage too small for their shape, bad
// arguments throw std::invalid_argument naming what is wrong, a failed
// pivot is a Result that says so, and the calls give the C interface's
// bits for every element type.
#include "pband/pband.hpp"
#include "tests/api/c_api_support.hpp"

namespace pband::test {
namespace {

template <class T>
class CppApi : public ::testing::Test {};
TYPED_TEST_SUITE(CppApi, ElementTypes);

TYPED_TEST(CppApi, CallsGiveTheCInterfaceBits) {
  using T = TypeParam;
  CSystem<T> c = c_system<T>(700, 3, 2, 1, 2, 31);
  CSystem<T> cpp = c;
  ASSERT_EQ(c_solve(c, 3), 0);
  const pband::Result r =
      pband::solve(pband::BandView(cpp.ab, cpp.n, cpp.hb, cpp.ldab),
                   pband::MatrixView(cpp.bb, cpp.n, cpp.nrhs, cpp.ldb), 3);
  ASSERT_TRUE(r.ok()) << r.message();
  EXPECT_TRUE(same_bits(cpp.bb, c.bb));

  // The caller's workspace, and a single right-hand side from a vector.
  CSystem<T> w = c_system<T>(700, 3, 1, 0, 0, 31);
  std::vector<T> x = w.b;
  pband::BandView a(w.ab, w.n, w.hb);
  std::vector<T> work(pband::solve_workspace_size(a, x));
  ASSERT_TRUE(pband::solve(a, x, work, 1));
  EXPECT_LT(scaled_residual(w.a, w.n, w.hb, w.b, x, 1), 30.0);

  // Factor once, solve through a view of const elements.
  CSystem<T> f = c_system<T>(700, 3, 2, 0, 0, 31);
  pband::BandView l(f.ab, f.n, f.hb);
  ASSERT_TRUE(pband::cholesky(l, 2));
  std::vector<T> y = f.b;
  const std::vector<T>& factor = f.ab;
  pband::cholesky_solve(pband::BandView(factor, f.n, f.hb),
                        pband::MatrixView(y, f.n, f.nrhs));
  EXPECT_LT(scaled_residual(f.a, f.n, f.hb, f.b, y, 2), 30.0);
}

// A stored factor of a const view: the caller's band untouched, each
// solve with the bits of one solve; a failed factor refuses to solve.
TYPED_TEST(CppApi, FactorSolvesManyTimes) {
  using T = TypeParam;
  CSystem<T> c = c_system<T>(600, 4, 2, 2, 1, 41);
  CSystem<T> f = c;
  ASSERT_EQ(c_solve(c, 2), 0);
  const std::vector<T> band = f.ab;
  const pband::Factor<T> factor(
      pband::BandView<const T>(std::span<const T>(f.ab), f.n, f.hb, f.ldab), 2);
  ASSERT_TRUE(factor.info());
  EXPECT_TRUE(same_bits(f.ab, band));
  for (int threads : {1, 2}) {
    CSystem<T> s = f;
    factor.solve(pband::MatrixView(s.bb, s.n, s.nrhs, s.ldb), threads);
    EXPECT_TRUE(same_bits(s.bb, c.bb));
  }
  std::vector<T> short_b(f.n - 1);
  EXPECT_THROW(factor.solve(short_b), std::invalid_argument);

  CSystem<T> bad = c_system<T>(60, 2, 1, 0, 0, 5);
  bad.ab[0] = T(0);
  const pband::Factor<T> none(pband::BandView<T>(bad.ab, bad.n, bad.hb));
  EXPECT_EQ(none.info().info, 1);
  EXPECT_THROW(none.solve(bad.bb), std::logic_error);
}

TYPED_TEST(CppApi, BadArgumentsThrowAndFailedPivotsDoNot) {
  using T = TypeParam;
  std::vector<T> ab(3 * 10, T(0)), b(10, T(1));
  // Storage smaller than the shape, ld too small, sizes negative.
  EXPECT_THROW(pband::BandView(std::span(ab).first(28), 10, 2),
               std::invalid_argument);
  EXPECT_NO_THROW(pband::BandView(ab, 10, 2));
  EXPECT_THROW(pband::BandView(ab, 10, 2, 2), std::invalid_argument);
  EXPECT_THROW(pband::BandView(ab, -1, 2), std::invalid_argument);
  EXPECT_THROW(pband::MatrixView(b, 5, 3), std::invalid_argument);
  EXPECT_THROW(pband::MatrixView(b, 5, 2, 4), std::invalid_argument);
  // Rows of b that do not match the matrix.
  std::vector<T> short_b(9, T(1));
  EXPECT_THROW((void)pband::solve(pband::BandView(ab, 10, 2), short_b),
               std::invalid_argument);
  // A workspace too small: the C status, as an exception naming lwork
  // (a system large enough for cyclic reduction, which needs one).
  std::vector<T> small(1), big_ab(3 * 30000, T(0)), big_b(30000, T(1));
  try {
    (void)pband::solve(pband::BandView(big_ab, 30000, 2), big_b, small);
    ADD_FAILURE() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("lwork"), std::string::npos)
        << e.what();
  }
  // A zero matrix is not positive definite: a Result, not an exception.
  const pband::Result r = pband::cholesky(pband::BandView(ab, 10, 2));
  EXPECT_FALSE(r);
  EXPECT_EQ(r.info, 1);
  EXPECT_NE(std::string(r.message()).find("not positive definite"),
            std::string::npos);
  EXPECT_EQ(pband::solve(pband::BandView(ab, 10, 2), b).info, 1);
  EXPECT_STREQ(pband::version(), PBAND_VERSION_STRING);
}

}  // namespace
}  // namespace pband::test
