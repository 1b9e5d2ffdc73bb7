// The stored factor's rows of the comparison: many solves with one factor
// against LAPACK's dpbtrf and dpbtrs, the condition estimate against
// dpbsv, refinement against dpbrfs.
#pragma once

#include <vector>

#include "bench/lapack_provider.hpp"

namespace pband::bench {

// Prints one row per routine, team and hb (median of `reps`, after one
// warm-up). Returns the number of failed checks (a status, other bits on
// another team).
int time_factor(const LapackProvider& reference, const std::vector<int>& teams,
                int reps);

}  // namespace pband::bench
