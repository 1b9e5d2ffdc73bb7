// Synchronization slots: cyclic allocation, the number check that makes
// operations on free numbers harmless, the release chain and its leader,
// and the clean-up when kernel objects cannot be created.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/runtime/runtime_test_util.hpp"

namespace pband {
namespace {

using test::after;
using test::eventually;

class SyncSlots : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(sync_slots_in_use(), 0); }
  void TearDown() override { testing::os_clear_faults(); }
  static std::int32_t allocate() {
    std::int32_t slot = -1;
    sync_slot_allocate(slot);
    return slot;
  }
  // Moves the cursor to 1: allocate and free until 64 is handed out.
  static void rewind_cursor() {
    for (int k = 0; k < SYNC_SLOT_COUNT; ++k) {
      std::int32_t slot = allocate();
      sync_slot_free(slot);
      if (slot == SYNC_SLOT_COUNT) return;
    }
    FAIL() << "slot 64 never handed out";
  }
  static bool signalled(std::int32_t slot) {
    return os_wait_for_single_object(testing::sync_slot_event(slot), 0) ==
           WAIT_OBJECT_0;
  }
};

TEST_F(SyncSlots, AllocationRunsOneToSixtyFourThenReusesFromTheCursor) {
  rewind_cursor();
  for (std::int32_t expected = 1; expected <= SYNC_SLOT_COUNT; ++expected) {
    EXPECT_EQ(allocate(), expected);
  }
  EXPECT_EQ(sync_slots_in_use(), SYNC_SLOT_COUNT);
  const std::int32_t handles = os_open_handle_count();
  EXPECT_EQ(allocate(), 0);
  EXPECT_EQ(os_open_handle_count(), handles);
  sync_slot_free(5);
  EXPECT_EQ(allocate(), 5);
  for (std::int32_t slot = 1; slot <= SYNC_SLOT_COUNT; ++slot) {
    sync_slot_free(slot);
  }
  EXPECT_EQ(sync_slots_in_use(), 0);
}

TEST_F(SyncSlots, CursorWrapsAfterSixtyFour) {
  rewind_cursor();
  for (int k = 0; k < 60; ++k) allocate();
  for (std::int32_t slot = 1; slot <= 60; ++slot) sync_slot_free(slot);
  // Freed numbers wait until the cursor comes round again.
  for (std::int32_t expected : {61, 62, 63, 64, 1, 2}) {
    EXPECT_EQ(allocate(), expected);
  }
  for (std::int32_t slot : {61, 62, 63, 64, 1, 2}) sync_slot_free(slot);
}

TEST_F(SyncSlots, FreeingTwiceDoesNothing) {
  std::int32_t a = allocate();
  std::int32_t b = allocate();
  EXPECT_EQ(b, after(a, 1, SYNC_SLOT_COUNT));
  const std::int32_t handles = os_open_handle_count();
  sync_slot_free(a);
  EXPECT_EQ(os_open_handle_count(), handles - 2);
  sync_slot_free(a);
  EXPECT_EQ(os_open_handle_count(), handles - 2);
  EXPECT_EQ(sync_slots_in_use(), 1);
  // The other slot is untouched and still works.
  std::int32_t flag = -1;
  sync_slot_arm(b, 1);
  sync_slot_arrive(b);
  sync_slot_wait_leader(b, flag);
  EXPECT_EQ(flag, 0);
  sync_slot_free(b);
}

TEST_F(SyncSlots, OperationsOnNumbersNotAllocatedDoNothing) {
  std::int32_t freed = allocate();
  sync_slot_free(freed);
  const std::int32_t handles = os_open_handle_count();
  for (std::int32_t slot : {0, -1, SYNC_SLOT_COUNT + 1, freed}) {
    std::int32_t flag = 7;
    sync_slot_arm(slot, 1);
    sync_slot_arrive(slot);
    sync_slot_wait(slot);  // would block forever on a real slot
    sync_slot_wait_leader(slot, flag);
    sync_slot_post(slot);
    sync_slot_free(slot);
    EXPECT_EQ(flag, 7);
    EXPECT_EQ(testing::sync_slot_event(slot), 0);
  }
  EXPECT_EQ(os_open_handle_count(), handles);
  EXPECT_EQ(sync_slots_in_use(), 0);
}

TEST_F(SyncSlots, SingleParticipantLeadsAndLeavesTheEventUnsignalled) {
  std::int32_t slot = allocate();
  for (int cycle = 0; cycle < 3; ++cycle) {
    std::int32_t flag = -1;
    sync_slot_arm(slot, 1);
    sync_slot_arrive(slot);
    sync_slot_wait_leader(slot, flag);
    EXPECT_EQ(flag, 0);
    sync_slot_post(slot);
    EXPECT_FALSE(signalled(slot));
  }
  sync_slot_free(slot);
}

TEST_F(SyncSlots, FreshSlotStartsUnsignalled) {
  std::int32_t slot = allocate();
  sync_slot_arm(slot, 1);
  sync_slot_arrive(slot);  // leaves the event set
  sync_slot_free(slot);
  for (int k = 0; k < SYNC_SLOT_COUNT; ++k) {
    std::int32_t again = allocate();
    bool same = again == slot;
    if (same) {
      EXPECT_FALSE(signalled(again));
    }
    sync_slot_free(again);
    if (same) return;
  }
  FAIL() << "slot " << slot << " never handed out again";
}

TEST_F(SyncSlots, SurplusArrivalsReleaseNothingMore) {
  std::int32_t slot = allocate();
  sync_slot_arm(slot, 2);
  for (int k = 0; k < 3; ++k) sync_slot_arrive(slot);
  std::int32_t first = -1;
  std::int32_t second = -1;
  sync_slot_wait_leader(slot, first);
  sync_slot_post(slot);
  sync_slot_wait_leader(slot, second);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_FALSE(signalled(slot));
  sync_slot_free(slot);
}

TEST_F(SyncSlots, NobodyPassesBeforeTheLastArrival) {
  constexpr int N = 4;
  std::int32_t slot = allocate();
  sync_slot_arm(slot, N);
  std::atomic<int> passed{0};
  std::atomic<int> leaders{0};
  std::atomic<int> released_during_lead{0};
  std::vector<std::thread> team;
  for (int t = 0; t < N - 1; ++t) {
    team.emplace_back([&] {
      std::int32_t flag = -1;
      sync_slot_arrive(slot);
      sync_slot_wait_leader(slot, flag);
      if (flag == 0) {
        leaders.fetch_add(1);
        // The others stay held while the leader works.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        released_during_lead.fetch_add(passed.load());
        passed.fetch_add(1);
        sync_slot_post(slot);
      } else {
        passed.fetch_add(1);
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(passed.load(), 0);
  sync_slot_arrive(slot);
  std::int32_t flag = -1;
  sync_slot_wait_leader(slot, flag);
  if (flag == 0) {
    leaders.fetch_add(1);
    released_during_lead.fetch_add(passed.load());
    passed.fetch_add(1);
    sync_slot_post(slot);
  } else {
    passed.fetch_add(1);
  }
  for (auto& t : team) t.join();
  EXPECT_EQ(passed.load(), N);
  EXPECT_EQ(leaders.load(), 1);
  EXPECT_EQ(released_during_lead.load(), 0);
  EXPECT_FALSE(signalled(slot));
  sync_slot_free(slot);
}

TEST_F(SyncSlots, PlainBarrierLetsExactlyTheArmedNumberThrough) {
  constexpr int N = 5;
  std::int32_t slot = allocate();
  for (int cycle = 0; cycle < 20; ++cycle) {
    sync_slot_arm(slot, N);
    std::atomic<int> arrived{0};
    std::atomic<int> early{0};
    std::vector<std::thread> team;
    for (int t = 0; t < N; ++t) {
      team.emplace_back([&] {
        arrived.fetch_add(1);
        sync_slot_arrive(slot);
        sync_slot_wait(slot);
        if (arrived.load() != N) early.fetch_add(1);
      });
    }
    for (auto& t : team) t.join();
    EXPECT_EQ(early.load(), 0);
    EXPECT_FALSE(signalled(slot));
  }
  sync_slot_free(slot);
}

TEST_F(SyncSlots, FailedCreationReleasesWhatWasMade) {
  std::int32_t probe = allocate();  // the table guard exists from here on
  sync_slot_free(probe);
  const std::int32_t handles = os_open_handle_count();
  testing::os_fail_creation(testing::OsObject::event, 0);
  EXPECT_EQ(allocate(), 0);
  testing::os_clear_faults();
  testing::os_fail_creation(testing::OsObject::mutex, 0);
  EXPECT_EQ(allocate(), 0);
  EXPECT_EQ(os_open_handle_count(), handles);
  EXPECT_EQ(sync_slots_in_use(), 0);
  testing::os_clear_faults();
  // Nothing was claimed: the next allocation is the cursor's.
  EXPECT_EQ(allocate(), after(probe, 1, SYNC_SLOT_COUNT));
  sync_slot_free(after(probe, 1, SYNC_SLOT_COUNT));
}

TEST_F(SyncSlots, GuardIsCreatedAnewAfterShutdown) {
  std::int32_t probe = allocate();
  sync_slot_free(probe);
  const std::int32_t handles = os_open_handle_count();
  shutdown_runtime();
  EXPECT_LT(os_open_handle_count(), handles);
  testing::os_fail_creation(testing::OsObject::mutex, 0);
  EXPECT_EQ(allocate(), 0);  // no guard, no slot
  testing::os_clear_faults();
  std::int32_t slot = allocate();
  EXPECT_EQ(slot, after(probe, 1, SYNC_SLOT_COUNT));
  sync_slot_free(slot);
  shutdown_runtime();
}

}  // namespace
}  // namespace pband
