// Times one call per repetition after a warm-up, each after an untimed
// restore: the rows of the comparison that time whole library calls.
#pragma once

#include <functional>
#include <vector>

#include "bench/harness.hpp"

namespace pband::bench {

// The median and least of `reps` timed calls, and the first nonzero
// status any call returned.
struct Timed {
  Stats st;
  int status = 0;
};

inline Timed time_calls(int reps, const std::function<void()>& restore,
                        const std::function<int()>& call) {
  std::vector<double> seconds;
  Timed t;
  for (int k = 0; k <= reps; ++k) {
    restore();
    const double t0 = now_seconds();
    const int status = call();
    if (k > 0) seconds.push_back(now_seconds() - t0);
    if (t.status == 0) t.status = status;
  }
  t.st = summarize(seconds);
  return t;
}

}  // namespace pband::bench
