// Band routine library: factor-and-solve, factorization and substitution
// of one symmetric (complex: complex symmetric, or Hermitian) band system
// by a team of threads, eliminating the columns in order, one pivot block
// per phase.
#pragma once

#include <atomic>
#include <complex>
#include <cstdint>

#include "bandlib/band_tuning.hpp"
#include "kernels/element_traits.hpp"
#include "runtime/os_layer.hpp"

namespace pband {

// Storage: A holds the lower band, column-major, hb + 1 elements per
// column, element (i, j), j <= i <= j + hb, at 0-based position
// (j-1)(hb+1) + (i-j); n + hb(n-1) elements. Positions of rows beyond n
// in the last hb columns are never read or written. Complex matrices are
// complex symmetric: nothing is conjugated.
//
// ---------------------------------------------------------------------------
// Team drivers. Each runs its worker on get_team_size() threads (the
// calling thread and launched workers), waits for them and returns.
// The result is the same, bit for bit, for every team size; a slot, mutex
// or thread that cannot be created makes the team smaller (at worst the
// calling thread alone), never the result different.
//
// band_factor_solve_*(A, n, hb, B, block_width, status)
//   A            in: the matrix; out: L of A = L·Lᵀ (partial on failure)
//   B            in: right-hand side, n elements; out: the solution x
//   block_width  columns per pivot block (nb); any value >= 1 gives a
//                correct result: see the note on choosing it below
// band_factor_*(A, n, hb, block_width, status)
//   A            in: the matrix; out: L (partial on failure)
// band_substitute_*(A, n, hb, B, block_width, status)
//   A            in: L as left by band_factor_* or band_factor_solve_*
//   B            in: right-hand side; out: x. A zero in L's diagonal is
//                not reported: B then holds infinities or NaNs
//
// status
//    0  success (also for n = 0, which does nothing)
//    1  a pivot was not positive (complex: was zero); A holds L before
//       the failed pivot block, B is not back-substituted
//   -i  argument i is invalid, checked in argument order before anything
//       is touched: A or B null while n > 0; n < 0 or n = 2^31 - 1 (the
//       32-bit phase counters must be able to step past n); hb < 0;
//       block_width < 1
//
// Choosing block_width: a phase's rows reach hb below its pivot block, so
// at most 1 + ceil((hb - nb) / (2 nb)) threads find work in it, and every
// phase ends in a barrier. nb >= hb runs one thread at a time with
// n / nb barriers; small nb spreads a phase over more threads but pays a
// barrier every nb columns. band_block_width(hb), band_factor_threads and
// band_substitute_threads (band_tuning.hpp) make the C interface's choice.
// ---------------------------------------------------------------------------

void band_factor_solve_r4(float* A, std::int32_t n, std::int32_t hb, float* B,
                          std::int32_t block_width, std::int32_t& status);
void band_factor_solve_r8(double* A, std::int32_t n, std::int32_t hb, double* B,
                          std::int32_t block_width, std::int32_t& status);
void band_factor_solve_c8(std::complex<float>* A, std::int32_t n,
                          std::int32_t hb, std::complex<float>* B,
                          std::int32_t block_width, std::int32_t& status);
void band_factor_solve_c16(std::complex<double>* A, std::int32_t n,
                           std::int32_t hb, std::complex<double>* B,
                           std::int32_t block_width, std::int32_t& status);

void band_factor_r4(float* A, std::int32_t n, std::int32_t hb,
                    std::int32_t block_width, std::int32_t& status);
void band_factor_r8(double* A, std::int32_t n, std::int32_t hb,
                    std::int32_t block_width, std::int32_t& status);
void band_factor_c8(std::complex<float>* A, std::int32_t n, std::int32_t hb,
                    std::int32_t block_width, std::int32_t& status);
void band_factor_c16(std::complex<double>* A, std::int32_t n, std::int32_t hb,
                     std::int32_t block_width, std::int32_t& status);

void band_substitute_r4(const float* A, std::int32_t n, std::int32_t hb,
                        float* B, std::int32_t block_width,
                        std::int32_t& status);
void band_substitute_r8(const double* A, std::int32_t n, std::int32_t hb,
                        double* B, std::int32_t block_width,
                        std::int32_t& status);
void band_substitute_c8(const std::complex<float>* A, std::int32_t n,
                        std::int32_t hb, std::complex<float>* B,
                        std::int32_t block_width, std::int32_t& status);
void band_substitute_c16(const std::complex<double>* A, std::int32_t n,
                         std::int32_t hb, std::complex<double>* B,
                         std::int32_t block_width, std::int32_t& status);

// band_factor_team_* and band_substitute_team_* are band_factor_* and
// band_substitute_* on a team of team_size threads (clamped to 1 … 32;
// 0 or less: the current team size), leaving the process-wide team size
// alone.
void band_factor_team_r4(float* A, std::int32_t n, std::int32_t hb,
                         std::int32_t block_width, std::int32_t team_size,
                         std::int32_t& status);
void band_factor_team_r8(double* A, std::int32_t n, std::int32_t hb,
                         std::int32_t block_width, std::int32_t team_size,
                         std::int32_t& status);
void band_factor_team_c8(std::complex<float>* A, std::int32_t n,
                         std::int32_t hb, std::int32_t block_width,
                         std::int32_t team_size, std::int32_t& status);
void band_factor_team_c16(std::complex<double>* A, std::int32_t n,
                          std::int32_t hb, std::int32_t block_width,
                          std::int32_t team_size, std::int32_t& status);

void band_substitute_team_r4(const float* A, std::int32_t n, std::int32_t hb,
                             float* B, std::int32_t block_width,
                             std::int32_t team_size, std::int32_t& status);
void band_substitute_team_r8(const double* A, std::int32_t n, std::int32_t hb,
                             double* B, std::int32_t block_width,
                             std::int32_t team_size, std::int32_t& status);
void band_substitute_team_c8(const std::complex<float>* A, std::int32_t n,
                             std::int32_t hb, std::complex<float>* B,
                             std::int32_t block_width, std::int32_t team_size,
                             std::int32_t& status);
void band_substitute_team_c16(const std::complex<double>* A, std::int32_t n,
                              std::int32_t hb, std::complex<double>* B,
                              std::int32_t block_width, std::int32_t team_size,
                              std::int32_t& status);

// ---------------------------------------------------------------------------
// Workers, for callers that build their own team. Every thread of the team
// calls the worker with references to the same variables:
//   A, n, hb, B, block_width  as for the drivers (read-only but A and B)
//   mutex          guards the claim counters
//   slots          two synchronization slots; the first armed with
//                  team_size, the second allocated
//   team_size      number of threads calling the worker
//   forward_pivot, forward_next    both 1 on entry
//   backward_pivot, backward_next  both n on entry; both 0 skip the
//                  backward sweep, leaving y of L·y = b in B
//   pivot_threshold  a pivot whose value (complex: modulus) is not above
//                  it fails
//   failure_flags  both 0 on entry; a failure in a phase that ends on
//                  slot p sets failure_flags[p - 1], and every thread
//                  returns after that phase
// On return the counters stand at the first value past the end (forward:
// 1 + k·nb > n; backward: n − k·w < 1, w the backward block width), so
// the barriers passed can be read from them: after a failure in the k-th
// phase forward_pivot = 1 + k·nb. The slot the last barrier did not use is
// left armed; the caller frees the slots and the mutex. Backward blocks
// are 2·nb rows in factor-and-solve and nb rows in substitution. Given
// block_width < 1 or n = 2^31 − 1, with which the phases would never end,
// every thread returns at once and nothing is touched.
// ---------------------------------------------------------------------------

using FailureFlags = std::atomic<std::int32_t>[2];

void band_factor_solve_worker_r4(
    float* const& A, const std::int32_t& n, const std::int32_t& hb,
    float* const& B, const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next,
    const float& pivot_threshold, FailureFlags& failure_flags);
void band_substitute_worker_r4(
    const float* const& A, const std::int32_t& n, const std::int32_t& hb,
    float* const& B, const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next);
void band_factor_worker_r4(
    float* const& A, const std::int32_t& n, const std::int32_t& hb,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    const float& pivot_threshold, FailureFlags& failure_flags);

void band_factor_solve_worker_r8(
    double* const& A, const std::int32_t& n, const std::int32_t& hb,
    double* const& B, const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next,
    const double& pivot_threshold, FailureFlags& failure_flags);
void band_substitute_worker_r8(
    const double* const& A, const std::int32_t& n, const std::int32_t& hb,
    double* const& B, const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next);
void band_factor_worker_r8(
    double* const& A, const std::int32_t& n, const std::int32_t& hb,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    const double& pivot_threshold, FailureFlags& failure_flags);

void band_factor_solve_worker_c8(
    std::complex<float>* const& A, const std::int32_t& n,
    const std::int32_t& hb, std::complex<float>* const& B,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next,
    const float& pivot_threshold, FailureFlags& failure_flags);
void band_substitute_worker_c8(
    const std::complex<float>* const& A, const std::int32_t& n,
    const std::int32_t& hb, std::complex<float>* const& B,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next);
void band_factor_worker_c8(std::complex<float>* const& A, const std::int32_t& n,
                           const std::int32_t& hb,
                           const std::int32_t& block_width, const Handle& mutex,
                           const std::int32_t (&slots)[2],
                           const std::int32_t& team_size,
                           std::int32_t& forward_pivot,
                           std::int32_t& forward_next,
                           const float& pivot_threshold,
                           FailureFlags& failure_flags);

void band_factor_solve_worker_c16(
    std::complex<double>* const& A, const std::int32_t& n,
    const std::int32_t& hb, std::complex<double>* const& B,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next,
    const double& pivot_threshold, FailureFlags& failure_flags);
void band_substitute_worker_c16(
    const std::complex<double>* const& A, const std::int32_t& n,
    const std::int32_t& hb, std::complex<double>* const& B,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next);
void band_factor_worker_c16(std::complex<double>* const& A,
                            const std::int32_t& n, const std::int32_t& hb,
                            const std::int32_t& block_width,
                            const Handle& mutex, const std::int32_t (&slots)[2],
                            const std::int32_t& team_size,
                            std::int32_t& forward_pivot,
                            std::int32_t& forward_next,
                            const double& pivot_threshold,
                            FailureFlags& failure_flags);

// The same for a Hermitian positive definite matrix: A = L·Lᴴ, a pivot
// fails when its real part is not above the threshold (a diagonal
// element's imaginary part is not read), L's diagonal is real.
void band_factor_solve_h8(Hermitian<float>* A, std::int32_t n, std::int32_t hb,
                          Hermitian<float>* B, std::int32_t block_width,
                          std::int32_t& status);
void band_factor_solve_h16(Hermitian<double>* A, std::int32_t n,
                           std::int32_t hb, Hermitian<double>* B,
                           std::int32_t block_width, std::int32_t& status);
void band_factor_h8(Hermitian<float>* A, std::int32_t n, std::int32_t hb,
                    std::int32_t block_width, std::int32_t& status);
void band_factor_h16(Hermitian<double>* A, std::int32_t n, std::int32_t hb,
                     std::int32_t block_width, std::int32_t& status);
void band_substitute_h8(const Hermitian<float>* A, std::int32_t n,
                        std::int32_t hb, Hermitian<float>* B,
                        std::int32_t block_width, std::int32_t& status);
void band_substitute_h16(const Hermitian<double>* A, std::int32_t n,
                         std::int32_t hb, Hermitian<double>* B,
                         std::int32_t block_width, std::int32_t& status);
void band_factor_team_h8(Hermitian<float>* A, std::int32_t n, std::int32_t hb,
                         std::int32_t block_width, std::int32_t team_size,
                         std::int32_t& status);
void band_factor_team_h16(Hermitian<double>* A, std::int32_t n, std::int32_t hb,
                          std::int32_t block_width, std::int32_t team_size,
                          std::int32_t& status);
void band_substitute_team_h8(const Hermitian<float>* A, std::int32_t n,
                             std::int32_t hb, Hermitian<float>* B,
                             std::int32_t block_width, std::int32_t team_size,
                             std::int32_t& status);
void band_substitute_team_h16(const Hermitian<double>* A, std::int32_t n,
                              std::int32_t hb, Hermitian<double>* B,
                              std::int32_t block_width, std::int32_t team_size,
                              std::int32_t& status);
void band_factor_solve_worker_h8(
    Hermitian<float>* const& A, const std::int32_t& n, const std::int32_t& hb,
    Hermitian<float>* const& B, const std::int32_t& block_width,
    const Handle& mutex, const std::int32_t (&slots)[2],
    const std::int32_t& team_size, std::int32_t& forward_pivot,
    std::int32_t& forward_next, std::int32_t& backward_pivot,
    std::int32_t& backward_next, const float& pivot_threshold,
    FailureFlags& failure_flags);
void band_substitute_worker_h8(
    const Hermitian<float>* const& A, const std::int32_t& n,
    const std::int32_t& hb, Hermitian<float>* const& B,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next);
void band_factor_worker_h8(
    Hermitian<float>* const& A, const std::int32_t& n, const std::int32_t& hb,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    const float& pivot_threshold, FailureFlags& failure_flags);
void band_factor_solve_worker_h16(
    Hermitian<double>* const& A, const std::int32_t& n, const std::int32_t& hb,
    Hermitian<double>* const& B, const std::int32_t& block_width,
    const Handle& mutex, const std::int32_t (&slots)[2],
    const std::int32_t& team_size, std::int32_t& forward_pivot,
    std::int32_t& forward_next, std::int32_t& backward_pivot,
    std::int32_t& backward_next, const double& pivot_threshold,
    FailureFlags& failure_flags);
void band_substitute_worker_h16(
    const Hermitian<double>* const& A, const std::int32_t& n,
    const std::int32_t& hb, Hermitian<double>* const& B,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    std::int32_t& backward_pivot, std::int32_t& backward_next);
void band_factor_worker_h16(
    Hermitian<double>* const& A, const std::int32_t& n, const std::int32_t& hb,
    const std::int32_t& block_width, const Handle& mutex,
    const std::int32_t (&slots)[2], const std::int32_t& team_size,
    std::int32_t& forward_pivot, std::int32_t& forward_next,
    const double& pivot_threshold, FailureFlags& failure_flags);

}  // namespace pband
