// pband for C++20, Hermitian positive definite systems (A = Aᴴ) in the
// same lower band views: the solve by block cyclic reduction and the
// natural-order factor A = L·Lᴴ with its solve, over the *_hermitian_*
// calls of <pband/pband.h>. Included by <pband/pband.hpp>.
#pragma once

#include <algorithm>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>

#include "pband/pband.hpp"

namespace pband {

template <class T>
concept ComplexElement =
    std::is_same_v<std::remove_const_t<T>, std::complex<float>> ||
    std::is_same_v<std::remove_const_t<T>, std::complex<double>>;

// Solves A·X = B for Hermitian positive definite A (a diagonal element's
// imaginary part is not read) on `threads` threads; B becomes X. As
// solve(): a's storage is scratch when its ld is hb + 1; info 1 when a
// pivot's real part is not positive.
template <ComplexElement T>
requires(!std::is_const_v<T>) Result
    solve_hermitian(BandView<T> a, std::type_identity_t<MatrixView<T>> b,
                    int threads = 0) {
  detail::check_rows(a, b, "pband::solve_hermitian");
  const auto ab = detail::c_ptr(a.data());
  const auto x = detail::c_ptr(b.data());
  int status = 0;
  if constexpr (std::is_same_v<T, std::complex<float>>)
    status = pband_solve_hermitian_c(a.n(), a.hb(), b.cols(), ab, a.ld(), x,
                                     b.ld(), threads);
  else
    status = pband_solve_hermitian_z(a.n(), a.hb(), b.cols(), ab, a.ld(), x,
                                     b.ld(), threads);
  return detail::result_of(status, "pband::solve_hermitian",
                           detail::kSolveArgs);
}

// Elements of workspace that solve_hermitian(a, b, work) needs.
template <ComplexElement T>
std::size_t solve_hermitian_workspace_size(
    const BandView<T>& a, const std::type_identity_t<MatrixView<T>>& b) {
  detail::check_rows(a, b, "pband::solve_hermitian_workspace_size");
  std::int64_t size = 0;
  if constexpr (std::is_same_v<T, std::complex<float>>)
    size = pband_solve_hermitian_workspace_c(a.n(), a.hb(), b.cols(), a.ld(),
                                             b.ld());
  else
    size = pband_solve_hermitian_workspace_z(a.n(), a.hb(), b.cols(), a.ld(),
                                             b.ld());
  if (size < 0)
    (void)detail::result_of(static_cast<int>(size),
                            "pband::solve_hermitian_workspace_size",
                            detail::kSolveArgs);
  return static_cast<std::size_t>(size);
}

// solve_hermitian() in the caller's workspace, with no allocation.
template <ComplexElement T>
requires(!std::is_const_v<T>) Result
    solve_hermitian(BandView<T> a, std::type_identity_t<MatrixView<T>> b,
                    std::span<std::type_identity_t<T>> work, int threads = 0) {
  detail::check_rows(a, b, "pband::solve_hermitian");
  const auto lwork = static_cast<std::int64_t>(std::min<std::size_t>(
      work.size(), std::numeric_limits<std::int64_t>::max()));
  const auto ab = detail::c_ptr(a.data());
  const auto x = detail::c_ptr(b.data());
  const auto w = detail::c_ptr(work.data());
  int status = 0;
  if constexpr (std::is_same_v<T, std::complex<float>>)
    status = pband_solve_hermitian_work_c(a.n(), a.hb(), b.cols(), ab, a.ld(),
                                          x, b.ld(), threads, w, lwork);
  else
    status = pband_solve_hermitian_work_z(a.n(), a.hb(), b.cols(), ab, a.ld(),
                                          x, b.ld(), threads, w, lwork);
  return detail::result_of(status, "pband::solve_hermitian",
                           detail::kSolveArgs);
}

// Factors A = L·Lᴴ in place (natural column order; LAPACK ?pbtrf's lower
// factor, real positive diagonal). On failure info is the failing column.
template <ComplexElement T>
requires(!std::is_const_v<T>) Result
    cholesky_hermitian(BandView<T> a, int threads = 0) {
  const auto ab = detail::c_ptr(a.data());
  int status = 0;
  if constexpr (std::is_same_v<T, std::complex<float>>)
    status = pband_cholesky_hermitian_c(a.n(), a.hb(), ab, a.ld(), threads);
  else
    status = pband_cholesky_hermitian_z(a.n(), a.hb(), ab, a.ld(), threads);
  return detail::result_of(status, "pband::cholesky_hermitian",
                           {"n", "hb", "ab", "ldab", "threads"});
}

// Solves L·Lᴴ·X = B with L from cholesky_hermitian(); B becomes X.
template <ComplexElement T>
void cholesky_solve_hermitian(
    BandView<T> l, std::type_identity_t<MatrixView<std::remove_const_t<T>>> b,
    int threads = 0) {
  detail::check_rows(l, b, "pband::cholesky_solve_hermitian");
  using U = std::remove_const_t<T>;
  const auto ab = detail::c_ptr(static_cast<const U*>(l.data()));
  const auto x = detail::c_ptr(b.data());
  int status = 0;
  if constexpr (std::is_same_v<U, std::complex<float>>)
    status = pband_cholesky_solve_hermitian_c(l.n(), l.hb(), b.cols(), ab,
                                              l.ld(), x, b.ld(), threads);
  else
    status = pband_cholesky_solve_hermitian_z(l.n(), l.hb(), b.cols(), ab,
                                              l.ld(), x, b.ld(), threads);
  (void)detail::result_of(status, "pband::cholesky_solve_hermitian",
                          detail::kSolveArgs);
}

}  // namespace pband
