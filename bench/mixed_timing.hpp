// Timing of the mixed precision solve (single factor, double refinement)
// against reference LAPACK dpbsv and our own double solve, on the
// benchmark's double system at n = 10^6 and several half bandwidths.
#pragma once

#include <vector>

#include "bench/lapack_provider.hpp"

namespace pband::bench {

// Prints one row per routine, team and hb (median of `reps` after one
// warm-up) with the backward error of each; skips what would run past
// `budget_seconds`. Returns the number of failed checks (a status, a
// backward error above 100·eps, other bits on another team).
int time_mixed(const LapackProvider& reference, const std::vector<int>& teams,
               int reps, double budget_seconds);

}  // namespace pband::bench
