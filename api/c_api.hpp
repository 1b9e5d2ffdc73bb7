// The C interface written once over the element type: argument checks,
// the team a call asks for, the workspace layout and the copies that give
// the kernels their column stride of hb + 1. Private: included only by the
// per-type sources (pband_s.cpp … pband_z.cpp).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>

#include "api/workspace.hpp"
#include "bandlib/band_tuning.hpp"
#include "bandlib/band_twisted.hpp"
#include "kernels/element_traits.hpp"
#include "pband/pband.h"
#include "runtime/team_size.hpp"
#include "solver/band_solver.hpp"

namespace pband::api {

// The library's entry points of one element type.
template <class T>
struct Entries {
  void (*solve)(T* A, std::int32_t n, std::int32_t hb, T* B, std::int32_t nrhs,
                T* W, std::int32_t team_size, std::int32_t& status);
  void (*factor)(T* A, std::int32_t n, std::int32_t hb,
                 std::int32_t block_width, std::int32_t team_size,
                 std::int32_t& status);
  void (*substitute)(const T* A, std::int32_t n, std::int32_t hb, T* B,
                     std::int32_t block_width, std::int32_t team_size,
                     std::int32_t& status);
  // The stored cyclic-reduction factor and the solves with it.
  void (*factor_cr)(T* A, std::int32_t n, std::int32_t hb, T* W,
                    std::int32_t team_size, std::int32_t& block_size,
                    std::int32_t& status);
  void (*solve_factored)(const T* A, std::int32_t n, std::int32_t hb, T* B,
                         std::int32_t nrhs, const T* W, std::int32_t block_size,
                         std::int32_t team_size, std::int32_t& status);
};

// The team a call asks for: 0 or less is every processor the process may
// run on; at most MAX_TEAM_SIZE.
inline std::int32_t team_for(std::int32_t threads) {
  if (threads <= 0) count_processors(threads);
  return std::clamp<std::int32_t>(threads, 1, MAX_TEAM_SIZE);
}

// Rows beyond n lie outside the matrix: a wider band adds nothing.
inline std::int64_t effective_hb(std::int32_t n, std::int32_t hb) {
  return std::min<std::int64_t>(hb, std::max<std::int32_t>(n, 1) - 1);
}

// Band elements a thread of a cyclic-reduction solve needs before it pays
// for waking: below 2^16 elements a second thread only waits at the
// barriers (measured at hb 2, 8, 32; docs/api.md). The library's cut does
// not depend on the team, so neither do the bits.
inline constexpr std::int64_t kElementsPerThread = std::int64_t(1) << 15;

// The team a solve of order n asks for: `threads` as team_for reads it,
// at most one thread per kElementsPerThread band elements, at least one.
inline std::int32_t solve_team(std::int32_t threads, std::int32_t n,
                               std::int64_t hb) {
  const std::int64_t elements = std::int64_t(n) * (hb + 1);
  const std::int64_t fed =
      std::max<std::int64_t>(1, elements / kElementsPerThread);
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(team_for(threads), fed));
}

// Checks shared by the solve and the factor-solve: arguments 1 n, 2 hb,
// 3 nrhs, 4 ab, 5 ldab, 6 b, 7 ldb, as LAPACK orders its checks.
inline int check_system(std::int32_t n, std::int32_t hb, std::int32_t nrhs,
                        const void* ab, std::int32_t ldab, const void* b,
                        std::int32_t ldb, bool has_arrays) {
  if (n < 0) return -1;
  if (hb < 0) return -2;
  if (nrhs < 0) return -3;
  if (has_arrays && ab == nullptr && n > 0) return -4;
  if (ldab < std::int64_t(hb) + 1) return -5;
  if (has_arrays && b == nullptr && n > 0 && nrhs > 0) return -6;
  if (ldb < std::max<std::int32_t>(1, n)) return -7;
  return 0;
}

// The sum of element counts, each at most 2^63 - 1 on its own; the most
// an int64_t holds when the sum is larger (no size fits it anyway).
inline std::int64_t sum_elements(std::initializer_list<std::int64_t> parts) {
  unsigned __int128 sum = 0;
  for (std::int64_t p : parts) sum += static_cast<unsigned __int128>(p);
  const auto most = std::numeric_limits<std::int64_t>::max();
  return sum > static_cast<unsigned __int128>(most)
             ? most
             : static_cast<std::int64_t>(sum);
}

// How the library solves, from n, hb and the element type alone, so the
// bits never depend on the team (the measurements are in docs/api.md):
// - a small system (fewer than one_way_elements band elements) in natural
//   order on the calling thread: no spikes to form, no team to start;
// - from hb = kTwoWayHb on, with n large enough for the seam, in two-way
//   natural order, less than half of cyclic reduction's arithmetic at
//   those widths and still two threads;
// - otherwise by cyclic reduction.
enum class SolveMethod : std::int64_t {
  cyclic_reduction = 0,
  two_way = 1,
  one_way = 2
};

template <class T>
inline constexpr std::int64_t kTwoWayHb = 12;  // complex symmetric
// Float keeps cyclic reduction up to hb 16, whose compiled forms are
// ahead at n 10^6 (0.60 of spbsv against 0.68) and even at 10^5.
template <>
inline constexpr std::int64_t kTwoWayHb<float> = 17;
// Double from hb 9, where the diagonal blocks' masked form starts and
// cyclic reduction reads hb at run time (0.56–1.04 of dpbsv against
// 0.93–1.55 at hb 9–16, n 10^4–10^6).
template <>
inline constexpr std::int64_t kTwoWayHb<double> = 9;
template <>
inline constexpr std::int64_t kTwoWayHb<Hermitian<float>> = 8;
template <>
inline constexpr std::int64_t kTwoWayHb<Hermitian<double>> = 8;

// Band elements below which natural order on one thread beats cyclic
// reduction on two: 2^15, and 2^16 from hb 8 on, where a column's work
// hides its chain of root and division (float and double, 2 cores:
// 0.37–0.98 of cyclic reduction's time below these bounds).
inline std::int64_t one_way_elements(std::int64_t hb) {
  return hb >= 8 ? std::int64_t(1) << 16 : std::int64_t(1) << 15;
}

template <class T>
SolveMethod solve_method(std::int64_t n, std::int64_t hb) {
  if (n * (hb + 1) < one_way_elements(hb)) return SolveMethod::one_way;
  if (hb >= kTwoWayHb<T> && n >= 4 * (hb + 1)) return SolveMethod::two_way;
  return SolveMethod::cyclic_reduction;
}

// Elements a method needs beside the band and the right-hand sides.
inline std::int64_t method_workspace(SolveMethod method, std::int64_t n,
                                     std::int64_t hb, std::int64_t nrhs) {
  switch (method) {
    case SolveMethod::one_way:
      return 0;
    case SolveMethod::two_way:
      return sum_elements({detail::twisted_factor_elements(n, hb),
                           detail::twisted_rhs_elements(n, nrhs)});
    case SolveMethod::cyclic_reduction:
      break;
  }
  return 2 * n * hb;
}

// Where a solve keeps its pieces in the workspace, in elements: the band
// copy (when ldab is not hb + 1), the right-hand side copy (when several
// columns are not n apart), then the method's (method_workspace).
struct SolveLayout {
  std::int64_t hb = 0;
  std::int64_t band = 0;
  std::int64_t rhs = 0;
  std::int64_t solver = 0;
  SolveMethod method = SolveMethod::cyclic_reduction;
  std::int64_t total() const { return sum_elements({band, rhs, solver}); }
};

template <class T>
SolveLayout solve_layout(std::int32_t n, std::int32_t hb, std::int32_t nrhs,
                         std::int32_t ldab, std::int32_t ldb) {
  SolveLayout l;
  if (n == 0) return l;
  l.hb = effective_hb(n, hb);
  if (ldab != l.hb + 1) l.band = std::int64_t(n) * (l.hb + 1);
  if (nrhs > 1 && ldb != n) l.rhs = std::int64_t(n) * nrhs;
  l.method = solve_method<T>(n, l.hb);
  l.solver = method_workspace(l.method, n, l.hb, nrhs);
  return l;
}

// Elements of T that fit the address space.
template <class T>
constexpr std::int64_t kMaxElements =
    std::numeric_limits<std::ptrdiff_t>::max() / std::int64_t(sizeof(T));

template <class T>
std::int64_t solve_workspace(std::int32_t n, std::int32_t hb, std::int32_t nrhs,
                             std::int32_t ldab, std::int32_t ldb) {
  const int bad = check_system(n, hb, nrhs, nullptr, ldab, nullptr, ldb, false);
  if (bad != 0) return bad;
  const std::int64_t total = solve_layout<T>(n, hb, nrhs, ldab, ldb).total();
  return total > kMaxElements<T> ? PBAND_OUT_OF_MEMORY : total;
}

// Copies the band rows 0 … hb that lie inside the matrix (row < n) from
// column stride `from_ld` to `to_ld`; with `clear`, the target's other
// rows of each column up to to_ld become zero.
template <class T>
void copy_band(const T* from, std::int64_t from_ld, T* to, std::int64_t to_ld,
               std::int64_t n, std::int64_t hb, bool clear) {
  for (std::int64_t j = 0; j < n; ++j) {
    const std::int64_t rows = std::min(hb, n - 1 - j) + 1;
    std::copy_n(from + j * from_ld, rows, to + j * to_ld);
    if (clear) std::fill(to + j * to_ld + rows, to + (j + 1) * to_ld, T(0));
  }
}

// Copies n rows of nrhs columns between leading dimensions.
template <class T>
void copy_columns(const T* from, std::int64_t from_ld, T* to,
                  std::int64_t to_ld, std::int64_t n, std::int64_t nrhs) {
  for (std::int64_t q = 0; q < nrhs; ++q)
    std::copy_n(from + q * from_ld, n, to + q * to_ld);
}

// The solve in a workspace already checked to be large enough.
template <class T>
int solve_in(const Entries<T>& e, std::int32_t n, std::int32_t hb,
             std::int32_t nrhs, T* ab, std::int32_t ldab, T* b,
             std::int32_t ldb, std::int32_t threads, T* work) {
  // The solve keeps its larger arrays off the caller's stack: without
  // that memory, refuse before anything is touched.
  if (!reserve_solver_scratch()) return PBAND_OUT_OF_MEMORY;
  const SolveLayout l = solve_layout<T>(n, hb, nrhs, ldab, ldb);
  T* a = ab;
  T* x = b;
  T* w = work;
  if (l.band > 0) {
    a = w;
    copy_band(ab, ldab, a, l.hb + 1, n, l.hb, true);
    w += l.band;
  }
  if (l.rhs > 0) {
    x = w;
    copy_columns(b, ldb, x, n, n, nrhs);
    w += l.rhs;
  }
  std::int32_t status = 0;
  switch (l.method) {
    case SolveMethod::one_way:
      status = detail::one_way_run(a, n, l.hb, x, nrhs, true, true);
      break;
    case SolveMethod::two_way:
      status = detail::twisted_run(
          a, n, l.hb, x, nrhs, w, w + detail::twisted_factor_elements(n, l.hb),
          true, true, solve_team(threads, n, l.hb));
      break;
    case SolveMethod::cyclic_reduction:
      e.solve(a, n, static_cast<std::int32_t>(l.hb), x, nrhs, w,
              solve_team(threads, n, l.hb), status);
      break;
  }
  if (l.rhs > 0 && status == 0) copy_columns(x, n, b, ldb, n, nrhs);
  return status;
}

template <class T>
int solve_work(const Entries<T>& e, std::int32_t n, std::int32_t hb,
               std::int32_t nrhs, T* ab, std::int32_t ldab, T* b,
               std::int32_t ldb, std::int32_t threads, T* work,
               std::int64_t lwork) {
  const int bad = check_system(n, hb, nrhs, ab, ldab, b, ldb, true);
  if (bad != 0) return bad;
  const std::int64_t need = solve_layout<T>(n, hb, nrhs, ldab, ldb).total();
  if (work == nullptr && need > 0) return -9;
  if (lwork < need) return -10;
  if (n == 0) return 0;
  return solve_in(e, n, hb, nrhs, ab, ldab, b, ldb, threads, work);
}

template <class T>
int solve(const Entries<T>& e, std::int32_t n, std::int32_t hb,
          std::int32_t nrhs, T* ab, std::int32_t ldab, T* b, std::int32_t ldb,
          std::int32_t threads) {
  const int bad = check_system(n, hb, nrhs, ab, ldab, b, ldb, true);
  if (bad != 0) return bad;
  if (n == 0) return 0;
  const std::int64_t need = solve_layout<T>(n, hb, nrhs, ldab, ldb).total();
  Workspace<T> work(need);
  if (!work.ok()) return PBAND_OUT_OF_MEMORY;
  return solve_in(e, n, hb, nrhs, ab, ldab, b, ldb, threads, work.data());
}

// After a failed factorization every column before the failed one holds
// its root (positive; complex: non-zero; Hermitian: real positive) and the
// failed one keeps the pivot that failed the test, so the first pivot that
// would fail names it.
template <class T>
std::int32_t failed_column(const T* a, std::int64_t n, std::int64_t ld) {
  for (std::int64_t j = 0; j < n; ++j)
    if (ElementTraits<T>::pivot(a[j * ld]) <= 0)
      return static_cast<std::int32_t>(j + 1);
  return 1;
}

// Arguments 1 n, 2 hb, 3 ab, 4 ldab, 5 threads.
template <class T>
int cholesky(const Entries<T>& e, std::int32_t n, std::int32_t hb, T* ab,
             std::int32_t ldab, std::int32_t threads) {
  if (n < 0 || n == std::numeric_limits<std::int32_t>::max()) return -1;
  if (hb < 0) return -2;
  if (ab == nullptr && n > 0) return -3;
  if (ldab < std::int64_t(hb) + 1) return -4;
  if (n == 0) return 0;
  const std::int64_t kd = effective_hb(n, hb);
  const std::int64_t ld = kd + 1;
  Workspace<T> copy(ldab != ld ? n * ld : 0);
  if (!copy.ok()) return PBAND_OUT_OF_MEMORY;
  T* a = ab;
  if (ldab != ld) {
    a = copy.data();
    copy_band(ab, ldab, a, ld, n, kd, true);
  }
  const std::int32_t nb = band_block_width(kd);
  std::int32_t status = 0;
  e.factor(a, n, static_cast<std::int32_t>(kd), nb,
           band_factor_threads(threads, kd, nb), status);
  if (status > 0) status = failed_column(a, n, ld);
  if (ldab != ld) copy_band(a, ld, ab, ldab, n, kd, false);
  return status;
}

// Arguments as for the solve.
template <class T>
int cholesky_solve(const Entries<T>& e, std::int32_t n, std::int32_t hb,
                   std::int32_t nrhs, const T* ab, std::int32_t ldab, T* b,
                   std::int32_t ldb, std::int32_t threads) {
  const int bad = check_system(n, hb, nrhs, ab, ldab, b, ldb, true);
  if (bad != 0) return bad;
  if (n == std::numeric_limits<std::int32_t>::max()) return -1;
  if (n == 0 || nrhs == 0) return 0;
  const std::int64_t kd = effective_hb(n, hb);
  const std::int64_t ld = kd + 1;
  Workspace<T> copy(ldab != ld ? n * ld : 0);
  if (!copy.ok()) return PBAND_OUT_OF_MEMORY;
  const T* a = ab;
  if (ldab != ld) {
    copy_band(ab, ldab, copy.data(), ld, n, kd, true);
    a = copy.data();
  }
  const std::int32_t nb = band_block_width(kd);
  const std::int32_t team = band_substitute_threads(threads, kd, nb);
  for (std::int64_t q = 0; q < nrhs; ++q) {
    std::int32_t status = 0;
    e.substitute(a, n, static_cast<std::int32_t>(kd), b + q * ldb, nb, team,
                 status);
  }
  return 0;
}

}  // namespace pband::api
