// OS layer: the kernel-style semantics the runtime relies on (owned
// recursive mutexes, auto-reset events, threads waitable many times),
// handle accounting, the fixed object pool and injected failures.
#include <gtest/gtest.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/runtime/runtime_test_util.hpp"

namespace pband {
namespace {

using test::eventually;
using test::Gate;

// A thread that passes `event` once and counts itself in `passed`.
struct Waiter {
  Handle event;
  std::atomic<int>* passed;
};

std::uint32_t wait_then_count(void* p) {
  auto* w = static_cast<Waiter*>(p);
  os_wait_for_single_object(w->event, INFINITE);
  w->passed->fetch_add(1);
  return 0;
}

// A thread that passes a gate, then writes its mark.
struct Marker {
  const Gate* gate;
  int mark = 0;
};

std::uint32_t pass_gate_then_mark(void* p) {
  auto* m = static_cast<Marker*>(p);
  m->gate->pass();
  m->mark = 1;
  return 0;
}

// Objects the pool can still create, found by creating events until
// creation fails, then closing them all.
int pool_capacity() {
  std::vector<Handle> made;
  for (Handle h; (h = os_create_event(false, false)) != 0;) made.push_back(h);
  for (Handle h : made) os_close_handle(h);
  return static_cast<int>(made.size());
}

// Sets made back to back, before any released waiter has run: each still
// lets exactly one waiter through, and none is left over afterwards.
TEST(OsEvent, SetsInQuickSuccessionEachReleaseOneWaiter) {
  Handle event = os_create_event(false, false);
  std::atomic<int> passed{0};
  Waiter waiter{event, &passed};
  Handle threads[4];
  for (Handle& t : threads) {
    t = os_create_thread(0, &wait_then_count, &waiter, 0, nullptr);
    ASSERT_NE(t, 0);
  }
  // Long enough for all four to be asleep in their waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(passed.load(), 0);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(os_set_event(event), 1);
  ASSERT_TRUE(eventually([&] { return passed.load() >= 3; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(passed.load(), 3);
  EXPECT_EQ(os_wait_for_single_object(event, 0), WAIT_TIMEOUT);
  EXPECT_EQ(os_set_event(event), 1);
  EXPECT_EQ(os_wait_for_multiple_objects(4, threads, true, INFINITE),
            WAIT_OBJECT_0);
  EXPECT_EQ(passed.load(), 4);
  EXPECT_EQ(os_wait_for_single_object(event, 0), WAIT_TIMEOUT);
  for (Handle t : threads) os_close_handle(t);
  os_close_handle(event);
}

// A timed wait that runs out leaves no trace: the next set still goes to
// the waiter that remains, or stays set when there is none.
TEST(OsEvent, TimedOutWaitDoesNotTakeALaterSet) {
  Handle event = os_create_event(false, false);
  EXPECT_EQ(os_wait_for_single_object(event, 20), WAIT_TIMEOUT);
  EXPECT_EQ(os_set_event(event), 1);
  EXPECT_EQ(os_wait_for_single_object(event, 20), WAIT_OBJECT_0);
  EXPECT_EQ(os_wait_for_single_object(event, 0), WAIT_TIMEOUT);
  os_close_handle(event);
}

TEST(OsEvent, AutoResetReleasesOneWaiterPerSet) {
  Handle event = os_create_event(false, false);
  std::atomic<int> passed{0};
  Waiter waiter{event, &passed};
  Handle threads[4];
  for (Handle& t : threads) {
    t = os_create_thread(0, &wait_then_count, &waiter, 0, nullptr);
    ASSERT_NE(t, 0);
  }
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(os_set_event(event), 1);
    ASSERT_TRUE(eventually([&] { return passed.load() >= k; }));
    // Give any wrongly released waiter time to show itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(passed.load(), k);
  }
  EXPECT_EQ(os_wait_for_multiple_objects(4, threads, true, INFINITE),
            WAIT_OBJECT_0);
  EXPECT_EQ(os_wait_for_single_object(event, 0), WAIT_TIMEOUT);
  for (Handle t : threads) os_close_handle(t);
  os_close_handle(event);
}

TEST(OsEvent, SetWithoutWaiterIsKeptForOneWait) {
  Handle event = os_create_event(false, false);
  EXPECT_EQ(os_wait_for_single_object(event, 0), WAIT_TIMEOUT);
  os_set_event(event);
  os_set_event(event);  // a set event stays set once, not twice
  EXPECT_EQ(os_wait_for_single_object(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(os_wait_for_single_object(event, 0), WAIT_TIMEOUT);
  // A waiter arriving after the set passes without another set.
  os_set_event(event);
  std::atomic<int> passed{0};
  Waiter waiter{event, &passed};
  Handle t = os_create_thread(0, &wait_then_count, &waiter, 0, nullptr);
  EXPECT_EQ(os_wait_for_single_object(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(passed.load(), 1);
  EXPECT_EQ(os_wait_for_single_object(event, 0), WAIT_TIMEOUT);
  os_close_handle(t);
  os_close_handle(event);

  Handle initially_set = os_create_event(false, true);
  EXPECT_EQ(os_wait_for_single_object(initially_set, 0), WAIT_OBJECT_0);
  EXPECT_EQ(os_wait_for_single_object(initially_set, 10), WAIT_TIMEOUT);
  os_close_handle(initially_set);
}

TEST(OsEvent, ManualResetReleasesEveryoneUntilReset) {
  Gate gate;
  Marker markers[4];
  Handle threads[4];
  for (int k = 0; k < 4; ++k) {
    markers[k].gate = &gate;
    threads[k] = os_create_thread(0, &pass_gate_then_mark, &markers[k], 0,
                                  nullptr);
  }
  gate.open();
  EXPECT_EQ(os_wait_for_multiple_objects(4, threads, true, INFINITE),
            WAIT_OBJECT_0);
  for (const Marker& m : markers) EXPECT_EQ(m.mark, 1);
  EXPECT_EQ(os_wait_for_single_object(gate.event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(os_wait_for_single_object(gate.event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(os_reset_event(gate.event), 1);
  EXPECT_EQ(os_wait_for_single_object(gate.event, 0), WAIT_TIMEOUT);
  for (Handle t : threads) os_close_handle(t);
}

TEST(OsMutex, ExcludesUnderContention) {
  constexpr int THREADS = 4;
  constexpr int ROUNDS = 20000;
  Handle mutex = 0;
  mutex_create(mutex);
  ASSERT_NE(mutex, 0);
  long counter = 0;  // plain on purpose: only the mutex protects it
  std::atomic<int> holders{0};
  std::atomic<int> overlaps{0};
  std::vector<std::thread> team;
  for (int t = 0; t < THREADS; ++t) {
    team.emplace_back([&] {
      for (int r = 0; r < ROUNDS; ++r) {
        mutex_lock(mutex);
        if (holders.fetch_add(1) != 0) overlaps.fetch_add(1);
        counter += 1;
        holders.fetch_sub(1);
        mutex_unlock(mutex);
      }
    });
  }
  for (auto& t : team) t.join();
  EXPECT_EQ(counter, static_cast<long>(THREADS) * ROUNDS);
  EXPECT_EQ(overlaps.load(), 0);
  mutex_close(mutex);
  EXPECT_EQ(mutex, 0);
}

TEST(OsMutex, BelongsToTheLockingThreadAndNests) {
  Handle mutex = os_create_mutex(false);
  auto from_other_thread = [&](auto action) {
    std::thread t(action);
    t.join();
  };
  EXPECT_EQ(os_wait_for_single_object(mutex, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(os_wait_for_single_object(mutex, 0), WAIT_OBJECT_0);
  from_other_thread([&] {
    EXPECT_EQ(os_release_mutex(mutex), 0);
    EXPECT_EQ(os_wait_for_single_object(mutex, 0), WAIT_TIMEOUT);
  });
  EXPECT_EQ(os_release_mutex(mutex), 1);
  from_other_thread(
      [&] { EXPECT_EQ(os_wait_for_single_object(mutex, 20), WAIT_TIMEOUT); });
  EXPECT_EQ(os_release_mutex(mutex), 1);
  EXPECT_EQ(os_release_mutex(mutex), 0);
  from_other_thread([&] {
    EXPECT_EQ(os_wait_for_single_object(mutex, 0), WAIT_OBJECT_0);
    EXPECT_EQ(os_release_mutex(mutex), 1);
  });
  os_close_handle(mutex);

  Handle owned = os_create_mutex(true);
  from_other_thread(
      [&] { EXPECT_EQ(os_wait_for_single_object(owned, 0), WAIT_TIMEOUT); });
  EXPECT_EQ(os_release_mutex(owned), 1);
  os_close_handle(owned);
}

TEST(OsThread, CanBeWaitedForAnyNumberOfTimes) {
  Gate gate;
  Marker marker{&gate};
  std::uint32_t id = 0;
  Handle t = os_create_thread(4096, &pass_gate_then_mark, &marker, 0, &id);
  ASSERT_NE(t, 0);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(os_wait_for_single_object(t, 0), WAIT_TIMEOUT);
  EXPECT_EQ(os_wait_for_single_object(t, 20), WAIT_TIMEOUT);
  gate.open();
  EXPECT_EQ(os_wait_for_single_object(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(marker.mark, 1);
  EXPECT_EQ(os_wait_for_single_object(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(os_wait_for_single_object(t, 0), WAIT_OBJECT_0);
  EXPECT_EQ(os_close_handle(t), 1);
  EXPECT_EQ(os_wait_for_single_object(t, 0), WAIT_FAILED);
  EXPECT_EQ(os_close_handle(t), 0);
  // Creation flags (such as "suspended") are not offered.
  EXPECT_EQ(os_create_thread(0, &pass_gate_then_mark, &marker, 4, nullptr),
            0);
}

TEST(OsThread, WaitForMultipleCovers64Threads) {
  Gate gate;
  std::vector<Marker> markers(MAXIMUM_WAIT_OBJECTS, Marker{&gate});
  std::vector<Handle> threads;
  for (Marker& m : markers) {
    threads.push_back(os_create_thread(0, &pass_gate_then_mark, &m, 0,
                                       nullptr));
    ASSERT_NE(threads.back(), 0);
  }
  EXPECT_EQ(os_wait_for_multiple_objects(64, threads.data(), true, 0),
            WAIT_TIMEOUT);
  gate.open();
  EXPECT_EQ(os_wait_for_multiple_objects(64, threads.data(), true, INFINITE),
            WAIT_OBJECT_0);
  for (const Marker& m : markers) EXPECT_EQ(m.mark, 1);
  EXPECT_EQ(os_wait_for_multiple_objects(64, threads.data(), true, 0),
            WAIT_OBJECT_0);
  for (Handle t : threads) os_close_handle(t);
}

TEST(OsThread, WaitForMultipleRejectsWhatItCannotDo) {
  Gate gate;
  gate.open();
  Handle auto_event = os_create_event(false, true);
  Handle mutex = os_create_mutex(false);
  Handle list[65];
  std::fill(std::begin(list), std::end(list), gate.event);
  EXPECT_EQ(os_wait_for_multiple_objects(2, list, true, 0), WAIT_OBJECT_0);
  EXPECT_EQ(os_wait_for_multiple_objects(2, list, false, 0), WAIT_FAILED);
  EXPECT_EQ(os_wait_for_multiple_objects(0, list, true, 0), WAIT_FAILED);
  EXPECT_EQ(os_wait_for_multiple_objects(65, list, true, 0), WAIT_FAILED);
  for (Handle bad : {auto_event, mutex, Handle{0}, Handle{99999}}) {
    list[1] = bad;
    EXPECT_EQ(os_wait_for_multiple_objects(2, list, true, 0), WAIT_FAILED);
  }
  // A refused list consumes nothing.
  EXPECT_EQ(os_wait_for_single_object(auto_event, 0), WAIT_OBJECT_0);
  os_close_handle(auto_event);
  os_close_handle(mutex);
}

TEST(OsHandles, CountReturnsToBaseline) {
  const std::int32_t baseline = os_open_handle_count();
  Gate gate;
  gate.open();
  Marker marker{&gate};
  Handle made[] = {
      os_create_mutex(false),
      os_create_thread(0, &pass_gate_then_mark, &marker, 0, nullptr),
      os_open_process(PROCESS_QUERY_INFORMATION, false,
                      os_get_current_process_id())};
  for (Handle h : made) EXPECT_NE(h, 0);
  EXPECT_EQ(os_open_handle_count(), baseline + 4);
  EXPECT_EQ(os_close_handle(os_get_current_process()), 1);
  EXPECT_EQ(os_open_handle_count(), baseline + 4);
  os_wait_for_single_object(made[1], INFINITE);  // it uses the gate
  for (Handle h : made) EXPECT_EQ(os_close_handle(h), 1);
  EXPECT_EQ(os_open_handle_count(), baseline + 1);
  EXPECT_EQ(os_close_handle(made[0]), 0);
  EXPECT_EQ(os_open_handle_count(), baseline + 1);
}

TEST(OsHandles, PoolIsFixedAndThreadsClosedEarlyGiveTheirObjectBack) {
  const int capacity = pool_capacity();
  EXPECT_GT(capacity, 4000);
  EXPECT_LE(capacity, 4096);
  EXPECT_EQ(pool_capacity(), capacity);
  Gate gate;
  Marker marker{&gate};
  Handle t = os_create_thread(0, &pass_gate_then_mark, &marker, 0, nullptr);
  const std::int32_t open = os_open_handle_count();
  EXPECT_EQ(os_close_handle(t), 1);
  EXPECT_EQ(os_open_handle_count(), open - 1);
  // The running thread still holds its object, then frees it as it ends.
  EXPECT_EQ(pool_capacity(), capacity - 2);
  gate.open();
  EXPECT_TRUE(eventually([&] { return pool_capacity() == capacity - 1; }));
}

class OsInjectedFailure : public ::testing::TestWithParam<testing::OsObject> {
 protected:
  void TearDown() override { testing::os_clear_faults(); }
  Handle create() {
    switch (GetParam()) {
      case testing::OsObject::mutex:
        return os_create_mutex(false);
      case testing::OsObject::event:
        return os_create_event(false, false);
      default:
        return os_create_thread(0, &noop, nullptr, 0, nullptr);
    }
  }
  static std::uint32_t noop(void*) { return 0; }
};

TEST_P(OsInjectedFailure, FailsAfterTheGivenSuccessesUntilCleared) {
  const std::int32_t baseline = os_open_handle_count();
  testing::os_fail_creation(GetParam(), 2);
  Handle first = create();
  Handle second = create();
  EXPECT_NE(first, 0);
  EXPECT_NE(second, 0);
  EXPECT_EQ(create(), 0);
  EXPECT_EQ(create(), 0);
  EXPECT_EQ(os_open_handle_count(), baseline + 2);
  testing::os_fail_creation(GetParam(), -1);
  Handle third = create();
  EXPECT_NE(third, 0);
  testing::os_fail_creation(GetParam(), 0);
  EXPECT_EQ(create(), 0);
  testing::os_clear_faults();
  Handle fourth = create();
  EXPECT_NE(fourth, 0);
  for (Handle h : {first, second, third, fourth}) os_close_handle(h);
  EXPECT_EQ(os_open_handle_count(), baseline);
}

TEST_P(OsInjectedFailure, CountsSuccessesExactlyAcrossThreads) {
  constexpr int THREADS = 4;
  constexpr int TRIES = 300;
  constexpr int ALLOWED = 600;
  testing::os_fail_creation(GetParam(), ALLOWED);
  std::vector<std::vector<Handle>> made(THREADS);
  std::vector<std::thread> team;
  for (int t = 0; t < THREADS; ++t) {
    team.emplace_back([&, t] {
      for (int k = 0; k < TRIES; ++k) {
        if (Handle h = create(); h != 0) made[t].push_back(h);
      }
    });
  }
  for (auto& t : team) t.join();
  std::size_t total = 0;
  for (const auto& list : made) {
    total += list.size();
    for (Handle h : list) os_close_handle(h);
  }
  EXPECT_EQ(total, static_cast<std::size_t>(ALLOWED));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, OsInjectedFailure,
                         ::testing::Values(testing::OsObject::mutex,
                                           testing::OsObject::event,
                                           testing::OsObject::thread));

TEST(OsClock, TickCountFollowsTheMonotonicClock) {
  auto start = std::chrono::steady_clock::now();
  std::uint32_t t0 = os_get_tick_count();
  os_sleep(60);
  std::uint32_t t1 = os_get_tick_count();
  auto stop = std::chrono::steady_clock::now();
  auto outer = std::chrono::duration_cast<std::chrono::milliseconds>(
      stop - start).count();
  // Differences taken modulo 2^32, as callers do across the wrap.
  std::uint32_t ticks = t1 - t0;
  EXPECT_GE(ticks, 59u);
  EXPECT_LE(ticks, static_cast<std::uint32_t>(outer) + 1u);
}

double seconds(const FileTime& t) {
  return static_cast<double>((std::uint64_t{t.high} << 32) | t.low) * 1e-7;
}

double thread_cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

TEST(OsProcess, TimesCoverEveryThread) {
  Handle process = os_open_process(PROCESS_QUERY_INFORMATION, false,
                                   os_get_current_process_id());
  ASSERT_NE(process, 0);
  FileTime creation{1, 1}, exit{1, 1}, kernel0, user0, kernel1, user1;
  ASSERT_EQ(os_get_process_times(process, &creation, &exit, &kernel0, &user0),
            1);
  EXPECT_EQ(creation.low | creation.high | exit.low | exit.high, 0u);
  // Two threads each burn 0.1 s of their own processor time.
  std::vector<std::thread> team;
  for (int t = 0; t < 2; ++t) {
    team.emplace_back([] {
      double start = thread_cpu_seconds();
      volatile std::uint64_t sink = 0;
      while (thread_cpu_seconds() - start < 0.1) sink = sink + 1;
    });
  }
  for (auto& t : team) t.join();
  ASSERT_EQ(os_get_process_times(os_get_current_process(), &creation, &exit,
                                 &kernel1, &user1),
            1);
  double spent = seconds(kernel1) - seconds(kernel0) + seconds(user1) -
                 seconds(user0);
  EXPECT_GE(spent, 0.19);
  EXPECT_EQ(os_close_handle(process), 1);
  EXPECT_EQ(os_get_process_times(process, &creation, &exit, &kernel1, &user1),
            0);
  EXPECT_EQ(os_open_process(PROCESS_QUERY_INFORMATION, false,
                            os_get_current_process_id() + 1),
            0);
}

TEST(OsProcess, AffinityMaskCountsTheAllowedProcessors) {
  cpu_set_t set;
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  int allowed = std::min(CPU_COUNT(&set), 32);
  std::uint32_t process_mask = 0;
  std::uint32_t system_mask = 0;
  ASSERT_EQ(os_get_process_affinity_mask(os_get_current_process(),
                                         &process_mask, &system_mask),
            1);
  EXPECT_EQ(std::popcount(process_mask), allowed);
  EXPECT_EQ(process_mask & (process_mask + 1), 0u);  // bits 0 … n-1
  EXPECT_EQ(process_mask & ~system_mask, 0u);
  Handle not_a_process = os_create_event(false, false);
  EXPECT_EQ(os_get_process_affinity_mask(not_a_process, &process_mask,
                                         &system_mask),
            0);
  os_close_handle(not_a_process);
}

}  // namespace
}  // namespace pband
