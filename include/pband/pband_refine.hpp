// pband::Factor's condition estimate and refinement over pband_rcond_*
// and pband_refine_*: the members the class declares, kept apart so that
// <pband/pband.hpp> stays readable. Included at its end; not on its own.
#pragma once

#include <string>
#include <vector>

#include "pband/pband.hpp"

namespace pband {
namespace detail {

// The estimate and refinement entries of one element type.
template <class U>
struct RefineCalls;
#define PBAND_REFINE_CALLS(U, L)                      \
  template <>                                         \
  struct RefineCalls<U> {                             \
    static constexpr auto rcond = &pband_rcond_##L;   \
    static constexpr auto refine = &pband_refine_##L; \
  };
PBAND_REFINE_CALLS(float, s)
PBAND_REFINE_CALLS(double, d)
PBAND_REFINE_CALLS(std::complex<float>, c)
PBAND_REFINE_CALLS(std::complex<double>, z)
#undef PBAND_REFINE_CALLS

inline void check_order(std::int32_t rows, std::int32_t n, const char* call,
                        const char* name) {
  if (rows != n)
    throw std::invalid_argument(std::string(call) + ": " + name + " has " +
                                std::to_string(rows) + " rows, the matrix " +
                                std::to_string(n));
}

}  // namespace detail

template <Element T>
requires(!std::is_const_v<T>) real_t<T> Factor<T>::rcond(int threads)
const {
  if (!info_) throw std::logic_error("pband::Factor::rcond: no factor");
  real_t<T> value = 0;
  (void)detail::result_of(
      detail::RefineCalls<T>::rcond(n_, hb_, detail::c_ptr(band_.data()),
                                    hb_ + 1, detail::c_ptr(factor_.data()),
                                    static_cast<std::int64_t>(factor_.size()),
                                    anorm_, &value, threads),
      "pband::Factor::rcond",
      {"n", "hb", "ab", "ldab", "factor", "lfactor", "anorm", "rcond",
       "threads"});
  return value;
}

template <Element T>
requires(!std::is_const_v<T>) Refinement<T> Factor<T>::refine(
    BandView<const T> a, MatrixView<const T> b, MatrixView<T> x, int threads)
const {
  constexpr const char* call = "pband::Factor::refine";
  if (!info_) throw std::logic_error("pband::Factor::refine: no factor");
  if (a.n() != n_ || a.hb() != hb_)
    throw std::invalid_argument(
        std::string(call) + ": a is not the matrix factored (n " +
        std::to_string(a.n()) + ", hb " + std::to_string(a.hb()) + ")");
  detail::check_order(b.rows(), n_, call, "b");
  detail::check_order(x.rows(), n_, call, "x");
  detail::check_columns(b, x.cols(), call, "b");
  Refinement<T> out;
  out.ferr.resize(static_cast<std::size_t>(x.cols()));
  out.berr.resize(static_cast<std::size_t>(x.cols()));
  (void)detail::result_of(
      detail::RefineCalls<T>::refine(
          n_, hb_, x.cols(), detail::c_ptr(a.data()), a.ld(),
          detail::c_ptr(band_.data()), hb_ + 1, detail::c_ptr(factor_.data()),
          static_cast<std::int64_t>(factor_.size()), detail::c_ptr(b.data()),
          b.ld(), detail::c_ptr(x.data()), x.ld(), out.ferr.data(),
          out.berr.data(), threads),
      call,
      {"n", "hb", "nrhs", "a", "lda", "af", "ldaf", "factor", "lfactor", "b",
       "ldb", "x", "ldx", "ferr", "berr", "threads"});
  return out;
}

}  // namespace pband
