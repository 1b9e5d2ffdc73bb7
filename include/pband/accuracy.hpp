// pband for C++20: the 1-norm, product and residual of a symmetric band
// matrix over pband_norm1_*, pband_multiply_* and pband_residual_*, each
// with the same bits on every team. Included by <pband/pband.hpp>.
#pragma once

#include <complex>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "pband/pband.h"
#include "pband/pband.hpp"

namespace pband {

namespace detail {

template <class T>
struct RealPart {
  using type = T;
};
template <class R>
struct RealPart<std::complex<R>> {
  using type = R;
};

template <class T>
void check_columns(const MatrixView<T>& m, std::int32_t cols, const char* call,
                   const char* name) {
  if (m.cols() != cols)
    throw std::invalid_argument(std::string(call) + ": " + name + " has " +
                                std::to_string(m.cols()) + " columns, x " +
                                std::to_string(cols));
}

}  // namespace detail

// The real type of an element: float for std::complex<float>.
template <Element T>
using real_t = typename detail::RealPart<std::remove_const_t<T>>::type;

// ‖A‖₁ (= ‖A‖∞, A being symmetric) as LAPACK's ?lansb('1', 'L'); NaN when
// the band holds a NaN. Same bits for every team.
template <Element T>
real_t<T> norm1(BandView<T> a, int threads = 0) {
  using U = std::remove_const_t<T>;
  const auto ab = detail::c_ptr(static_cast<const U*>(a.data()));
  real_t<T> anorm = 0;
  int status = 0;
  if constexpr (std::is_same_v<U, float>)
    status = pband_norm1_s(a.n(), a.hb(), ab, a.ld(), &anorm, threads);
  else if constexpr (std::is_same_v<U, double>)
    status = pband_norm1_d(a.n(), a.hb(), ab, a.ld(), &anorm, threads);
  else if constexpr (std::is_same_v<U, std::complex<float>>)
    status = pband_norm1_c(a.n(), a.hb(), ab, a.ld(), &anorm, threads);
  else
    status = pband_norm1_z(a.n(), a.hb(), ab, a.ld(), &anorm, threads);
  (void)detail::result_of(status, "pband::norm1",
                          {"n", "hb", "ab", "ldab", "anorm", "threads"});
  return anorm;
}

// Y := A·X (complex symmetric: nothing conjugated). Same bits for every
// team; y must not overlap a or x.
template <Element T>
void multiply(BandView<T> a,
              std::type_identity_t<MatrixView<const std::remove_const_t<T>>> x,
              std::type_identity_t<MatrixView<std::remove_const_t<T>>> y,
              int threads = 0) {
  detail::check_rows(a, x, "pband::multiply");
  detail::check_rows(a, y, "pband::multiply");
  detail::check_columns(y, x.cols(), "pband::multiply", "y");
  using U = std::remove_const_t<T>;
  const auto ab = detail::c_ptr(static_cast<const U*>(a.data()));
  const auto xp = detail::c_ptr(x.data());
  const auto yp = detail::c_ptr(y.data());
  int status = 0;
  if constexpr (std::is_same_v<U, float>)
    status = pband_multiply_s(a.n(), a.hb(), x.cols(), ab, a.ld(), xp, x.ld(),
                              yp, y.ld(), threads);
  else if constexpr (std::is_same_v<U, double>)
    status = pband_multiply_d(a.n(), a.hb(), x.cols(), ab, a.ld(), xp, x.ld(),
                              yp, y.ld(), threads);
  else if constexpr (std::is_same_v<U, std::complex<float>>)
    status = pband_multiply_c(a.n(), a.hb(), x.cols(), ab, a.ld(), xp, x.ld(),
                              yp, y.ld(), threads);
  else
    status = pband_multiply_z(a.n(), a.hb(), x.cols(), ab, a.ld(), xp, x.ld(),
                              yp, y.ld(), threads);
  (void)detail::result_of(
      status, "pband::multiply",
      {"n", "hb", "nrhs", "ab", "ldab", "x", "ldx", "y", "ldy", "threads"});
}

// R := B − A·X, each element from b subtracting A's products in one
// order: same bits for every team. r may be b itself (same view).
template <Element T>
void residual(BandView<T> a,
              std::type_identity_t<MatrixView<const std::remove_const_t<T>>> x,
              std::type_identity_t<MatrixView<const std::remove_const_t<T>>> b,
              std::type_identity_t<MatrixView<std::remove_const_t<T>>> r,
              int threads = 0) {
  detail::check_rows(a, x, "pband::residual");
  detail::check_rows(a, b, "pband::residual");
  detail::check_rows(a, r, "pband::residual");
  detail::check_columns(b, x.cols(), "pband::residual", "b");
  detail::check_columns(r, x.cols(), "pband::residual", "r");
  using U = std::remove_const_t<T>;
  const auto ab = detail::c_ptr(static_cast<const U*>(a.data()));
  const auto xp = detail::c_ptr(x.data());
  const auto bp = detail::c_ptr(b.data());
  const auto rp = detail::c_ptr(r.data());
  int status = 0;
  if constexpr (std::is_same_v<U, float>)
    status = pband_residual_s(a.n(), a.hb(), x.cols(), ab, a.ld(), xp, x.ld(),
                              bp, b.ld(), rp, r.ld(), threads);
  else if constexpr (std::is_same_v<U, double>)
    status = pband_residual_d(a.n(), a.hb(), x.cols(), ab, a.ld(), xp, x.ld(),
                              bp, b.ld(), rp, r.ld(), threads);
  else if constexpr (std::is_same_v<U, std::complex<float>>)
    status = pband_residual_c(a.n(), a.hb(), x.cols(), ab, a.ld(), xp, x.ld(),
                              bp, b.ld(), rp, r.ld(), threads);
  else
    status = pband_residual_z(a.n(), a.hb(), x.cols(), ab, a.ld(), xp, x.ld(),
                              bp, b.ld(), rp, r.ld(), threads);
  (void)detail::result_of(status, "pband::residual",
                          {"n", "hb", "nrhs", "ab", "ldab", "x", "ldx", "b",
                           "ldb", "r", "ldr", "threads"});
}

// B := B − A·X in place.
template <Element T>
void residual(BandView<T> a,
              std::type_identity_t<MatrixView<const std::remove_const_t<T>>> x,
              std::type_identity_t<MatrixView<std::remove_const_t<T>>> b,
              int threads = 0) {
  residual(a, x, b, b, threads);
}

}  // namespace pband
