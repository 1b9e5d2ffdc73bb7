// Timing of the residual B − A·X of the benchmark's double system against
// reference BLAS dsbmv, which forms the same with alpha = −1, beta = 1.
#pragma once

#include <vector>

#include "bench/lapack_provider.hpp"

namespace pband::bench {

// Prints one row per team and one for dsbmv (median of `reps` after one
// warm-up); returns the number of failed checks (a residual that is not
// small next to B, or other bits on another team).
int time_residual(const LapackProvider& reference,
                  const std::vector<int>& teams, int reps);

}  // namespace pband::bench
