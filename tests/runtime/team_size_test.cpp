// Team size and processor count, with the affinity query replaced by
// masks chosen per test: the fallbacks, the 32-thread limit and the
// counting-once cache.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>

#include "runtime/runtime.hpp"

namespace pband {
namespace {

struct InjectedAffinity {
  int result = 1;
  std::uint32_t process_mask = 0;
  std::uint32_t system_mask = 0;
  int calls = 0;
};
InjectedAffinity injected;

int injected_query(Handle, std::uint32_t* process_mask,
                   std::uint32_t* system_mask) {
  ++injected.calls;
  *process_mask = injected.process_mask;
  *system_mask = injected.system_mask;
  return injected.result;
}

class TeamSize : public ::testing::Test {
 protected:
  void SetUp() override {
    injected = InjectedAffinity{};
    testing::set_affinity_query(&injected_query);
    testing::reset_team_size_state();
  }
  void TearDown() override {
    testing::set_affinity_query(nullptr);
    testing::reset_team_size_state();
  }
  static void masks(std::uint32_t process, std::uint32_t system = 0) {
    injected.process_mask = process;
    injected.system_mask = system;
  }
  static std::int32_t counted() {
    std::int32_t count = -1;
    count_processors(count);
    return count;
  }
  static std::int32_t team() {
    std::int32_t size = -1;
    get_team_size(size);
    return size;
  }
};

TEST_F(TeamSize, FourProcessorsBoundTheTeam) {
  masks(0x00008421u, 0xFFFFu);  // four scattered bits
  EXPECT_EQ(counted(), 4);
  for (std::int32_t request = 1; request <= 4; ++request) {
    set_team_size(request);
    EXPECT_EQ(team(), request);
  }
  set_team_size(8);
  EXPECT_EQ(team(), 4);
  set_team_size(40);
  EXPECT_EQ(team(), 4);
}

TEST_F(TeamSize, AllThirtyTwoBitsCount) {
  masks(0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_EQ(counted(), 32);
  set_team_size(40);
  EXPECT_EQ(team(), 32);
  set_team_size(31);
  EXPECT_EQ(team(), 31);
  masks(0x80000000u);
  EXPECT_EQ(counted(), 1);
}

TEST_F(TeamSize, EmptyProcessMaskCountsTheSystemMask) {
  masks(0, 0xFu);
  EXPECT_EQ(counted(), 4);
  masks(0, 0x80000001u);
  EXPECT_EQ(counted(), 2);
  masks(0, 0);
  EXPECT_EQ(counted(), 0);
}

TEST_F(TeamSize, FailingQueryCountsOne) {
  masks(0xFFu, 0xFFu);
  injected.result = 0;
  EXPECT_EQ(counted(), 1);
  injected.result = 2;  // anything but exactly 1 is a failure
  EXPECT_EQ(counted(), 1);
  masks(0, 0xFFu);
  EXPECT_EQ(counted(), 1);
  set_team_size(8);
  EXPECT_EQ(team(), 1);
}

TEST_F(TeamSize, GetBeforeAnySetGivesTheProcessorCount) {
  masks(0x3Fu);
  EXPECT_EQ(team(), 6);
  EXPECT_EQ(injected.calls, 1);
}

TEST_F(TeamSize, RequestZeroThenGetStoresTheProcessorCount) {
  masks(0xFu);
  set_team_size(0);
  EXPECT_EQ(team(), 4);
  // Stored: later masks change nothing, the count is cached.
  masks(0xFFu);
  EXPECT_EQ(team(), 4);
  EXPECT_EQ(injected.calls, 1);
}

TEST_F(TeamSize, NegativeRequestLeavesTheTeamSizeUnset) {
  masks(0xFu);
  set_team_size(3);
  set_team_size(-5);
  EXPECT_EQ(team(), 4);
}

TEST_F(TeamSize, ProcessorCountIsCountedOnceAndOnlyWhenNeeded) {
  masks(0xFu);
  EXPECT_EQ(counted(), 4);  // counting alone does not fill the cache
  masks(0x3Fu);
  set_team_size(40);
  EXPECT_EQ(team(), 6);
  masks(0xFFFFu);
  set_team_size(40);
  reset_team_size();
  EXPECT_EQ(team(), 6);
  EXPECT_EQ(injected.calls, 2);
}

TEST_F(TeamSize, ZeroProcessorsAreCountedAgainAtNextUse) {
  masks(0, 0);
  EXPECT_EQ(team(), 0);
  masks(0x3u);
  EXPECT_EQ(team(), 2);
}

TEST_F(TeamSize, ResetGivesTheProcessorCount) {
  masks(0x7u);
  set_team_size(2);
  EXPECT_EQ(team(), 2);
  reset_team_size();
  EXPECT_EQ(team(), 3);
}

TEST_F(TeamSize, RealQueryCountsTheAllowedProcessors) {
  testing::set_affinity_query(nullptr);
  cpu_set_t set;
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  std::int32_t expected = std::min(CPU_COUNT(&set), 32);
  EXPECT_EQ(counted(), expected);
  set_team_size(MAX_TEAM_SIZE + 1);
  EXPECT_EQ(team(), expected);
  EXPECT_EQ(injected.calls, 0);
}

}  // namespace
}  // namespace pband
