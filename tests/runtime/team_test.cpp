// The team runner and its phase end: every thread arrives at every phase
// end, the leader's serial step runs once per phase after all arrived and
// before anyone goes on, a team that cannot be built in full still runs
// everything, and nothing is left open afterwards.
#include <atomic>
#include <gtest/gtest.h>
#include <utility>

#include "tests/runtime/runtime_test_util.hpp"

namespace pband {
namespace {

struct Tally {
  std::int32_t phases = 0;
  std::atomic<std::int32_t> threads{0}, arrivals{0}, faults{0};
  std::int32_t serial_steps = 0;  // written by each phase's leader only
};

// One thread's part: a first claim (as the band routines make), then
// `phases` phase ends on alternating slots.
void take_part(const Team& team, Tally& tally) {
  mutex_lock(team.mutex);
  tally.threads.fetch_add(1);
  mutex_unlock(team.mutex);
  for (std::int32_t p = 0; p < tally.phases; ++p) {
    tally.arrivals.fetch_add(1);
    end_phase(team, 1 + p % 2, [&] {
      if (tally.arrivals.load() != (p + 1) * team.size) tally.faults += 1;
      tally.serial_steps += 1;
    });
    if (tally.serial_steps != p + 1) tally.faults += 1;
  }
}

class TeamRun : public ::testing::Test {
 protected:
  void SetUp() override {
    run(2, 0);  // the tables' guards stay open once made: make them first
    handles_ = os_open_handle_count();
  }
  void TearDown() override { testing::os_clear_faults(); }
  // Runs take_part `phases` times on a team of `requested`, checks every
  // count and that nothing stays open; the number of launches tried.
  std::int32_t run(std::int32_t requested, std::int32_t phases) {
    Tally tally;
    tally.phases = phases;
    std::int32_t launches = 0;
    run_team(
        team_, requested,
        [&](std::int32_t& w) {
          ++launches;
          launch_worker(w, &take_part, team_, tally);
        },
        [&] { take_part(team_, tally); });
    testing::os_clear_faults();
    EXPECT_EQ(tally.threads.load(), team_.size);
    EXPECT_EQ(tally.serial_steps, phases);
    EXPECT_EQ(tally.arrivals.load(), phases * team_.size);
    EXPECT_EQ(tally.faults.load(), 0);
    EXPECT_EQ(team_.mutex, 0);
    EXPECT_EQ(sync_slots_in_use(), 0);
    EXPECT_EQ(workers_in_use(), 0);
    return launches;
  }
  Team team_;
  std::int32_t handles_ = 0;
};

TEST_F(TeamRun, EveryThreadMeetsAtEveryPhaseEnd) {
  for (std::int32_t size = 1; size <= 4; ++size) {
    EXPECT_EQ(run(size, 300), size - 1);
    EXPECT_EQ(team_.size, size);
    EXPECT_EQ(os_open_handle_count(), handles_);
  }
  std::int32_t current = 0;
  get_team_size(current);
  run(0, 3);
  EXPECT_EQ(team_.size, current);
  run(MAX_TEAM_SIZE + 5, 3);
  EXPECT_EQ(team_.size, MAX_TEAM_SIZE);
}

TEST_F(TeamRun, AFailedLaunchStopsLaunchingAndTheSmallerTeamRunsAll) {
  testing::os_fail_creation(testing::OsObject::thread, 1);
  EXPECT_EQ(run(4, 50), 2);
  EXPECT_EQ(team_.size, 2);
  EXPECT_EQ(os_open_handle_count(), handles_);
}

TEST_F(TeamRun, WithoutTheMutexOrASlotTheCallerWorksAlone) {
  // The mutex is made first, then each slot's event: fail each in turn.
  const std::pair<testing::OsObject, std::int32_t> faults[] = {
      {testing::OsObject::mutex, 0},
      {testing::OsObject::event, 0},
      {testing::OsObject::event, 1}};
  for (const auto& [kind, successes] : faults) {
    testing::os_fail_creation(kind, successes);
    EXPECT_EQ(run(3, 20), 0);
    EXPECT_EQ(team_.size, 1);
    EXPECT_EQ(os_open_handle_count(), handles_);
  }
}

}  // namespace
}  // namespace pband
