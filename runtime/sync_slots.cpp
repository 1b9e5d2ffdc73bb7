// Synchronization slots: 64 counted barriers. The last arrival sets the
// slot's auto-reset event, and each participant let through sets it again
// for the next, so the event is the baton that guards the release state.
#include "runtime/sync_slots.hpp"

#include <atomic>

#include "runtime/runtime_detail.hpp"
#include "runtime/runtime_testing.hpp"

namespace pband {
namespace {

enum : std::int32_t { ARMED = 0, LED = 1, COMPLETE = 3 };

// A cache line each: the two slots of a solve are used in turn by every
// thread and must not share one with each other or their neighbours.
struct alignas(64) SyncSlot {
  // Checked by every operation without a lock, hence atomic.
  std::atomic<std::int32_t> id{-1};
  std::int32_t arrivals_left = 0;  // guarded by count_mutex
  std::int32_t state = 0;          // guarded by the baton
  std::int32_t releases_left = 0;  // guarded by the baton
};

constinit SyncSlot slots[SYNC_SLOT_COUNT];
Handle release_event[SYNC_SLOT_COUNT] = {};
Handle count_mutex[SYNC_SLOT_COUNT] = {};
std::atomic<Handle> sync_table_guard{0};
std::int32_t sync_cursor = 1;  // guarded by sync_table_guard

// Index of an allocated slot number, or -1 for anything else.
int index_of(std::int32_t slot) {
  if (slot < 1 || slot > SYNC_SLOT_COUNT) return -1;
  return slots[slot - 1].id.load(std::memory_order_acquire) == slot ? slot - 1
                                                                    : -1;
}

// Called by the baton holder: lets the next participant through, or ends
// the chain with the event left unsignalled after the last one.
void pass_release_on(int i) {
  SyncSlot& s = slots[i];
  if (s.releases_left > 1) {
    s.releases_left -= 1;
    os_set_event(release_event[i]);
  } else {
    s.releases_left = 0;
  }
}

}  // namespace

void sync_slot_allocate(std::int32_t& slot) {
  slot = 0;
  Handle guard = detail::table_guard(sync_table_guard);
  if (guard == 0) return;
  mutex_lock(guard);
  // Search from the cursor, so freed numbers are not reused at once.
  std::int32_t i = sync_cursor;
  bool found = false;
  do {
    if (slots[i - 1].id.load(std::memory_order_acquire) == -1) {
      found = true;
      break;
    }
    i = i == SYNC_SLOT_COUNT ? 1 : i + 1;
  } while (i != sync_cursor);
  if (found) {
    Handle event = os_create_event(false, false);
    Handle mutex = os_create_mutex(false);
    // Without both objects the slot would not wait: hand out none.
    if (event != 0 && mutex != 0) {
      release_event[i - 1] = event;
      count_mutex[i - 1] = mutex;
      sync_cursor = i == SYNC_SLOT_COUNT ? 1 : i + 1;
      slots[i - 1].id.store(i, std::memory_order_release);
      slot = i;
    } else {
      if (event != 0) os_close_handle(event);
      if (mutex != 0) os_close_handle(mutex);
    }
  }
  mutex_unlock(guard);
}

void sync_slot_arm(std::int32_t slot, std::int32_t participants) {
  int i = index_of(slot);
  if (i < 0) return;
  slots[i].arrivals_left = participants;
  slots[i].state = ARMED;
  slots[i].releases_left = participants;
  os_reset_event(release_event[i]);
}

void sync_slot_arrive(std::int32_t slot) {
  int i = index_of(slot);
  if (i < 0) return;
  mutex_lock(count_mutex[i]);
  // Only the step to exactly 0 releases; surplus arrivals do nothing.
  if (--slots[i].arrivals_left == 0) {
    slots[i].state = COMPLETE;
    os_set_event(release_event[i]);
  }
  mutex_unlock(count_mutex[i]);
}

void sync_slot_wait(std::int32_t slot) {
  int i = index_of(slot);
  if (i < 0) return;
  os_wait_for_single_object(release_event[i], INFINITE);
  pass_release_on(i);
}

void sync_slot_wait_leader(std::int32_t slot, std::int32_t& follower) {
  int i = index_of(slot);
  if (i < 0) return;
  os_wait_for_single_object(release_event[i], INFINITE);
  switch (slots[i].state) {
    case LED:
      follower = 1;
      pass_release_on(i);
      break;
    case COMPLETE:
      // The first one through leads and keeps the baton until it posts.
      slots[i].state = LED;
      follower = 0;
      break;
    default:
      break;
  }
}

void sync_slot_post(std::int32_t slot) {
  int i = index_of(slot);
  if (i < 0) return;
  pass_release_on(i);
}

void sync_slot_free(std::int32_t slot) {
  int i = index_of(slot);
  if (i < 0) return;
  os_close_handle(release_event[i]);
  os_close_handle(count_mutex[i]);
  release_event[i] = 0;
  count_mutex[i] = 0;
  slots[i].id.store(-1, std::memory_order_release);
}

std::int32_t sync_slots_in_use() {
  std::int32_t n = 0;
  for (const SyncSlot& s : slots) {
    if (s.id.load(std::memory_order_acquire) != -1) ++n;
  }
  return n;
}

namespace testing {

Handle sync_slot_event(std::int32_t slot) {
  int i = index_of(slot);
  return i < 0 ? 0 : release_event[i];
}

}  // namespace testing

namespace detail {

void close_sync_table_guard() { close_table_guard(sync_table_guard); }

}  // namespace detail

}  // namespace pband
