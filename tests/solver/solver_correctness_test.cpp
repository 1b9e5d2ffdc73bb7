// Solutions of the band solver against LAPACK on random diagonally
// dominant systems, over the element types, half bandwidths and system
// sizes that put block edges, short last blocks and many levels in play.
#include <algorithm>
#include <atomic>
#include <numeric>
#include <set>

#include "kernels/factor_diagonal_block.hpp"

#include "tests/solver/solver_test_support.hpp"

namespace pband::test {
namespace {

template <class T>
class SolverCorrectness : public SolverFixture {};
TYPED_TEST_SUITE(SolverCorrectness, ElementTypes);

// The block base the solver picks for a type on a small team.
template <class T>
std::int32_t default_base() {
  return IsComplex<T>::value ? 16 : 24;
}

// Sizes around the block edges: one column, one block and its neighbours,
// a last block shorter than hb, and enough blocks for six levels.
std::vector<std::int32_t> sizes_for(std::int32_t bs, std::int32_t hb) {
  const std::int32_t short_tail = std::max(1, hb / 2);
  std::set<std::int32_t> s = {1,      2,          bs - 1,
                              bs,     bs + 1,     2 * bs,
                              2 * bs + 1, 3 * bs + short_tail,
                              37 * bs + short_tail};
  s.erase(0);
  return {s.begin(), s.end()};
}

// b - A·x is small against A and x, and x agrees with LAPACK's solution
// to within what the two residuals allow: ‖x − x_ref‖∞ ≤ ‖A⁻¹‖∞·(‖r‖∞ +
// ‖r_ref‖∞), where the dominance margin bounds ‖A⁻¹‖∞.
template <class T>
void expect_matches_lapack(const SolveRun<T>& r) {
  ASSERT_EQ(r.status, 0);
  if (r.nrhs == 0) return;
  const double ratio =
      scaled_residual(r.a0, r.n, r.hb, r.b0, r.b, r.nrhs);
  EXPECT_LT(ratio, 30.0) << "scaled residual";

  std::vector<T> ref = r.b0;
  ASSERT_EQ(lapack_solve(r.a0, r.n, r.hb, ref, r.nrhs), 0);
  const double margin = dominance_margin(r.a0, r.n, r.hb);
  ASSERT_GT(margin, 0.0);
  const double res = residual_max(r.a0, r.n, r.hb, r.b0, r.b, r.nrhs);
  const double res_ref = residual_max(r.a0, r.n, r.hb, r.b0, ref, r.nrhs);
  double xmax = 0;
  for (const T& v : ref) xmax = nan_max(xmax, double(std::abs(v)));
  const double eps = std::numeric_limits<Real<T>>::epsilon();
  EXPECT_LE(max_abs_difference(r.b, ref),
            2 * (res + res_ref) / margin + eps * xmax)
      << "solution differs from LAPACK's";
}

// Every size and block base for one half bandwidth, with one and three
// right-hand sides, on teams of 1 to 3; nrhs = 0 must leave the factor of
// the one-column solve and no right-hand side.
template <class T>
void check_half_bandwidth(std::int32_t hb) {
  std::int32_t case_number = 0;
  for (std::int32_t base : {3, default_base<T>()}) {
    pband::testing::set_solver_block_base(base);
    const std::int32_t bs = block_size_for(base, hb);
    for (std::int32_t n : sizes_for(bs, hb)) {
      for (std::int32_t nrhs : {1, 3}) {
        SCOPED_TRACE(::testing::Message() << "base " << base << " (block "
                                          << bs << ") n " << n << " hb "
                                          << hb << " nrhs " << nrhs);
        SolveRun<T> run = make_run<T>(n, hb, nrhs, 1000 * n + 10 * hb + nrhs);
        solve_with_team(run, 1 + case_number++ % 3);
        expect_matches_lapack(run);
        if (nrhs != 1) continue;
        SolveRun<T> bare = make_run<T>(n, hb, 0, 1000 * n + 10 * hb + nrhs);
        solve_with_team(bare, 2);
        EXPECT_EQ(bare.status, 0);
        EXPECT_TRUE(same_bits(bare.a, run.a)) << "nrhs = 0 changed A";
      }
    }
  }
}

TYPED_TEST(SolverCorrectness, DiagonalOnly) {
  check_half_bandwidth<TypeParam>(0);
}
TYPED_TEST(SolverCorrectness, HalfBandwidth1) {
  check_half_bandwidth<TypeParam>(1);
}
TYPED_TEST(SolverCorrectness, HalfBandwidth2) {
  check_half_bandwidth<TypeParam>(2);
}
TYPED_TEST(SolverCorrectness, HalfBandwidth8) {
  check_half_bandwidth<TypeParam>(8);
}
// hb = 17 with base 24 gives blocks of 33 < 2·hb columns: a block's head
// and tail share a column.
TYPED_TEST(SolverCorrectness, HalfBandwidth17) {
  check_half_bandwidth<TypeParam>(17);
}

// A half bandwidth wider than the matrix: one block, the band storage
// still strided by hb + 1.
TYPED_TEST(SolverCorrectness, BandWiderThanMatrix) {
  pband::testing::set_solver_block_base(3);
  for (std::int32_t n : {2, 5, 9}) {
    SCOPED_TRACE(::testing::Message() << "n " << n);
    SolveRun<TypeParam> run = make_run<TypeParam>(n, 12, 2, 77 + n);
    solve_with_team(run, 2);
    expect_matches_lapack(run);
  }
}

// What A holds afterwards: the factor of every diagonal block of the
// Schur complement left once the blocks of all lower levels are
// eliminated, which is the diagonal block of the dense L·Lᵀ factor of A
// with its blocks ordered by level. Level-1 blocks see no update: theirs
// is the factor of the original block, bit for bit.
template <class T>
void check_factors(std::int32_t base, std::int32_t n, std::int32_t hb) {
  using W = Wide<T>;
  pband::testing::set_solver_block_base(base);
  const std::int32_t bs = block_size_for(base, hb);
  SCOPED_TRACE(::testing::Message() << "n " << n << " hb " << hb
                                    << " block " << bs);
  SolveRun<T> run = make_run<T>(n, hb, 1, 4242 + n);
  solve_with_team(run, 2);
  ASSERT_EQ(run.status, 0);

  const std::int32_t blocks = (n + bs - 1) / bs;
  std::vector<std::int32_t> order(blocks);
  std::iota(order.begin(), order.end(), 1);
  std::stable_sort(order.begin(), order.end(), [](int x, int y) {
    return (x & -x) < (y & -y);  // level: the largest power of 2 in k
  });
  std::vector<std::int64_t> col, where(n + 1);
  for (std::int32_t k : order)
    for (std::int64_t j = std::int64_t(k - 1) * bs + 1;
         j <= std::min<std::int64_t>(n, std::int64_t(k) * bs); ++j) {
      where[j] = col.size();
      col.push_back(j);
    }
  // Dense unconjugated L·Lᵀ of the reordered matrix, in the wide type.
  std::vector<W> m(std::size_t(n) * n);
  auto at = [&](std::int64_t i, std::int64_t j) -> W& { return m[i * n + j]; };
  for (std::int64_t p = 0; p < n; ++p)
    for (std::int64_t q = 0; q <= p; ++q)
      at(p, q) = W(band_at(run.a0, hb, col[p], col[q]));
  for (std::int64_t j = 0; j < n; ++j) {
    for (std::int64_t k = 0; k < j; ++k)
      for (std::int64_t i = j; i < n; ++i) at(i, j) -= at(i, k) * at(j, k);
    at(j, j) = std::sqrt(at(j, j));
    for (std::int64_t i = j + 1; i < n; ++i) at(i, j) /= at(j, j);
  }

  const double eps = std::numeric_limits<Real<T>>::epsilon();
  std::vector<T> level_one = run.a0;
  for (std::int32_t k = 1; k <= blocks; ++k) {
    const std::int64_t c = std::int64_t(k - 1) * bs + 1;
    const std::int64_t end = std::min<std::int64_t>(n, c + bs - 1);
    double worst = 0;
    for (std::int64_t j = c; j <= end; ++j)
      for (std::int64_t i = j; i <= std::min<std::int64_t>(end, j + hb); ++i) {
        const W want = at(where[i], where[j]);
        const double diff = double(std::abs(W(run.a[pos(i, j, hb)]) - want));
        worst = nan_max(worst, diff / std::max(1.0, double(std::abs(want))));
      }
    EXPECT_LT(worst, 64 * eps) << "block " << k;
    if ((k & 1) == 0) continue;
    std::atomic<std::int32_t> flags[2] = {0, 0};
    factor_diagonal_block(level_one.data(), hb, static_cast<std::int32_t>(c),
                          static_cast<std::int32_t>(end), Real<T>(0), flags,
                          1);
    for (std::int64_t j = c; j <= end; ++j)
      for (std::int64_t i = j; i <= std::min<std::int64_t>(end, j + hb); ++i)
        ASSERT_TRUE(same_bits(std::vector<T>{run.a[pos(i, j, hb)]},
                              std::vector<T>{level_one[pos(i, j, hb)]}))
            << "level-1 block " << k << " at (" << i << ", " << j << ")";
  }
}

TYPED_TEST(SolverCorrectness, FactorsOfTheDiagonalBlocks) {
  check_factors<TypeParam>(3, 4 * 13 + 3, 2);  // 14 blocks, 4 levels
  check_factors<TypeParam>(3, 9 * 12 + 4, 8);
  check_factors<TypeParam>(24, 33 * 6 + 10, 17);  // head and tail overlap
}

}  // namespace
}  // namespace pband::test
