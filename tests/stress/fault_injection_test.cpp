// Faults through the OS layer at every point a solve creates something:
// each thread launch, each mutex and event, the tables' guards after a
// shutdown, the slot table full or nearly so, and random mixtures of these
// with failing pivots. Every solve gives the bits of the fault-free team
// of one, or status 1 for a planted failing pivot, and leaves nothing.
// Then a failing pivot at every block of a many-level system on teams of
// 1 … 8, checked inside the team: all threads leave at the same barrier.
#include <atomic>
#include <thread>

#include "kernels/element_traits.hpp"
#include "solver/solve_control.hpp"
#include "tests/stress/stress_support.hpp"

namespace pband {
// The routine every thread of a solver team runs, declared only: the
// solver library holds its instances for the four element types, and
// compiling the kernel again here would cost more than all the rest.
template <class T>
void band_solve_worker(SolveControl<T>& control);
}  // namespace pband

namespace pband::test {
namespace {

using pband::testing::OsObject;

constexpr std::chrono::seconds kLimit{300};

// Holds all but `left` free slots until destroyed.
struct SlotHog {
  explicit SlotHog(std::int32_t left) {
    while (sync_slots_in_use() < SYNC_SLOT_COUNT - left) {
      std::int32_t s = 0;
      sync_slot_allocate(s);
      if (s == 0) break;
      held.push_back(s);
    }
  }
  ~SlotHog() {
    for (std::int32_t s : held) sync_slot_free(s);
  }
  std::vector<std::int32_t> held;
};

// One case of every family in one type, with its fault-free bits.
template <class T>
struct FamilyCases {
  explicit FamilyCases(std::uint64_t seed, bool fail_pivot) {
    const Family families[] = {Family::solver, Family::factor_solve,
                               Family::factor_substitute};
    for (Family f : families) {
      cases.push_back(make_case(type_index<T>(), f, 61, 3, 2, 2, seed));
      if (fail_pivot) cases.back()->plant_zero_pivot(30);
      set_team_size(1);
      cases.back()->run();
      reference.push_back(cases.back()->bits());
    }
  }
  std::vector<std::unique_ptr<Case>> cases;
  std::vector<std::vector<unsigned char>> reference;
};

template <class T>
class Faults : public StressTest {
 protected:
  void SetUp() override {
    StressTest::SetUp();
    // Small blocks: the solver's team meets at many barriers.
    pband::testing::set_solver_block_base(3);
    baseline_ = warm_baseline();
  }
  // Runs every case on a team of `team` with `inject` applied just
  // before each run; expects the fault-free bits (status 1 when a pivot
  // was planted) and nothing left behind.
  template <class Inject>
  void expect_unaffected(FamilyCases<T>& fc, bool fail_pivot, std::int32_t team,
                         Inject&& inject, const std::string& what) {
    for (std::size_t k = 0; k < fc.cases.size(); ++k) {
      Case& c = *fc.cases[k];
      SCOPED_TRACE(what + " team " + std::to_string(team) + " " + c.describe());
      set_team_size(team);
      inject();
      c.run();
      pband::testing::os_clear_faults();
      if (fail_pivot) {
        EXPECT_EQ(c.status, 1);
      } else {
        EXPECT_EQ(c.status, 0);
        EXPECT_TRUE(c.bits() == fc.reference[k]) << "result differs";
      }
      EXPECT_TRUE(c.guards_intact());
      // A shutdown in `inject` closed the guards; the next use makes them.
      warm_baseline();
      EXPECT_EQ(Resources{}, baseline_);
    }
  }
  Resources baseline_;
};
TYPED_TEST_SUITE(Faults, ElementTypes);

TYPED_TEST(Faults, ThreadCreationFailsAtEveryLaunch) {
  Watchdog guard(kLimit, "failed launches");
  for (bool fail_pivot : {false, true}) {
    FamilyCases<TypeParam> fc(11, fail_pivot);
    for (std::int32_t team = 2; team <= 8; ++team)
      for (std::int32_t k = 0; k <= team - 2; ++k)
        this->expect_unaffected(
            fc, fail_pivot, team,
            [&] { pband::testing::os_fail_creation(OsObject::thread, k); },
            "launch " + std::to_string(k + 1) + " fails");
  }
}

// A solve creates a mutex and two slots of an event and a mutex each (a
// factorization and substitution twice that); after a shutdown the
// tables' guards are mutexes created on first use too.
TYPED_TEST(Faults, ObjectCreationFailsAtEveryPoint) {
  Watchdog guard(kLimit, "failed object creation");
  for (bool fail_pivot : {false, true}) {
    FamilyCases<TypeParam> fc(12, fail_pivot);
    for (bool shutdown : {false, true})
      for (OsObject kind : {OsObject::mutex, OsObject::event})
        for (std::int32_t k = 0; k <= 7; ++k)
          this->expect_unaffected(
              fc, fail_pivot, 4,
              [&] {
                if (shutdown) shutdown_runtime();
                pband::testing::os_fail_creation(kind, k);
              },
              std::string(kind == OsObject::mutex ? "mutex" : "event") +
                  " creation " + std::to_string(k + 1) + " fails" +
                  (shutdown ? " after shutdown" : ""));
  }
}

TYPED_TEST(Faults, SlotTableFullOrNearlySoWithFailedLaunches) {
  Watchdog guard(kLimit, "slot exhaustion");
  for (bool fail_pivot : {false, true}) {
    FamilyCases<TypeParam> fc(13, fail_pivot);
    for (std::int32_t left : {0, 1, 2}) {
      SlotHog hog(left);
      ASSERT_EQ(sync_slots_in_use(), SYNC_SLOT_COUNT - left);
      this->baseline_ = Resources{};
      for (std::int32_t team : {2, 5, 8})
        for (std::int32_t k : {-1, 0, 2})
          this->expect_unaffected(
              fc, fail_pivot, team,
              [&] { pband::testing::os_fail_creation(OsObject::thread, k); },
              std::to_string(left) + " slots free, launch " +
                  std::to_string(k + 1) + " fails");
    }
    this->baseline_ = warm_baseline();
  }
}

// Random mixtures of every fault with random systems, teams and pivots.
class FaultStorm : public StressTest {};

TEST_F(FaultStorm, RandomFaultsRandomSystemsRandomPivots) {
  const Resources baseline = warm_baseline();
  std::mt19937_64 rng(stress_seed(31337));
  auto chance = [&](double p) { return std::bernoulli_distribution(p)(rng); };
  auto pick = [&](std::int32_t lo, std::int32_t hi) {
    return std::uniform_int_distribution<std::int32_t>(lo, hi)(rng);
  };
  const std::int64_t count = scaled(1500);
  std::int64_t failed_pivots = 0, faulted = 0;
  Watchdog guard(std::chrono::seconds(540), "fault storm");
  for (std::int64_t k = 0; k < count; ++k) {
    auto c = random_case(rng);
    pband::testing::set_solver_block_base(pick(2, 6));
    const bool fail_pivot = chance(0.25);
    if (fail_pivot) c->plant_zero_pivot(pick(1, c->n));
    set_team_size(1);
    c->run();
    const auto reference = c->bits();
    ASSERT_EQ(c->status, fail_pivot ? 1 : 0) << c->describe();

    set_team_size(pick(1, 8));
    const bool shutdown = chance(0.1);
    const std::int32_t free_slots = chance(0.2) ? pick(0, 2) : -1;
    const std::int32_t thread_k = chance(0.4) ? pick(0, 7) : -1;
    const std::int32_t mutex_k = chance(0.2) ? pick(0, 7) : -1;
    const std::int32_t event_k = chance(0.2) ? pick(0, 5) : -1;
    faulted += shutdown || free_slots >= 0 || thread_k >= 0 || mutex_k >= 0 ||
               event_k >= 0;
    {
      SlotHog hog(free_slots >= 0 ? free_slots : SYNC_SLOT_COUNT);
      if (shutdown) shutdown_runtime();
      pband::testing::os_fail_creation(OsObject::thread, thread_k);
      pband::testing::os_fail_creation(OsObject::mutex, mutex_k);
      pband::testing::os_fail_creation(OsObject::event, event_k);
      c->run();
      pband::testing::os_clear_faults();
    }
    const std::string what =
        c->describe() + " faults: shutdown " + std::to_string(shutdown) +
        ", free slots " + std::to_string(free_slots) + ", thread " +
        std::to_string(thread_k) + ", mutex " + std::to_string(mutex_k) +
        ", event " + std::to_string(event_k);
    if (fail_pivot) {
      ++failed_pivots;
      EXPECT_EQ(c->status, 1) << what;
    } else {
      EXPECT_EQ(c->status, 0) << what;
      EXPECT_TRUE(c->bits() == reference) << what;
      EXPECT_LT(c->residual(), 30.0) << what;
    }
    EXPECT_TRUE(c->guards_intact()) << what;
    warm_baseline();
    ASSERT_EQ(Resources{}, baseline) << what;
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("%lld storm cases: %lld with faults, %lld failing pivots\n",
              static_cast<long long>(count), static_cast<long long>(faulted),
              static_cast<long long>(failed_pivots));
}

// ---------------------------------------------------------------------------
// A failing pivot at every block: the team is run here, thread by thread,
// so that its barriers can be inspected afterwards.
// ---------------------------------------------------------------------------

// The slot the next phase would have ended on: armed for the whole team
// and not arrived at by anybody. team − 1 arrivals must leave its release
// unsignalled and the team-th must signal it.
::testing::AssertionResult nobody_arrived(std::int32_t slot,
                                          std::int32_t team) {
  const Handle event = pband::testing::sync_slot_event(slot);
  if (event == 0) return ::testing::AssertionFailure() << "slot not allocated";
  for (std::int32_t k = 1; k < team; ++k) sync_slot_arrive(slot);
  if (os_wait_for_single_object(event, 0) != WAIT_TIMEOUT)
    return ::testing::AssertionFailure()
           << "released after " << team - 1 << " arrivals";
  sync_slot_arrive(slot);
  if (os_wait_for_single_object(event, 0) != WAIT_OBJECT_0)
    return ::testing::AssertionFailure()
           << "not released after " << team << " arrivals";
  return ::testing::AssertionSuccess();
}

// Columns to plant in: first, middle and last column of every block (the
// first alone when the counts are cut, as under ThreadSanitizer).
std::vector<std::int32_t> block_positions(std::int32_t n, std::int32_t bs) {
  const bool all = scaled(3) >= 3;
  std::vector<std::int32_t> out;
  for (std::int32_t c = 1; c <= n; c += bs) {
    const std::int32_t last = std::min(n, c + bs - 1);
    for (std::int32_t j : {c, c + (last - c) / 2, last})
      if ((all || j == c) && (out.empty() || out.back() != j)) out.push_back(j);
  }
  return out;
}

template <class T>
class PivotAtEveryBlock : public StressTest {};
TYPED_TEST_SUITE(PivotAtEveryBlock, ElementTypes);

// 25 blocks of 4 columns (hb 2, base 3): five levels of the reduction.
TYPED_TEST(PivotAtEveryBlock, SolverTeamLeavesAtOneBarrier) {
  using T = TypeParam;
  constexpr std::int32_t kN = 98, kHb = 2, kBase = 3;
  pband::testing::set_solver_block_base(kBase);
  const Resources baseline = warm_baseline();
  // max(base² / hb, hb + 1) columns per block.
  std::int32_t block_size = std::max(kBase * kBase / kHb, kHb + 1);
  ASSERT_EQ(block_size, 4);
  Watchdog guard(kLimit, "pivot at every block");
  std::int64_t runs = 0;
  for (std::int32_t j : block_positions(kN, block_size)) {
    auto planted =
        make_case(type_index<T>(), Family::solver, kN, kHb, 1, 1, 500 + j);
    planted->plant_zero_pivot(j);
    for (std::int32_t team = 1; team <= 8; ++team) {
      SCOPED_TRACE(::testing::Message()
                   << "pivot in column " << j << ", team " << team);
      // Through the public entry point.
      set_team_size(team);
      planted->run();
      EXPECT_EQ(planted->status, 1);

      // The team run directly, as the solver's own threads run it.
      std::vector<T> a = random_band_matrix<T>(kN, kHb, 500 + j);
      std::vector<T> b = random_rhs<T>(kN, 1, 501), w(2 * kN * kHb);
      for (std::int32_t k = std::max(1, j - kHb); k <= std::min(kN, j + kHb);
           ++k)
        a[pos(std::max(j, k), std::min(j, k), kHb)] = T(0);
      SolveControl<T> control;
      control.set_system(a.data(), kN, kHb, b.data(), 1, w.data());
      control.start_levels(block_size);
      Team& t = control.team;
      t.size = team;
      mutex_create(t.mutex);
      sync_slot_allocate(t.slots[0]);
      sync_slot_allocate(t.slots[1]);
      ASSERT_NE(t.mutex, 0);
      ASSERT_NE(t.slots[0], 0);
      ASSERT_NE(t.slots[1], 0);
      sync_slot_arm(t.slots[0], team);
      auto body = [&] { band_solve_worker<T>(control); };
      std::vector<std::thread> threads;
      for (std::int32_t k = 1; k < team; ++k) threads.emplace_back(body);
      body();
      for (auto& th : threads) th.join();
      ++runs;

      const std::int32_t* slots = t.slots;
      Handle mutex = t.mutex;
      std::atomic<std::int32_t>* flags = control.failure_flags;
      const std::int32_t f1 = flags[0].load(), f2 = flags[1].load();
      ASSERT_EQ(f1 + f2, 1) << "exactly one phase fails";
      const std::int32_t p = f1 != 0 ? 1 : 2;
      // The failing barrier let everyone through and left nothing set ...
      EXPECT_EQ(os_wait_for_single_object(
                    pband::testing::sync_slot_event(slots[p - 1]), 0),
                WAIT_TIMEOUT);
      // ... and nobody went on to the next one.
      EXPECT_TRUE(nobody_arrived(slots[2 - p], team));
      sync_slot_free(slots[0]);
      sync_slot_free(slots[1]);
      mutex_close(mutex);
      ASSERT_EQ(Resources{}, baseline);
    }
  }
  std::printf("%lld team runs with a failing pivot\n",
              static_cast<long long>(runs));
}

// The library's factor-and-solve, every pivot block of 14 on teams of
// 1 … 8: after the k-th phase fails, every thread has passed exactly k
// barriers and none has arrived at the next.
TYPED_TEST(PivotAtEveryBlock, LibraryTeamLeavesAtOneBarrier) {
  using T = TypeParam;
  constexpr std::int32_t kN = 40, kHb = 5, kNb = 3;
  const Resources baseline = warm_baseline();
  Watchdog guard(kLimit, "library pivot at every block");
  for (std::int32_t j : block_positions(kN, kNb)) {
    const std::int32_t block = (j - 1) / kNb + 1;
    for (std::int32_t team = 1; team <= 8; ++team) {
      SCOPED_TRACE(::testing::Message()
                   << "pivot in column " << j << ", team " << team);
      auto a = random_band_matrix<T>(kN, kHb, 900 + j);
      for (std::int32_t k = std::max(1, j - kHb); k <= std::min(kN, j + kHb);
           ++k)
        a[pos(std::max(j, k), std::min(j, k), kHb)] = T(0);
      auto b = random_rhs<T>(kN, 1, 901);
      T* A = a.data();
      T* B = b.data();
      const std::int32_t n = kN, hb = kHb, nb = kNb, team_size = team;
      Handle mutex = 0;
      mutex_create(mutex);
      std::int32_t slots[2] = {0, 0};
      sync_slot_allocate(slots[0]);
      sync_slot_allocate(slots[1]);
      sync_slot_arm(slots[0], team);
      std::int32_t fp = 1, fn = 1, bp = n, bn = n;
      const Real<T> threshold = 0;
      FailureFlags flags = {0, 0};
      auto body = [&] {
        Entry<T>::factor_solve_worker(A, n, hb, B, nb, mutex, slots, team_size,
                                      fp, fn, bp, bn, threshold, flags);
      };
      std::vector<std::thread> threads;
      for (std::int32_t k = 1; k < team; ++k) threads.emplace_back(body);
      body();
      for (auto& t : threads) t.join();

      const std::int32_t p = (block - 1) % 2 + 1;
      EXPECT_EQ(flags[p - 1].load(), 1);
      EXPECT_EQ(flags[2 - p].load(), 0);
      EXPECT_EQ(fp, 1 + block * kNb) << "barriers passed";
      EXPECT_EQ(bp, n) << "a backward phase ran";
      EXPECT_EQ(os_wait_for_single_object(
                    pband::testing::sync_slot_event(slots[p - 1]), 0),
                WAIT_TIMEOUT);
      EXPECT_TRUE(nobody_arrived(slots[2 - p], team));
      sync_slot_free(slots[0]);
      sync_slot_free(slots[1]);
      mutex_close(mutex);
      ASSERT_EQ(Resources{}, baseline);
    }
  }
}

}  // namespace
}  // namespace pband::test
