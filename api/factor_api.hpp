// The C interface's stored cyclic-reduction factor, written once over the
// element type: the layout of the caller's `factor` array, the factor and
// the solves with it. Private: included only by the per-type sources.
#pragma once

#include <cstdint>
#include <cstring>

#include "api/c_api.hpp"

namespace pband::api {

// The factor array: a header that names the system it belongs to, the
// method's own part (cyclic reduction's couplings, 2·n·kd elements; the
// two-way factor's reversed bottom half and seam; nothing for one way),
// then, when the caller's band has
// another leading dimension than kd + 1, the factored band itself, so
// that every solve reads it as the kernels want it.
struct FactorHeader {
  std::int64_t magic;
  std::int64_t n;
  std::int64_t kd;
  std::int64_t block_size;
  std::int64_t band_copy;  // 1: the band follows the couplings
  std::int64_t element_bytes;
  std::int64_t method;  // SolveMethod
};
inline constexpr std::int64_t kFactorMagic = 0x70626E6463726631;  // pbndcrf1
inline constexpr std::int64_t kFactorHeaderBytes = 64;
static_assert(sizeof(FactorHeader) <= kFactorHeaderBytes);

template <class T>
struct FactorLayout {
  std::int64_t kd = 0;
  std::int64_t header = 0;  // elements of T
  std::int64_t couplings = 0;
  std::int64_t band = 0;
  std::int64_t total() const { return sum_elements({header, couplings, band}); }
};

template <class T>
FactorLayout<T> factor_layout(std::int32_t n, std::int32_t hb,
                              std::int32_t ldab) {
  FactorLayout<T> l;
  if (n == 0) return l;
  l.kd = effective_hb(n, hb);
  l.header = kFactorHeaderBytes / std::int64_t(sizeof(T));
  l.couplings = method_workspace(solve_method<T>(n, l.kd), n, l.kd, 0);
  if (ldab != l.kd + 1) l.band = std::int64_t(n) * (l.kd + 1);
  return l;
}

// Arguments 1 n, 2 hb, 3 ldab; elements of T, or a negative status.
template <class T>
std::int64_t factor_workspace(std::int32_t n, std::int32_t hb,
                              std::int32_t ldab) {
  if (n < 0) return -1;
  if (hb < 0) return -2;
  if (ldab < std::int64_t(hb) + 1) return -3;
  const std::int64_t total = factor_layout<T>(n, hb, ldab).total();
  return total > kMaxElements<T> ? PBAND_OUT_OF_MEMORY : total;
}

// Arguments 1 n, 2 hb, 3 ab, 4 ldab, 5 factor, 6 lfactor, 7 threads.
template <class T>
int factor(const Entries<T>& e, std::int32_t n, std::int32_t hb, T* ab,
           std::int32_t ldab, T* factor, std::int64_t lfactor,
           std::int32_t threads) {
  if (n < 0) return -1;
  if (hb < 0) return -2;
  if (ab == nullptr && n > 0) return -3;
  if (ldab < std::int64_t(hb) + 1) return -4;
  const FactorLayout<T> l = factor_layout<T>(n, hb, ldab);
  if (factor == nullptr && l.total() > 0) return -5;
  if (lfactor < l.total()) return -6;
  if (n == 0) return 0;
  if (!reserve_solver_scratch()) return PBAND_OUT_OF_MEMORY;
  T* w = factor + l.header;
  T* a = ab;
  if (l.band > 0) {
    a = w + l.couplings;
    copy_band(ab, ldab, a, l.kd + 1, n, l.kd, true);
  }
  std::int32_t block_size = 0, status = 0;
  const SolveMethod method = solve_method<T>(n, l.kd);
  switch (method) {
    case SolveMethod::one_way:
      block_size = n;
      status = detail::one_way_run<T>(a, n, l.kd, nullptr, 0, true, false);
      break;
    case SolveMethod::two_way:
      block_size = n;
      status = detail::twisted_run<T>(a, n, l.kd, nullptr, 0, w, nullptr,
                                      true, false,
                                      solve_team(threads, n, l.kd));
      break;
    case SolveMethod::cyclic_reduction:
      e.factor_cr(a, n, static_cast<std::int32_t>(l.kd), w,
                  solve_team(threads, n, l.kd), block_size, status);
      break;
  }
  if (l.band > 0) copy_band(a, l.kd + 1, ab, ldab, n, l.kd, false);
  // A failed factor is no factor: its header says so.
  const FactorHeader h{status == 0 ? kFactorMagic : 0,
                       n,
                       l.kd,
                       block_size,
                       l.band > 0,
                       sizeof(T),
                       static_cast<std::int64_t>(method)};
  std::memcpy(static_cast<void*>(factor), &h, sizeof h);
  return status;
}

// Arguments 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 factor, 7 lfactor, 8 b,
// 9 ldb, 10 threads.
template <class T>
int solve_factored(const Entries<T>& e, std::int32_t n, std::int32_t hb,
                   std::int32_t nrhs, const T* ab, std::int32_t ldab,
                   const T* factor, std::int64_t lfactor, T* b,
                   std::int32_t ldb, std::int32_t threads) {
  if (n < 0) return -1;
  if (hb < 0) return -2;
  if (nrhs < 0) return -3;
  if (ab == nullptr && n > 0) return -4;
  if (ldab < std::int64_t(hb) + 1) return -5;
  const FactorLayout<T> l = factor_layout<T>(n, hb, ldab);
  if (n > 0) {
    // The factor of this system, as pband_factor_* left it.
    FactorHeader h{};
    if (factor != nullptr) std::memcpy(&h, factor, sizeof h);
    if (factor == nullptr || h.magic != kFactorMagic || h.n != n ||
        h.kd != l.kd || h.band_copy != (l.band > 0) ||
        h.element_bytes != std::int64_t(sizeof(T)) || h.block_size < 1 ||
        h.method != static_cast<std::int64_t>(solve_method<T>(n, l.kd)))
      return -6;
  }
  if (lfactor < l.total()) return -7;
  if (b == nullptr && n > 0 && nrhs > 0) return -8;
  if (ldb < std::max<std::int32_t>(1, n)) return -9;
  if (n == 0 || nrhs == 0) return 0;
  FactorHeader h{};
  std::memcpy(&h, factor, sizeof h);
  // Columns n apart, as the solver wants them.
  const bool copy = nrhs > 1 && ldb != n;
  Workspace<T> columns(copy ? std::int64_t(n) * nrhs : 0);
  if (!columns.ok()) return PBAND_OUT_OF_MEMORY;
  if (!reserve_solver_scratch()) return PBAND_OUT_OF_MEMORY;
  const T* w = factor + l.header;
  const T* a = l.band > 0 ? w + l.couplings : ab;
  T* x = b;
  if (copy) {
    x = columns.data();
    copy_columns<T>(b, ldb, x, n, n, nrhs);
  }
  std::int32_t status = 0;
  // Solving only reads the factor.
  T* af = const_cast<T*>(a);
  switch (static_cast<SolveMethod>(h.method)) {
    case SolveMethod::one_way:
      detail::one_way_run<T>(af, n, l.kd, x, nrhs, false, true);
      break;
    case SolveMethod::two_way: {
      Workspace<T> reversed(detail::twisted_rhs_elements(n, nrhs));
      if (!reversed.ok()) return PBAND_OUT_OF_MEMORY;
      detail::twisted_run<T>(af, n, l.kd, x, nrhs, const_cast<T*>(w),
                             reversed.data(), false, true,
                             solve_team(threads, n, l.kd));
      break;
    }
    case SolveMethod::cyclic_reduction:
      e.solve_factored(a, n, static_cast<std::int32_t>(l.kd), x, nrhs, w,
                       static_cast<std::int32_t>(h.block_size),
                       solve_team(threads, n, l.kd), status);
      break;
  }
  if (copy) copy_columns<T>(x, n, b, ldb, n, nrhs);
  return status;
}

}  // namespace pband::api
