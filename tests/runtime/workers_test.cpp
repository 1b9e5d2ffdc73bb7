// Worker table: cyclic numbering, a full table, the join family, shared
// arguments (0 and 52 of them, seen at exactly the caller's addresses),
// failed thread creation, and a team run the way the solver runs one.
// Numbers are checked relative to the first one a test receives, so the
// tests hold in any order within one process.
#include <gtest/gtest.h>

#include <atomic>
#include <bitset>
#include <string>
#include <utility>
#include <vector>

#include "tests/runtime/runtime_test_util.hpp"

namespace pband {
namespace {

using test::after;
using test::Gate;

std::atomic<int> runs{0};
void count_run() { runs.fetch_add(1); }

void pass_then_count(const Gate& gate) {
  gate.pass();
  runs.fetch_add(1);
}

void set_flag(std::atomic<int>& flag) { flag.store(1); }

class Workers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(workers_in_use(), 0);
    // Every test starts with the table's guard in place.
    join_worker(launch_counting());
    runs.store(0);
  }
  void TearDown() override {
    testing::os_clear_faults();
    join_all_workers();
  }
  static std::int32_t launch_counting() {
    std::int32_t w = -1;
    launch_worker(w, &count_run);
    return w;
  }
  static std::int32_t launch_held(const Gate& gate) {
    std::int32_t w = -1;
    launch_worker(w, &pass_then_count, gate);
    return w;
  }
};

TEST_F(Workers, NumbersFollowTheCursor) {
  std::int32_t first = launch_counting();
  ASSERT_NE(first, 0);
  EXPECT_EQ(launch_counting(), after(first, 1, WORKER_SLOT_COUNT));
  EXPECT_EQ(launch_counting(), after(first, 2, WORKER_SLOT_COUNT));
  EXPECT_EQ(workers_in_use(), 3);
  join_all_workers();
  EXPECT_EQ(runs.load(), 3);
}

TEST_F(Workers, CursorWrapsAfterTheLastNumber) {
  std::int32_t w = 0;
  for (int k = 0; k < WORKER_SLOT_COUNT && w != WORKER_SLOT_COUNT; ++k) {
    w = launch_counting();
    join_worker(w);
  }
  ASSERT_EQ(w, WORKER_SLOT_COUNT);
  EXPECT_EQ(launch_counting(), 1);
}

TEST_F(Workers, FullTableGivesZeroAndRunsNothing) {
  Gate gate;
  std::int32_t first = launch_held(gate);
  ASSERT_NE(first, 0);
  for (std::int32_t k = 1; k < WORKER_SLOT_COUNT; ++k) {
    ASSERT_EQ(launch_held(gate), after(first, k, WORKER_SLOT_COUNT));
  }
  EXPECT_EQ(workers_in_use(), WORKER_SLOT_COUNT);
  const std::int32_t handles = os_open_handle_count();
  std::atomic<int> flag{0};
  std::int32_t extra = -1;
  launch_worker(extra, &set_flag, flag);
  EXPECT_EQ(extra, 0);
  EXPECT_EQ(os_open_handle_count(), handles);
  gate.open();
  join_all_workers();
  EXPECT_EQ(runs.load(), WORKER_SLOT_COUNT);
  EXPECT_EQ(flag.load(), 0);
  EXPECT_EQ(workers_in_use(), 0);
}

TEST_F(Workers, FreedNumberIsNotReusedAtOnce) {
  Gate gate;
  std::int32_t w[4];
  for (std::int32_t& x : w) x = launch_held(gate);
  for (int k = 1; k < 4; ++k) EXPECT_EQ(w[k], after(w[0], k, 1024));
  gate.open();
  join_worker(w[1]);
  EXPECT_EQ(launch_counting(), after(w[0], 4, WORKER_SLOT_COUNT));
  join_all_workers();  // before the gate goes
}

TEST_F(Workers, JoiningTwiceOrJoiningNothingDoesNothing) {
  std::int32_t w = launch_counting();
  join_worker(w);
  const std::int32_t handles = os_open_handle_count();
  const std::int32_t in_use = workers_in_use();
  join_worker(w);
  for (std::int32_t none : {0, -1, WORKER_SLOT_COUNT + 1}) {
    join_worker(none);
    wait_worker(none);
    close_worker(none);
  }
  EXPECT_EQ(os_open_handle_count(), handles);
  EXPECT_EQ(workers_in_use(), in_use);
  EXPECT_EQ(runs.load(), 1);
}

TEST_F(Workers, WaitThenJoinOnlyClosesAndFrees) {
  std::int32_t written = 0;
  std::int32_t w = -1;
  launch_worker(w, +[](std::int32_t& out) { out = 42; }, written);
  const std::int32_t handles = os_open_handle_count();
  wait_worker(w);
  EXPECT_EQ(written, 42);
  EXPECT_EQ(os_open_handle_count(), handles);  // the handle is kept
  EXPECT_EQ(workers_in_use(), 1);
  wait_worker(w);
  join_worker(w);
  EXPECT_EQ(os_open_handle_count(), handles - 1);
  EXPECT_EQ(workers_in_use(), 0);
}

TEST_F(Workers, CloseBeforeWaitDoesNothing) {
  Gate gate;
  std::int32_t w = launch_held(gate);
  const std::int32_t handles = os_open_handle_count();
  close_worker(w);
  EXPECT_EQ(workers_in_use(), 1);
  EXPECT_EQ(os_open_handle_count(), handles);
  gate.open();
  wait_worker(w);
  close_worker(w);
  EXPECT_EQ(workers_in_use(), 0);
  EXPECT_EQ(runs.load(), 1);
}

void finish_late(std::int32_t& done) {
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  done = 1;
}

TEST_F(Workers, JoinAllWaitsForAHundredInGroups) {
  const std::int32_t handles = os_open_handle_count();
  std::vector<std::int32_t> done(100, 0);
  for (std::int32_t& d : done) {
    std::int32_t w = -1;
    launch_worker(w, &finish_late, d);
    ASSERT_NE(w, 0);
  }
  join_all_workers();
  for (std::int32_t d : done) EXPECT_EQ(d, 1);
  EXPECT_EQ(workers_in_use(), 0);
  EXPECT_EQ(os_open_handle_count(), handles);
}

TEST_F(Workers, WaitAllThenCloseWaited) {
  const std::int32_t handles = os_open_handle_count();
  std::vector<std::int32_t> done(100, 0);
  for (std::int32_t& d : done) {
    std::int32_t w = -1;
    launch_worker(w, &finish_late, d);
  }
  wait_all_workers();
  for (std::int32_t d : done) EXPECT_EQ(d, 1);
  EXPECT_EQ(workers_in_use(), 100);
  EXPECT_EQ(os_open_handle_count(), handles + 100);
  close_waited_workers();
  EXPECT_EQ(workers_in_use(), 0);
  EXPECT_EQ(os_open_handle_count(), handles);
}

// Routines that record the addresses they receive.
std::vector<void*> received;

void no_arguments() { received.push_back(nullptr); }

template <class... T>
void record_addresses(T&... args) {
  (received.push_back(&args), ...);
}

template <std::size_t>
using Int = std::int32_t;

template <std::size_t... I>
void launch_with_array(std::int32_t& w, std::int32_t (&values)[sizeof...(I)],
                       std::index_sequence<I...>) {
  launch_worker(w, &record_addresses<Int<I>...>, values[I]...);
}

TEST_F(Workers, RoutinesGetExactlyTheirArgumentsInOrder) {
  received.clear();
  std::int32_t w = -1;
  launch_worker(w, &no_arguments);
  join_worker(w);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], nullptr);

  received.clear();
  std::int32_t values[MAX_WORKER_ARGS] = {};
  launch_with_array(w, values, std::make_index_sequence<MAX_WORKER_ARGS>{});
  join_worker(w);
  ASSERT_EQ(received.size(), static_cast<std::size_t>(MAX_WORKER_ARGS));
  for (int k = 0; k < MAX_WORKER_ARGS; ++k) {
    EXPECT_EQ(received[k], &values[k]) << "argument " << k + 1;
  }
}

struct Record {
  double x = 0;
  std::string text;
};

int change_everything(std::int32_t& i, double& d, Record& r, const Gate& g,
                      std::int32_t& seen) {
  g.pass();
  seen = i;  // set by the caller after the launch
  i += 1;
  d *= 2;
  r.x = d;
  r.text += " changed";
  return 7;
}

TEST_F(Workers, ArgumentsAreSharedBothWays) {
  std::int32_t i = 0;
  double d = 1.5;
  Record r{0, "record"};
  Gate gate;
  std::int32_t seen = -1;
  std::int32_t w = -1;
  launch_worker(w, &change_everything, i, d, r, gate, seen);
  i = 41;
  gate.open();
  join_worker(w);
  EXPECT_EQ(seen, 41);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(d, 3.0);
  EXPECT_EQ(r.x, 3.0);
  EXPECT_EQ(r.text, "record changed");
}

TEST_F(Workers, FailedThreadCreationFreesTheSlotAndGivesZero) {
  std::int32_t before = launch_counting();
  join_worker(before);
  const std::int32_t handles = os_open_handle_count();
  testing::os_fail_creation(testing::OsObject::thread, 0);
  std::atomic<int> flag{0};
  std::int32_t w = -1;
  launch_worker(w, &set_flag, flag);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(workers_in_use(), 0);
  EXPECT_EQ(os_open_handle_count(), handles);
  testing::os_clear_faults();
  // The failed launch left no trace: the cursor's number comes next.
  launch_worker(w, &set_flag, flag);
  EXPECT_EQ(w, after(before, 1, WORKER_SLOT_COUNT));
  join_worker(w);
  EXPECT_EQ(flag.load(), 1);
}

TEST_F(Workers, GuardIsCreatedAnewAfterShutdown) {
  const std::int32_t handles = os_open_handle_count();
  shutdown_runtime();
  const std::int32_t without_guards = os_open_handle_count();
  EXPECT_LT(without_guards, handles);
  testing::os_fail_creation(testing::OsObject::mutex, 0);
  EXPECT_EQ(launch_counting(), 0);
  testing::os_clear_faults();
  std::int32_t w = launch_counting();
  EXPECT_NE(w, 0);
  join_worker(w);
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(os_open_handle_count(), without_guards + 1);
}

TEST_F(Workers, EntryCallsNothingForACountOutOfRange) {
  std::atomic<int> flag{0};
  void* args[1] = {&flag};
  for (std::int32_t count : {-1, MAX_WORKER_ARGS + 1, 1}) {
    WorkerCall call;
    call.routine = reinterpret_cast<GenericRoutine>(&set_flag);
    call.invoker = &detail::invoke_stored<void, std::atomic<int>&>;
    call.arg_count = count;
    call.args[0] = args[0];
    worker_entry(&call);
    EXPECT_EQ(flag.load(), count == 1 ? 1 : 0) << "count " << count;
  }
}

// A team run as the solver runs one: the caller launches T - 1 workers on
// one routine with shared arguments, works itself, then joins in order.
void team_member(std::int32_t& next_block, std::int32_t& blocks,
                 Handle& mutex, std::int32_t (&slot)[2],
                 std::int32_t& team_size, std::int32_t& phases,
                 std::vector<std::int32_t>& claimed_by,
                 std::int32_t& phase_total, std::atomic<int>& faults) {
  for (std::int32_t p = 0; p < phases; ++p) {
    // Claim blocks one at a time under the mutex.
    for (;;) {
      mutex_lock(mutex);
      std::int32_t b = next_block < blocks ? next_block++ : -1;
      mutex_unlock(mutex);
      if (b < 0) break;
      claimed_by[b] += 1;
    }
    std::int32_t follower = -1;
    sync_slot_arrive(slot[p & 1]);
    sync_slot_wait_leader(slot[p & 1], follower);
    if (follower == 0) {
      for (std::int32_t c : claimed_by) {
        if (c != p + 1) faults.fetch_add(1);
      }
      phase_total += 1;
      next_block = 0;
      sync_slot_arm(slot[(p + 1) & 1], team_size);
      sync_slot_post(slot[p & 1]);
    } else if (phase_total != p + 1) {
      faults.fetch_add(1);
    }
  }
}

TEST_F(Workers, TeamRunsLikeTheSolver) {
  std::int32_t team_size = 4, phases = 300, blocks = 64, next_block = 0;
  std::int32_t phase_total = 0;
  std::vector<std::int32_t> claimed_by(blocks, 0);
  std::atomic<int> faults{0};
  Handle mutex = 0;
  mutex_create(mutex);
  std::int32_t slot[2];
  sync_slot_allocate(slot[0]);
  sync_slot_allocate(slot[1]);
  sync_slot_arm(slot[0], team_size);
  std::vector<std::int32_t> w(team_size, 0);
  for (std::int32_t t = 1; t < team_size; ++t) {
    launch_worker(w[t], &team_member, next_block, blocks, mutex, slot,
                  team_size, phases, claimed_by, phase_total, faults);
    ASSERT_NE(w[t], 0);
  }
  team_member(next_block, blocks, mutex, slot, team_size, phases, claimed_by,
              phase_total, faults);
  for (std::int32_t t = 1; t < team_size; ++t) join_worker(w[t]);
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(phase_total, phases);
  for (std::int32_t c : claimed_by) EXPECT_EQ(c, phases);
  mutex_close(mutex);
  sync_slot_free(slot[0]);
  sync_slot_free(slot[1]);
}

}  // namespace
}  // namespace pband
