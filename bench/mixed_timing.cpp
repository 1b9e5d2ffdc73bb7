// The mixed precision rows of the comparison: pband_solve_mixed_ds on teams
// of 1 and 2 beside pband_solve_d and reference dpbsv, each judged by its
// backward error ‖b − A·x‖∞ / (‖A‖∞·‖x‖∞ + ‖b‖∞) formed in double.
#include "bench/mixed_timing.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "bench/harness.hpp"
#include "bench/timed_calls.hpp"
#include "pband/pband.h"

namespace pband::bench {
namespace {

double largest(const Array<double>& v, std::int32_t n) {
  double m = 0;
  for (std::int32_t i = 0; i < n; ++i)
    if (!(std::fabs(v[i]) <= m))
      m = std::isnan(v[i]) ? INFINITY : std::fabs(v[i]);
  return m;
}

double backward_error(const BandSystem<double>& s, const Array<double>& x,
                      double anorm) {
  Array<double> r(s.B0.size());
  pband_residual_d(s.n, s.hb, 1, s.A0.data(), s.hb + 1, x.data(), s.n,
                   s.B0.data(), s.n, r.data(), s.n, 0);
  return largest(r, s.n) / (anorm * largest(x, s.n) + largest(s.B0, s.n));
}

}  // namespace

int time_mixed(const LapackProvider& reference, const std::vector<int>& teams,
               int reps, double budget_seconds) {
  const double start = now_seconds();
  const std::int32_t n = 1000000;
  const double bound = 100 * std::numeric_limits<double>::epsilon();
  int failures = 0;
  std::printf(
      "\n== Mixed precision, double system n=%d, one right-hand side: "
      "median of %d after 1 warm-up; berr = |b-Ax|/(|A||x|+|b|), inf-norms "
      "==\n",
      n, reps);
  for (std::int32_t hb : {8, 32, 64}) {
    // The slowest call is reference dpbsv: one warm-up tells what the rest
    // of this hb costs.
    if (now_seconds() - start > budget_seconds) {
      std::printf("hb=%d SKIPPED: past the budget of %.0f s\n", hb,
                  budget_seconds);
      continue;
    }
    BandSystem<double> s = widen_system(make_float_system(n, hb));
    double anorm = 0;
    pband_norm1_d(n, hb, s.A0.data(), hb + 1, &anorm, 0);
    Array<double> x(s.B0.size()), first;
    Array<double> a(s.A0.size());
    auto restore_a = [&] { std::copy(s.A0.begin(), s.A0.end(), a.begin()); };
    auto restore_x = [&] { std::copy(s.B0.begin(), s.B0.end(), x.begin()); };
    auto row = [&](const char* what, int team, const Timed& t, int iter) {
      const double berr = backward_error(s, x, anorm);
      const bool ok = t.status == 0 && berr <= bound;
      std::printf("hb=%-3d %-22s T=%d: %9.1f ms (min %.1f)  berr %.1e%s%s\n",
                  hb, what, team, t.st.median * 1e3, t.st.min * 1e3, berr,
                  iter >= -100 ? (" iter " + std::to_string(iter)).c_str() : "",
                  ok ? "" : " FAILED");
      if (!ok) ++failures;
    };
    const int nn = n, kd = hb, ld = hb + 1, one = 1;
    Timed ref = time_calls(
        reps,
        [&] {
          restore_a();
          restore_x();
        },
        [&] {
          int info = 0;
          reference.dpbsv("L", &nn, &kd, &one, a.data(), &ld, x.data(), &nn,
                          &info, 1);
          return info;
        });
    row("reference dpbsv", 1, ref, -1000);
    for (int team : teams) {
      if (team > 2) break;
      std::int32_t iter = 0;
      Timed mixed = time_calls(
          reps, [] {},
          [&] {
            return pband_solve_mixed_ds(n, hb, 1, s.A0.data(), ld, s.B0.data(),
                                        n, x.data(), n, &iter, team);
          });
      row("pband_solve_mixed_ds", team, mixed, iter);
      if (first.empty()) first = x;
      if (std::memcmp(first.data(), x.data(), sizeof(double) * n) != 0) {
        std::printf("  OTHER BITS than T=1\n");
        ++failures;
      }
      Timed dbl = time_calls(
          reps,
          [&] {
            restore_a();
            restore_x();
          },
          [&] {
            return pband_solve_d(n, hb, 1, a.data(), ld, x.data(), n, team);
          });
      row("pband_solve_d", team, dbl, -1000);
    }
  }
  return failures;
}

}  // namespace pband::bench
