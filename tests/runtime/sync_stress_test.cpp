// The leader protocol under stress, used exactly as the solver uses it:
// two slots taken alternately, the leader of each cycle re-arming the
// other slot in its serial step. Faults are counted on the threads and
// checked once all have finished.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "runtime/runtime.hpp"

namespace pband {
namespace {

struct Cycles {
  std::int32_t participants;
  std::int32_t count;
  std::int32_t slot[2] = {0, 0};
  std::int32_t value = 0;  // written by each leader, read by its followers
  std::atomic<bool> in_serial_step{false};
  std::vector<std::atomic<int>> leaders;
  std::vector<std::atomic<int>> passed;
  std::atomic<int> bad_flag{0};
  std::atomic<int> early_follower{0};   // a follower past the wait too soon
  std::atomic<int> stale_value{0};      // a follower saw an old value
  std::atomic<int> incomplete{0};       // previous cycle not all through
  std::atomic<int> left_signalled{0};   // the previous chain left a set event

  Cycles(std::int32_t n, std::int32_t cycles)
      : participants(n), count(cycles), leaders(cycles), passed(cycles) {}
};

void serial_step(Cycles& s, std::int32_t c) {
  s.in_serial_step.store(true);
  s.leaders[c].fetch_add(1);
  if (s.passed[c].load() != 0) s.early_follower.fetch_add(1);
  if (c > 0 && s.passed[c - 1].load() != s.participants) {
    s.incomplete.fetch_add(1);
  }
  // Everybody has arrived here, so the other slot's chain has ended.
  std::int32_t other = s.slot[(c + 1) & 1];
  if (c > 0 &&
      os_wait_for_single_object(testing::sync_slot_event(other), 0) !=
          WAIT_TIMEOUT) {
    s.left_signalled.fetch_add(1);
  }
  s.value = c + 1;
  if (c % 8 == 0) std::this_thread::yield();  // widen the window
  sync_slot_arm(other, s.participants);
  if (s.passed[c].load() != 0) s.early_follower.fetch_add(1);
  s.in_serial_step.store(false);
}

void participate(Cycles& s) {
  for (std::int32_t c = 0; c < s.count; ++c) {
    std::int32_t slot = s.slot[c & 1];
    std::int32_t follower = -1;
    sync_slot_arrive(slot);
    sync_slot_wait_leader(slot, follower);
    if (follower == 0) {
      serial_step(s, c);
      s.passed[c].fetch_add(1);
      sync_slot_post(slot);
    } else if (follower == 1) {
      if (s.in_serial_step.load()) s.early_follower.fetch_add(1);
      if (s.value != c + 1) s.stale_value.fetch_add(1);
      s.passed[c].fetch_add(1);
    } else {
      s.bad_flag.fetch_add(1);
    }
  }
}

class LeaderProtocolStress : public ::testing::TestWithParam<int> {};

TEST_P(LeaderProtocolStress, OneLeaderPerCycleAndNoOverlap) {
  const std::int32_t n = GetParam();
  // Bounded work: fewer cycles for bigger teams on a small machine.
  const std::int32_t cycles = 12000 / n;
  Cycles s(n, cycles);
  sync_slot_allocate(s.slot[0]);
  sync_slot_allocate(s.slot[1]);
  ASSERT_NE(s.slot[0], 0);
  ASSERT_NE(s.slot[1], 0);
  sync_slot_arm(s.slot[0], n);

  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> team;
  for (std::int32_t t = 1; t < n; ++t) team.emplace_back(participate,
                                                          std::ref(s));
  participate(s);
  for (auto& t : team) t.join();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start).count();
  std::printf("[ figures  ] %d threads, %d cycles, %lld ms\n", n, cycles,
              static_cast<long long>(ms));

  int wrong_leaders = 0;
  int wrong_passes = 0;
  for (std::int32_t c = 0; c < cycles; ++c) {
    if (s.leaders[c].load() != 1) ++wrong_leaders;
    if (s.passed[c].load() != n) ++wrong_passes;
  }
  EXPECT_EQ(wrong_leaders, 0);
  EXPECT_EQ(wrong_passes, 0);
  EXPECT_EQ(s.bad_flag.load(), 0);
  EXPECT_EQ(s.early_follower.load(), 0);
  EXPECT_EQ(s.stale_value.load(), 0);
  EXPECT_EQ(s.incomplete.load(), 0);
  EXPECT_EQ(s.left_signalled.load(), 0);
  // The last cycle's chain ended with its event unsignalled too.
  EXPECT_EQ(os_wait_for_single_object(
                testing::sync_slot_event(s.slot[(cycles - 1) & 1]), 0),
            WAIT_TIMEOUT);
  sync_slot_free(s.slot[0]);
  sync_slot_free(s.slot[1]);
  EXPECT_EQ(sync_slots_in_use(), 0);
}

INSTANTIATE_TEST_SUITE_P(TwoToEightThreads, LeaderProtocolStress,
                         ::testing::Range(2, 9));

}  // namespace
}  // namespace pband
