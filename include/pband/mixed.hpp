// pband for C++20, mixed precision: solves in double (complex double)
// with a factor in single precision and refinement, over
// pband_solve_mixed_ds / _zc. Included by <pband/pband.hpp>.
#pragma once

#include <complex>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "pband/pband.h"
#include "pband/pband.hpp"

namespace pband {

// info as in Result; iter: the refinement steps (>= 0), or why the
// single precision was given up and the double solve used instead: -2 a
// value overflowed single, -3 the single factor failed, -31 no
// convergence in 30 steps.
struct [[nodiscard]] MixedResult : Result {
  std::int32_t iter = 0;
};

template <class T>
concept MixedElement =
    std::is_same_v<T, double> || std::is_same_v<T, std::complex<double>>;

// X := A⁻¹·B, A and B only read: factored in single precision, refined in
// double, the double solve when that fails. Same bits for every team
// (complex: within the team classes of solve(), docs/api.md).
template <MixedElement T>
MixedResult solve_mixed(BandView<const T> a,
                        std::type_identity_t<MatrixView<const T>> b,
                        std::type_identity_t<MatrixView<T>> x,
                        int threads = 0) {
  detail::check_rows(a, b, "pband::solve_mixed");
  detail::check_rows(a, x, "pband::solve_mixed");
  if (x.cols() != b.cols())
    throw std::invalid_argument("pband::solve_mixed: x has " +
                                std::to_string(x.cols()) + " columns, b " +
                                std::to_string(b.cols()));
  MixedResult r;
  int status = 0;
  const auto ab = detail::c_ptr(a.data());
  const auto bp = detail::c_ptr(b.data());
  const auto xp = detail::c_ptr(x.data());
  if constexpr (std::is_same_v<T, double>)
    status = pband_solve_mixed_ds(a.n(), a.hb(), b.cols(), ab, a.ld(), bp,
                                  b.ld(), xp, x.ld(), &r.iter, threads);
  else
    status = pband_solve_mixed_zc(a.n(), a.hb(), b.cols(), ab, a.ld(), bp,
                                  b.ld(), xp, x.ld(), &r.iter, threads);
  r.info = detail::result_of(status, "pband::solve_mixed",
                             {"n", "hb", "nrhs", "ab", "ldab", "b", "ldb", "x",
                              "ldx", "iter", "threads"})
               .info;
  return r;
}

}  // namespace pband
