// Synchronization slots: 64 counted barriers whose release passes from
// thread to thread, with an optional leader that runs a serial step
// before the others go on.
#pragma once

#include <cstdint>

namespace pband {

// Slots are numbered 1 … 64, 0 meaning none. Every operation on a slot
// number that is not allocated does nothing.

inline constexpr std::int32_t SYNC_SLOT_COUNT = 64;

// Writes a free slot number, or 0 when all 64 are in use (or its kernel
// objects cannot be created).
void sync_slot_allocate(std::int32_t& slot);
// Prepares one cycle of `participants` arrivals. Not locked: no
// participant may be inside an operation on the slot.
void sync_slot_arm(std::int32_t slot, std::int32_t participants);
void sync_slot_arrive(std::int32_t slot);
void sync_slot_wait(std::int32_t slot);
// follower = 0 for the leader, who must call sync_slot_post once after
// its serial step; 1 for everybody else.
void sync_slot_wait_leader(std::int32_t slot, std::int32_t& follower);
void sync_slot_post(std::int32_t slot);
void sync_slot_free(std::int32_t slot);
std::int32_t sync_slots_in_use();

}  // namespace pband
