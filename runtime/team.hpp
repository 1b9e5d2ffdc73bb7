// One team run, written once: start the workers, run the routine on the
// calling thread too, join; and the phase end at which the team meets
// between phases. Built on the OS layer, the slots, team size and workers.
#pragma once

#include <algorithm>
#include <cstdint>

#include "runtime/os_layer.hpp"
#include "runtime/sync_slots.hpp"
#include "runtime/team_size.hpp"
#include "runtime/workers.hpp"

namespace pband {

// What every thread of one team run shares: the claim mutex, the two
// barrier slots used in turn, and the number of threads that meet at them.
struct Team {
  Handle mutex = 0;
  std::int32_t slots[2] = {0, 0};
  std::int32_t size = 1;
};

// Phase end on slot `parity` (1 or 2): every thread arrives; the leader
// runs serial(), arms the other slot with team.size, and releases the
// others. A missing slot (0) makes the caller lead alone.
template <class Serial>
void end_phase(const Team& team, std::int32_t parity, Serial&& serial) {
  const std::int32_t slot = team.slots[parity - 1];
  sync_slot_arrive(slot);
  std::int32_t follower = 0;
  sync_slot_wait_leader(slot, follower);
  if (follower == 0) {
    serial();
    sync_slot_arm(team.slots[2 - parity], team.size);
    sync_slot_post(slot);
  }
}

// Runs one routine on a team of `requested` threads (0 or less: the
// current team size; clamped to 1 … MAX_TEAM_SIZE). Creates team.mutex
// and both slots; without any of them the caller works alone. Starts
// requested − 1 workers with launch(worker_number&) while holding
// team.mutex (a launch writes 0 when it fails; stop launching at the
// first failure), sets team.size to the threads that started and arms
// slots[0] with it, unlocks, runs run() on the calling thread, joins the
// workers in launch order, frees the slots (second, then first) and
// closes the mutex.
//
// Holding the mutex while launching keeps started workers at their first
// claim until the size is known, so a failed launch never leaves the
// first barrier waiting for a thread that does not exist.
template <class Launch, class Run>
void run_team(Team& team, std::int32_t requested, Launch&& launch, Run&& run) {
  if (requested <= 0) get_team_size(requested);
  requested = std::clamp<std::int32_t>(requested, 1, MAX_TEAM_SIZE);
  mutex_create(team.mutex);
  sync_slot_allocate(team.slots[0]);
  sync_slot_allocate(team.slots[1]);
  const bool team_ok =
      team.mutex != 0 && team.slots[0] != 0 && team.slots[1] != 0;
  std::int32_t workers[MAX_TEAM_SIZE] = {};
  std::int32_t launched = 0;
  if (team_ok && requested > 1) {
    mutex_lock(team.mutex);
    while (launched < requested - 1) {
      launch(workers[launched]);
      if (workers[launched] == 0) break;
      ++launched;
    }
    team.size = launched + 1;
    sync_slot_arm(team.slots[0], team.size);
    mutex_unlock(team.mutex);
  } else {
    team.size = 1;
    sync_slot_arm(team.slots[0], 1);
  }
  run();
  for (std::int32_t w = 0; w < launched; ++w) join_worker(workers[w]);
  sync_slot_free(team.slots[1]);
  sync_slot_free(team.slots[0]);
  mutex_close(team.mutex);
}

}  // namespace pband
