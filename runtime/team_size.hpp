// Team size: the number of threads the next parallel solve uses, the
// calling thread included, and the processor count that bounds it. Apart
// so that code choosing a team needs none of the threads or barriers.
#pragma once

#include <cstdint>

namespace pband {

// Process-wide; any thread may set or read the team size at any time, and
// a solve uses the value it reads when it starts.

inline constexpr std::int32_t MAX_TEAM_SIZE = 32;

// Set bits of the process affinity mask (of the system mask when the
// process mask is empty; 1 when the query fails).
void count_processors(std::int32_t& count);
// Team size; when unset it becomes the processor count.
void get_team_size(std::int32_t& size);
// Team size = min(requested, MAX_TEAM_SIZE, processor count). A request
// below 1 leaves the team size unset (it reads as the processor count).
void set_team_size(std::int32_t requested);
// Team size = processor count.
void reset_team_size();

}  // namespace pband
