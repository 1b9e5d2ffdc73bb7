// Hooks for tests: fault injection in the OS layer and resettable
// process-wide state. Only tests call them; the runtime's own sources
// define them next to the state they reach.
#pragma once

#include <cstdint>

#include "runtime/os_layer.hpp"

namespace pband::testing {

enum class OsObject { mutex, event, thread };
// The creation of an object of `kind` fails after `successes` more
// successful creations, and so does every later one until
// os_clear_faults; a negative count never fails.
void os_fail_creation(OsObject kind, std::int32_t successes);
void os_clear_faults();
// Threads the OS layer was asked to create since the process started.
std::int64_t os_thread_requests();

using AffinityQuery = int (*)(Handle process, std::uint32_t* process_mask,
                              std::uint32_t* system_mask);
// Replaces the affinity query of count_processors; nullptr restores it.
void set_affinity_query(AffinityQuery query);
// Forgets the cached processor count and the team size.
void reset_team_size_state();

// The release event of an allocated slot (0 for any other number), so
// that a test can see whether a cycle left it signalled.
Handle sync_slot_event(std::int32_t slot);

}  // namespace pband::testing
