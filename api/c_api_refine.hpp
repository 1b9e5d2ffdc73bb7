// Iterative refinement with error bounds, written once over the element
// type, as LAPACK's ?pbrfs: every right-hand side at once, its residuals
// in one parallel call, its corrections in one parallel solve, and only
// the bookkeeping of each right-hand side on the calling thread.
// Private: included only through c_api_members.hpp.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "accuracy/abs1.hpp"
#include "accuracy/band_accuracy.hpp"
#include "accuracy/norm_estimate.hpp"
#include "api/c_api_accuracy.hpp"
#include "api/c_api_rcond.hpp"

namespace pband::api {

template <class T>
struct RefineEntries {
  void (*product)(const BandCall<T>& call, std::int32_t team);
  void (*abs_product)(const BandCall<T>& call, RealOf<T>* out, std::int64_t ldo,
                      std::int32_t team);
};

// One right-hand side's state, set afresh by every call.
template <class T>
struct RefineColumn {
  std::int32_t count;  // LAPACK's count: 1 + the corrections made
  RealOf<T> last;      // the backward error before the last correction
  bool estimating;     // the error estimate has not finished
  accuracy::EstimateAsk ask;
  accuracy::NormEstimate<T> estimate;
};

// The arrays of one call: n × nrhs each, columns n apart.
template <class T>
struct RefineWork {
  std::int64_t n = 0, nrhs = 0, kd = 0;
  T *xs, *bs, *rs;    // gathered x and b, residuals and corrections
  RealOf<T>* scale;   // |A|·|x| + |b|; later the estimates' signs
  RealOf<T>* weight;  // |r| + nz·eps·(|A|·|x| + |b|), per column
  RefineColumn<T>* col;
  std::int64_t* which;  // the columns in this round, in order
};

template <class T>
T* column(T* base, std::int64_t n, std::int64_t j) {
  return base + j * n;
}

// The residual and scale of the m columns in `which`, in one call each.
template <class T>
void residual_round(const RefineEntries<T>& t, const BandCall<T>& a,
                    const RefineWork<T>& w, const T* b, std::int64_t ldb,
                    const T* x, std::int64_t ldx, std::int64_t m,
                    std::int32_t team) {
  for (std::int64_t k = 0; k < m; ++k) {
    std::copy_n(x + w.which[k] * ldx, w.n, column(w.xs, w.n, k));
    std::copy_n(b + w.which[k] * ldb, w.n, column(w.bs, w.n, k));
  }
  BandCall<T> c = a;
  c.nrhs = m;
  c.x = w.xs;
  c.ldx = w.n;
  c.b = w.bs;
  c.ldb = w.n;
  c.out = w.rs;
  c.ldo = w.n;
  t.product(c, team);
  t.abs_product(c, w.scale, w.n, team);
}

// v·f for a real weight f, both parts scaled as LAPACK's real·complex.
template <class T>
T weighted(T v, RealOf<T> f) {
  if constexpr (ElementTraits<T>::is_complex)
    return T(f * v.real(), f * v.imag());
  else
    return f * v;
}

// ferr(j) = the estimate of ‖|A⁻¹|·f_j‖∞ over max |x_j|: Higham's
// estimator of ‖diag(f_j)·A⁻ᴴ‖₁ for every column at once, each round
// solving the columns that ask for a product in one parallel call.
template <class T>
int estimate_errors(const Entries<T>& e, const RefineWork<T>& w,
                    std::int32_t hb, const T* af, std::int32_t ldaf,
                    const T* factor, std::int64_t lfactor, const T* x,
                    std::int32_t ldx, RealOf<T>* ferr, std::int32_t threads) {
  using R = RealOf<T>;
  using accuracy::EstimateAsk;
  const std::int64_t n = w.n;
  std::fill_n(w.scale, n * w.nrhs, R(0));
  for (;;) {
    std::int64_t m = 0;
    for (std::int64_t j = 0; j < w.nrhs; ++j) {
      RefineColumn<T>& c = w.col[j];
      if (!c.estimating) continue;
      c.ask = accuracy::estimate_step(n, column(w.bs, n, j), column(w.xs, n, j),
                                      column(w.scale, n, j), c.estimate);
      if (c.ask == EstimateAsk::kDone)
        c.estimating = false;
      else
        w.which[m++] = j;
    }
    if (m == 0) break;
    for (std::int64_t k = 0; k < m; ++k) {
      const std::int64_t j = w.which[k];
      T* s = column(w.rs, n, k);
      std::copy_n(column(w.xs, n, j), n, s);
      const R* f = column(w.weight, n, j);
      if (w.col[j].ask == EstimateAsk::kTimesBH) {
        for (std::int64_t i = 0; i < n; ++i) s[i] = weighted(s[i], f[i]);
      } else {
        conjugate_columns(s, n, 1);
      }
    }
    const int status =
        solve_factored(e, std::int32_t(n), hb, std::int32_t(m), af, ldaf,
                       factor, lfactor, w.rs, std::int32_t(n), threads);
    if (status != 0) return status;
    for (std::int64_t k = 0; k < m; ++k) {
      const std::int64_t j = w.which[k];
      T* s = column(w.rs, n, k);
      if (w.col[j].ask == EstimateAsk::kTimesB) {
        conjugate_columns(s, n, 1);
        const R* f = column(w.weight, n, j);
        for (std::int64_t i = 0; i < n; ++i) s[i] = weighted(s[i], f[i]);
      }
      std::copy_n(s, n, column(w.xs, n, j));
    }
  }
  for (std::int64_t j = 0; j < w.nrhs; ++j) {
    R big = 0;
    for (std::int64_t i = 0; i < n; ++i)
      big = std::max(big, accuracy::abs1(x[j * ldx + i]));
    ferr[j] = w.col[j].estimate.est;
    if (big != 0) ferr[j] = ferr[j] / big;
  }
  return 0;
}

// Arguments 1 n, 2 hb, 3 nrhs, 4 a, 5 lda, 6 af, 7 ldaf, 8 factor,
// 9 lfactor, 10 b, 11 ldb, 12 x, 13 ldx, 14 ferr, 15 berr, 16 threads.
template <class T>
int refine(const Entries<T>& e, const RefineEntries<T>& t, std::int32_t n,
           std::int32_t hb, std::int32_t nrhs, const T* a, std::int32_t lda,
           const T* af, std::int32_t ldaf, const T* factor,
           std::int64_t lfactor, const T* b, std::int32_t ldb, T* x,
           std::int32_t ldx, RealOf<T>* ferr, RealOf<T>* berr,
           std::int32_t threads) {
  using R = RealOf<T>;
  int bad = check_band(n, hb, nrhs, a, lda);
  if (bad == 0) {
    bad = check_factor(e, n, hb, af, ldaf, factor, lfactor);
    if (bad != 0) bad -= 2;
  }
  if (bad == 0) bad = check_block(n, nrhs, b, ldb, 10);
  if (bad == 0) bad = check_block(n, nrhs, x, ldx, 12);
  if (bad == 0 && ferr == nullptr && nrhs > 0) bad = -14;
  if (bad == 0 && berr == nullptr && nrhs > 0) bad = -15;
  if (bad != 0) return bad;
  if (n == 0 || nrhs == 0) {
    std::fill_n(ferr, nrhs, R(0));
    std::fill_n(berr, nrhs, R(0));
    return 0;
  }
  const std::int64_t cells = std::int64_t(n) * nrhs;
  Workspace<T> values(3 * cells);
  Workspace<R> reals(2 * cells);
  Workspace<RefineColumn<T>> cols(nrhs);
  Workspace<std::int64_t> which(nrhs);
  if (!values.ok() || !reals.ok() || !cols.ok() || !which.ok() ||
      !reserve_solver_scratch())
    return PBAND_OUT_OF_MEMORY;
  RefineWork<T> w;
  w.n = n;
  w.nrhs = nrhs;
  w.kd = effective_hb(n, hb);
  w.xs = values.data();
  w.bs = w.xs + cells;
  w.rs = w.bs + cells;
  w.scale = reals.data();
  w.weight = w.scale + cells;
  w.col = cols.data();
  w.which = which.data();
  const std::int32_t team = team_for(threads);
  const BandCall<T> band = band_call(n, hb, nrhs, a, lda);

  // LAPACK's constants: eps is half the spacing at 1, as ?lamch('E').
  constexpr std::int32_t kMaxSteps = 5;
  const R eps = std::numeric_limits<R>::epsilon() / 2;
  const R nz = R(std::min<std::int64_t>(n + 1, 2 * w.kd + 2));
  const R safe1 = nz * std::numeric_limits<R>::min();
  const R safe2 = safe1 / eps;
  for (std::int64_t j = 0; j < nrhs; ++j) {
    w.col[j] = RefineColumn<T>{1, R(3), true, {}, {}};
    w.which[j] = j;
  }
  std::int64_t m = nrhs;
  while (m > 0) {
    residual_round(t, band, w, b, ldb, x, ldx, m, team);
    std::int64_t going = 0;
    for (std::int64_t k = 0; k < m; ++k) {
      const std::int64_t j = w.which[k];
      const T* r = column(w.rs, w.n, k);
      const R* s = column(w.scale, w.n, k);
      R worst = 0;
      for (std::int64_t i = 0; i < n; ++i)
        worst = std::max(worst, s[i] > safe2 ? accuracy::abs1(r[i]) / s[i]
                                             : (accuracy::abs1(r[i]) + safe1) /
                                                   (s[i] + safe1));
      berr[j] = worst;
      RefineColumn<T>& c = w.col[j];
      if (worst > eps && R(2) * worst <= c.last && c.count <= kMaxSteps) {
        c.last = worst;
        ++c.count;
        if (going != k) std::copy_n(r, n, column(w.rs, w.n, going));
        w.which[going++] = j;
        continue;
      }
      R* f = column(w.weight, w.n, j);
      for (std::int64_t i = 0; i < n; ++i)
        f[i] = s[i] > safe2 ? accuracy::abs1(r[i]) + nz * eps * s[i]
                            : accuracy::abs1(r[i]) + nz * eps * s[i] + safe1;
    }
    m = going;
    if (m == 0) break;
    const int status = solve_factored(e, n, hb, std::int32_t(m), af, ldaf,
                                      factor, lfactor, w.rs, n, threads);
    if (status != 0) return status;
    for (std::int64_t k = 0; k < m; ++k) {
      T* xj = x + w.which[k] * ldx;
      const T* d = column(w.rs, w.n, k);
      for (std::int64_t i = 0; i < n; ++i)
        xj[i] = ElementTraits<T>::add(xj[i], d[i]);
    }
  }
  return estimate_errors(e, w, hb, af, ldaf, factor, lfactor, x, ldx, ferr,
                         threads);
}

}  // namespace pband::api
