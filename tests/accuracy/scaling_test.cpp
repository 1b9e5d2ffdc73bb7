// Equilibration against reference LAPACK: the scale factors bit for bit
// with ?pbequ, the scaling with ?laqsb (complex: with a real diagonal,
// where the modulus is the real part), LAPACK's thresholds, the failed
// diagonal, and argument checks that touch nothing.
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "tests/api/c_api_support.hpp"

extern "C" {
#define PBAND_PBEQU(L, T, R)                                                 \
  void L##pbequ_(const char* uplo, const int* n, const int* kd, const T* ab, \
                 const int* ldab, R* s, R* scond, R* amax, int* info,        \
                 std::size_t);                                               \
  void L##laqsb_(const char* uplo, const int* n, const int* kd, T* ab,       \
                 const int* ldab, const R* s, const R* scond, const R* amax, \
                 char* equed, std::size_t, std::size_t);
PBAND_PBEQU(s, float, float)
PBAND_PBEQU(d, double, double)
PBAND_PBEQU(c, std::complex<float>, float)
PBAND_PBEQU(z, std::complex<double>, double)
#undef PBAND_PBEQU
}

namespace pband::test {
namespace {

template <class T>
struct Scaling;
#define PBAND_TEST_SCALING(T, L)                                    \
  template <>                                                       \
  struct Scaling<T> {                                               \
    static constexpr auto factors = &pband_equilibrate_factors_##L; \
    static constexpr auto scale = &pband_equilibrate_##L;           \
    static constexpr auto pbequ = &L##pbequ_;                       \
    static constexpr auto laqsb = &L##laqsb_;                       \
  };
PBAND_TEST_SCALING(float, s)
PBAND_TEST_SCALING(double, d)
PBAND_TEST_SCALING(std::complex<float>, c)
PBAND_TEST_SCALING(std::complex<double>, z)
#undef PBAND_TEST_SCALING

template <class T>
class Equilibrate : public ::testing::Test {};
TYPED_TEST_SUITE(Equilibrate, ElementTypes);

// A system whose diagonal spans `spread` orders of magnitude, real even
// for the complex types (so that LAPACK's Hermitian reading agrees).
template <class T>
CSystem<T> graded(std::int32_t n, std::int32_t hb, double spread, double size) {
  CSystem<T> s = c_system<T>(n, hb, 1, 2, 0, 31 + n);
  for (std::int64_t j = 1; j <= n; ++j) {
    const double g = size * std::pow(10.0, spread * (j % 7) / 6.0);
    const Real<T> d = std::abs(s.a[pos(j, j, hb)]);
    for (std::int64_t i = j + 1; i <= std::min<std::int64_t>(n, j + hb); ++i)
      s.a[pos(i, j, hb)] *= Real<T>(g);
    s.a[pos(j, j, hb)] = T(d * Real<T>(g));
  }
  s.lay_out();
  return s;
}

struct Case {
  std::int32_t n, hb;
  double spread, size;
};

TYPED_TEST(Equilibrate, AsReferenceLapack) {
  using T = TypeParam;
  using R = Real<T>;
  // Scaled: factors far apart, or a diagonal near underflow or overflow;
  // left alone: a diagonal within one order of magnitude.
  const R tiny = std::numeric_limits<R>::min();
  const R huge = std::numeric_limits<R>::max();
  for (Case c : {Case{40, 3, 4, 1},
                 {25, 0, 0.5, 1},
                 {60, 5, 0.5, tiny * 10},
                 {60, 5, 0.5, huge / 1e6},
                 {9, 12, 3, 1}}) {
    CSystem<T> ours = graded<T>(c.n, c.hb, c.spread, c.size);
    CSystem<T> ref = ours;
    const int n = c.n, kd = std::min(c.hb, c.n - 1), ld = ours.ldab;
    std::vector<R> s(n, R(-1)), s_ref(n, R(-2));
    R scond = -1, amax = -1, scond_ref = -2, amax_ref = -2;
    int info = -1;
    ASSERT_EQ(Scaling<T>::factors(n, c.hb, c_ptr(ours.ab.data()), ld, s.data(),
                                  &scond, &amax),
              0);
    Scaling<T>::pbequ("L", &n, &kd, ref.ab.data(), &ld, s_ref.data(),
                      &scond_ref, &amax_ref, &info, 1);
    ASSERT_EQ(info, 0);
    EXPECT_TRUE(same_bits(s, s_ref));
    EXPECT_EQ(scond, scond_ref);
    EXPECT_EQ(amax, amax_ref);
    char equed = '?', equed_ref = '?';
    ASSERT_EQ(Scaling<T>::scale(n, c.hb, c_ptr(ours.ab.data()), ld, s.data(),
                                scond, amax, &equed),
              0);
    Scaling<T>::laqsb("L", &n, &kd, ref.ab.data(), &ld, s_ref.data(),
                      &scond_ref, &amax_ref, &equed_ref, 1, 1);
    EXPECT_EQ(equed, equed_ref) << c.n << " " << c.spread;
    EXPECT_EQ(equed, c.spread > 2 || c.size != R(1) ? 'Y' : 'N');
    // Band rows bit for bit; padding and rows beyond n as they were.
    EXPECT_TRUE(same_bits(ours.band(), ref.band()));
    EXPECT_TRUE(ours.outside_untouched(true));
  }
}

TYPED_TEST(Equilibrate, FirstDiagonalNotPositive) {
  using T = TypeParam;
  using R = Real<T>;
  CSystem<T> c = c_system<T>(20, 2, 1, 0, 0, 5);
  c.a[pos(6, 6, 2)] = T(0);
  c.a[pos(11, 11, 2)] = T(0);
  c.lay_out();
  std::vector<R> s(20);
  R scond = -7, amax = -7;
  EXPECT_EQ(Scaling<T>::factors(20, 2, c_ptr(c.ab.data()), 3, s.data(), &scond,
                                &amax),
            6);
  EXPECT_EQ(scond, R(-7));
  EXPECT_GT(amax, R(1));
  if constexpr (!IsComplex<T>::value) {
    c.a[pos(3, 3, 2)] = T(-1);
    c.lay_out();
    EXPECT_EQ(Scaling<T>::factors(20, 2, c_ptr(c.ab.data()), 3, s.data(),
                                  &scond, &amax),
              3);
  }
}

// Complex symmetric: the modulus of a complex diagonal sets the factors,
// and the scaled diagonal has modulus 1.
TEST(EquilibrateComplex, ModulusOfTheDiagonal) {
  using T = std::complex<double>;
  CSystem<T> c = c_system<T>(10, 1, 1, 0, 0, 2);
  for (std::int64_t j = 1; j <= 10; ++j)
    c.a[pos(j, j, 1)] = T(3.0 * j, 4.0 * j);
  c.lay_out();
  std::vector<double> s(10);
  double scond = 0, amax = 0;
  ASSERT_EQ(pband_equilibrate_factors_z(10, 1, c_ptr(c.ab.data()), 2, s.data(),
                                        &scond, &amax),
            0);
  EXPECT_DOUBLE_EQ(amax, 50.0);
  EXPECT_DOUBLE_EQ(scond, std::sqrt(5.0) / std::sqrt(50.0));
  EXPECT_DOUBLE_EQ(s[3], 1 / std::sqrt(20.0));
  char equed = '?';
  ASSERT_EQ(pband_equilibrate_z(10, 1, c_ptr(c.ab.data()), 2, s.data(), 0.01,
                                amax, &equed),
            0);
  EXPECT_EQ(equed, 'Y');
  EXPECT_NEAR(std::abs(c.ab[2 * 4]), 1.0, 1e-15);
}

TYPED_TEST(Equilibrate, ArgumentChecksTouchNothing) {
  using T = TypeParam;
  using R = Real<T>;
  CSystem<T> c = c_system<T>(8, 2, 1, 0, 0, 4);
  const std::vector<T> before = c.ab;
  std::vector<R> s(8, R(-3));
  R scond = -3, amax = -3;
  const auto ab = c_ptr(c.ab.data());
  const auto f = Scaling<T>::factors;
  EXPECT_EQ(f(-1, 2, ab, 3, s.data(), &scond, &amax), -1);
  EXPECT_EQ(f(8, -1, ab, 3, s.data(), &scond, &amax), -2);
  EXPECT_EQ(f(8, 2, nullptr, 3, s.data(), &scond, &amax), -3);
  EXPECT_EQ(f(8, 2, ab, 2, s.data(), &scond, &amax), -4);
  EXPECT_EQ(f(8, 2, ab, 3, nullptr, &scond, &amax), -5);
  EXPECT_EQ(f(8, 2, ab, 3, s.data(), nullptr, &amax), -6);
  EXPECT_EQ(f(8, 2, ab, 3, s.data(), &scond, nullptr), -7);
  EXPECT_EQ(f(8, 2, ab, 2, nullptr, nullptr, nullptr), -4);
  EXPECT_EQ(scond, R(-3));
  EXPECT_EQ(amax, R(-3));
  for (R v : s) EXPECT_EQ(v, R(-3));
  std::vector<R> ones(8, R(0.5));
  char e = '?';
  const auto g = Scaling<T>::scale;
  EXPECT_EQ(g(-1, 2, ab, 3, ones.data(), 0, 1, &e), -1);
  EXPECT_EQ(g(8, -1, ab, 3, ones.data(), 0, 1, &e), -2);
  EXPECT_EQ(g(8, 2, nullptr, 3, ones.data(), 0, 1, &e), -3);
  EXPECT_EQ(g(8, 2, ab, 2, ones.data(), 0, 1, &e), -4);
  EXPECT_EQ(g(8, 2, ab, 3, nullptr, 0, 1, &e), -5);
  EXPECT_EQ(g(8, 2, ab, 3, ones.data(), 0, 1, nullptr), -8);
  EXPECT_EQ(e, '?');
  EXPECT_TRUE(same_bits(c.ab, before));
  // n = 0: nothing to scale, arrays may be absent.
  EXPECT_EQ(g(0, 2, nullptr, 3, nullptr, 0, 1, &e), 0);
  EXPECT_EQ(e, 'N');
  EXPECT_EQ(f(0, 2, nullptr, 3, nullptr, &scond, &amax), 0);
  EXPECT_EQ(scond, R(1));
  EXPECT_EQ(amax, R(0));
}

}  // namespace
}  // namespace pband::test
