// Measuring harness of the comparison: pristine systems, restore before
// each repetition, timing, medians and the per-repetition result checks.
#include "bench/harness.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>

#include <sys/resource.h>

#include "driver/benchmark.hpp"

namespace pband::bench {

template <class T>
void BandSystem<T>::restore() {
  std::copy(A0.begin(), A0.end(), A.begin());
  std::copy(B0.begin(), B0.end(), B.begin());
}

template <class T>
void BandSystem<T>::allocate_workspace() {
  // value-initialised: every page is written once here
  W.assign(static_cast<std::size_t>(2) * n * std::max(hb, 1), T(0));
}

BandSystem<float> make_float_system(std::int32_t n, std::int32_t hb) {
  BandSystem<float> s;
  s.n = n;
  s.hb = hb;
  const std::size_t len = static_cast<std::size_t>(n) * (hb + 1);
  s.A0.assign(len, 0.0f);
  s.B0.assign(n, 0.0f);
  s.X.assign(n, 0.0f);
  make_test_problem(s.A0.data(), s.B0.data(), s.X.data(), n, hb, 1);
  s.A = s.A0;
  s.B = s.B0;
  return s;
}

BandSystem<double> widen_system(const BandSystem<float>& f) {
  BandSystem<double> s;
  s.n = f.n;
  s.hb = f.hb;
  s.A0.assign(f.A0.begin(), f.A0.end());
  s.X.assign(f.X.begin(), f.X.end());
  s.B0.assign(f.n, 0.0);
  const std::int64_t n = f.n, kd = f.hb;
  auto at = [kd](std::int64_t i, std::int64_t j) {
    return (j - 1) * (kd + 1) + (i - j);
  };
  const double* A = s.A0.data();
  const double* x = s.X.data();
  // B = A·X: diagonal term, then left of it, then below it.
  for (std::int64_t l = 1; l <= n; ++l) {
    double sum = A[at(l, l)] * x[l - 1];
    for (std::int64_t v = std::max<std::int64_t>(1, l - kd); v < l; ++v)
      sum = sum + A[at(l, v)] * x[v - 1];
    const std::int64_t last = std::min(n, l + kd);
    for (std::int64_t i = l + 1; i <= last; ++i)
      sum = sum + A[at(i, l)] * x[i - 1];
    s.B0[l - 1] = sum;
  }
  s.A = s.A0;
  s.B = s.B0;
  return s;
}

Stats summarize(std::vector<double> seconds) {
  Stats s;
  s.count = static_cast<int>(seconds.size());
  if (seconds.empty()) return s;
  std::sort(seconds.begin(), seconds.end());
  const std::size_t m = seconds.size() / 2;
  s.median = seconds.size() % 2 == 1 ? seconds[m]
                                     : (seconds[m - 1] + seconds[m]) / 2;
  s.min = seconds.front();
  s.max = seconds.back();
  return s;
}

double now_seconds() {
  using clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(clock::now().time_since_epoch())
      .count();
}

template <class T>
Measurement measure(BandSystem<T>& system, const RunPlan& plan,
                    const std::function<int()>& solve) {
  Measurement m;
  std::vector<double> times;
  long switches = 0, last_switches = 0;
  auto one = [&](bool keep) {
    system.restore();
    rusage u0{}, u1{};
    getrusage(RUSAGE_SELF, &u0);
    const double t0 = now_seconds();
    const int status = solve();
    const double t = now_seconds() - t0;
    getrusage(RUSAGE_SELF, &u1);
    last_switches = u1.ru_nivcsw - u0.ru_nivcsw;
    if (keep) switches += last_switches;
    if (status != 0 && m.status == 0) m.status = status;
    m.max_error = std::max(
        m.max_error, max_relative_error(system.B, system.X, system.n));
    if (std::isnan(m.max_error)) m.max_error = INFINITY;
    if (keep) times.push_back(t);
    return t;
  };
  double timed = 0;
  int min_reps = plan.min_reps;
  for (int w = 0; w < plan.warmups; ++w) {
    const double t = one(false);
    if (t >= plan.long_run_seconds && w == plan.warmups - 1) {
      times.push_back(t);
      switches += last_switches;
      timed += t;
      min_reps = t >= plan.single_run_seconds ? 1 : plan.long_min_reps;
    }
  }
  while (static_cast<int>(times.size()) < plan.max_reps) {
    const int done = static_cast<int>(times.size());
    if (done >= min_reps && timed >= plan.budget_seconds) break;
    timed += one(true);
  }
  m.time = summarize(times);
  if (!times.empty()) m.preemptions = double(switches) / times.size();
  return m;
}

template struct BandSystem<float>;
template struct BandSystem<double>;
template struct BandSystem<std::complex<float>>;
template struct BandSystem<std::complex<double>>;
template Measurement measure(BandSystem<float>&, const RunPlan&,
                             const std::function<int()>&);
template Measurement measure(BandSystem<double>&, const RunPlan&,
                             const std::function<int()>&);

}  // namespace pband::bench
