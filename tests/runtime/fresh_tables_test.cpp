// The first uses of the tables in a fresh process: numbering starts at 1.
// This must stay the only test of its binary, so that nothing has moved
// the cursors before it runs.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/runtime.hpp"

namespace pband {
namespace {

void nothing() {}

TEST(FreshTables, NumbersStartAtOne) {
  std::vector<std::int32_t> slots;
  for (int k = 0; k <= SYNC_SLOT_COUNT; ++k) {
    std::int32_t slot = -1;
    sync_slot_allocate(slot);
    slots.push_back(slot);
  }
  for (int k = 0; k < SYNC_SLOT_COUNT; ++k) EXPECT_EQ(slots[k], k + 1);
  EXPECT_EQ(slots.back(), 0);
  for (std::int32_t slot : slots) sync_slot_free(slot);

  std::int32_t workers[3];
  for (std::int32_t& w : workers) launch_worker(w, &nothing);
  EXPECT_EQ(workers[0], 1);
  EXPECT_EQ(workers[1], 2);
  EXPECT_EQ(workers[2], 3);
  for (std::int32_t w : workers) join_worker(w);
  EXPECT_EQ(workers_in_use(), 0);
  shutdown_runtime();
  EXPECT_EQ(os_open_handle_count(), 0);
}

}  // namespace
}  // namespace pband
