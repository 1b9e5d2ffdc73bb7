// The condition estimate of the C interface, written once over the
// element type: ‖A⁻¹‖₁ by Higham's estimator over parallel solves with a
// stored factor, as LAPACK's ?pbcon does with its triangular solves.
// Private: included only through c_api_members.hpp.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>

#include "accuracy/norm_estimate.hpp"
#include "api/factor_api.hpp"
#include "kernels/element_traits.hpp"

namespace pband::api {

// The stored-factor arguments ab, ldab, factor, lfactor checked as the
// solve checks them; 0, or the solve's status for them (−4 … −7).
template <class T>
int check_factor(const Entries<T>& e, std::int32_t n, std::int32_t hb,
                 const T* ab, std::int32_t ldab, const T* factor,
                 std::int64_t lfactor) {
  // No right-hand side: the solve checks and returns, touching nothing.
  return solve_factored(e, n, hb, 0, ab, ldab, factor, lfactor,
                        static_cast<T*>(nullptr), std::max(n, 1), 1);
}

// Complex symmetric A: A⁻ᴴ·y = conj(A⁻¹·conj(y)).
template <class T>
void conjugate_columns(T* x, std::int64_t n, std::int64_t cols) {
  if constexpr (ElementTraits<T>::is_complex)
    for (std::int64_t i = 0; i < n * cols; ++i) x[i] = std::conj(x[i]);
}

// Arguments 1 n, 2 hb, 3 ab, 4 ldab, 5 factor, 6 lfactor, 7 anorm,
// 8 rcond, 9 threads.
template <class T>
int rcond(const Entries<T>& e, std::int32_t n, std::int32_t hb, const T* ab,
          std::int32_t ldab, const T* factor, std::int64_t lfactor,
          RealOf<T> anorm, RealOf<T>* rcond, std::int32_t threads) {
  using R = RealOf<T>;
  if (n < 0) return -1;
  if (hb < 0) return -2;
  const int bad = check_factor(e, n, hb, ab, ldab, factor, lfactor);
  if (bad != 0) return bad + 1;
  // A NaN passes, as in ?pbcon, and gives a NaN below.
  if (anorm < 0) return -7;
  if (rcond == nullptr) return -8;
  if (n == 0) {
    *rcond = 1;
    return 0;
  }
  if (anorm == 0 || std::isnan(anorm)) {
    *rcond = anorm;
    return 0;
  }
  constexpr bool real = !ElementTraits<T>::is_complex;
  Workspace<T> work(2 * std::int64_t(n));
  Workspace<R> sign(real ? n : 0);
  if (!work.ok() || !sign.ok() || !reserve_solver_scratch())
    return PBAND_OUT_OF_MEMORY;
  // The first signs are compared with nothing in particular: zeros.
  std::fill_n(sign.data(), real ? n : 0, R(0));
  T* x = work.data();
  T* v = x + n;
  accuracy::NormEstimate<T> s;
  for (;;) {
    const accuracy::EstimateAsk ask =
        accuracy::estimate_step(n, v, x, sign.data(), s);
    if (ask == accuracy::EstimateAsk::kDone) break;
    const bool adjoint = ask == accuracy::EstimateAsk::kTimesBH;
    if (adjoint) conjugate_columns(x, n, 1);
    const int status =
        solve_factored(e, n, hb, 1, ab, ldab, factor, lfactor, x, n, threads);
    if (status != 0) return status;
    if (adjoint) conjugate_columns(x, n, 1);
  }
  // An infinite estimate gives 0; a NaN one (a factor holding NaNs) NaN.
  *rcond = s.est != 0 ? (R(1) / s.est) / anorm : R(0);
  return 0;
}

}  // namespace pband::api
