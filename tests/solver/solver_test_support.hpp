// Helpers of the solver suites: the entry point of each element type, a
// fake processor count so that teams larger than the machine can be
// formed, a watchdog against hangs, and one solve packaged with its
// inputs and outputs for comparison with LAPACK and with other teams.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/runtime.hpp"
#include "solver/band_solver.hpp"
#include "tests/common/band_test_util.hpp"
#include "tests/common/all_processors.hpp"

namespace pband::test {

using ElementTypes = ::testing::Types<float, double, std::complex<float>,
                                      std::complex<double>>;

template <class T>
struct Solver;
template <>
struct Solver<float> {
  static constexpr auto solve = &solve_band_system_r4;
};
template <>
struct Solver<double> {
  static constexpr auto solve = &solve_band_system_r8;
};
template <>
struct Solver<std::complex<float>> {
  static constexpr auto solve = &solve_band_system_c8;
};
template <>
struct Solver<std::complex<double>> {
  static constexpr auto solve = &solve_band_system_c16;
};

// Ends the process when the guarded scope outlives its limit: a hung team
// cannot be joined, so failing fast is all that is left.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "solve did not finish within %lld s\n",
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;  // last: starts after the members it uses
};

inline constexpr std::chrono::seconds kHangLimit{30};

// Fixture base: a known block base and a team size that the test picks;
// both are process-wide, so they are restored afterwards.
class SolverFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    pband::testing::set_affinity_query(&all_processors);
    pband::testing::reset_team_size_state();
  }
  void TearDown() override {
    pband::testing::os_clear_faults();
    pband::testing::set_affinity_query(nullptr);
    pband::testing::reset_team_size_state();
    pband::testing::set_solver_block_base(0);
  }
};

// Columns per block for a block base, as the solver cuts them.
inline std::int32_t block_size_for(std::int32_t base, std::int32_t hb) {
  return std::max(base * base / std::max(hb, 1), hb + 1);
}

// One system and what a solve made of it.
template <class T>
struct SolveRun {
  std::int32_t n = 0, hb = 0, nrhs = 0;
  std::vector<T> a0, b0;  // the system as given
  std::vector<T> a, b;    // after the solve: factors and solution
  std::int32_t status = -100;
};

template <class T>
SolveRun<T> make_run(std::int32_t n, std::int32_t hb, std::int32_t nrhs,
                     std::uint64_t seed) {
  SolveRun<T> r;
  r.n = n;
  r.hb = hb;
  r.nrhs = nrhs;
  r.a0 = random_band_matrix<T>(n, hb, seed);
  r.b0 = random_rhs<T>(n, nrhs, seed ^ 0x9E3779B97F4A7C15ull);
  return r;
}

// Solves the run's system with a team of `team` threads under the
// watchdog; the workspace is filled with NaN so that any read of it
// before it is written shows in the result.
template <class T>
using SolveFunction = void (*)(T*, std::int32_t, std::int32_t, T*,
                               std::int32_t, T*, std::int32_t&);

template <class T>
void solve_with_team(SolveRun<T>& r, std::int32_t team,
                     SolveFunction<T> solve = Solver<T>::solve) {
  set_team_size(team);
  r.a = r.a0;
  r.b = r.b0;
  const Real<T> nan = std::numeric_limits<Real<T>>::quiet_NaN();
  std::vector<T> w(2 * std::size_t(r.n) * r.hb + 1, T(nan));
  r.status = -100;
  Watchdog guard(kHangLimit);
  solve(r.a.data(), r.n, r.hb, r.b.data(), r.nrhs, w.data(), r.status);
}

// The larger of two, NaN when either is: std::max drops a NaN that comes
// second, and a NaN must fail every bound it is compared with.
inline double nan_max(double a, double b) {
  return std::isnan(a) || std::isnan(b) ? std::nan("") : std::max(a, b);
}

// Largest |b - A·x| over all right-hand sides, accumulated in the wide type.
template <class T>
double residual_max(const std::vector<T>& a, std::int32_t n, std::int32_t hb,
                    const std::vector<T>& b, const std::vector<T>& x,
                    std::int32_t nrhs) {
  using W = Wide<T>;
  double worst = 0;
  for (std::int32_t c = 0; c < nrhs; ++c) {
    const T* bc = b.data() + std::size_t(c) * n;
    const T* xc = x.data() + std::size_t(c) * n;
    for (std::int64_t i = 1; i <= n; ++i) {
      W s = W(bc[i - 1]);
      for (std::int64_t j = std::max<std::int64_t>(1, i - hb);
           j <= std::min<std::int64_t>(n, i + hb); ++j)
        s -= W(band_at(a, hb, i, j)) * W(xc[j - 1]);
      worst = nan_max(worst, double(std::abs(s)));
    }
  }
  return worst;
}

// Smallest diagonal dominance |a_jj| - Σ|a_ij| (i ≠ j); ‖A⁻¹‖∞ is at most
// its inverse when it is positive.
template <class T>
double dominance_margin(const std::vector<T>& a, std::int32_t n,
                        std::int32_t hb) {
  double margin = std::numeric_limits<double>::infinity();
  for (std::int64_t j = 1; j <= n; ++j) {
    double off = 0;
    for (std::int64_t i = std::max<std::int64_t>(1, j - hb);
         i <= std::min<std::int64_t>(n, j + hb); ++i)
      if (i != j) off += std::abs(band_at(a, hb, i, j));
    margin = std::min(margin, std::abs(band_at(a, hb, j, j)) - off);
  }
  return margin;
}

template <class T>
double max_abs_difference(const std::vector<T>& x, const std::vector<T>& y) {
  double worst = 0;
  for (std::size_t i = 0; i < x.size(); ++i)
    worst = nan_max(worst, double(std::abs(x[i] - y[i])));
  return worst;
}

}  // namespace pband::test
