// The expert driver written once over the element type, as LAPACK's
// ?pbsvx with the stored cyclic-reduction factor: optional equilibration,
// the factor, the condition estimate, the solve, refinement and its error
// bounds. Private: included only through expert_members.hpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "api/c_api.hpp"
#include "api/c_api_accuracy.hpp"
#include "api/factor_api.hpp"
#include "api/scaling_api.hpp"
#include "kernels/element_traits.hpp"

namespace pband::api {

// T: ours; C: the C header's element type, which the condition estimate
// and the refinement take.
template <class T, class C>
struct ExpertEntries {
  using R = RealOf<T>;
  Entries<T> core;
  AccuracyEntries<T> tools;
  ScalingEntries<T> scaling;
  int (*rcond)(std::int32_t n, std::int32_t hb, const C* ab, std::int32_t ldab,
               const C* factor, std::int64_t lfactor, R anorm, R* rcond,
               std::int32_t threads);
  int (*refine)(std::int32_t n, std::int32_t hb, std::int32_t nrhs, const C* a,
                std::int32_t lda, const C* af, std::int32_t ldaf,
                const C* factor, std::int64_t lfactor, const C* b,
                std::int32_t ldb, C* x, std::int32_t ldx, R* ferr, R* berr,
                std::int32_t threads);
};

// One call's arguments, in the order of their numbers.
template <class T>
struct ExpertCall {
  char fact;
  std::int32_t n, hb, nrhs;
  T* ab;
  std::int32_t ldab;
  T* afb;
  std::int32_t ldafb;
  char* equed;
  RealOf<T>* s;
  T* factor;
  std::int64_t lfactor;
  T* b;
  std::int32_t ldb;
  T* x;
  std::int32_t ldx;
  RealOf<T>* rcond;
  RealOf<T>* ferr;
  RealOf<T>* berr;
  std::int32_t threads;
};

// Arguments 1 fact … 19 berr, in LAPACK's order; 0 when all are valid.
template <class T, class C>
int check_expert(const ExpertEntries<T, C>& e, const ExpertCall<T>& c) {
  const bool given = c.fact == 'F';
  if (c.fact != 'N' && c.fact != 'E' && !given) return -1;
  if (c.n < 0) return -2;
  if (c.hb < 0) return -3;
  if (c.nrhs < 0) return -4;
  if (c.ab == nullptr && c.n > 0) return -5;
  if (c.ldab < std::int64_t(c.hb) + 1) return -6;
  if (c.afb == nullptr && c.n > 0) return -7;
  if (c.ldafb < std::int64_t(c.hb) + 1) return -8;
  if (c.equed == nullptr) return -9;
  if (given && *c.equed != 'N' && *c.equed != 'Y') return -9;
  const bool scaled = c.fact == 'E' || (given && *c.equed == 'Y');
  if (scaled && c.s == nullptr && c.n > 0) return -10;
  if (given && *c.equed == 'Y')
    for (std::int64_t i = 0; i < c.n; ++i)
      if (!(c.s[i] > 0)) return -10;
  const std::int64_t need = factor_layout<T>(c.n, c.hb, c.ldafb).total();
  if (c.factor == nullptr && need > 0) return -11;
  if (c.lfactor < need) return -12;
  if (given && c.n > 0) {
    // The factor must be one of this system: asked of a solve with no
    // right-hand side, which reads nothing else.
    const int bad = solve_factored(e.core, c.n, c.hb, 0, c.afb, c.ldafb,
                                   c.factor, c.lfactor, c.b, c.ldb, 1);
    if (bad == -6) return -11;
  }
  int bad = check_block(c.n, c.nrhs, c.b, c.ldb, 13);
  if (bad == 0) bad = check_block(c.n, c.nrhs, c.x, c.ldx, 15);
  if (bad != 0) return bad;
  if (c.rcond == nullptr) return -17;
  if (c.ferr == nullptr && c.nrhs > 0) return -18;
  if (c.berr == nullptr && c.nrhs > 0) return -19;
  return 0;
}

// ?pbsvx's scond of the caller's factors: their smallest over their
// largest, each kept within the safe range.
template <class R>
R given_scond(const R* s, std::int64_t n) {
  const R small = std::numeric_limits<R>::min();
  R lo = s[0], hi = s[0];
  for (std::int64_t i = 1; i < n; ++i) {
    lo = std::min(lo, s[i]);
    hi = std::max(hi, s[i]);
  }
  return std::max(lo, small) / std::min(hi, R(1) / small);
}

// Rows of n × nrhs scaled by s.
template <class T>
void scale_rows(T* v, std::int64_t ld, std::int64_t n, std::int64_t nrhs,
                const RealOf<T>* s) {
  for (std::int64_t q = 0; q < nrhs; ++q)
    for (std::int64_t i = 0; i < n; ++i) {
      T& a = v[q * ld + i];
      if constexpr (ElementTraits<T>::is_complex)
        a = T(s[i] * a.real(), s[i] * a.imag());
      else
        a = s[i] * a;
    }
}

template <class T, class C>
int solve_expert(const ExpertEntries<T, C>& e, const ExpertCall<T>& c) {
  using R = RealOf<T>;
  const int bad = check_expert(e, c);
  if (bad != 0) return bad;
  if (c.fact != 'F') *c.equed = 'N';
  if (c.n == 0) {
    *c.rcond = 1;
    std::fill_n(c.ferr, c.nrhs, R(0));
    std::fill_n(c.berr, c.nrhs, R(0));
    return 0;
  }
  bool scaled = c.fact == 'F' && *c.equed == 'Y';
  R scond = scaled ? given_scond(c.s, c.n) : R(1);
  if (c.fact == 'E') {
    R amax = 0;
    // A diagonal that is not positive leaves A unscaled: the factor
    // reports it.
    if (scale_factors(e.scaling, c.n, c.hb, c.ab, c.ldab, c.s, &scond, &amax) ==
        0)
      equilibrate(e.scaling, c.n, c.hb, c.ab, c.ldab, c.s, scond, amax,
                  c.equed);
    scaled = *c.equed == 'Y';
  }
  if (scaled) scale_rows(c.b, c.ldb, c.n, c.nrhs, c.s);
  const auto kd = effective_hb(c.n, c.hb);
  if (c.fact != 'F') {
    copy_band(c.ab, c.ldab, c.afb, c.ldafb, c.n, kd, false);
    const int status = factor(e.core, c.n, c.hb, c.afb, c.ldafb, c.factor,
                              c.lfactor, c.threads);
    if (status != 0) {
      if (status > 0) *c.rcond = 0;
      return status;
    }
  }
  R anorm = 0;
  norm1(e.tools, c.n, c.hb, c.ab, c.ldab, &anorm, c.threads);
  const auto* cf = reinterpret_cast<const C*>(c.factor);
  const auto* caf = reinterpret_cast<const C*>(c.afb);
  int status = e.rcond(c.n, c.hb, caf, c.ldafb, cf, c.lfactor, anorm, c.rcond,
                       c.threads);
  if (status != 0) return status;
  copy_columns<T>(c.b, c.ldb, c.x, c.ldx, c.n, c.nrhs);
  status = solve_factored(e.core, c.n, c.hb, c.nrhs, c.afb, c.ldafb, c.factor,
                          c.lfactor, c.x, c.ldx, c.threads);
  if (status != 0) return status;
  status =
      e.refine(c.n, c.hb, c.nrhs, reinterpret_cast<const C*>(c.ab), c.ldab, caf,
               c.ldafb, cf, c.lfactor, reinterpret_cast<const C*>(c.b), c.ldb,
               reinterpret_cast<C*>(c.x), c.ldx, c.ferr, c.berr, c.threads);
  if (status != 0) return status;
  if (scaled) {
    scale_rows(c.x, c.ldx, c.n, c.nrhs, c.s);
    for (std::int64_t q = 0; q < c.nrhs; ++q) c.ferr[q] /= scond;
  }
  // LAPACK's eps: the unit roundoff.
  const R eps = std::numeric_limits<R>::epsilon() / 2;
  return *c.rcond < eps ? c.n + 1 : 0;
}

}  // namespace pband::api
