// A solve keeps its larger arrays off its caller's stack: from a thread
// with a 64 KiB stack it gives the bits of the same solve on the main
// thread, for every type, on the group, vector and wide paths, on teams
// of one and two. A thread whose scratch cannot be had still solves with
// the same bits; the C interface refuses it with nothing touched.
#include <pthread.h>

#include "pband/pband.h"
#include "runtime/thread_scratch.hpp"
#include "tests/solver/solver_test_support.hpp"

namespace pband::test {
namespace {

// Sanitizers widen every frame with their red zones; the promise is for
// the optimised build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kCallerStack = std::size_t(256) << 10;
#else
constexpr std::size_t kCallerStack = std::size_t(64) << 10;
#endif

// Runs f on a new thread with a stack of `bytes`, and waits for it.
template <class F>
void on_thread_with_stack(std::size_t bytes, F f) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
  pthread_t thread;
  auto start = [](void* p) -> void* {
    (*static_cast<F*>(p))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, start, &f), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

template <class T>
class SolverSmallStack : public SolverFixture {
 protected:
  void TearDown() override {
    pband::testing::fail_thread_scratch(false);
    SolverFixture::TearDown();
  }
};
TYPED_TEST_SUITE(SolverSmallStack, ElementTypes);

// hb 2 and 8: groups (8 with its own copy); 4: the one-block vector form
// of the real types; 23: groups and wide forms for a run-time hb; 64:
// wide forms only.
TYPED_TEST(SolverSmallStack, SameBitsAsTheMainThread) {
  using T = TypeParam;
  for (std::int32_t hb : {2, 4, 8, 23, 64}) {
    for (std::int32_t team : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << "hb " << hb << " team " << team);
      const std::int32_t n = 40 * block_size_for(24, hb) + 5;
      const SolveRun<T> system = make_run<T>(n, hb, hb == 8 ? 2 : 1, hb);
      SolveRun<T> main = system;
      solve_with_team(main, team);
      ASSERT_EQ(main.status, 0);
      SolveRun<T> small = system;
      const std::int64_t groups = pband::testing::solver_groups_done();
      on_thread_with_stack(kCallerStack, [&] { solve_with_team(small, team); });
      ASSERT_EQ(small.status, 0);
      EXPECT_TRUE(same_bits(small.a, main.a)) << "factor differs";
      EXPECT_TRUE(same_bits(small.b, main.b)) << "solution differs";
      // The small stack still takes the group forms where they fit.
      if (hb == 8) {
        EXPECT_GT(pband::testing::solver_groups_done(), groups);
      }
    }
  }
}

// A thread that cannot have its scratch takes the forms that need none.
TYPED_TEST(SolverSmallStack, NoScratchSameBits) {
  using T = TypeParam;
  for (std::int32_t hb : {4, 8, 23}) {
    SCOPED_TRACE(::testing::Message() << "hb " << hb);
    const SolveRun<T> system =
        make_run<T>(30 * block_size_for(24, hb), hb, 1, 3 * hb);
    SolveRun<T> main = system;
    solve_with_team(main, 1);
    ASSERT_EQ(main.status, 0);
    SolveRun<T> bare = system;
    std::int64_t groups = 0;
    pband::testing::fail_thread_scratch(true);
    on_thread_with_stack(std::size_t(1) << 20, [&] {
      ASSERT_EQ(thread_scratch(1), nullptr);
      groups = pband::testing::solver_groups_done();
      solve_with_team(bare, 1);
      groups = pband::testing::solver_groups_done() - groups;
    });
    pband::testing::fail_thread_scratch(false);
    ASSERT_EQ(bare.status, 0);
    EXPECT_EQ(groups, 0) << "a group ran without scratch";
    EXPECT_TRUE(same_bits(bare.a, main.a)) << "factor differs";
    EXPECT_TRUE(same_bits(bare.b, main.b)) << "solution differs";
  }
}

// The C interface says so instead, and touches nothing; with its scratch
// it solves on the small stack.
TEST(SolverSmallStackCApi, OutOfMemoryWithoutScratch) {
  const std::int32_t n = 3000, hb = 8;
  std::vector<double> ab = random_band_matrix<double>(n, hb, 11);
  std::vector<double> b = random_rhs<double>(n, 1, 12);
  const std::vector<double> ab0 = ab, b0 = b;
  int status = 0;
  pband::testing::fail_thread_scratch(true);
  on_thread_with_stack(kCallerStack, [&] {
    status = pband_solve_d(n, hb, 1, ab.data(), hb + 1, b.data(), n, 1);
  });
  pband::testing::fail_thread_scratch(false);
  EXPECT_EQ(status, PBAND_OUT_OF_MEMORY);
  EXPECT_TRUE(same_bits(ab, ab0));
  EXPECT_TRUE(same_bits(b, b0));
  std::vector<double> main_ab = ab0, main_b = b0;
  ASSERT_EQ(
      pband_solve_d(n, hb, 1, main_ab.data(), hb + 1, main_b.data(), n, 2), 0);
  on_thread_with_stack(kCallerStack, [&] {
    status = pband_solve_d(n, hb, 1, ab.data(), hb + 1, b.data(), n, 2);
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(same_bits(b, main_b));
}

}  // namespace
}  // namespace pband::test
