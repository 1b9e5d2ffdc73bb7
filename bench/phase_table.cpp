// pband_phase_table: where the solver's time goes on the benchmark system,
// phase by phase and level by level (a build with PBAND_PHASE_CLOCKS).
//
//   pband_phase_table [reps] [team] [n] [hb]
//   (defaults: 10 solves, a team of 1, the benchmark's n = 2000000, hb = 8)
#include <cstdio>
#include <cstdlib>

#include "bench/harness.hpp"
#include "runtime/runtime.hpp"
#include "solver/band_solver.hpp"

namespace pband::bench {
namespace {

template <class T, class Solve>
void table(BandSystem<T>& s, const char* type, int reps, int team,
           Solve solve) {
  s.allocate_workspace();
  set_team_size(team);
  std::int32_t status = 0;
  s.restore();
  solve(s, status);  // warm-up
  testing::reset_phase_clocks();
  for (int r = 0; r < reps; ++r) {
    s.restore();
    solve(s, status);
    if (status != 0) {
      std::printf("%s: status %d\n", type, status);
      std::exit(1);
    }
  }
  const testing::PhaseClocks c = testing::phase_clocks();
  // Blocks eliminated at level w (stride w): the odd multiples of w.
  const std::int64_t bs = std::max<std::int64_t>(576 / s.hb, s.hb + 1);
  const std::int64_t blocks = (s.n + bs - 1) / bs;
  std::printf("\n%s, n = %d, hb = %d, team %d: ms per solve (mean of %d)\n",
              type, s.n, s.hb, team, reps);
  std::printf("%6s %8s %10s %10s %10s %12s\n", "level", "blocks", "factor",
              "update", "back", "us/block");
  double total[3] = {0, 0, 0};
  for (int l = 0; l < testing::PhaseClocks::kLevels; ++l) {
    const double f = c.factor[l] / reps * 1e3, u = c.update[l] / reps * 1e3,
                 b = c.back[l] / reps * 1e3;
    if (f == 0 && u == 0 && b == 0) continue;
    const std::int64_t w = std::int64_t(1) << l;
    const std::int64_t eliminated = blocks >= w ? (blocks / w + 1) / 2 : 0;
    total[0] += f;
    total[1] += u;
    total[2] += b;
    std::printf("%6lld %8lld %10.3f %10.3f %10.3f %12.3f\n",
                static_cast<long long>(w), static_cast<long long>(eliminated),
                f, u, b,
                eliminated > 0 ? (f + u + b) * 1e3 / double(eliminated) : 0.0);
  }
  std::printf("%6s %8s %10.3f %10.3f %10.3f   total %.3f\n", "all", "",
              total[0], total[1], total[2], total[0] + total[1] + total[2]);
}

}  // namespace
}  // namespace pband::bench

int main(int argc, char** argv) {
  using namespace pband::bench;
  const int reps = argc > 1 ? std::atoi(argv[1]) : 10;
  const int team = argc > 2 ? std::atoi(argv[2]) : 1;
  const int n = argc > 3 ? std::atoi(argv[3]) : 2000000;
  const int hb = argc > 4 ? std::atoi(argv[4]) : 8;
  if (reps < 1 || team < 1 || n < 1 || hb < 1) {
    std::puts("usage: pband_phase_table [reps] [team] [n] [hb]");
    return 2;
  }
  BandSystem<float> f = make_float_system(n, hb);
  table(f, "r4", reps, team, [](BandSystem<float>& s, std::int32_t& st) {
    pband::solve_band_system_r4(s.a(), s.n, s.hb, s.b(), 1, s.w(), st);
  });
  BandSystem<double> d = widen_system(f);
  table(d, "r8", reps, team, [](BandSystem<double>& s, std::int32_t& st) {
    pband::solve_band_system_r8(s.a(), s.n, s.hb, s.b(), 1, s.w(), st);
  });
  pband::shutdown_runtime();
  return 0;
}
