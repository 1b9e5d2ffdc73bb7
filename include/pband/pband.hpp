// pband for C++20: views of the caller's storage over the C interface of
// <pband/pband.h>, std::span in and out, std::invalid_argument for bad
// arguments and a Result that says whether the matrix was positive
// definite; the norm, product and residual that judge a solution. Header
// only; element types float, double, std::complex<float> and
// std::complex<double> (complex symmetric, never conjugated; Hermitian
// systems through <pband/hermitian.hpp>, included here).
#pragma once

#if __cplusplus < 202002L
#error "<pband/pband.hpp> needs C++20; C and older C++ use <pband/pband.h>"
#endif

#include <algorithm>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <new>
#include <ranges>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "pband/pband.h"

namespace pband {

template <class T>
concept Element = std::is_same_v < std::remove_const_t<T>,
float > || std::is_same_v<std::remove_const_t<T>, double> ||
    std::is_same_v<std::remove_const_t<T>, std::complex<float>> ||
    std::is_same_v<std::remove_const_t<T>, std::complex<double>>;

namespace detail {

inline std::int32_t checked_size(std::size_t value, const char* what) {
  if (value > std::size_t(std::numeric_limits<std::int32_t>::max()))
    throw std::invalid_argument(std::string("pband: ") + what +
                                " does not fit in 32 bits");
  return static_cast<std::int32_t>(value);
}

// Elements a column-major array of `cols` columns of `rows` used rows
// and leading dimension ld reaches: ld·(cols − 1) + rows.
inline std::size_t reach(std::int64_t rows, std::int64_t cols,
                         std::int64_t ld) {
  return cols == 0 ? 0 : std::size_t(ld * (cols - 1) + rows);
}

}  // namespace detail

// A symmetric band matrix of order n and half bandwidth hb in the
// caller's storage, lower band form: column j at storage[j·ld], its
// diagonal first, then the hb elements below it; ld >= hb + 1 (0 means
// hb + 1). The constructor checks that the storage is large enough.
template <Element T>
class BandView {
 public:
  BandView(std::span<T> storage, std::int32_t n, std::int32_t hb,
           std::int32_t ld = 0)
      : data_(storage.data()), n_(n), hb_(hb), ld_(ld == 0 ? hb + 1 : ld) {
    if (n < 0 || hb < 0 || hb == std::numeric_limits<std::int32_t>::max())
      throw std::invalid_argument("pband::BandView: n and hb must be >= 0");
    if (ld_ < hb + 1)
      throw std::invalid_argument("pband::BandView: ld must be >= hb + 1");
    if (storage.size() < detail::reach(std::int64_t(hb) + 1, n, ld_))
      throw std::invalid_argument(
          "pband::BandView: storage smaller than ld·(n − 1) + hb + 1");
  }
  // A view of const elements from one of mutable ones.
  template <class U>
  requires std::is_same_v<const U, T> BandView(
      const BandView<U>& other)  // NOLINT: implicit on purpose
      : data_(other.data()), n_(other.n()), hb_(other.hb()), ld_(other.ld()) {}

  T* data() const noexcept { return data_; }
  std::int32_t n() const noexcept { return n_; }
  std::int32_t hb() const noexcept { return hb_; }
  std::int32_t ld() const noexcept { return ld_; }

 private:
  T* data_;
  std::int32_t n_, hb_, ld_;
};

template <std::ranges::contiguous_range R, class... A>
BandView(R&&, A...)
    -> BandView<std::remove_reference_t<std::ranges::range_reference_t<R>>>;

// Right-hand sides (and solutions): rows × cols, column-major, leading
// dimension ld >= max(1, rows) (0 means that). A contiguous range alone
// is one column.
template <Element T>
class MatrixView {
 public:
  MatrixView(std::span<T> storage, std::int32_t rows, std::int32_t cols,
             std::int32_t ld = 0)
      : data_(storage.data()),
        rows_(rows),
        cols_(cols),
        ld_(ld == 0 ? std::max(rows, 1) : ld) {
    if (rows < 0 || cols < 0)
      throw std::invalid_argument("pband::MatrixView: negative size");
    if (ld_ < std::max(rows, 1))
      throw std::invalid_argument(
          "pband::MatrixView: ld must be >= max(1, rows)");
    if (storage.size() < detail::reach(rows, cols, ld_))
      throw std::invalid_argument(
          "pband::MatrixView: storage smaller than ld·(cols − 1) + rows");
  }
  template <std::ranges::contiguous_range R>
  requires std::is_convertible_v<R&&, std::span<T>> MatrixView(
      R&& column)  // NOLINT: implicit on purpose
      : MatrixView(std::span<T>(column),
                   detail::checked_size(std::ranges::size(column), "size"), 1) {
  }

  // A view of const elements from one of mutable ones.
  template <class U>
  requires std::is_same_v<const U, T> MatrixView(
      const MatrixView<U>& other)  // NOLINT: implicit on purpose
      : data_(other.data()),
        rows_(other.rows()),
        cols_(other.cols()),
        ld_(other.ld()) {}

  T* data() const noexcept { return data_; }
  std::int32_t rows() const noexcept { return rows_; }
  std::int32_t cols() const noexcept { return cols_; }
  std::int32_t ld() const noexcept { return ld_; }

 private:
  T* data_;
  std::int32_t rows_, cols_, ld_;
};

template <std::ranges::contiguous_range R, class... A>
MatrixView(R&&, A...)
    -> MatrixView<std::remove_reference_t<std::ranges::range_reference_t<R>>>;

// What a factorization or solve found. info 0: success; > 0: the matrix
// is not positive definite (cholesky: the column, 1-based, whose pivot
// failed; solve: 1).
struct [[nodiscard]] Result {
  std::int32_t info = 0;
  bool ok() const noexcept { return info == 0; }
  explicit operator bool() const noexcept { return ok(); }
  const char* message() const noexcept { return pband_status_message(info); }
};

namespace detail {

template <class T>
auto c_ptr(T* p) {
  using U = std::remove_const_t<T>;
  using C = std::conditional_t<
      std::is_same_v<U, std::complex<float>>, pband_complex_float,
      std::conditional_t<std::is_same_v<U, std::complex<double>>,
                         pband_complex_double, U>>;
  using Out = std::conditional_t<std::is_const_v<T>, const C*, C*>;
  return reinterpret_cast<Out>(p);
}

// Negative statuses become exceptions naming the argument; the rest is
// the Result.
inline Result result_of(int status, const char* call,
                        std::initializer_list<const char*> names) {
  if (status >= 0) return Result{status};
  if (status == PBAND_OUT_OF_MEMORY) throw std::bad_alloc();
  std::string what = std::string(call) + ": " + pband_status_message(status);
  const std::size_t i = std::size_t(-status) - 1;
  if (i < names.size()) what += std::string(" (") + names.begin()[i] + ")";
  throw std::invalid_argument(what);
}

template <class T, class U>
void check_rows(const BandView<T>& a, const MatrixView<U>& b,
                const char* call) {
  if (b.rows() != a.n())
    throw std::invalid_argument(std::string(call) + ": b has " +
                                std::to_string(b.rows()) +
                                " rows, the matrix " + std::to_string(a.n()));
}

inline constexpr std::initializer_list<const char*> kSolveArgs = {
    "n", "hb", "nrhs", "ab", "ldab", "b", "ldb", "threads", "work", "lwork"};

}  // namespace detail

// Solves A·X = B by block cyclic reduction on `threads` threads (0: every
// processor; at most 32); B becomes X. a's storage is scratch when its ld
// is hb + 1 (see pband_solve_* in <pband/pband.h>). Same arguments, same
// bits: docs/api.md.
template <Element T>
requires(!std::is_const_v<T>) Result
    solve(BandView<T> a, std::type_identity_t<MatrixView<T>> b,
          int threads = 0) {
  detail::check_rows(a, b, "pband::solve");
  int status = 0;
  const auto ab = detail::c_ptr(a.data());
  const auto x = detail::c_ptr(b.data());
  if constexpr (std::is_same_v<T, float>)
    status =
        pband_solve_s(a.n(), a.hb(), b.cols(), ab, a.ld(), x, b.ld(), threads);
  else if constexpr (std::is_same_v<T, double>)
    status =
        pband_solve_d(a.n(), a.hb(), b.cols(), ab, a.ld(), x, b.ld(), threads);
  else if constexpr (std::is_same_v<T, std::complex<float>>)
    status =
        pband_solve_c(a.n(), a.hb(), b.cols(), ab, a.ld(), x, b.ld(), threads);
  else
    status =
        pband_solve_z(a.n(), a.hb(), b.cols(), ab, a.ld(), x, b.ld(), threads);
  return detail::result_of(status, "pband::solve", detail::kSolveArgs);
}

// Elements of workspace that solve(a, b, work) needs.
template <Element T>
std::size_t solve_workspace_size(const BandView<T>& a,
                                 const std::type_identity_t<MatrixView<T>>& b) {
  detail::check_rows(a, b, "pband::solve_workspace_size");
  std::int64_t size = 0;
  if constexpr (std::is_same_v<T, float>)
    size = pband_solve_workspace_s(a.n(), a.hb(), b.cols(), a.ld(), b.ld());
  else if constexpr (std::is_same_v<T, double>)
    size = pband_solve_workspace_d(a.n(), a.hb(), b.cols(), a.ld(), b.ld());
  else if constexpr (std::is_same_v<T, std::complex<float>>)
    size = pband_solve_workspace_c(a.n(), a.hb(), b.cols(), a.ld(), b.ld());
  else
    size = pband_solve_workspace_z(a.n(), a.hb(), b.cols(), a.ld(), b.ld());
  if (size < 0)
    (void)detail::result_of(static_cast<int>(size),
                            "pband::solve_workspace_size", detail::kSolveArgs);
  return static_cast<std::size_t>(size);
}

// solve() in the caller's workspace (solve_workspace_size elements), with
// no allocation.
template <Element T>
requires(!std::is_const_v<T>) Result
    solve(BandView<T> a, std::type_identity_t<MatrixView<T>> b,
          std::span<std::type_identity_t<T>> work, int threads = 0) {
  detail::check_rows(a, b, "pband::solve");
  const auto lwork = static_cast<std::int64_t>(std::min<std::size_t>(
      work.size(), std::numeric_limits<std::int64_t>::max()));
  int status = 0;
  const auto ab = detail::c_ptr(a.data());
  const auto x = detail::c_ptr(b.data());
  const auto w = detail::c_ptr(work.data());
  if constexpr (std::is_same_v<T, float>)
    status = pband_solve_work_s(a.n(), a.hb(), b.cols(), ab, a.ld(), x, b.ld(),
                                threads, w, lwork);
  else if constexpr (std::is_same_v<T, double>)
    status = pband_solve_work_d(a.n(), a.hb(), b.cols(), ab, a.ld(), x, b.ld(),
                                threads, w, lwork);
  else if constexpr (std::is_same_v<T, std::complex<float>>)
    status = pband_solve_work_c(a.n(), a.hb(), b.cols(), ab, a.ld(), x, b.ld(),
                                threads, w, lwork);
  else
    status = pband_solve_work_z(a.n(), a.hb(), b.cols(), ab, a.ld(), x, b.ld(),
                                threads, w, lwork);
  return detail::result_of(status, "pband::solve", detail::kSolveArgs);
}

// Factors A = L·Lᵀ in place (natural column order; LAPACK ?pbtrf's lower
// factor for the real types). On failure info is the failing column.
template <Element T>
requires(!std::is_const_v<T>) Result cholesky(BandView<T> a, int threads = 0) {
  int status = 0;
  const auto ab = detail::c_ptr(a.data());
  if constexpr (std::is_same_v<T, float>)
    status = pband_cholesky_s(a.n(), a.hb(), ab, a.ld(), threads);
  else if constexpr (std::is_same_v<T, double>)
    status = pband_cholesky_d(a.n(), a.hb(), ab, a.ld(), threads);
  else if constexpr (std::is_same_v<T, std::complex<float>>)
    status = pband_cholesky_c(a.n(), a.hb(), ab, a.ld(), threads);
  else
    status = pband_cholesky_z(a.n(), a.hb(), ab, a.ld(), threads);
  return detail::result_of(status, "pband::cholesky",
                           {"n", "hb", "ab", "ldab", "threads"});
}

// Solves L·Lᵀ·X = B with L from cholesky(); B becomes X.
template <Element T>
void cholesky_solve(BandView<T> l,
                    std::type_identity_t<MatrixView<std::remove_const_t<T>>> b,
                    int threads = 0) {
  detail::check_rows(l, b, "pband::cholesky_solve");
  using U = std::remove_const_t<T>;
  const auto ab = detail::c_ptr(static_cast<const U*>(l.data()));
  const auto x = detail::c_ptr(b.data());
  int status = 0;
  if constexpr (std::is_same_v<U, float>)
    status = pband_cholesky_solve_s(l.n(), l.hb(), b.cols(), ab, l.ld(), x,
                                    b.ld(), threads);
  else if constexpr (std::is_same_v<U, double>)
    status = pband_cholesky_solve_d(l.n(), l.hb(), b.cols(), ab, l.ld(), x,
                                    b.ld(), threads);
  else if constexpr (std::is_same_v<U, std::complex<float>>)
    status = pband_cholesky_solve_c(l.n(), l.hb(), b.cols(), ab, l.ld(), x,
                                    b.ld(), threads);
  else
    status = pband_cholesky_solve_z(l.n(), l.hb(), b.cols(), ab, l.ld(), x,
                                    b.ld(), threads);
  (void)detail::result_of(status, "pband::cholesky_solve", detail::kSolveArgs);
}

// The library's version, "major.minor.patch".
inline const char* version() noexcept { return pband_version(); }

}  // namespace pband

// The parts kept in headers of their own, included here: the norm,
// product and residual; the stored factor with its condition estimate and
// refinement; mixed precision solves; Hermitian systems.
#include "pband/accuracy.hpp"       // IWYU pragma: export
#include "pband/factor.hpp"         // IWYU pragma: export
#include "pband/hermitian.hpp"      // IWYU pragma: export
#include "pband/pband_refine.hpp"   // IWYU pragma: export
#include "pband/mixed.hpp"          // IWYU pragma: export
