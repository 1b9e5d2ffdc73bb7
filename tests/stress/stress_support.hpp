// Helpers of the stress suites: one solve of either family in any element
// type behind one interface, random cases, a watchdog that ends a hung
// process with a message, counts scaled for sanitizer builds, and the
// runtime's resource counts to compare against after a run.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <complex>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "bandlib/band_library.hpp"
#include "runtime/runtime.hpp"
#include "solver/band_solver.hpp"
#include "tests/common/band_test_util.hpp"
#include "tests/common/all_processors.hpp"

#if defined(__SANITIZE_THREAD__)
#define PBAND_STRESS_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PBAND_STRESS_TSAN 1
#endif
#endif

namespace pband::test {

// Counts are multiplied by PBAND_STRESS_SCALE (default 1) and cut to an
// eighth under ThreadSanitizer, whose threads run many times slower;
// never below 1.
inline std::int64_t scaled(std::int64_t count) {
  double scale = 1.0;
  if (const char* env = std::getenv("PBAND_STRESS_SCALE")) {
    const double v = std::atof(env);
    if (v > 0) scale = v;
  }
#ifdef PBAND_STRESS_TSAN
  scale /= 8;
#endif
  const auto n = static_cast<std::int64_t>(double(count) * scale);
  return n < 1 ? 1 : n;
}

// Seed of the random cases; PBAND_STRESS_SEED overrides it to explore.
inline std::uint64_t stress_seed(std::uint64_t fixed) {
  if (const char* env = std::getenv("PBAND_STRESS_SEED"))
    return std::strtoull(env, nullptr, 0);
  return fixed;
}

// Ends the process when the guarded scope outlives its limit: a hung team
// cannot be joined, and a hang must fail CI instead of stalling it.
class Watchdog {
 public:
  Watchdog(std::chrono::seconds limit, std::string what)
      : what_(std::move(what)), thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: %s did not finish within %lld s\n",
                         what_.c_str(), static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;  // last: starts after the members it uses
};

inline void do_nothing() {}

// What a run may leave behind: slots, workers and open handles.
struct Resources {
  std::int32_t slots = sync_slots_in_use();
  std::int32_t workers = workers_in_use();
  std::int32_t handles = os_open_handle_count();
  bool operator==(const Resources&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Resources& r) {
  return os << "{slots " << r.slots << ", workers " << r.workers
            << ", handles " << r.handles << "}";
}

// The table guards live from first use on; create them before a baseline.
inline Resources warm_baseline() {
  std::int32_t slot = 0;
  sync_slot_allocate(slot);
  sync_slot_free(slot);
  std::int32_t worker = 0;
  launch_worker(worker, &do_nothing);
  join_worker(worker);
  return Resources{};
}

// Fixture base: fake processors, a fresh team size, and nothing injected
// or fixed left for the next test.
class StressTest : public ::testing::Test {
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

// ---------------------------------------------------------------------------
// The public entry points of one element type.
// ---------------------------------------------------------------------------

template <class T>
struct Entry;
#define PBAND_STRESS_ENTRY(T, S)                                        \
  template <>                                                           \
  struct Entry<T> {                                                     \
    static constexpr auto solve = &solve_band_system_##S;               \
    static constexpr auto factor_solve = &band_factor_solve_##S;        \
    static constexpr auto factor = &band_factor_##S;                    \
    static constexpr auto substitute = &band_substitute_##S;            \
    static constexpr auto factor_solve_worker =                         \
        &band_factor_solve_worker_##S;                                  \
    static constexpr const char* name = #S;                             \
  };
PBAND_STRESS_ENTRY(float, r4)
PBAND_STRESS_ENTRY(double, r8)
PBAND_STRESS_ENTRY(std::complex<float>, c8)
PBAND_STRESS_ENTRY(std::complex<double>, c16)
#undef PBAND_STRESS_ENTRY

using ElementTypes = ::testing::Types<float, double, std::complex<float>,
                                      std::complex<double>>;

// The three ways a system is solved: the cyclic reduction solver, the
// library's factor-and-solve, and its factorization then substitution.
enum class Family { solver, factor_solve, factor_substitute };

inline const char* family_name(Family f) {
  switch (f) {
    case Family::solver: return "solve_band_system";
    case Family::factor_solve: return "band_factor_solve";
    default: return "band_factor+band_substitute";
  }
}

// Guard elements on both sides of every array: a write outside it shows
// in the release build too, not only under AddressSanitizer.
inline constexpr std::int64_t kGuard = 8;

// One system, how it is solved, and what the last run made of it. The
// storage of rows beyond n (in the last hb columns but the very last,
// which holds its diagonal alone) and the workspace hold NaN,
// so that a read of either spoils the residual.
class Case {
 public:
  virtual ~Case() = default;
  // Solves a fresh copy of the system with the current team size.
  virtual void run() = 0;
  // Scaled residual of the last run's solution (NaN counts as failure).
  virtual double residual() const = 0;
  // Result bytes of the last run: A after the solve, then B.
  virtual std::vector<unsigned char> bits() const = 0;
  // Guards around every array still hold their fill.
  virtual bool guards_intact() const = 0;
  // Plants a pivot of value 0 in column j, cut off from its neighbours.
  virtual void plant_zero_pivot(std::int32_t j) = 0;
  virtual std::string describe() const = 0;

  std::int32_t status = -100;
  std::int32_t n = 0, hb = 0, nrhs = 0, block_width = 0;
  Family family = Family::solver;
};

// The index of an element type among float, double, complex float and
// complex double, as make_case takes it.
template <class T>
constexpr int type_index() {
  if constexpr (std::is_same_v<T, float>) return 0;
  else if constexpr (std::is_same_v<T, double>) return 1;
  else if constexpr (std::is_same_v<T, std::complex<float>>) return 2;
  else return 3;
}

// A random system (see band_test_util.hpp) of element type `type`
// (type_index) solved by `family`; nrhs is 1 for the library.
std::unique_ptr<Case> make_case(int type, Family family, std::int32_t n,
                                std::int32_t hb, std::int32_t nrhs,
                                std::int32_t block_width, std::uint64_t seed);

// A random small system: n 1 … 80, hb 0 … 9 (wider than the matrix at
// times), 0 … 3 right-hand sides for the solver, block width 1 … 12; of a
// given family and type, or of random ones.
std::unique_ptr<Case> random_case(std::mt19937_64& rng, Family family,
                                  int type);
std::unique_ptr<Case> random_case(std::mt19937_64& rng);

// The expectations every successful run meets.
inline void expect_solved(const Case& c) {
  EXPECT_EQ(c.status, 0) << c.describe();
  EXPECT_LT(c.residual(), 30.0) << c.describe();
  EXPECT_TRUE(c.guards_intact()) << c.describe();
}

}  // namespace pband::test
