// The team size of the next parallel solve and the processor count that
// bounds it. Single atomic words: solves on several threads read them at
// once, and any thread may set the team size meanwhile (a solve uses the
// value it read at its start; every value gives the same result bits).
#include "runtime/team_size.hpp"

#include <atomic>
#include <bit>

#include "runtime/os_layer.hpp"
#include "runtime/runtime_testing.hpp"

namespace pband {
namespace {

std::atomic<std::int32_t> cached_processor_count{0};  // 0 = not yet counted
std::atomic<std::int32_t> team_size{0};  // 0 = unset: the processor count
std::atomic<testing::AffinityQuery> affinity_query{
    &os_get_process_affinity_mask};

// The processor count, counted on first use. Two first uses may both
// count; they store the same value.
std::int32_t processor_count() {
  std::int32_t count = cached_processor_count.load(std::memory_order_relaxed);
  if (count == 0) {
    count_processors(count);
    cached_processor_count.store(count, std::memory_order_relaxed);
  }
  return count;
}

}  // namespace

void count_processors(std::int32_t& count) {
  std::uint32_t process_mask = 0;
  std::uint32_t system_mask = 0;
  // A failed query leaves one processor to work on.
  if (affinity_query.load(std::memory_order_relaxed)(
          os_get_current_process(), &process_mask, &system_mask) != 1) {
    process_mask = 1;
  }
  count = std::popcount(process_mask);
  if (count == 0) count = std::popcount(system_mask);
}

void get_team_size(std::int32_t& size) {
  std::int32_t current = team_size.load(std::memory_order_relaxed);
  if (current == 0) {
    current = processor_count();
    // Only an unset size becomes the processor count: a size set by
    // another thread meanwhile stays.
    std::int32_t unset = 0;
    if (!team_size.compare_exchange_strong(unset, current,
                                           std::memory_order_relaxed))
      current = unset;
  }
  size = current;
}

// A request below 1 leaves the team size unset, so that the next read
// gives the processor count; a negative size would mean no team at all.
void set_team_size(std::int32_t requested) {
  const std::int32_t processors = processor_count();
  std::int32_t size = requested < 0 ? 0 : requested;
  if (size > MAX_TEAM_SIZE) size = MAX_TEAM_SIZE;
  if (size > processors) size = processors;
  team_size.store(size, std::memory_order_relaxed);
}

void reset_team_size() {
  team_size.store(processor_count(), std::memory_order_relaxed);
}

namespace testing {

void set_affinity_query(AffinityQuery query) {
  affinity_query.store(query != nullptr ? query : &os_get_process_affinity_mask,
                       std::memory_order_relaxed);
}

void reset_team_size_state() {
  cached_processor_count.store(0, std::memory_order_relaxed);
  team_size.store(0, std::memory_order_relaxed);
}

}  // namespace testing

}  // namespace pband
