// Public interface of the parallel band solver: A·X = B for a symmetric
// positive definite (complex: complex symmetric) band matrix in lower band
// storage, by block cyclic reduction over the current team of threads.
#pragma once

#include <atomic>
#include <complex>
#include <cstdint>

namespace pband {

// Lower band storage: column-major, hb + 1 elements per column, element
// (i, j), j <= i <= j + hb, at 0-based position (j-1)(hb+1) + (i-j);
// n + hb(n-1) elements.
//
// solve_band_system_*(A, n, hb, B, nrhs, W, status)
//   A      band matrix; overwritten by the factors of its diagonal blocks
//   B      n × nrhs right-hand sides, column-major; overwritten by X
//   W      workspace of 2·n·hb elements
//   status 0 success, 1 a pivot was not positive (complex: was zero)
void solve_band_system_r4(float* A, std::int32_t n, std::int32_t hb, float* B,
                          std::int32_t nrhs, float* W, std::int32_t& status);
void solve_band_system_r8(double* A, std::int32_t n, std::int32_t hb,
                          double* B, std::int32_t nrhs, double* W,
                          std::int32_t& status);
void solve_band_system_c8(std::complex<float>* A, std::int32_t n,
                          std::int32_t hb, std::complex<float>* B,
                          std::int32_t nrhs, std::complex<float>* W,
                          std::int32_t& status);
void solve_band_system_c16(std::complex<double>* A, std::int32_t n,
                           std::int32_t hb, std::complex<double>* B,
                           std::int32_t nrhs, std::complex<double>* W,
                           std::int32_t& status);

// In-place factorization of columns first … last with the pivot test;
// on failure sets failure_flags[parity - 1] (parity 1 or 2) to 1.
void factor_diagonal_block_r4(float* A, std::int32_t hb, std::int32_t first,
                              std::int32_t last, float threshold,
                              std::atomic<std::int32_t>* failure_flags,
                              std::int32_t parity);
void factor_diagonal_block_r8(double* A, std::int32_t hb, std::int32_t first,
                              std::int32_t last, double threshold,
                              std::atomic<std::int32_t>* failure_flags,
                              std::int32_t parity);
void factor_diagonal_block_c8(std::complex<float>* A, std::int32_t hb,
                              std::int32_t first, std::int32_t last,
                              float threshold,
                              std::atomic<std::int32_t>* failure_flags,
                              std::int32_t parity);
void factor_diagonal_block_c16(std::complex<double>* A, std::int32_t hb,
                               std::int32_t first, std::int32_t last,
                               double threshold,
                               std::atomic<std::int32_t>* failure_flags,
                               std::int32_t parity);

}  // namespace pband
