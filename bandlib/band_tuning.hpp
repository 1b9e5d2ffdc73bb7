// How to call the band routines well: a block width from the half
// bandwidth alone, and a team no larger than can find work. The routines'
// bits never depend on the team, so trimming it never changes a result.
#pragma once

#include <algorithm>
#include <cstdint>

#include "runtime/team_size.hpp"

namespace pband {

// Columns per pivot block (block_width) for a half bandwidth of hb: large
// blocks (fewer barriers) while a block of the band stays within a few
// hundred KiB. From hb alone, so the bits never depend on the team.
inline std::int32_t band_block_width(std::int64_t hb) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(32768 / (hb + 1), 16, 1024));
}

// Threads that can find work in one phase with block width nb: row blocks
// of 2·nb below the pivot block reach hb down in a factorization (and a
// factor-and-solve's forward sweep), blocks of nb in a substitution. More
// would only wait at the barriers.
inline std::int64_t band_factor_useful_team(std::int64_t hb, std::int64_t nb) {
  return hb >= nb ? 2 + (hb - nb) / (2 * nb) : 1;
}
inline std::int64_t band_substitute_useful_team(std::int64_t hb,
                                                std::int64_t nb) {
  return 1 + hb / nb;
}

// The threads asked for (0 or less: every processor the process may run
// on), clamped to 1 … MAX_TEAM_SIZE and to the processors: more threads
// than processors only take turns.
inline std::int32_t band_running_team(std::int32_t threads) {
  std::int32_t processors = 1;
  count_processors(processors);
  if (threads <= 0) count_processors(threads);
  threads = std::clamp<std::int32_t>(threads, 1, MAX_TEAM_SIZE);
  return std::min(threads, std::max(processors, 1));
}

// The team size to hand band_factor_team_* (band_substitute_team_*) for
// `threads` asked for: the running team, cut to the useful one.
inline std::int32_t band_factor_threads(std::int32_t threads, std::int64_t hb,
                                        std::int64_t nb) {
  return static_cast<std::int32_t>(std::min<std::int64_t>(
      band_running_team(threads), band_factor_useful_team(hb, nb)));
}
inline std::int32_t band_substitute_threads(std::int32_t threads,
                                            std::int64_t hb, std::int64_t nb) {
  return static_cast<std::int32_t>(std::min<std::int64_t>(
      band_running_team(threads), band_substitute_useful_team(hb, nb)));
}

}  // namespace pband
