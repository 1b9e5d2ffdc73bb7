// The measuring harness of the comparison: a band system kept pristine and
// copied back before every repetition (outside the timed region), one timed
// call per repetition, medians, and the checks that keep a broken build
// from printing fast numbers (status, error of x against X, same bits).
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <functional>
#include <string>
#include <vector>

namespace pband::bench {

// Arrays of 2 MiB or more start on a huge-page boundary and ask for huge
// pages, as the benchmark's work array does, so that every routine timed
// here works on the memory the benchmark gives the solver.
template <class T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) {}
  T* allocate(std::size_t count);
  void deallocate(T* p, std::size_t) { std::free(p); }
  template <class U>
  bool operator==(const HugePageAllocator<U>&) const {
    return true;
  }
};

template <class T>
T* HugePageAllocator<T>::allocate(std::size_t count) {
  constexpr std::size_t kHuge = std::size_t(2) << 20;
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(T) - kHuge)
    throw std::bad_alloc();
  const std::size_t bytes = count * sizeof(T);
  const std::size_t align = bytes >= kHuge ? kHuge : 64;
  void* p = std::aligned_alloc(align, (bytes + align - 1) / align * align);
  if (p == nullptr) throw std::bad_alloc();
  if (align == kHuge) (void)::madvise(p, bytes, MADV_HUGEPAGE);
  return static_cast<T*>(p);
}

template <class T>
using Array = std::vector<T, HugePageAllocator<T>>;

// A test system A·X = B in lower band storage with one right-hand side.
// A0 and B0 stay as built; A and B are the copies a solve overwrites. The
// band arrays hold n·(hb + 1) elements, the storage's n + hb(n − 1) plus
// the hb positions LAPACK's ldab·n layout has after the last diagonal.
template <class T>
struct BandSystem {
  std::int32_t n = 0;
  std::int32_t hb = 0;
  Array<T> A0, B0, X;
  Array<T> A, B, W;

  // Copies A0, B0 into A, B.
  void restore();
  // Workspace of the cyclic reduction solver, touched once so that page
  // faults stay out of the first timed call.
  void allocate_workspace();
  T* a() { return A.data(); }
  T* b() { return B.data(); }
  T* w() { return W.data(); }
};

// The benchmark's system (the driver's make_test_problem) of any size.
BandSystem<float> make_float_system(std::int32_t n, std::int32_t hb);
// The same matrix and X in double precision (both exact: the matrix holds
// integers below 2^24 and X 24-bit fractions), with B = A·X formed anew in
// double precision in the driver's summation order.
BandSystem<double> widen_system(const BandSystem<float>& s);

// ‖x − X‖∞ / ‖X‖∞ in double precision over the first n entries.
template <class Vx, class VX>
double max_relative_error(const Vx& x, const VX& X, std::int32_t n) {
  double worst = 0, scale = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    const double d = std::fabs(double(x[i]) - double(X[i]));
    // NaN must not hide behind a comparison
    if (!(d <= worst)) worst = std::isnan(d) ? INFINITY : d;
    scale = std::max(scale, std::fabs(double(X[i])));
  }
  if (scale == 0) return worst;
  return worst / scale;
}

struct Stats {
  double median = 0, min = 0, max = 0;
  int count = 0;
};
// Median (mean of the middle two for an even count), minimum and maximum.
Stats summarize(std::vector<double> seconds);

struct RunPlan {
  int warmups = 1;
  int min_reps = 3;
  int max_reps = 7;
  // Repetitions are added up to this much timed work, within the bounds.
  double budget_seconds = 0;
  // A warm-up run at least this long counts as the first repetition, and
  // long_min_reps replace min_reps: caches are no factor at that size, and
  // it keeps the biggest cases to a few seconds each.
  double long_run_seconds = 1.0;
  int long_min_reps = 3;
  // A warm-up at least this long is the only repetition.
  double single_run_seconds = INFINITY;
};

struct Measurement {
  Stats time;
  int status = 0;           // first non-zero status seen, else 0
  double max_error = 0;     // worst over every repetition
  // Involuntary context switches of the process per timed repetition:
  // how often other work took a processor away, i.e. how noisy it was.
  double preemptions = 0;
};

// Times `solve` (returns its status) on `system`, restoring A and B before
// each call outside the timed region, and checks B against X after each.
template <class T>
Measurement measure(BandSystem<T>& system, const RunPlan& plan,
                    const std::function<int()>& solve);

// Seconds of a monotonic clock.
double now_seconds();

}  // namespace pband::bench
