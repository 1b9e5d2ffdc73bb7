// The diagonal-block factor's entry points, one per element type: an
// in-place L·Lᵀ (Hermitian: L·Lᴴ) factorization of a run of band columns
// with the pivot test that decides whether a solve fails. The band library
// factors its pivot blocks through them; the solver inlines the template.
#pragma once

#include <atomic>
#include <complex>
#include <cstdint>

#include "kernels/element_traits.hpp"

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
void factor_diagonal_block_h8(Hermitian<float>* A, std::int32_t hb,
                              std::int32_t first, std::int32_t last,
                              float threshold,
                              std::atomic<std::int32_t>* failure_flags,
                              std::int32_t parity);
void factor_diagonal_block_h16(Hermitian<double>* A, std::int32_t hb,
                               std::int32_t first, std::int32_t last,
                               double threshold,
                               std::atomic<std::int32_t>* failure_flags,
                               std::int32_t parity);

template <class T>
struct DiagonalBlockEntry;
template <>
struct DiagonalBlockEntry<float> {
  static constexpr auto factor = &factor_diagonal_block_r4;
};
template <>
struct DiagonalBlockEntry<double> {
  static constexpr auto factor = &factor_diagonal_block_r8;
};
template <>
struct DiagonalBlockEntry<std::complex<float>> {
  static constexpr auto factor = &factor_diagonal_block_c8;
};
template <>
struct DiagonalBlockEntry<std::complex<double>> {
  static constexpr auto factor = &factor_diagonal_block_c16;
};
template <>
struct DiagonalBlockEntry<Hermitian<float>> {
  static constexpr auto factor = &factor_diagonal_block_h8;
};
template <>
struct DiagonalBlockEntry<Hermitian<double>> {
  static constexpr auto factor = &factor_diagonal_block_h16;
};

// The entry point of T's element type.
template <class T>
void factor_diagonal_block_of(T* A, std::int32_t hb, std::int32_t first,
                              std::int32_t last, RealOf<T> threshold,
                              std::atomic<std::int32_t>* flags,
                              std::int32_t parity) {
  DiagonalBlockEntry<T>::factor(A, hb, first, last, threshold, flags, parity);
}

}  // namespace pband
