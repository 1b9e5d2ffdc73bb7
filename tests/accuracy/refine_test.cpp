// Refinement with error bounds: ferr against the bound it estimates,
// formed densely in a wider type, and the true error; berr small after
// the steps; the real types against reference ?pbrfs from the same start;
// argument checks that touch nothing.
#include <limits>

#include "tests/accuracy/refine_support.hpp"

namespace pband::test {
namespace {

template <class T>
class Refinement : public ::testing::Test {};
TYPED_TEST_SUITE(Refinement, ElementTypes);

template <class T>
double abs1(T v) {
  if constexpr (IsComplex<T>::value)
    return std::abs(double(v.real())) + std::abs(double(v.imag()));
  else
    return std::abs(double(v));
}

// The solution of s's factor, each element off by up to `off` relative.
template <class T>
std::vector<T> rough_solution(const Stored<T>& s, const std::vector<T>& b,
                              std::int32_t nrhs, double off) {
  std::vector<T> x = b;
  Refine<T>::solve(s.n, s.hb, nrhs, c_ptr(s.af.data()), s.hb + 1,
                   c_ptr(s.factor.data()), std::int64_t(s.factor.size()),
                   c_ptr(x.data()), s.n, 1);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-off, off);
  for (T& v : x) v *= Real<T>(1 + u(rng));
  return x;
}

// Reference ?pbrfs of A (band) with the factor ?pbtrf makes of `of`.
template <class T>
void lapack_refine(const std::vector<T>& band, std::vector<T> of, int n, int hb,
                   int nrhs, const std::vector<T>& b, std::vector<T>& x,
                   std::vector<T>& ferr, std::vector<T>& berr) {
  int ld = hb + 1, info = 0;
  std::vector<T> work(3 * n);
  std::vector<int> iwork(n);
  ferr.assign(nrhs, 0);
  berr.assign(nrhs, 0);
  if constexpr (std::is_same_v<T, float>) {
    spbtrf_("L", &n, &hb, of.data(), &ld, &info, 1);
    spbrfs_("L", &n, &hb, &nrhs, band.data(), &ld, of.data(), &ld, b.data(), &n,
            x.data(), &n, ferr.data(), berr.data(), work.data(), iwork.data(),
            &info, 1);
  } else {
    dpbtrf_("L", &n, &hb, of.data(), &ld, &info, 1);
    dpbrfs_("L", &n, &hb, &nrhs, band.data(), &ld, of.data(), &ld, b.data(), &n,
            x.data(), &n, ferr.data(), berr.data(), work.data(), iwork.data(),
            &info, 1);
  }
}

TYPED_TEST(Refinement, BoundsHoldAndMatchTheirDefinition) {
  using T = TypeParam;
  using R = Real<T>;
  using W = Wide<T>;
  const double eps = std::numeric_limits<R>::epsilon() / 2;
  const std::int32_t n = 150, hb = 4, nrhs = 3;
  const std::vector<T> band =
      conditioned_band<T>(n, hb, std::sqrt(0.1 / eps), 1, 11);
  const Stored<T> s(band, n, hb, 2);
  ASSERT_EQ(s.status, 0);
  const std::vector<T> b = random_rhs<T>(n, nrhs, 12);
  std::vector<T> x = rough_solution(s, b, nrhs, 1e-3), x0 = x;
  std::vector<R> ferr, berr;
  ASSERT_EQ(s.refine(nrhs, b, x, ferr, berr, 2), 0);

  const std::vector<W> inv = dense_inverse(band, n, hb);
  const double nz = std::min(n + 1, 2 * hb + 2);
  for (std::int64_t q = 0; q < nrhs; ++q) {
    SCOPED_TRACE(::testing::Message() << "column " << q);
    std::vector<double> f(n);
    double big = 0, err = 0, bound = 0;
    for (std::int64_t i = 0; i < n; ++i) {
      W r = W(b[q * n + i]), xt = W(0);
      double scale = abs1(b[q * n + i]);
      for (std::int64_t k = 0; k < n; ++k) {
        const T a = band_at(band, hb, i + 1, k + 1);
        r -= W(a) * W(x[q * n + k]);
        scale += abs1(a) * abs1(x[q * n + k]);
        xt += inv[k * n + i] * W(b[q * n + k]);
      }
      f[i] = abs1(r) + nz * eps * scale;
      big = std::max(big, abs1(x[q * n + i]));
      err = std::max(err, abs1(W(x[q * n + i]) - xt));
    }
    for (std::int64_t i = 0; i < n; ++i) {
      double row = 0;
      for (std::int64_t k = 0; k < n; ++k)
        row += double(std::abs(inv[k * n + i])) * f[k];
      bound = std::max(bound, row / big);
    }
    EXPECT_GE(ferr[q], err / big);
    EXPECT_GE(ferr[q], bound / 10);
    EXPECT_LE(ferr[q], 3 * bound);
    EXPECT_LE(berr[q], nz * eps);
  }
  if constexpr (!IsComplex<T>::value) {
    std::vector<T> lx(x0);
    std::vector<R> lferr, lberr;
    lapack_refine(band, band, n, hb, nrhs, b, lx, lferr, lberr);
    for (std::int64_t q = 0; q < nrhs; ++q) {
      EXPECT_GE(ferr[q], lferr[q] / 3);
      EXPECT_LE(ferr[q], lferr[q] * 3);
      EXPECT_LE(berr[q], std::max<R>(4 * lberr[q], R(2 * eps)));
    }
  }
}

// With the factor of 1.3·A each correction gains only a factor 4, so the
// steps run into the limit of 5: one step more or less shows in berr.
TYPED_TEST(Refinement, StepsAsPbrfsWhenTheFactorIsOff) {
  using T = TypeParam;
  if constexpr (!IsComplex<T>::value) {
    const std::int32_t n = 200, hb = 3, nrhs = 2;
    const std::vector<T> band = conditioned_band<T>(n, hb, 50, 1, 31);
    std::vector<T> off(band);
    for (T& v : off) v *= T(1.3);
    Stored<T> s(off, n, hb, 2);
    s.a = band;
    s.a.resize(s.af.size());
    const std::vector<T> b = random_rhs<T>(n, nrhs, 32);
    std::vector<T> x = rough_solution(s, b, nrhs, 1e-2), lx = x;
    std::vector<T> ferr, berr, lferr, lberr;
    ASSERT_EQ(s.refine(nrhs, b, x, ferr, berr, 2), 0);
    lapack_refine(band, off, n, hb, nrhs, b, lx, lferr, lberr);
    for (std::int64_t q = 0; q < nrhs; ++q) {
      EXPECT_GT(berr[q], 4 * std::numeric_limits<T>::epsilon());
      EXPECT_GE(berr[q], lberr[q] / 3);
      EXPECT_LE(berr[q], lberr[q] * 3);
      EXPECT_LE(ferr[q], lferr[q] * 3);
    }
  }
}

TYPED_TEST(Refinement, EmptyAndBadArguments) {
  using T = TypeParam;
  using R = Real<T>;
  const std::int32_t n = 30, hb = 2;
  const Stored<T> s(random_band_matrix<T>(n, hb, 4), n, hb, 1);
  const Stored<T> other(random_band_matrix<T>(n + 1, hb, 4), n + 1, hb, 1);
  const std::vector<T> b = random_rhs<T>(n, 2, 5);
  std::vector<T> x = b;
  std::vector<R> ferr(2, -3), berr(2, -3);
  const auto* a = c_ptr(s.a.data());
  const auto* af = c_ptr(s.af.data());
  const auto* f = c_ptr(s.factor.data());
  const auto* bp = c_ptr(b.data());
  auto* xp = c_ptr(x.data());
  const std::int64_t lf = std::int64_t(s.factor.size());
  using P = decltype(a);
  struct Args {
    std::int32_t n, hb, nrhs;
    P a;
    std::int32_t lda;
    P af;
    std::int32_t ldaf;
    P f;
    std::int64_t lf;
    P b;
    std::int32_t ldb;
    decltype(xp) x;
    std::int32_t ldx;
    R *ferr, *berr;
  };
  const Args good{n,  hb, 2, a,  hb + 1, af,          hb + 1,     f,
                  lf, bp, n, xp, n,      ferr.data(), berr.data()};
  const auto call = [](const Args& g) {
    return Refine<T>::refine(g.n, g.hb, g.nrhs, g.a, g.lda, g.af, g.ldaf, g.f,
                             g.lf, g.b, g.ldb, g.x, g.ldx, g.ferr, g.berr, 1);
  };
  std::vector<Args> bad(15, good);
  bad[0].n = -1;
  bad[1].hb = -1;
  bad[2].nrhs = -1;
  bad[3].a = nullptr;
  bad[4].lda = hb;
  bad[5].af = nullptr;
  bad[6].ldaf = hb;
  bad[7].f = c_ptr(other.factor.data());
  bad[8].lf = lf - 1;
  bad[9].b = nullptr;
  bad[10].ldb = n - 1;
  bad[11].x = nullptr;
  bad[12].ldx = n - 1;
  bad[13].ferr = nullptr;
  bad[14].berr = nullptr;
  for (int i = 0; i < 15; ++i) EXPECT_EQ(call(bad[i]), -(i + 1));
  EXPECT_TRUE(same_bits(x, b));
  EXPECT_EQ(ferr[0], R(-3));
  EXPECT_EQ(berr[1], R(-3));
  Args none = good;
  none.nrhs = 0;
  EXPECT_EQ(call(none), 0);
  none.n = 0;
  none.nrhs = 2;
  EXPECT_EQ(call(none), 0);
  EXPECT_EQ(ferr[1], R(0));
  EXPECT_EQ(berr[0], R(0));
}

}  // namespace
}  // namespace pband::test
