// Band routine library, double-precision complex members: the three workers and
// their team drivers, instantiated from the shared templates.
#include <complex>
#include <cstdint>

#include "bandlib/band_kernels.hpp"
#include "bandlib/band_library.hpp"

namespace pband {

namespace {
using T = std::complex<double>;
using R = double;
}  // namespace

namespace detail {
template void band_factor_solve_worker<T>(T* const&, const std::int32_t&,
                                          const std::int32_t&, T* const&,
                                          const std::int32_t&, const Handle&,
                                          const std::int32_t (&)[2],
                                          const std::int32_t&, std::int32_t&,
                                          std::int32_t&, std::int32_t&,
                                          std::int32_t&, const R&, Flags&);
template void band_substitute_worker<T>(const T* const&, const std::int32_t&,
                                        const std::int32_t&, T* const&,
                                        const std::int32_t&, const Handle&,
                                        const std::int32_t (&)[2],
                                        const std::int32_t&, std::int32_t&,
                                        std::int32_t&, std::int32_t&,
                                        std::int32_t&);
template void band_factor_worker<T>(T* const&, const std::int32_t&,
                                    const std::int32_t&, const std::int32_t&,
                                    const Handle&, const std::int32_t (&)[2],
                                    const std::int32_t&, std::int32_t&,
                                    std::int32_t&, const R&, Flags&);
}  // namespace detail

void band_factor_solve_worker_c16(
    T* const& A, const std::int32_t& n, const std::int32_t& hb, T* const& B,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next,
    const R& pivot_threshold, FailureFlags& failure_flags) {
  detail::band_factor_solve_worker<T>(A, n, hb, B, block_width, mutex, slots,
                                      team_size, forward_pivot, forward_next,
                                      backward_pivot, backward_next,
                                      pivot_threshold, failure_flags);
}

void band_substitute_worker_c16(
    const T* const& A, const std::int32_t& n, const std::int32_t& hb,
    T* const& B, const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next) {
  detail::band_substitute_worker<T>(A, n, hb, B, block_width, mutex, slots,
                                    team_size, forward_pivot, forward_next,
                                    backward_pivot, backward_next);
}

void band_factor_worker_c16(
    T* const& A, const std::int32_t& n, const std::int32_t& hb,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    const R& pivot_threshold, FailureFlags& failure_flags) {
  detail::band_factor_worker<T>(A, n, hb, block_width, mutex, slots, team_size,
                                forward_pivot, forward_next, pivot_threshold,
                                failure_flags);
}

void band_factor_solve_c16(T* A, std::int32_t n, std::int32_t hb, T* B,
                           std::int32_t block_width, std::int32_t& status) {
  detail::band_factor_solve<T>(A, n, hb, B, block_width, status,
                               &band_factor_solve_worker_c16);
}

void band_factor_c16(T* A, std::int32_t n, std::int32_t hb,
                     std::int32_t block_width, std::int32_t& status) {
  detail::band_factor<T>(A, n, hb, block_width, status,
                         &band_factor_worker_c16);
}

void band_substitute_c16(const T* A, std::int32_t n, std::int32_t hb, T* B,
                         std::int32_t block_width, std::int32_t& status) {
  detail::band_substitute<T>(A, n, hb, B, block_width, status,
                             &band_substitute_worker_c16);
}

}  // namespace pband
