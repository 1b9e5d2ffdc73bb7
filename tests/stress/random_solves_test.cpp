// Volume: thousands of random small systems in every element type through
// the solver and both library paths on random teams of 1 … 8, each judged
// by its residual; the worker and slot cursors wrapping many times around
// numbers held by others; solves from several threads at once, each
// choosing its own block base.
#include <atomic>
#include <set>

#include "tests/stress/stress_support.hpp"

namespace pband::test {
namespace {

class RandomSolves : public StressTest {};

TEST_F(RandomSolves, EveryTypeAndFamilyOnRandomTeams) {
  const Resources baseline = warm_baseline();
  std::mt19937_64 rng(stress_seed(20240601));
  std::uniform_int_distribution<std::int32_t> team_d(1, 8), base_d(0, 6);
  const std::int64_t count = scaled(4000);
  std::int64_t per_family[3] = {0, 0, 0};
  Watchdog guard(std::chrono::seconds(540), "random solves");
  for (std::int64_t k = 0; k < count; ++k) {
    auto c = random_case(rng);
    // 0 lets each solve choose its own block base.
    const std::int32_t base = base_d(rng);
    pband::testing::set_solver_block_base(base == 0 ? 0 : base + 1);
    set_team_size(team_d(rng));
    c->run();
    expect_solved(*c);
    ++per_family[static_cast<int>(c->family)];
    ASSERT_EQ(Resources{}, baseline) << "after " << c->describe();
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("%lld solves: %lld solver, %lld factor-and-solve, "
              "%lld factor+substitute\n",
              static_cast<long long>(count),
              static_cast<long long>(per_family[0]),
              static_cast<long long>(per_family[1]),
              static_cast<long long>(per_family[2]));
  for (std::int64_t f : per_family) EXPECT_GT(f, 0);
}

// Holds a worker until its gate opens.
void wait_at(const Handle& gate) { os_wait_for_single_object(gate, INFINITE); }

// Workers and slots held by somebody else the whole time: the cursors
// must step over them as they wrap, and never hand their numbers out.
TEST_F(RandomSolves, CursorsWrapAroundHeldNumbersAndSolvesStayRight) {
  warm_baseline();
  Handle gate = os_create_event(true, false);
  ASSERT_NE(gate, 0);
  std::vector<std::int32_t> held_workers(3), held_slots(5);
  for (auto& w : held_workers) {
    launch_worker(w, &wait_at, gate);
    ASSERT_NE(w, 0);
  }
  for (auto& s : held_slots) {
    sync_slot_allocate(s);
    ASSERT_NE(s, 0);
  }
  const std::set<std::int32_t> held_w(held_workers.begin(),
                                      held_workers.end());
  const std::set<std::int32_t> held_s(held_slots.begin(), held_slots.end());
  const Resources baseline;

  std::mt19937_64 rng(stress_seed(77));
  std::uniform_int_distribution<std::int32_t> team_d(2, 8);
  pband::testing::set_solver_block_base(3);
  const std::int64_t launches_wanted = 2 * WORKER_SLOT_COUNT + 100;
  std::int64_t launches = 0, allocations = 0, solves = 0;
  std::int32_t worker_wraps = 0, slot_wraps = 0;
  std::int32_t last_worker = 0, last_slot = 0;
  Watchdog guard(std::chrono::seconds(540), "cursor wraps");
  while (launches < launches_wanted || worker_wraps < 2 || slot_wraps < 2) {
    auto c = random_case(rng);
    const std::int32_t team = team_d(rng);
    set_team_size(team);
    c->run();
    expect_solved(*c);
    ASSERT_EQ(Resources{}, baseline) << "after " << c->describe();
    launches += team - 1;
    allocations += 2;
    ++solves;
    // Probes: where the cursors stand now, and that no held number is
    // given out. A probe number below the last one means a wrap.
    std::int32_t w = 0, s = 0;
    launch_worker(w, &do_nothing);
    sync_slot_allocate(s);
    ASSERT_NE(w, 0);
    ASSERT_NE(s, 0);
    EXPECT_EQ(held_w.count(w), 0u) << "held worker number " << w;
    EXPECT_EQ(held_s.count(s), 0u) << "held slot number " << s;
    join_worker(w);
    sync_slot_free(s);
    if (w < last_worker) ++worker_wraps;
    if (s < last_slot) ++slot_wraps;
    last_worker = w;
    last_slot = s;
    ++launches;
    ++allocations;
    if (::testing::Test::HasFailure() || solves > 100000) break;
  }
  std::printf("%lld solves, %lld launches (%d wraps), %lld slot "
              "allocations (%d wraps)\n",
              static_cast<long long>(solves),
              static_cast<long long>(launches), worker_wraps,
              static_cast<long long>(allocations), slot_wraps);
  EXPECT_GE(worker_wraps, 2);
  EXPECT_GE(slot_wraps, 2);

  os_set_event(gate);
  for (std::int32_t w : held_workers) join_worker(w);
  for (std::int32_t s : held_slots) sync_slot_free(s);
  os_close_handle(gate);
}

// Solves from several threads at once, each on its own arrays, while
// another thread keeps changing the team size: every solve gives the
// bits of the same case solved alone, and nothing is left behind.
TEST_F(RandomSolves, ConcurrentSolvesGiveTheBitsOfSolvingAlone) {
  const Resources baseline = warm_baseline();
  pband::testing::set_solver_block_base(3);
  constexpr int kThreads = 3;
  const std::int64_t rounds = scaled(200);
  std::mt19937_64 rng(stress_seed(4242));
  std::vector<std::vector<std::unique_ptr<Case>>> cases(kThreads);
  std::vector<std::vector<std::vector<unsigned char>>> expected(kThreads);
  set_team_size(1);
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < 6; ++k) {
      cases[t].push_back(random_case(rng));
      cases[t].back()->run();
      expect_solved(*cases[t].back());
      expected[t].push_back(cases[t].back()->bits());
    }
  }
  ASSERT_FALSE(::testing::Test::HasFailure());

  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> mismatches{0}, solves{0};
  Watchdog guard(std::chrono::seconds(540), "concurrent solves");
  std::thread changer([&] {
    std::mt19937 r(5);
    while (!stop.load()) {
      set_team_size(std::uniform_int_distribution<std::int32_t>(1, 6)(r));
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::vector<std::thread> solvers;
  for (int t = 0; t < kThreads; ++t) {
    solvers.emplace_back([&, t] {
      for (std::int64_t r = 0; r < rounds; ++r) {
        for (std::size_t k = 0; k < cases[t].size(); ++k) {
          cases[t][k]->run();
          solves.fetch_add(1);
          if (cases[t][k]->status != 0 ||
              cases[t][k]->bits() != expected[t][k])
            mismatches.fetch_add(1);
        }
      }
    });
  }
  for (auto& s : solvers) s.join();
  stop.store(true);
  changer.join();
  std::printf("%lld concurrent solves on %d threads\n",
              static_cast<long long>(solves.load()), kThreads);
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(Resources{}, baseline);
}

// Solves of all four types started at once each choose their own block
// base (24 real; complex 16 on up to two threads, else 8) and give the
// bits of the same solve made alone, whatever the others chose.
TEST_F(RandomSolves, ConcurrentSolvesChooseTheirOwnBlockBase) {
  const Resources baseline = warm_baseline();
  const std::int64_t rounds = scaled(40);
  std::mt19937_64 rng(stress_seed(99));
  std::int64_t mismatches = 0;
  Watchdog guard(std::chrono::seconds(540), "concurrent solves");
  for (std::int64_t r = 0; r < rounds; ++r) {
    set_team_size(r % 2 == 0 ? 2 : 4);
    std::vector<std::unique_ptr<Case>> cases;
    for (int type = 0; type < 4; ++type)
      cases.push_back(random_case(rng, Family::solver, type));
    pband::testing::set_solver_block_base(0);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (auto& c : cases)
      threads.emplace_back([&ready, &c] {
        ready.fetch_add(1);
        while (ready.load() < 4) std::this_thread::yield();
        c->run();
      });
    for (auto& t : threads) t.join();
    EXPECT_EQ(pband::testing::solver_block_base(), 0);
    for (auto& c : cases) {
      ASSERT_EQ(c->status, 0) << c->describe();
      const auto bits = c->bits();
      c->run();  // alone
      if (c->bits() != bits) ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(Resources{}, baseline);
}

}  // namespace
}  // namespace pband::test
