// The team drivers: bad arguments rejected before anything is touched,
// n = 0, storage beyond row n never read or written, and the same result
// without hanging when a slot, the mutex or a worker thread cannot be
// had; every team is torn down without leaking slots, workers or handles.
// Also the tuning that picks a caller's block width and team.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/bandlib/bandlib_test_support.hpp"

namespace pband::test {
namespace {

template <class T>
class BandDriver : public ::testing::Test {
 protected:
  void TearDown() override { testing::os_clear_faults(); }
};
TYPED_TEST_SUITE(BandDriver, ElementTypes);

struct Snapshot {
  std::int32_t slots = sync_slots_in_use();
  std::int32_t workers = workers_in_use();
  std::int32_t handles = os_open_handle_count();
};

void expect_nothing_leaked(const Snapshot& before) {
  EXPECT_EQ(sync_slots_in_use(), before.slots);
  EXPECT_EQ(workers_in_use(), before.workers);
  EXPECT_EQ(os_open_handle_count(), before.handles);
}

void do_nothing() {}

// The runtime's table guards are created on first use and live on; make
// them before a snapshot is taken.
void warm_up_runtime() {
  std::int32_t slot = 0;
  sync_slot_allocate(slot);
  sync_slot_free(slot);
  std::int32_t worker = 0;
  launch_worker(worker, &do_nothing);
  join_worker(worker);
}

TYPED_TEST(BandDriver, BadArgumentsAreRejectedBeforeAnythingIsTouched) {
  using T = TypeParam;
  const std::int32_t n = 12, hb = 3, nb = 2;
  const auto a0 = random_band_matrix<T>(n, hb, 51);
  const auto b0 = random_rhs<T>(n, 1, 52);
  warm_up_runtime();
  const Snapshot before;
  struct Bad {
    const char* what;
    bool null_a, null_b;
    std::int32_t n, hb, nb;
    std::int32_t factor_solve, factor, substitute;  // expected statuses
  };
  const std::int32_t big = std::numeric_limits<std::int32_t>::max();
  const Bad bad[] = {
      {"A null", true, false, n, hb, nb, -1, -1, -1},
      {"n < 0", false, false, -1, hb, nb, -2, -2, -2},
      {"n = 2^31 - 1", false, false, big, hb, nb, -2, -2, -2},
      {"hb < 0", false, false, n, -1, nb, -3, -3, -3},
      {"B null", false, true, n, hb, nb, -4, 0, -4},
      {"block width 0", false, false, n, hb, 0, -5, -4, -5},
      {"block width < 0", false, false, n, hb, -3, -5, -4, -5},
      {"n < 0 before hb < 0", false, false, -5, -1, 0, -2, -2, -2},
      {"A null before hb < 0", true, false, n, -1, nb, -1, -1, -1},
      {"hb < 0 before B null", false, true, n, -2, nb, -3, -3, -3},
      {"B null before block width", false, true, n, hb, 0, -4, -4, -4},
      {"n = 0 still checks block width", false, false, 0, hb, 0, -5, -4, -5},
  };
  for (const Bad& c : bad) {
    SCOPED_TRACE(c.what);
    auto a = a0, b = b0;
    T* A = c.null_a ? nullptr : a.data();
    T* B = c.null_b ? nullptr : b.data();
    std::int32_t s1 = 99, s2 = 99, s3 = 99;
    within(kHangLimit, [&] {
      Lib<T>::factor_solve(A, c.n, c.hb, B, c.nb, s1);
      Lib<T>::factor(A, c.n, c.hb, c.nb, s2);
      Lib<T>::substitute(A, c.n, c.hb, B, c.nb, s3);
    });
    EXPECT_EQ(s1, c.factor_solve);
    EXPECT_EQ(s3, c.substitute);
    if (c.factor != 0) {
      EXPECT_EQ(s2, c.factor);
      EXPECT_TRUE(same_bits(a, a0)) << "A touched";
    }
    EXPECT_TRUE(same_bits(b, b0)) << "B touched";
  }
  expect_nothing_leaked(before);
}

// Called directly, a worker cannot report a bad argument; with a block
// width below 1 (or n = 2^31 − 1) its phases would never end, so every
// thread returns at once instead of spinning through barriers forever.
TYPED_TEST(BandDriver, WorkersGivenEndlessArgumentsReturnAtOnce) {
  using T = TypeParam;
  const std::int32_t n = 12, hb = 3;
  const auto a0 = random_band_matrix<T>(n, hb, 55);
  const auto b0 = random_rhs<T>(n, 1, 56);
  const std::int32_t big = std::numeric_limits<std::int32_t>::max();
  const std::int32_t cases[][2] = {{n, 0}, {n, -2}, {big, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "n=" << c[0] << " nb=" << c[1]);
    auto a = a0, b = b0, l = a0, x = b0;
    WorkerTeam fs, f, s;
    factor_solve_on_team(2, a, c[0], hb, b, c[1], fs);
    factor_on_team(2, l, c[0], hb, c[1], f);
    substitute_on_team(2, a0, c[0], hb, x, c[1], s);
    EXPECT_TRUE(same_bits(a, a0));
    EXPECT_TRUE(same_bits(b, b0));
    EXPECT_TRUE(same_bits(l, a0));
    EXPECT_TRUE(same_bits(x, b0));
    for (const WorkerTeam* t : {&fs, &f, &s}) EXPECT_EQ(t->forward_pivot, 1);
  }
}

TYPED_TEST(BandDriver, EmptySystemDoesNothingAndSucceeds) {
  using T = TypeParam;
  warm_up_runtime();
  const Snapshot before;
  T sentinel = T(7);
  std::int32_t s1 = 99, s2 = 99, s3 = 99, s4 = 99;
  Lib<T>::factor_solve(nullptr, 0, 3, nullptr, 4, s1);
  Lib<T>::factor(nullptr, 0, 0, 1, s2);
  Lib<T>::substitute(nullptr, 0, 5, nullptr, 2, s3);
  Lib<T>::factor_solve(&sentinel, 0, 3, &sentinel, 4, s4);
  EXPECT_EQ(s1, 0);
  EXPECT_EQ(s2, 0);
  EXPECT_EQ(s3, 0);
  EXPECT_EQ(s4, 0);
  EXPECT_EQ(sentinel, T(7));
  expect_nothing_leaked(before);
}

// Rows beyond n in the last hb columns, and the hb positions after the
// array, hold NaN sentinels: they must survive, and must not reach the
// result.
TYPED_TEST(BandDriver, StorageBeyondTheLastRowIsNeverTouched) {
  using T = TypeParam;
  for (std::int32_t nb : {1, 3, 32}) {
    for (std::int32_t hb : {1, 8, 17}) {
      const std::int32_t n = 40;
      SCOPED_TRACE(::testing::Message() << "hb=" << hb << " nb=" << nb);
      const auto a0 = random_band_matrix<T>(n, hb, 53 + hb, hb);
      const auto b0 = random_rhs<T>(n, 1, 54);
      auto marked = a0;
      const Real<T> nan = std::numeric_limits<Real<T>>::quiet_NaN();
      std::vector<std::int64_t> beyond;
      for (std::int64_t j = std::max<std::int64_t>(1, n - hb + 1); j <= n; ++j)
        for (std::int64_t i = n + 1; i <= j + hb; ++i) {
          beyond.push_back(pos(i, j, hb));
          marked[pos(i, j, hb)] = T(nan);
        }
      ASSERT_EQ(std::int64_t(marked.size()), pos(n + hb, n, hb) + 1);
      auto a = marked, l = marked, x = b0, x2 = b0;
      std::int32_t s1 = -99, s2 = -99, s3 = -99;
      within(kHangLimit, [&] {
        Lib<T>::factor_solve(a.data(), n, hb, x.data(), nb, s1);
        Lib<T>::factor(l.data(), n, hb, nb, s2);
        Lib<T>::substitute(l.data(), n, hb, x2.data(), nb, s3);
      });
      ASSERT_EQ(s1, 0);
      ASSERT_EQ(s2, 0);
      ASSERT_EQ(s3, 0);
      for (std::int64_t p : beyond) {
        EXPECT_EQ(std::memcmp(&a[p], &marked[p], sizeof(T)), 0) << p;
        EXPECT_EQ(std::memcmp(&l[p], &marked[p], sizeof(T)), 0) << p;
      }
      for (const auto* v : {&x, &x2})
        for (const T& e : *v) ASSERT_TRUE(std::isfinite(std::abs(e)));
      std::vector<T> a_exact(a0.begin(), a0.end() - hb);
      EXPECT_LT(scaled_residual(a_exact, n, hb, b0, x, 1), 30.0);
      EXPECT_LT(scaled_residual(a_exact, n, hb, b0, x2, 1), 30.0);
    }
  }
}

// Faults injected into the team's set-up: the first `k` creations of a
// kind succeed, every later one fails until cleared.
struct Fault {
  const char* what;
  testing::OsObject kind;
  std::int32_t successes;
  std::int32_t team;  // team size requested
  bool take_all_slots;
};

const Fault kFaults[] = {
    {"claim mutex", testing::OsObject::mutex, 0, 3, false},
    {"first slot's mutex", testing::OsObject::mutex, 1, 3, false},
    {"second slot's mutex", testing::OsObject::mutex, 2, 3, false},
    {"first slot's event", testing::OsObject::event, 0, 2, false},
    {"second slot's event", testing::OsObject::event, 1, 3, false},
    {"first worker", testing::OsObject::thread, 0, 2, false},
    {"first worker of five", testing::OsObject::thread, 0, 5, false},
    {"second worker", testing::OsObject::thread, 1, 5, false},
    {"fourth worker", testing::OsObject::thread, 3, 5, false},
    {"no free slot", testing::OsObject::thread, -1, 3, true},
};

template <class T>
void run_with_fault(const Fault& f, bool fail_pivot) {
  SCOPED_TRACE(::testing::Message()
               << f.what << (fail_pivot ? " + bad pivot" : ""));
  const std::int32_t n = 70, hb = 8, nb = 2;
  auto a0 = random_band_matrix<T>(n, hb, 61);
  if (fail_pivot) plant_zero_pivot(a0, hb, 30);
  const auto b0 = random_rhs<T>(n, 1, 62);
  // Reference: a team of one run directly.
  auto ref_a = a0, ref_b = b0, ref_l = a0, ref_x = b0;
  WorkerTeam t1, t2, t3;
  factor_solve_on_team(1, ref_a, n, hb, ref_b, nb, t1);
  factor_on_team(1, ref_l, n, hb, nb, t2);
  if (!fail_pivot) substitute_on_team(1, ref_l, n, hb, ref_x, nb, t3);

  FakeProcessors eight;
  set_team_size(f.team);
  warm_up_runtime();
  std::vector<std::int32_t> held;
  if (f.take_all_slots) {
    for (std::int32_t s = 0;;) {
      sync_slot_allocate(s);
      if (s == 0) break;
      held.push_back(s);
    }
  }
  const Snapshot before;
  auto a = a0, b = b0, l = a0, x = b0;
  std::int32_t s1 = -99, s2 = -99, s3 = -99;
  within(kHangLimit, [&] {
    testing::os_fail_creation(f.kind, f.successes);
    Lib<T>::factor_solve(a.data(), n, hb, b.data(), nb, s1);
    testing::os_fail_creation(f.kind, f.successes);
    Lib<T>::factor(l.data(), n, hb, nb, s2);
    testing::os_fail_creation(f.kind, f.successes);
    if (!fail_pivot) Lib<T>::substitute(l.data(), n, hb, x.data(), nb, s3);
    testing::os_clear_faults();
  });
  expect_nothing_leaked(before);
  for (std::int32_t s : held) sync_slot_free(s);
  EXPECT_EQ(s1, fail_pivot ? 1 : 0);
  EXPECT_EQ(s2, fail_pivot ? 1 : 0);
  EXPECT_TRUE(same_bits(a, ref_a));
  EXPECT_TRUE(same_bits(b, ref_b));
  EXPECT_TRUE(same_bits(l, ref_l));
  if (!fail_pivot) {
    EXPECT_EQ(s3, 0);
    EXPECT_TRUE(same_bits(x, ref_x));
  }
}

TYPED_TEST(BandDriver, MissingSlotMutexOrThreadStillGivesTheResult) {
  for (const Fault& f : kFaults) run_with_fault<TypeParam>(f, false);
}

TYPED_TEST(BandDriver, MissingSlotMutexOrThreadStillReportsFailure) {
  for (const Fault& f : kFaults) run_with_fault<TypeParam>(f, true);
}

// The C interface's bits follow the block width: its values are pinned.
TEST(BandTuning, BlockWidthsAndTeamsAreTheLibrarysChoice) {
  EXPECT_EQ(band_block_width(0), 1024);
  EXPECT_EQ(band_block_width(300), 108);
  EXPECT_EQ(band_block_width(5000), 16);
  FakeProcessors eight;
  EXPECT_EQ(band_running_team(0), 8);
  EXPECT_EQ(band_running_team(3), 3);
  EXPECT_EQ(band_running_team(MAX_TEAM_SIZE), 8);
  EXPECT_EQ(band_factor_threads(0, 300, 16), 8);
  EXPECT_EQ(band_factor_threads(0, 60, 16), 3);
  EXPECT_EQ(band_factor_threads(0, 15, 16), 1);
  EXPECT_EQ(band_substitute_threads(0, 20, 16), 2);
}

// A team the block width cannot feed starts no thread; one it can, does.
TEST(BandTuning, TeamsStartOnlyTheThreadsAPhaseFeeds) {
  auto threads_asked = [](std::int32_t hb, std::int32_t nb) {
    const std::int32_t n = 3000;
    std::vector<double> a = random_band_matrix<double>(n, hb, 9);
    std::vector<double> b(n, 1.0);
    std::int32_t status = -1;
    const std::int64_t before = pband::testing::os_thread_requests();
    band_factor_team_r8(a.data(), n, hb, nb, 4, status);
    EXPECT_EQ(status, 0);
    band_substitute_team_r8(a.data(), n, hb, b.data(), nb, 4, status);
    EXPECT_EQ(status, 0);
    return pband::testing::os_thread_requests() - before;
  };
  EXPECT_EQ(threads_asked(8, 4096), 0);
  EXPECT_GT(threads_asked(64, 4), 0);
}

}  // namespace
}  // namespace pband::test
