// The stored factor's rows of the comparison, double system n = 10^6:
// one factor and 100 solves with it against dpbtrf and 100 dpbtrs calls;
// the condition estimate (norm, factor, estimate) against dpbsv; one
// refinement against dpbrfs.
#include "bench/factor_timing.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "bench/harness.hpp"
#include "bench/timed_calls.hpp"
#include "pband/pband.h"

namespace pband::bench {
namespace {

constexpr int kSolves = 100;

void row(std::int32_t hb, const char* what, int team, const Timed& t,
         const Timed& ref, int& failures) {
  std::printf("hb=%-3d %-36s T=%d: %9.1f ms (min %9.1f)  t/ref %.2f%s\n", hb,
              what, team, t.st.median * 1e3, t.st.min * 1e3,
              t.st.median / ref.st.median, t.status == 0 ? "" : " FAILED");
  if (t.status != 0) ++failures;
}

}  // namespace

int time_factor(const LapackProvider& reference, const std::vector<int>& teams,
                int reps) {
  const std::int32_t n = 1000000;
  int failures = 0;
  if (!reference.dpbtrf || !reference.dpbtrs || !reference.dpbcon ||
      !reference.dpbrfs) {
    std::printf("\n== Stored factor: SKIPPED (dpbtrf, dpbtrs, dpbcon or "
                "dpbrfs missing) ==\n");
    return 0;
  }
  std::printf(
      "\n== Stored factor, double system n=%d: median of %d after 1 "
      "warm-up; t/ref against the reference row above each group ==\n",
      n, reps);
  for (std::int32_t hb : {2, 8}) {
    BandSystem<double> s = widen_system(make_float_system(n, hb));
    const int nn = n, kd = hb, ld = hb + 1, one = 1;
    Array<double> a(s.A0.size()), x(s.B0.size());
    auto restore_a = [&] { std::copy(s.A0.begin(), s.A0.end(), a.begin()); };
    auto restore_x = [&] { std::copy(s.B0.begin(), s.B0.end(), x.begin()); };

    // 100 solves with one factor.
    restore_a();
    int info = 0;
    reference.dpbtrf("L", &nn, &kd, a.data(), &ld, &info, 1);
    const Array<double> lapack_factor = a;
    Timed ref = time_calls(reps, [] {}, [&] {
      int status = 0;
      for (int k = 0; k < kSolves && status == 0; ++k) {
        restore_x();
        reference.dpbtrs("L", &nn, &kd, &one, lapack_factor.data(), &ld,
                         x.data(), &nn, &status, 1);
      }
      return status;
    });
    row(hb, "reference dpbtrs x100", 1, ref, ref, failures);
    const std::int64_t lf = pband_factor_workspace_d(n, hb, ld);
    Array<double> factor(lf), af(s.A0.size());
    Array<double> first;
    for (int team : teams) {
      if (team > 2) break;
      std::copy(s.A0.begin(), s.A0.end(), af.begin());
      const int status =
          pband_factor_d(n, hb, af.data(), ld, factor.data(), lf, team);
      Timed solves = time_calls(reps, [] {}, [&] {
        int st = status;
        for (int k = 0; k < kSolves && st == 0; ++k) {
          restore_x();
          st = pband_solve_factored_d(n, hb, 1, af.data(), ld, factor.data(),
                                      lf, x.data(), n, team);
        }
        return st;
      });
      row(hb, "pband_solve_factored_d x100", team, solves, ref, failures);
      if (first.empty()) first = x;
      if (std::memcmp(first.data(), x.data(), sizeof(double) * n) != 0) {
        std::printf("  OTHER BITS than T=1\n");
        ++failures;
      }
    }

    // The condition estimate: norm, factor and estimate, against one
    // dpbsv.
    Timed sv = time_calls(reps, [&] { restore_a(); restore_x(); }, [&] {
      int st = 0;
      reference.dpbsv("L", &nn, &kd, &one, a.data(), &ld, x.data(), &nn, &st,
                      1);
      return st;
    });
    row(hb, "reference dpbsv", 1, sv, sv, failures);
    // Reference dpbcon is left out: at this size it does not finish in
    // minutes (its scaled triangular solves scan the whole vector at every
    // step).
    std::vector<double> work(3 * std::size_t(n));
    std::vector<int> iwork(n);
    for (int team : teams) {
      if (team > 2) break;
      Timed rc = time_calls(reps, restore_a, [&] {
        double anorm = 0, rcond = 0;
        int st = pband_norm1_d(n, hb, s.A0.data(), ld, &anorm, team);
        if (st == 0)
          st = pband_factor_d(n, hb, a.data(), ld, factor.data(), lf, team);
        if (st == 0)
          st = pband_rcond_d(n, hb, a.data(), ld, factor.data(), lf, anorm,
                             &rcond, team);
        return st;
      });
      row(hb, "pband norm1 + factor + rcond", team, rc, sv, failures);
    }

    // One refinement of the solution of the factor.
    Array<double> x0(s.B0.size());
    std::copy(s.B0.begin(), s.B0.end(), x0.begin());
    reference.dpbtrs("L", &nn, &kd, &one, lapack_factor.data(), &ld,
                     x0.data(), &nn, &info, 1);
    std::vector<double> ferr(1), berr(1);
    Timed rfs = time_calls(
        reps, [&] { std::copy(x0.begin(), x0.end(), x.begin()); }, [&] {
          int st = 0;
          reference.dpbrfs("L", &nn, &kd, &one, s.A0.data(), &ld,
                           lapack_factor.data(), &ld, s.B0.data(), &nn,
                           x.data(), &nn, ferr.data(), berr.data(),
                           work.data(), iwork.data(), &st, 1);
          return st;
        });
    row(hb, "reference dpbrfs", 1, rfs, rfs, failures);
    std::copy(s.A0.begin(), s.A0.end(), af.begin());
    pband_factor_d(n, hb, af.data(), ld, factor.data(), lf, 2);
    for (int team : teams) {
      if (team > 2) break;
      Timed rf = time_calls(
          reps, [&] { std::copy(x0.begin(), x0.end(), x.begin()); }, [&] {
            return pband_refine_d(n, hb, 1, s.A0.data(), ld, af.data(), ld,
                                  factor.data(), lf, s.B0.data(), n,
                                  x.data(), n, ferr.data(), berr.data(),
                                  team);
          });
      row(hb, "pband_refine_d", team, rf, rfs, failures);
    }
  }
  return failures;
}

}  // namespace pband::bench
