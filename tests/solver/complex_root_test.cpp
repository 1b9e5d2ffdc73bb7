// The principal square root of complex pivots at the ends of the range:
// the root against the C library's over a grid of both parts, and solves
// whose diagonal holds such pivots, through the solver and the band
// library on every instruction-set path.
#include <cstring>
#include <limits>

#include "bandlib/band_library.hpp"
#include "kernels/element_traits.hpp"
#include "tests/solver/solver_test_support.hpp"

namespace pband::test {
namespace {

template <class C>
bool same_bits(C a, C b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

template <class R>
std::vector<R> magnitudes() {
  using L = std::numeric_limits<R>;
  return {L::denorm_min(), 2 * L::denorm_min(), L::min() / 2, L::min(),
          2 * L::min(), R(1e-30), R(0.5), R(1), R(3), R(1e30),
          L::max() / 8, L::max() / 4,
          std::nextafter(L::max() / 4, L::max()), R(0.6) * L::max(),
          L::max()};
}

template <class C>
class ComplexRoot : public SolverFixture {};

using ComplexTypes =
    ::testing::Types<std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(ComplexRoot, ComplexTypes);

// Every quadrant, signed zeros and the axes, magnitudes from the smallest
// subnormal to the largest finite value: the library's bits, and finite.
TYPED_TEST(ComplexRoot, SameBitsAsTheLibraryOverTheRange) {
  using C = TypeParam;
  using R = typename C::value_type;
  std::vector<R> parts = {R(0), -R(0)};
  for (R m : magnitudes<R>()) {
    parts.push_back(m);
    parts.push_back(-m);
  }
  int checked = 0;
  for (R x : parts)
    for (R y : parts) {
      const C z(x, y);
      const C got = ElementTraits<C>::sqrt(z);
      const C want = std::sqrt(z);
      EXPECT_TRUE(same_bits(got, want))
          << "sqrt(" << x << ", " << y << ") = " << got << ", library "
          << want;
      EXPECT_TRUE(std::isfinite(got.real()) && std::isfinite(got.imag()))
          << "sqrt(" << x << ", " << y << ") = " << got;
      ++checked;
    }
  EXPECT_EQ(checked, 32 * 32);
}

// Pivots at the ends of the range and on the imaginary axis, on the
// diagonal of a matrix whose other band entries are zero, so that every
// pivot reaches the root unchanged. Each column's right-hand side is its
// pivot: x = 1.
template <class C>
std::vector<C> extreme_pivots() {
  using R = typename C::value_type;
  using L = std::numeric_limits<R>;
  const R big = L::max();
  return {C(R(0.6) * big, R(0.1) * big), C(-R(0.6) * big, -R(0.1) * big),
          C(R(0), 2 * L::denorm_min()), C(-R(0), -2 * L::denorm_min()),
          C(R(0), R(3)), C(-R(0), -R(5)), C(R(4), R(1))};
}

template <class C>
struct DiagonalSystem {
  std::int32_t n, hb;
  std::vector<C> a, b, pivots;
  DiagonalSystem(std::int32_t n_, std::int32_t hb_) : n(n_), hb(hb_) {
    const std::vector<C> p = extreme_pivots<C>();
    a.assign(band_length(n, hb), C(0));
    for (std::int32_t j = 0; j < n; ++j) {
      pivots.push_back(p[j % p.size()]);
      a[std::size_t(j) * (hb + 1)] = pivots.back();
    }
    b = pivots;
  }
  // Status 0, each diagonal entry of the factor the library root of its
  // pivot, every other entry still zero, x = 1 to rounding.
  void expect_solved(const std::vector<C>& f, const std::vector<C>& x,
                     std::int32_t status, const char* what) const {
    using R = typename C::value_type;
    EXPECT_EQ(status, 0) << what;
    for (std::int32_t j = 0; j < n; ++j) {
      const C* col = f.data() + std::size_t(j) * (hb + 1);
      EXPECT_TRUE(same_bits(col[0], std::sqrt(pivots[j])))
          << what << ": column " << j + 1 << " root " << col[0]
          << " of pivot " << pivots[j];
      for (std::int32_t i = 1; i <= hb && j + i < n; ++i)
        EXPECT_EQ(col[i], C(0)) << what << ": column " << j + 1;
      EXPECT_LE(std::abs(x[j] - C(1)), 16 * std::numeric_limits<R>::epsilon())
          << what << ": x(" << j + 1 << ") = " << x[j];
    }
  }
};

template <class C>
struct Library;
template <>
struct Library<std::complex<float>> {
  static constexpr auto factor_solve = &band_factor_solve_c8;
  static constexpr auto factor = &band_factor_c8;
  static constexpr auto substitute = &band_substitute_c8;
};
template <>
struct Library<std::complex<double>> {
  static constexpr auto factor_solve = &band_factor_solve_c16;
  static constexpr auto factor = &band_factor_c16;
  static constexpr auto substitute = &band_substitute_c16;
};

TYPED_TEST(ComplexRoot, ExtremePivotsSolveOnEveryPath) {
  using C = TypeParam;
  // Small blocks, so that the solver's couplings and levels take part.
  pband::testing::set_solver_block_base(4);
  set_team_size(2);
  for (std::int32_t isa = 0; isa <= pband::testing::solver_isa_widest();
       ++isa) {
    pband::testing::set_solver_isa(isa);
    for (std::int32_t hb : {0, 3}) {
      const DiagonalSystem<C> sys(47, hb);
      SCOPED_TRACE(::testing::Message() << "isa " << isa << ", hb " << hb);
      Watchdog guard(kHangLimit);

      std::vector<C> a = sys.a, b = sys.b;
      std::vector<C> w(2 * std::size_t(sys.n) * hb + 1);
      std::int32_t status = -100;
      Solver<C>::solve(a.data(), sys.n, hb, b.data(), 1, w.data(), status);
      sys.expect_solved(a, b, status, "solver");

      a = sys.a;
      b = sys.b;
      Library<C>::factor_solve(a.data(), sys.n, hb, b.data(), 4, status);
      sys.expect_solved(a, b, status, "factor-and-solve");

      a = sys.a;
      b = sys.b;
      Library<C>::factor(a.data(), sys.n, hb, 4, status);
      ASSERT_EQ(status, 0);
      Library<C>::substitute(a.data(), sys.n, hb, b.data(), 4, status);
      sys.expect_solved(a, b, status, "factor, substitute");
    }
  }
  pband::testing::set_solver_isa(-1);
}

}  // namespace
}  // namespace pband::test
