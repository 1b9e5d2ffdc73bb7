// Helpers of the band library suites: the routines of one element type by
// name, a team of plain threads that runs a worker directly (so counters
// and flags can be inspected afterwards), a watchdog against hangs, and a
// fake processor count so that teams larger than the machine can be made.
#pragma once

#include <chrono>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "bandlib/band_library.hpp"
#include "kernels/element_traits.hpp"
#include "runtime/runtime.hpp"
#include "tests/common/band_test_util.hpp"

namespace pband::test {

using ElementTypes =
    ::testing::Types<float, double, std::complex<float>, std::complex<double>>;

template <class T>
struct Lib;

#define PBAND_TEST_LIB(T, S)                                                   \
  template <>                                                                  \
  struct Lib<T> {                                                              \
    static constexpr auto factor_solve = &band_factor_solve_##S;               \
    static constexpr auto factor = &band_factor_##S;                           \
    static constexpr auto substitute = &band_substitute_##S;                   \
    static constexpr auto factor_solve_worker = &band_factor_solve_worker_##S; \
    static constexpr auto factor_worker = &band_factor_worker_##S;             \
    static constexpr auto substitute_worker = &band_substitute_worker_##S;     \
  };
PBAND_TEST_LIB(float, r4)
PBAND_TEST_LIB(double, r8)
PBAND_TEST_LIB(std::complex<float>, c8)
PBAND_TEST_LIB(std::complex<double>, c16)
#undef PBAND_TEST_LIB

// Runs f on another thread and ends the process if it has not finished
// within `limit`: a hung team cannot be joined, so failing fast is all
// that is left.
template <class F>
void within(std::chrono::seconds limit, F&& f) {
  auto done = std::async(std::launch::async, std::forward<F>(f));
  if (done.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "team did not finish within %lld s\n",
                 static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(3);
  }
  done.get();
}

inline constexpr std::chrono::seconds kHangLimit{60};

// The shared record of a worker run set up by a test, as a caller outside
// the library would: one mutex, two slots (first armed), counters, flags.
struct WorkerTeam {
  Handle mutex = 0;
  std::int32_t slots[2] = {0, 0};
  std::int32_t team_size = 1;
  std::int32_t forward_pivot = 1;
  std::int32_t forward_next = 1;
  std::int32_t backward_pivot = 0;
  std::int32_t backward_next = 0;
  FailureFlags failure_flags = {0, 0};
};

// Calls body(team) on `size` threads sharing one WorkerTeam, under the
// watchdog; backward counters start at `backward` (n, or 0 to skip that sweep).
template <class Body>
void run_worker_team(std::int32_t size, std::int32_t backward, WorkerTeam& team,
                     Body body) {
  team.team_size = size;
  team.forward_pivot = team.forward_next = 1;
  team.backward_pivot = team.backward_next = backward;
  team.failure_flags[0] = 0;
  team.failure_flags[1] = 0;
  mutex_create(team.mutex);
  sync_slot_allocate(team.slots[0]);
  sync_slot_allocate(team.slots[1]);
  ASSERT_NE(team.mutex, 0);
  ASSERT_NE(team.slots[0], 0);
  ASSERT_NE(team.slots[1], 0);
  sync_slot_arm(team.slots[0], size);
  within(kHangLimit, [&] {
    std::vector<std::thread> threads;
    for (std::int32_t k = 0; k < size; ++k)
      threads.emplace_back([&] { body(team); });
    for (auto& t : threads) t.join();
  });
  sync_slot_free(team.slots[1]);
  sync_slot_free(team.slots[0]);
  mutex_close(team.mutex);
}

// Factor-and-solve by the worker on a team of `size` threads.
template <class T>
void factor_solve_on_team(std::int32_t size, std::vector<T>& a, std::int32_t n,
                          std::int32_t hb, std::vector<T>& b, std::int32_t nb,
                          WorkerTeam& team, bool skip_backward = false,
                          Real<T> threshold = Real<T>(0)) {
  T* A = a.data();
  T* B = b.data();
  run_worker_team(size, skip_backward ? 0 : n, team, [&](WorkerTeam& s) {
    Lib<T>::factor_solve_worker(A, n, hb, B, nb, s.mutex, s.slots, s.team_size,
                                s.forward_pivot, s.forward_next,
                                s.backward_pivot, s.backward_next, threshold,
                                s.failure_flags);
  });
}

template <class T>
void factor_on_team(std::int32_t size, std::vector<T>& a, std::int32_t n,
                    std::int32_t hb, std::int32_t nb, WorkerTeam& team,
                    Real<T> threshold = Real<T>(0)) {
  T* A = a.data();
  run_worker_team(size, 0, team, [&](WorkerTeam& s) {
    Lib<T>::factor_worker(A, n, hb, nb, s.mutex, s.slots, s.team_size,
                          s.forward_pivot, s.forward_next, threshold,
                          s.failure_flags);
  });
}

template <class T>
void substitute_on_team(std::int32_t size, const std::vector<T>& a,
                        std::int32_t n, std::int32_t hb, std::vector<T>& b,
                        std::int32_t nb, WorkerTeam& team,
                        bool skip_backward = false) {
  const T* A = a.data();
  T* B = b.data();
  run_worker_team(size, skip_backward ? 0 : n, team, [&](WorkerTeam& s) {
    Lib<T>::substitute_worker(A, n, hb, B, nb, s.mutex, s.slots, s.team_size,
                              s.forward_pivot, s.forward_next, s.backward_pivot,
                              s.backward_next);
  });
}

// A plain serial solve in the element arithmetic, written row by row, with
// the order of terms the team routines promise: every element of L and y
// takes its terms by increasing column, then one division; x(i) takes the
// terms of the backward blocks (`width` rows, cut from n downwards) from
// the last block to its own, by increasing row inside each block.
template <class T>
struct SerialSolve {
  std::vector<T> l, y, x;
};

template <class T>
SerialSolve<T> serial_solve(const std::vector<T>& a, std::int32_t n,
                            std::int32_t hb, const std::vector<T>& b,
                            std::int64_t width) {
  using Tr = ElementTraits<T>;
  SerialSolve<T> out{a, b, {}};
  auto L = [&](std::int64_t i, std::int64_t j) -> T& {
    return out.l[pos(i, j, hb)];
  };
  for (std::int64_t j = 1; j <= n; ++j)
    for (std::int64_t r = j; r <= std::min<std::int64_t>(n, j + hb); ++r) {
      T s = L(r, j);
      for (std::int64_t k = std::max<std::int64_t>(1, r - hb); k < j; ++k)
        s = Tr::msub(s, L(r, k), L(j, k));
      L(r, j) = r == j ? Tr::sqrt(s) : Tr::div(s, L(j, j));
    }
  for (std::int64_t r = 1; r <= n; ++r) {
    T s = out.y[r - 1];
    for (std::int64_t j = std::max<std::int64_t>(1, r - hb); j < r; ++j)
      s = Tr::msub(s, L(r, j), out.y[j - 1]);
    out.y[r - 1] = Tr::div(s, L(r, r));
  }
  out.x = out.y;
  // Block of row i: rows top(i) … bottom(i), cut from n downwards.
  auto bottom = [&](std::int64_t i) { return n - ((n - i) / width) * width; };
  for (std::int64_t i = n; i >= 1; --i) {
    T s = out.x[i - 1];
    const std::int64_t own = bottom(i);
    const std::int64_t last = std::min<std::int64_t>(n, i + hb);
    // Blocks above i's own, the last one first.
    for (std::int64_t end = n; end > own; end -= width)
      for (std::int64_t k = std::max(end - width + 1, own + 1); k <= end; ++k)
        if (k <= last) s = Tr::msub(s, L(k, i), out.x[k - 1]);
    for (std::int64_t k = i + 1; k <= std::min(own, last); ++k)
      s = Tr::msub(s, L(k, i), out.x[k - 1]);
    out.x[i - 1] = Tr::div(s, L(i, i));
  }
  return out;
}

// Pretends the process may run on eight processors, so that the drivers'
// teams can be larger than the machine; restores the real count after.
class FakeProcessors {
 public:
  FakeProcessors() {
    testing::set_affinity_query(&eight);
    testing::reset_team_size_state();
  }
  ~FakeProcessors() {
    testing::set_affinity_query(nullptr);
    testing::reset_team_size_state();
  }
  FakeProcessors(const FakeProcessors&) = delete;
  FakeProcessors& operator=(const FakeProcessors&) = delete;

 private:
  static int eight(Handle, std::uint32_t* process_mask,
                   std::uint32_t* system_mask) {
    *process_mask = 0xFFu;
    *system_mask = 0xFFu;
    return 1;
  }
};

// Makes a zero pivot in column j whatever the elimination before it:
// row j left of the diagonal and the diagonal itself become 0, so the
// updated pivot is 0 − Σ 0·x = 0 exactly.
template <class T>
void plant_zero_pivot(std::vector<T>& a, std::int32_t hb, std::int64_t j) {
  for (std::int64_t k = std::max<std::int64_t>(1, j - hb); k <= j; ++k)
    a[pos(j, k, hb)] = T(0);
}

// ‖L·Lᵀ − A‖₁ / (n·‖A‖₁·eps) for the factor L in lower band storage.
template <class T>
double factor_residual(const std::vector<T>& a, const std::vector<T>& l,
                       std::int32_t n, std::int32_t hb) {
  using W = Wide<T>;
  std::vector<double> colsum(std::size_t(n) + 1, 0.0);
  for (std::int64_t j = 1; j <= n; ++j)
    for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + hb); ++i) {
      W s = -W(a[pos(i, j, hb)]);
      for (std::int64_t k = std::max<std::int64_t>(1, i - hb); k <= j; ++k)
        s += W(l[pos(i, k, hb)]) * W(l[pos(j, k, hb)]);
      const double v = double(std::abs(s));
      colsum[j] += v;
      if (i != j) colsum[i] += v;
    }
  double diff = 0;
  for (double v : colsum) diff = std::max(diff, v);
  const double eps = std::numeric_limits<Real<T>>::epsilon();
  if (diff == 0) return 0;
  return diff / (double(n) * norm1(a, n, hb) * eps);
}

template <class T>
double max_abs(const std::vector<T>& x) {
  double m = 0;
  for (const T& v : x) m = std::max(m, double(std::abs(v)));
  return m;
}

template <class T>
double max_abs_diff(const std::vector<T>& x, const std::vector<T>& y) {
  double m = 0;
  for (std::size_t i = 0; i < x.size(); ++i)
    m = std::max(m, double(std::abs(x[i] - y[i])));
  return m;
}

}  // namespace pband::test
