// Argument checks of the norm, product and residual: each invalid
// argument alone gives its own −i, the first one wins, and nothing the
// call may write is touched.
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "tests/accuracy/accuracy_support.hpp"

namespace pband::test {
namespace {

template <class T>
class AccuracyArgs : public ::testing::Test {};
TYPED_TEST_SUITE(AccuracyArgs, ElementTypes);

// One valid call's arguments; each case spoils one of them.
template <class T>
struct Call {
  std::int32_t n = 9, hb = 2, nrhs = 2, ldab = 3, ldx = 9, ldb = 9, ldy = 9;
  std::vector<T> ab = std::vector<T>(27, T(1)), x = std::vector<T>(18, T(1));
  std::vector<T> b = std::vector<T>(18, T(1));
  std::vector<T> out = std::vector<T>(18, sentinel<T>());
  const T* abp = ab.data();
  const T* xp = x.data();
  const T* bp = b.data();
  T* outp = out.data();

  int multiply() {
    return Accuracy<T>::multiply(n, hb, nrhs, c_ptr(abp), ldab, c_ptr(xp), ldx,
                                 c_ptr(outp), ldy, 2);
  }
  int residual() {
    return Accuracy<T>::residual(n, hb, nrhs, c_ptr(abp), ldab, c_ptr(xp), ldx,
                                 c_ptr(bp), ldb, c_ptr(outp), ldy, 2);
  }
  bool untouched() const {
    for (const T& v : out)
      if (!CSystem<T>::same(v, sentinel<T>())) return false;
    return true;
  }
};

TYPED_TEST(AccuracyArgs, Norm) {
  using T = TypeParam;
  const std::vector<T> ab(27, T(1));
  const Real<T> mark = Real<T>(-3);
  auto norm = [&](std::int32_t n, std::int32_t hb, const T* a,
                  std::int32_t ldab, Real<T>* out) {
    Real<T> keep = mark;
    const int status = Accuracy<T>::norm1(n, hb, c_ptr(a), ldab,
                                          out == nullptr ? nullptr : &keep, 2);
    if (out != nullptr) *out = keep;
    return status;
  };
  Real<T> v = mark;
  EXPECT_EQ(norm(-1, 2, ab.data(), 3, &v), -1);
  EXPECT_EQ(norm(9, -1, ab.data(), 3, &v), -2);
  EXPECT_EQ(norm(9, 2, nullptr, 3, &v), -3);
  EXPECT_EQ(norm(9, 2, ab.data(), 2, &v), -4);
  EXPECT_EQ(v, mark);
  EXPECT_EQ(norm(9, 2, ab.data(), 3, nullptr), -5);
  EXPECT_EQ(norm(-1, -1, nullptr, 0, nullptr), -1);
  EXPECT_EQ(norm(0, 0, nullptr, 1, &v), 0);  // no band to read
  EXPECT_EQ(norm(9, 2, ab.data(), 3, &v), 0);
  EXPECT_EQ(v, Real<T>(5));
}

TYPED_TEST(AccuracyArgs, ProductAndResidual) {
  using T = TypeParam;
  using C = Call<T>;
  // Spoils shared by both calls: (spoil, status).
  const std::vector<std::pair<void (*)(C&), int>> shared = {
      {[](C& c) { c.n = -1; }, -1},
      {[](C& c) { c.hb = -1; }, -2},
      {[](C& c) { c.nrhs = -1; }, -3},
      {[](C& c) { c.abp = nullptr; }, -4},
      {[](C& c) { c.ldab = 2; }, -5},
      {[](C& c) { c.xp = nullptr; }, -6},
      {[](C& c) { c.ldx = 8; }, -7},
      {[](C& c) { c.n = -1, c.ldab = 0, c.xp = nullptr; }, -1}};
  for (const auto& [spoil, status] : shared) {
    C m, r;
    spoil(m);
    spoil(r);
    EXPECT_EQ(m.multiply(), status);
    EXPECT_EQ(r.residual(), status);
    EXPECT_TRUE(m.untouched() && r.untouched()) << status;
  }
  const std::vector<std::pair<void (*)(C&), int>> product = {
      {[](C& c) { c.outp = nullptr; }, -8}, {[](C& c) { c.ldy = 8; }, -9}};
  for (const auto& [spoil, status] : product) {
    C m;
    spoil(m);
    EXPECT_EQ(m.multiply(), status);
    EXPECT_TRUE(m.untouched()) << status;
  }
  const std::vector<std::pair<void (*)(C&), int>> residual = {
      {[](C& c) { c.bp = nullptr; }, -8},
      {[](C& c) { c.ldb = 8; }, -9},
      {[](C& c) { c.outp = nullptr; }, -10},
      {[](C& c) { c.ldy = 8; }, -11},
      // r on b with another leading dimension would read written rows.
      {[](C& c) { c.bp = c.outp, c.ldb = 10; }, -11}};
  for (const auto& [spoil, status] : residual) {
    C r;
    spoil(r);
    EXPECT_EQ(r.residual(), status);
    EXPECT_TRUE(r.untouched()) << status;
  }
  // Empty calls need no arrays at all.
  C e;
  e.nrhs = 0;
  e.xp = e.bp = nullptr;
  e.outp = nullptr;
  EXPECT_EQ(e.multiply(), 0);
  EXPECT_EQ(e.residual(), 0);
}

}  // namespace
}  // namespace pband::test
