// The diagonal-block factor's entry points, one per element type: an
// in-place L·Lᵀ factorization of a run of band columns with the pivot
// test that decides whether a solve fails. The band library factors its
// pivot blocks through them; the solver inlines the template.
#pragma once

#include <atomic>
#include <complex>
#include <cstdint>

namespace pband {

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

// The entry point of an element type, by overload.
inline void factor_diagonal_block_of(float* A, std::int32_t hb,
                                     std::int32_t first, std::int32_t last,
                                     float threshold,
                                     std::atomic<std::int32_t>* flags,
                                     std::int32_t parity) {
  factor_diagonal_block_r4(A, hb, first, last, threshold, flags, parity);
}
inline void factor_diagonal_block_of(double* A, std::int32_t hb,
                                     std::int32_t first, std::int32_t last,
                                     double threshold,
                                     std::atomic<std::int32_t>* flags,
                                     std::int32_t parity) {
  factor_diagonal_block_r8(A, hb, first, last, threshold, flags, parity);
}
inline void factor_diagonal_block_of(std::complex<float>* A, std::int32_t hb,
                                     std::int32_t first, std::int32_t last,
                                     float threshold,
                                     std::atomic<std::int32_t>* flags,
                                     std::int32_t parity) {
  factor_diagonal_block_c8(A, hb, first, last, threshold, flags, parity);
}
inline void factor_diagonal_block_of(std::complex<double>* A, std::int32_t hb,
                                     std::int32_t first, std::int32_t last,
                                     double threshold,
                                     std::atomic<std::int32_t>* flags,
                                     std::int32_t parity) {
  factor_diagonal_block_c16(A, hb, first, last, threshold, flags, parity);
}

}  // namespace pband
