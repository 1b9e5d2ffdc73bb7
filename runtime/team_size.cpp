// The team size of the next parallel solve and the processor count that
// bounds it. Plain words without a lock: they are set and read on one
// thread, between solves.
#include <bit>

#include "runtime/runtime.hpp"

namespace pband {
namespace {

std::int32_t cached_processor_count = 0;  // 0 = not yet counted
std::int32_t team_size = 0;               // 0 = unset: the processor count
testing::AffinityQuery affinity_query = &os_get_process_affinity_mask;

void fill_cache() {
  if (cached_processor_count == 0) count_processors(cached_processor_count);
}

}  // namespace

void count_processors(std::int32_t& count) {
  std::uint32_t process_mask = 0;
  std::uint32_t system_mask = 0;
  // A failed query leaves one processor to work on.
  if (affinity_query(os_get_current_process(), &process_mask, &system_mask) !=
      1) {
    process_mask = 1;
  }
  count = std::popcount(process_mask);
  if (count == 0) count = std::popcount(system_mask);
}

void get_team_size(std::int32_t& size) {
  if (team_size == 0) {
    fill_cache();
    team_size = cached_processor_count;
  }
  size = team_size;
}

// A request below 1 leaves the team size unset, so that the next read
// gives the processor count; a negative size would mean no team at all.
void set_team_size(std::int32_t requested) {
  fill_cache();
  std::int32_t size = requested < 0 ? 0 : requested;
  if (size > MAX_TEAM_SIZE) size = MAX_TEAM_SIZE;
  if (size > cached_processor_count) size = cached_processor_count;
  team_size = size;
}

void reset_team_size() {
  fill_cache();
  team_size = cached_processor_count;
}

namespace testing {

void set_affinity_query(AffinityQuery query) {
  affinity_query = query != nullptr ? query : &os_get_process_affinity_mask;
}

void reset_team_size_state() {
  cached_processor_count = 0;
  team_size = 0;
}

}  // namespace testing

}  // namespace pband
