// pband for C++20: pband::Factor, a stored cyclic-reduction factor for
// many solves with one matrix, over pband_factor_* and
// pband_solve_factored_*. Included by <pband/pband.hpp>.
#pragma once

#include <complex>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "pband/accuracy.hpp"
#include "pband/pband.h"
#include "pband/pband.hpp"

namespace pband {

namespace detail {

// The stored factor's C entries of one element type.
template <class U>
struct FactorCalls;
#define PBAND_FACTOR_CALLS(U, L)                                   \
  template <>                                                      \
  struct FactorCalls<U> {                                          \
    static constexpr auto workspace = &pband_factor_workspace_##L; \
    static constexpr auto factor = &pband_factor_##L;              \
    static constexpr auto solve = &pband_solve_factored_##L;       \
  };
PBAND_FACTOR_CALLS(float, s)
PBAND_FACTOR_CALLS(double, d)
PBAND_FACTOR_CALLS(std::complex<float>, c)
PBAND_FACTOR_CALLS(std::complex<double>, z)
#undef PBAND_FACTOR_CALLS

}  // namespace detail

// Per right-hand side: the forward error bound (relative to the largest
// element of x) and the componentwise backward error of a refinement.
template <Element T>
struct Refinement {
  std::vector<real_t<T>> ferr, berr;
};

// A stored cyclic-reduction factor, for many solves with one matrix: it
// factors its own copy of the band on `threads` threads (the caller's is
// left alone), then solves any number of right-hand sides in parallel,
// each with the bits of solve() on the factor's team.
template <Element T>
requires(!std::is_const_v<T>) class Factor {
 public:
  explicit Factor(BandView<const T> a, int threads = 0)
      : n_(a.n()),
        hb_(a.hb()),
        band_(detail::reach(a.hb() + 1, a.n(), a.hb() + 1)) {
    using C = detail::FactorCalls<T>;
    for (std::int64_t j = 0; j < n_; ++j)
      std::copy_n(a.data() + j * a.ld(), hb_ + 1, band_.data() + j * (hb_ + 1));
    const std::int64_t size = C::workspace(n_, hb_, hb_ + 1);
    if (size < 0)
      (void)detail::result_of(static_cast<int>(size), "pband::Factor",
                              {"n", "hb", "ldab"});
    factor_.resize(static_cast<std::size_t>(size));
    anorm_ = norm1(BandView<const T>(band_, n_, hb_), threads);
    info_ = detail::result_of(
        C::factor(n_, hb_, detail::c_ptr(band_.data()), hb_ + 1,
                  detail::c_ptr(factor_.data()), size, threads),
        "pband::Factor",
        {"n", "hb", "ab", "ldab", "factor", "lfactor", "threads"});
  }

  // info 0, or 1 when the matrix is not positive definite (complex: a
  // pivot was zero); solve() then throws std::logic_error.
  Result info() const noexcept { return info_; }
  std::int32_t n() const noexcept { return n_; }
  std::int32_t hb() const noexcept { return hb_; }

  // Solves A·X = B; B becomes X.
  void solve(std::type_identity_t<MatrixView<T>> b, int threads = 0) const {
    if (!info_) throw std::logic_error("pband::Factor: no factor");
    if (b.rows() != n_)
      throw std::invalid_argument("pband::Factor::solve: b has " +
                                  std::to_string(b.rows()) +
                                  " rows, the matrix " + std::to_string(n_));
    (void)detail::result_of(detail::FactorCalls<T>::solve(
                                n_, hb_, b.cols(), detail::c_ptr(band_.data()),
                                hb_ + 1, detail::c_ptr(factor_.data()),
                                static_cast<std::int64_t>(factor_.size()),
                                detail::c_ptr(b.data()), b.ld(), threads),
                            "pband::Factor::solve",
                            {"n", "hb", "nrhs", "ab", "ldab", "factor",
                             "lfactor", "b", "ldb", "threads"});
  }

  // The condition estimate and refinement (<pband/pband_refine.hpp>).
  // ‖A‖₁ of the matrix factored, taken before factoring.
  real_t<T> anorm() const noexcept { return anorm_; }
  // An estimate of 1 / (‖A‖₁·‖A⁻¹‖₁), as pband_rcond_*.
  real_t<T> rcond(int threads = 0) const;
  // Refines x of A·x = b in place, a being the matrix factored; the
  // error bounds of each column, as pband_refine_*.
  Refinement<T> refine(BandView<const T> a, MatrixView<const T> b,
                       MatrixView<T> x, int threads = 0) const;

 private:
  std::int32_t n_, hb_;
  std::vector<T> band_;
  std::vector<T> factor_;
  Result info_;
  real_t<T> anorm_ = 0;
};

}  // namespace pband
