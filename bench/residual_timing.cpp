// The residual row of the comparison: the accuracy room's band product in
// its residual form against reference BLAS dsbmv on the benchmark's double
// system, n = 2·10⁶, hb = 8, each on its own copy of B restored untimed.
#include "bench/residual_timing.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>

#include "accuracy/band_accuracy.hpp"
#include "bench/harness.hpp"

namespace pband::bench {
namespace {

// max|r| / max|b|: B = A·X was formed exactly enough that a residual of
// a few ulps of B is right and anything larger is a fault.
double relative_size(const Array<double>& r, const Array<double>& b,
                     std::int32_t n) {
  double rmax = 0, bmax = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    const double v = std::fabs(r[i]);
    if (!(v <= rmax)) rmax = std::isnan(v) ? INFINITY : v;
    bmax = std::max(bmax, std::fabs(b[i]));
  }
  return bmax == 0 ? rmax : rmax / bmax;
}

Stats time_calls(int reps, const std::function<void()>& restore,
                 const std::function<void()>& call) {
  std::vector<double> seconds;
  for (int k = 0; k <= reps; ++k) {
    restore();
    const double t0 = now_seconds();
    call();
    if (k > 0) seconds.push_back(now_seconds() - t0);  // 0 is the warm-up
  }
  return summarize(seconds);
}

}  // namespace

int time_residual(const LapackProvider& reference,
                  const std::vector<int>& teams, int reps) {
  const std::int32_t n = 2000000, hb = 8;
  const BandSystem<double> s = widen_system(make_float_system(n, hb));
  Array<double> r(s.B0.size()), first;
  const double bound = 64 * std::numeric_limits<double>::epsilon();
  int failures = 0;
  std::printf(
      "\n== Residual B - A*X, double system n=%d hb=%d: median of %d "
      "after 1 warm-up ==\n",
      n, hb, reps);
  BandCall<double> call;
  call.ab = s.A0.data();
  call.n = n;
  call.hb = hb;
  call.ldab = hb + 1;
  call.nrhs = 1;
  call.x = s.X.data();
  call.ldx = n;
  call.b = s.B0.data();
  call.ldb = n;
  call.out = r.data();
  call.ldo = n;
  for (int t : teams) {
    if (t > 2) break;
    const Stats st = time_calls(
        reps, [] {}, [&] { band_product_r8(call, t); });
    const double size = relative_size(r, s.B0, n);
    if (first.empty()) first = r;
    const bool same = std::memcmp(first.data(), r.data(),
                                  sizeof(double) * std::size_t(n)) == 0;
    std::printf(
        "band_product_r8 (residual) T=%d: %9.3f ms (min %.3f)  "
        "max|r|/max|b| %.1e%s%s\n",
        t, st.median * 1e3, st.min * 1e3, size,
        size <= bound ? "" : " TOO LARGE", same ? "" : " OTHER BITS");
    if (!(size <= bound) || !same) ++failures;
  }
  if (reference.dsbmv == nullptr) {
    std::printf("reference dsbmv_ NOT AVAILABLE\n");
    return failures;
  }
  const int nn = n, k = hb, lda = hb + 1, one = 1;
  const double minus_one = -1, plus_one = 1;
  const Stats st = time_calls(
      reps, [&] { std::copy(s.B0.begin(), s.B0.end(), r.begin()); },
      [&] {
        reference.dsbmv("L", &nn, &k, &minus_one, s.A0.data(), &lda, s.X.data(),
                        &one, &plus_one, r.data(), &one, 1);
      });
  const double size = relative_size(r, s.B0, n);
  std::printf(
      "reference dsbmv (alpha -1, beta 1) T=1: %9.3f ms (min %.3f)  "
      "max|r|/max|b| %.1e%s\n",
      st.median * 1e3, st.min * 1e3, size, size <= bound ? "" : " TOO LARGE");
  if (!(size <= bound)) ++failures;
  return failures;
}

}  // namespace pband::bench
