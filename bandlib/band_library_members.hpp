// Defines the suffixed entry points of one element type as forwarders to
// the shared templates, so each per-type source is a single line of it.
#pragma once

#include <complex>
#include <cstdint>

#include "bandlib/band_drivers.hpp"
#include "bandlib/band_library.hpp"

// SUFFIX: r4, r8, c8, c16, h8 or h16; T: the element type.
#define PBAND_BANDLIB_MEMBERS(SUFFIX, T)                                       \
  void band_factor_solve_worker_##SUFFIX(                                      \
      T* const& A, const std::int32_t& n, const std::int32_t& hb, T* const& B, \
      const std::int32_t& block_width, const Handle& mutex,                    \
      const std::int32_t(&slots)[2], const std::int32_t& team_size,            \
      std::int32_t& forward_pivot, std::int32_t& forward_next,                 \
      std::int32_t& backward_pivot, std::int32_t& backward_next,               \
      const RealOf<T>& pivot_threshold, FailureFlags& failure_flags) {         \
    detail::band_factor_solve_worker<T>(                                       \
        A, n, hb, B, block_width, mutex, slots, team_size, forward_pivot,      \
        forward_next, backward_pivot, backward_next, pivot_threshold,          \
        failure_flags);                                                        \
  }                                                                            \
  void band_substitute_worker_##SUFFIX(                                        \
      const T* const& A, const std::int32_t& n, const std::int32_t& hb,        \
      T* const& B, const std::int32_t& block_width, const Handle& mutex,       \
      const std::int32_t(&slots)[2], const std::int32_t& team_size,            \
      std::int32_t& forward_pivot, std::int32_t& forward_next,                 \
      std::int32_t& backward_pivot, std::int32_t& backward_next) {             \
    detail::band_substitute_worker<T>(A, n, hb, B, block_width, mutex, slots,  \
                                      team_size, forward_pivot, forward_next,  \
                                      backward_pivot, backward_next);          \
  }                                                                            \
  void band_factor_worker_##SUFFIX(                                            \
      T* const& A, const std::int32_t& n, const std::int32_t& hb,              \
      const std::int32_t& block_width, const Handle& mutex,                    \
      const std::int32_t(&slots)[2], const std::int32_t& team_size,            \
      std::int32_t& forward_pivot, std::int32_t& forward_next,                 \
      const RealOf<T>& pivot_threshold, FailureFlags& failure_flags) {         \
    detail::band_factor_worker<T>(A, n, hb, block_width, mutex, slots,         \
                                  team_size, forward_pivot, forward_next,      \
                                  pivot_threshold, failure_flags);             \
  }                                                                            \
  void band_factor_solve_##SUFFIX(T* A, std::int32_t n, std::int32_t hb, T* B, \
                                  std::int32_t block_width,                    \
                                  std::int32_t& status) {                      \
    detail::band_factor_solve<T>(A, n, hb, B, block_width, 0, status,          \
                                 &band_factor_solve_worker_##SUFFIX);          \
  }                                                                            \
  void band_factor_##SUFFIX(T* A, std::int32_t n, std::int32_t hb,             \
                            std::int32_t block_width, std::int32_t& status) {  \
    detail::band_factor<T>(A, n, hb, block_width, 0, status,                   \
                           &band_factor_worker_##SUFFIX);                      \
  }                                                                            \
  void band_substitute_##SUFFIX(const T* A, std::int32_t n, std::int32_t hb,   \
                                T* B, std::int32_t block_width,                \
                                std::int32_t& status) {                        \
    detail::band_substitute<T>(A, n, hb, B, block_width, 0, status,            \
                               &band_substitute_worker_##SUFFIX);              \
  }                                                                            \
  void band_factor_team_##SUFFIX(                                              \
      T* A, std::int32_t n, std::int32_t hb, std::int32_t block_width,         \
      std::int32_t team_size, std::int32_t& status) {                          \
    detail::band_factor<T>(A, n, hb, block_width, team_size, status,           \
                           &band_factor_worker_##SUFFIX);                      \
  }                                                                            \
  void band_substitute_team_##SUFFIX(                                          \
      const T* A, std::int32_t n, std::int32_t hb, T* B,                       \
      std::int32_t block_width, std::int32_t team_size,                        \
      std::int32_t& status) {                                                  \
    detail::band_substitute<T>(A, n, hb, B, block_width, team_size, status,    \
                               &band_substitute_worker_##SUFFIX);              \
  }
