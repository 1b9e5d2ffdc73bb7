// Many independent systems of one band shape in one call. Small systems
// go whole to the threads of a team, one system per thread at a time;
// large ones go one after another, each to the whole team. Private:
// included only by pband_batch.cpp.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "api/c_api.hpp"
#include "api/workspace.hpp"
#include "runtime/team.hpp"
#include "runtime/team_size.hpp"
#include "runtime/workers.hpp"

namespace pband::api {

// Systems with n·(hb + 1) below this many elements are solved whole on one
// thread each: under it, two threads on one system gained at most 1.25×
// (hb 1 … 16 on 2 cores), two systems at once nearly 2×. Above it the
// team's speed-up grows and each thread's own workspace would leave the
// cache.
inline constexpr std::int64_t kBatchSplitElements = std::int64_t(1) << 17;

// Arguments 1 count, 2 n, 3 hb, 4 nrhs, 5 ab, 6 ldab, 7 stride_ab, 8 b,
// 9 ldb, 10 stride_b, 11 statuses, 12 threads (any value is valid).
template <class T>
int check_batch(std::int32_t count, std::int32_t n, std::int32_t hb,
                std::int32_t nrhs, const T* ab, std::int32_t ldab,
                std::int64_t stride_ab, const T* b, std::int32_t ldb,
                std::int64_t stride_b, const std::int32_t* statuses) {
  if (count < 0) return -1;
  if (n < 0) return -2;
  if (hb < 0) return -3;
  if (nrhs < 0) return -4;
  const bool some = count > 0 && n > 0;
  if (some && ab == nullptr) return -5;
  if (ldab < std::int64_t(hb) + 1) return -6;
  // Systems may not overlap, and the last one must lie in the address
  // space; one system needs no stride.
  const std::int64_t band = std::int64_t(ldab) * n;
  if (count > 1 &&
      (stride_ab < band || stride_ab > (kMaxElements<T> - band) / (count - 1)))
    return -7;
  if (some && nrhs > 0 && b == nullptr) return -8;
  if (ldb < std::max<std::int32_t>(1, n)) return -9;
  const std::int64_t rhs = n > 0 ? std::int64_t(ldb) * nrhs : 0;
  if (count > 1 &&
      (stride_b < rhs || stride_b > (kMaxElements<T> - rhs) / (count - 1)))
    return -10;
  if (count > 0 && statuses == nullptr) return -11;
  return 0;
}

// What the threads of a batch share: the systems, the next one to claim,
// and one workspace slice per thread, taken in the order threads start.
template <class T>
struct BatchState {
  const Entries<T>* entries;
  std::int32_t count, n, hb, nrhs, ldab, ldb;
  T* ab;
  std::int64_t stride_ab;
  T* b;
  std::int64_t stride_b;
  std::int32_t* statuses;
  T* work;
  std::int64_t work_per_thread;
  std::atomic<std::int32_t> next_system{0};
  std::atomic<std::int32_t> next_slice{0};
  Team team;
};

// Each thread solves whole systems on its own, with a team of one, so
// every system gets the bits it gets alone with threads = 1.
template <class T>
void batch_worker(BatchState<T>& s) {
  const std::int32_t slice = s.next_slice.fetch_add(1);
  T* work = s.work + slice * s.work_per_thread;
  for (;;) {
    const std::int32_t k = s.next_system.fetch_add(1);
    if (k >= s.count) return;
    s.statuses[k] =
        solve_in(*s.entries, s.n, s.hb, s.nrhs, s.ab + k * s.stride_ab, s.ldab,
                 s.b + k * s.stride_b, s.ldb, 1, work);
  }
}

// LAPACK's info for the batch: the first failed system, 1-based.
inline int first_failure(const std::int32_t* statuses, std::int32_t count) {
  for (std::int32_t k = 0; k < count; ++k)
    if (statuses[k] != 0) return k + 1;
  return 0;
}

template <class T>
int solve_batch(const Entries<T>& e, std::int32_t count, std::int32_t n,
                std::int32_t hb, std::int32_t nrhs, T* ab, std::int32_t ldab,
                std::int64_t stride_ab, T* b, std::int32_t ldb,
                std::int64_t stride_b, std::int32_t* statuses,
                std::int32_t threads) {
  const int bad = check_batch(count, n, hb, nrhs, ab, ldab, stride_ab, b, ldb,
                              stride_b, statuses);
  if (bad != 0) return bad;
  if (n == 0 || count == 0) {
    std::fill_n(statuses, count, 0);
    return 0;
  }
  const std::int64_t need = solve_layout<T>(n, hb, nrhs, ldab, ldb).total();
  std::int32_t team = team_for(threads);
  std::int32_t processors = 1;
  count_processors(processors);
  const bool large =
      std::int64_t(n) * (effective_hb(n, hb) + 1) >= kBatchSplitElements;
  if (large || team == 1 || count == 1) {
    Workspace<T> work(need);
    if (!work.ok()) return PBAND_OUT_OF_MEMORY;
    for (std::int32_t k = 0; k < count; ++k)
      statuses[k] =
          solve_in(e, n, hb, nrhs, ab + k * stride_ab, ldab, b + k * stride_b,
                   ldb, large ? threads : 1, work.data());
    return first_failure(statuses, count);
  }
  // More threads than processors or systems would only wait.
  team = std::min({team, processors, count});
  const std::int64_t slice = std::max<std::int64_t>(need, 1);
  if (slice > kMaxElements<T> / team) return PBAND_OUT_OF_MEMORY;
  Workspace<T> work(slice * team);
  if (!work.ok()) return PBAND_OUT_OF_MEMORY;
  BatchState<T> s;
  s.entries = &e;
  s.count = count;
  s.n = n;
  s.hb = hb;
  s.nrhs = nrhs;
  s.ldab = ldab;
  s.ldb = ldb;
  s.ab = ab;
  s.stride_ab = stride_ab;
  s.b = b;
  s.stride_b = stride_b;
  s.statuses = statuses;
  s.work = work.data();
  s.work_per_thread = slice;
  auto launch = [&](std::int32_t& w) { launch_worker(w, &batch_worker<T>, s); };
  run_team(s.team, team, launch, [&] { batch_worker(s); });
  return first_failure(statuses, count);
}

}  // namespace pband::api
