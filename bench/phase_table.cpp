// pband_phase_table: where the solver's time goes on the benchmark system,
// phase by phase and level by level (a build with PBAND_PHASE_CLOCKS).
//
//   pband_phase_table [reps] [team] [n] [hb] [types]
//   (defaults: 10 solves, a team of 1, the benchmark's n = 2000000, hb = 8,
//   types "r4,r8"; "c8" and "c16" solve the complex symmetric system
//   (1 + i/2)·A·X = (1 + i/2)·B, whose factor has non-zero imaginary parts)
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

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
  // The solver's block base squared: 24 for the real types, 16 or 8 for
  // the complex ones.
  const std::int64_t base2 =
      std::is_floating_point_v<T> ? 576 : (team <= 2 ? 256 : 64);
  const std::int64_t bs = std::max<std::int64_t>(base2 / s.hb, s.hb + 1);
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

// The system times 1 + i/2: the same X, complex arithmetic throughout.
template <class R>
BandSystem<std::complex<R>> complex_system(const BandSystem<float>& f) {
  BandSystem<std::complex<R>> s;
  s.n = f.n;
  s.hb = f.hb;
  const std::complex<R> z(R(1), R(0.5));
  for (float v : f.A0) s.A0.push_back(z * R(v));
  for (float v : f.B0) s.B0.push_back(z * R(v));
  s.A = s.A0;
  s.B = s.B0;
  return s;
}

bool wanted(const char* types, const char* t) {
  const std::size_t len = std::strlen(t);
  for (const char* p = types; (p = std::strstr(p, t)) != nullptr; p += len)
    if ((p == types || p[-1] == ',') && (p[len] == ',' || p[len] == 0))
      return true;
  return false;
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
  const char* types = argc > 5 ? argv[5] : "r4,r8";
  BandSystem<float> f = make_float_system(n, hb);
  if (wanted(types, "r4"))
    table(f, "r4", reps, team, [](BandSystem<float>& s, std::int32_t& st) {
      pband::solve_band_system_r4(s.a(), s.n, s.hb, s.b(), 1, s.w(), st);
    });
  if (wanted(types, "r8")) {
    BandSystem<double> d = widen_system(f);
    table(d, "r8", reps, team, [](BandSystem<double>& s, std::int32_t& st) {
      pband::solve_band_system_r8(s.a(), s.n, s.hb, s.b(), 1, s.w(), st);
    });
  }
  if (wanted(types, "c8")) {
    auto c = complex_system<float>(f);
    table(c, "c8", reps, team, [](auto& s, std::int32_t& st) {
      pband::solve_band_system_c8(s.a(), s.n, s.hb, s.b(), 1, s.w(), st);
    });
  }
  if (wanted(types, "c16")) {
    auto c = complex_system<double>(f);
    table(c, "c16", reps, team, [](auto& s, std::int32_t& st) {
      pband::solve_band_system_c16(s.a(), s.n, s.hb, s.b(), 1, s.w(), st);
    });
  }
  pband::shutdown_runtime();
  return 0;
}
