// The mixed precision solve written once over a pair of element types:
// factor and solve in the lower precision, refine in the higher one, and
// fall back to the higher precision's own solve when that fails.
// Private: included only through mixed_members.hpp.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "api/c_api.hpp"
#include "api/c_api_accuracy.hpp"
#include "api/factor_api.hpp"
#include "kernels/element_traits.hpp"

namespace pband::api {

// H: the type the caller works in; L: the one that factors.
template <class H, class L>
struct MixedEntries {
  Entries<H> high;
  Entries<L> low;
  AccuracyEntries<H> tools;
};

// iter values that say why the lower precision was given up.
inline constexpr std::int32_t kMixedOverflow = -2;
inline constexpr std::int32_t kMixedFactorFailed = -3;
inline constexpr std::int32_t kMixedItermax = 30;
// Converts n rows of nrhs columns to the lower type; false when a part
// lies beyond the lower type's range (NaN passes, as in LAPACK's ?lag2s).
template <class H, class L>
bool narrow(const H* from, std::int64_t ld, L* to, std::int64_t n,
            std::int64_t nrhs) {
  using R = RealOf<L>;
  using HR = RealOf<H>;
  constexpr HR most = std::numeric_limits<R>::max();
  bool fits = true;
  for (std::int64_t q = 0; q < nrhs; ++q)
    for (std::int64_t i = 0; i < n; ++i) {
      const H v = from[q * ld + i];
      if constexpr (ElementTraits<H>::is_complex) {
        fits = fits && !(v.real() < -most || v.real() > most ||
                         v.imag() < -most || v.imag() > most);
        to[q * n + i] = L(R(v.real()), R(v.imag()));
      } else {
        fits = fits && !(v < -most || v > most);
        to[q * n + i] = L(v);
      }
    }
  return fits;
}

// The band rows inside the matrix in the lower type, stride hb + 1.
template <class H, class L>
bool narrow_band(const H* ab, std::int64_t ldab, L* to, std::int64_t n,
                 std::int64_t hb) {
  bool fits = true;
  for (std::int64_t j = 0; j < n; ++j) {
    const std::int64_t rows = std::min(hb, n - 1 - j) + 1;
    fits = narrow(ab + j * ldab, rows, to + j * (hb + 1), rows, 1) && fits;
    std::fill(to + j * (hb + 1) + rows, to + (j + 1) * (hb + 1), L(0));
  }
  return fits;
}

// |v(i)| of the first i whose |re| + |im| is largest, as LAPACK's
// i?amax then abs give it; a NaN anywhere gives a NaN, so that a solve
// gone wrong never counts as converged.
template <class H>
RealOf<H> largest(const H* v, std::int64_t n) {
  using R = RealOf<H>;
  R best = -1, at = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    R size;
    if constexpr (ElementTraits<H>::is_complex)
      size = std::fabs(v[i].real()) + std::fabs(v[i].imag());
    else
      size = std::fabs(v[i]);
    if (std::isnan(size)) return size;
    if (size > best) {
      best = size;
      at =
          ElementTraits<H>::is_complex ? ElementTraits<H>::modulus(v[i]) : size;
    }
  }
  return at;
}

// True when every column's residual is within the stopping bound.
template <class H>
bool converged(const H* x, std::int64_t ldx, const H* r, std::int64_t n,
               std::int64_t nrhs, RealOf<H> bound) {
  for (std::int64_t q = 0; q < nrhs; ++q)
    if (!(largest(r + q * n, n) <= largest(x + q * ldx, n) * bound))
      return false;
  return true;
}

// The work in the lower precision: 0 with *iter the steps taken, 1 with
// *iter the reason to fall back, or PBAND_OUT_OF_MEMORY (x untouched unless
// the memory ran out after the first solve, which reserved all it needs).
template <class H, class L>
int refine_mixed(const MixedEntries<H, L>& e, std::int32_t n, std::int32_t hb,
                 std::int32_t nrhs, const H* ab, std::int32_t ldab, const H* b,
                 std::int32_t ldb, H* x, std::int32_t ldx, std::int32_t* iter,
                 std::int32_t threads) {
  const auto kd = static_cast<std::int32_t>(effective_hb(n, hb));
  const std::int32_t ld = kd + 1;
  // The stored factor's method rule picks natural order where cyclic
  // reduction's spikes cost more than its parallelism gains.
  const std::int64_t lfactor = factor_workspace<L>(n, kd, ld);
  const std::int64_t cells = std::int64_t(n) * nrhs;
  Workspace<L> band(std::int64_t(n) * ld), fac(lfactor), low(cells);
  Workspace<H> r(cells);
  if (!band.ok() || !fac.ok() || !low.ok() || !r.ok())
    return PBAND_OUT_OF_MEMORY;
  RealOf<H> anorm = 0;
  norm1(e.tools, n, hb, ab, ldab, &anorm, threads);
  // LAPACK's eps: the unit roundoff, half the spacing at 1.
  const RealOf<H> eps = std::numeric_limits<RealOf<H>>::epsilon() / 2;
  const RealOf<H> bound = anorm * eps * std::sqrt(RealOf<H>(n));

  *iter = kMixedOverflow;
  if (!narrow(b, ldb, low.data(), n, nrhs)) return 1;
  if (!narrow_band(ab, ldab, band.data(), n, kd)) return 1;
  const int status =
      factor(e.low, n, kd, band.data(), ld, fac.data(), lfactor, threads);
  if (status == PBAND_OUT_OF_MEMORY) return status;
  *iter = kMixedFactorFailed;
  if (status != 0) return 1;
  for (std::int32_t step = 0; step <= kMixedItermax; ++step) {
    const int solved = solve_factored(e.low, n, kd, nrhs, band.data(), ld,
                                      fac.data(), lfactor, low.data(), n,
                                      threads);
    if (solved != 0) return solved;
    // The first solve gives x; later ones its correction.
    for (std::int64_t q = 0; q < nrhs; ++q)
      for (std::int64_t i = 0; i < n; ++i) {
        const L d = low.data()[q * n + i];
        H& xi = x[q * ldx + i];
        if constexpr (ElementTraits<H>::is_complex)
          xi = step == 0 ? H(d.real(), d.imag())
                         : H(xi.real() + d.real(), xi.imag() + d.imag());
        else
          xi = step == 0 ? H(d) : xi + H(d);
      }
    residual(e.tools, n, hb, nrhs, ab, ldab, x, ldx, b, ldb, r.data(), n,
             threads);
    *iter = step;
    if (converged(x, ldx, r.data(), n, nrhs, bound)) return 0;
    *iter = kMixedOverflow;
    if (step == kMixedItermax) break;
    if (!narrow(r.data(), n, low.data(), n, nrhs)) return 1;
  }
  *iter = -kMixedItermax - 1;
  return 1;
}

// Arguments 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 b, 7 ldb, 8 x, 9 ldx,
// 10 iter, 11 threads.
template <class H, class L>
int solve_mixed(const MixedEntries<H, L>& e, std::int32_t n, std::int32_t hb,
                std::int32_t nrhs, const H* ab, std::int32_t ldab, const H* b,
                std::int32_t ldb, H* x, std::int32_t ldx, std::int32_t* iter,
                std::int32_t threads) {
  int bad = check_system(n, hb, nrhs, ab, ldab, b, ldb, true);
  if (bad == 0) bad = check_block(n, nrhs, x, ldx, 8);
  if (bad == 0 && iter == nullptr) bad = -10;
  if (bad != 0) return bad;
  if (n == 0) {
    *iter = 0;
    return 0;
  }
  std::int32_t steps = 0;
  const int status =
      refine_mixed(e, n, hb, nrhs, ab, ldab, b, ldb, x, ldx, &steps, threads);
  if (status == PBAND_OUT_OF_MEMORY) return status;
  *iter = steps;
  if (status != 1) return status;
  // The higher precision's solve on a copy, the caller's band unchanged.
  const std::int64_t kd = effective_hb(n, hb);
  Workspace<H> copy(std::int64_t(n) * (kd + 1));
  if (!copy.ok()) return PBAND_OUT_OF_MEMORY;
  copy_band(ab, ldab, copy.data(), kd + 1, n, kd, true);
  copy_columns(b, ldb, x, ldx, n, nrhs);
  return solve(e.high, n, static_cast<std::int32_t>(kd), nrhs, copy.data(),
               static_cast<std::int32_t>(kd + 1), x, ldx, threads);
}

}  // namespace pband::api
