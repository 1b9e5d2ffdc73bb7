// The batch entry points: each system's status and bits as a call of its
// own would give them, for every team, in the small-system and the
// large-system paths; a failed system that leaves the others alone; the
// storage between systems untouched; every bad argument refused.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "runtime/runtime_testing.hpp"
#include "tests/api/c_api_support.hpp"
#include "tests/common/all_processors.hpp"

namespace pband::test {
namespace {

template <class T>
struct BatchApi;
#define PBAND_TEST_BATCH(T, L)                                  \
  template <>                                                   \
  struct BatchApi<T> {                                          \
    static constexpr auto solve_batch = &pband_solve_batch_##L; \
  };
PBAND_TEST_BATCH(float, s)
PBAND_TEST_BATCH(double, d)
PBAND_TEST_BATCH(std::complex<float>, c)
PBAND_TEST_BATCH(std::complex<double>, z)
#undef PBAND_TEST_BATCH

// count systems of one shape, each with `gap` sentinel elements after its
// band and after its right-hand sides.
template <class T>
struct Batch {
  std::int32_t count, n, hb, nrhs, ldab, ldb;
  std::int64_t stride_ab, stride_b;
  std::vector<CSystem<T>> systems;
  std::vector<T> ab, b;

  Batch(std::int32_t count_, std::int32_t n_, std::int32_t hb_,
        std::int32_t nrhs_, std::int32_t pad, std::int64_t gap)
      : count(count_), n(n_), hb(hb_), nrhs(nrhs_) {
    for (std::int32_t k = 0; k < count; ++k)
      systems.push_back(c_system<T>(n, hb, nrhs, pad, pad, 100 + 7 * k));
    ldab = systems[0].ldab;
    ldb = systems[0].ldb;
    stride_ab = std::int64_t(systems[0].ab.size()) + gap;
    stride_b = std::int64_t(systems[0].bb.size()) + gap;
    ab.assign(stride_ab * count, sentinel<T>());
    b.assign(stride_b * count, sentinel<T>());
    for (std::int32_t k = 0; k < count; ++k) {
      std::copy(systems[k].ab.begin(), systems[k].ab.end(),
                ab.begin() + k * stride_ab);
      std::copy(systems[k].bb.begin(), systems[k].bb.end(),
                b.begin() + k * stride_b);
    }
  }
  int solve(std::vector<std::int32_t>& statuses, std::int32_t threads) {
    return BatchApi<T>::solve_batch(count, n, hb, nrhs, c_ptr(ab.data()), ldab,
                                    stride_ab, c_ptr(b.data()), ldb, stride_b,
                                    statuses.data(), threads);
  }
  // System k's right-hand side storage as the batch left it.
  std::vector<T> rhs_of(std::int32_t k) const {
    return {b.begin() + k * stride_b,
            b.begin() + k * stride_b + systems[k].bb.size()};
  }
  bool gaps_untouched() const {
    for (std::int32_t k = 0; k < count; ++k) {
      for (auto i = std::int64_t(systems[k].ab.size()); i < stride_ab; ++i)
        if (!CSystem<T>::same(ab[k * stride_ab + i], sentinel<T>()))
          return false;
      for (auto i = std::int64_t(systems[k].bb.size()); i < stride_b; ++i)
        if (!CSystem<T>::same(b[k * stride_b + i], sentinel<T>())) return false;
    }
    return true;
  }
};

template <class T>
class CApiBatchTest : public ::testing::Test {
 protected:
  void TearDown() override { pband::testing::set_affinity_query(nullptr); }
};
TYPED_TEST_SUITE(CApiBatchTest, ElementTypes);

// Against each system solved alone: small systems with threads = 1,
// large ones (n·(hb + 1) of 2^17 and more) with the batch's threads.
template <class T>
void expect_as_alone(std::int32_t count, std::int32_t n, std::int32_t hb,
                     std::int32_t nrhs, std::int32_t pad, bool large,
                     std::vector<std::int32_t> failing) {
  for (std::int32_t threads : {1, 2, 3, 8, 0}) {
    Batch<T> batch(count, n, hb, nrhs, pad, 5);
    for (std::int32_t k : failing) batch.ab[k * batch.stride_ab] = T(0);
    std::vector<std::int32_t> statuses(count, -99);
    const int info = batch.solve(statuses, threads);
    int first = 0;
    for (std::int32_t k = 0; k < count; ++k) {
      CSystem<T> alone = batch.systems[k];
      const bool fails =
          std::find(failing.begin(), failing.end(), k) != failing.end();
      if (fails) alone.ab[0] = T(0);
      const int status = c_solve(alone, large ? threads : 1);
      EXPECT_EQ(statuses[k], status) << "system " << k;
      EXPECT_EQ(status, fails ? 1 : 0);
      if (status != 0 && first == 0) first = k + 1;
      if (status != 0) continue;
      EXPECT_TRUE(same_bits(batch.rhs_of(k), alone.bb))
          << "system " << k << ", threads " << threads;
      EXPECT_LT(scaled_residual(alone.a, n, hb, alone.b, alone.x(), nrhs), 30);
    }
    EXPECT_EQ(info, first);
    EXPECT_TRUE(batch.gaps_untouched());
  }
}

TYPED_TEST(CApiBatchTest, SmallSystemsAsAloneOnOneThread) {
  pband::testing::set_affinity_query(&all_processors);
  expect_as_alone<TypeParam>(37, 90, 3, 2, 1, false, {});
  expect_as_alone<TypeParam>(20, 200, 1, 1, 0, false, {0, 7, 19});
  expect_as_alone<TypeParam>(3, 9, 12, 3, 2, false, {1});
  expect_as_alone<TypeParam>(1, 300, 2, 1, 0, false, {});
}

TYPED_TEST(CApiBatchTest, LargeSystemsAsAloneOnTheTeam) {
  expect_as_alone<TypeParam>(3, 1 << 16, 1, 1, 0, true, {1});
}

TYPED_TEST(CApiBatchTest, EmptyAndUnusualButLegal) {
  using T = TypeParam;
  std::vector<std::int32_t> statuses(4, -99);
  const auto solve = BatchApi<T>::solve_batch;
  // No systems: nothing is read, not even the arrays.
  EXPECT_EQ(solve(0, 5, 1, 1, nullptr, 2, 0, nullptr, 5, 0, nullptr, 2), 0);
  // Systems of order 0 succeed.
  EXPECT_EQ(solve(4, 0, 1, 1, nullptr, 2, 0, nullptr, 1, 0, statuses.data(), 2),
            0);
  EXPECT_EQ(statuses, std::vector<std::int32_t>(4, 0));
  // One system needs no stride; no right-hand sides need no b.
  Batch<T> one(1, 40, 2, 1, 0, 0);
  EXPECT_EQ(BatchApi<T>::solve_batch(1, 40, 2, 1, c_ptr(one.ab.data()),
                                     one.ldab, -3, c_ptr(one.b.data()), one.ldb,
                                     -3, statuses.data(), 2),
            0);
  Batch<T> none(4, 40, 2, 0, 0, 0);
  EXPECT_EQ(BatchApi<T>::solve_batch(4, 40, 2, 0, c_ptr(none.ab.data()),
                                     none.ldab, none.stride_ab, nullptr, 40, 0,
                                     statuses.data(), 2),
            0);
}

TYPED_TEST(CApiBatchTest, BadArgumentsTouchNothing) {
  using T = TypeParam;
  const Batch<T> original(3, 30, 2, 2, 1, 0);
  struct Case {
    int status;
    std::int32_t count, n, hb, nrhs, ldab;
    std::int64_t stride_ab;
    bool null_ab;
    std::int32_t ldb;
    std::int64_t stride_b;
    bool null_b, null_statuses;
  };
  const std::int32_t la = original.ldab, lb = original.ldb;
  const std::int64_t sa = original.stride_ab, sb = original.stride_b;
  const std::int64_t huge = std::int64_t(1) << 62;
  const Case cases[] = {
      {-1, -1, 30, 2, 2, la, sa, false, lb, sb, false, false},
      {-2, 3, -1, 2, 2, la, sa, false, lb, sb, false, false},
      {-3, 3, 30, -1, 2, la, sa, false, lb, sb, false, false},
      {-4, 3, 30, 2, -1, la, sa, false, lb, sb, false, false},
      {-5, 3, 30, 2, 2, la, sa, true, lb, sb, false, false},
      {-6, 3, 30, 2, 2, 2, sa, false, lb, sb, false, false},
      {-7, 3, 30, 2, 2, la, la * 30 - 1, false, lb, sb, false, false},
      {-7, 3, 30, 2, 2, la, huge, false, lb, sb, false, false},
      {-7, 3, 30, 2, 2, la, -sa, false, lb, sb, false, false},
      {-8, 3, 30, 2, 2, la, sa, false, lb, sb, true, false},
      {-9, 3, 30, 2, 2, la, sa, false, 29, sb, false, false},
      {-10, 3, 30, 2, 2, la, sa, false, lb, lb * 2 - 1, false, false},
      {-10, 3, 30, 2, 2, la, sa, false, lb, huge, false, false},
      {-11, 3, 30, 2, 2, la, sa, false, lb, sb, false, true},
  };
  for (const Case& c : cases) {
    Batch<T> batch = original;
    std::vector<std::int32_t> statuses(3, -99);
    const int got = BatchApi<T>::solve_batch(
        c.count, c.n, c.hb, c.nrhs,
        c.null_ab ? nullptr : c_ptr(batch.ab.data()), c.ldab, c.stride_ab,
        c.null_b ? nullptr : c_ptr(batch.b.data()), c.ldb, c.stride_b,
        c.null_statuses ? nullptr : statuses.data(), 2);
    EXPECT_EQ(got, c.status);
    EXPECT_TRUE(same_bits(batch.ab, original.ab)) << c.status;
    EXPECT_TRUE(same_bits(batch.b, original.b)) << c.status;
    EXPECT_EQ(statuses, std::vector<std::int32_t>(3, -99)) << c.status;
  }
  EXPECT_STREQ(pband_status_message(-12), "argument 12 is invalid");
}

}  // namespace
}  // namespace pband::test
