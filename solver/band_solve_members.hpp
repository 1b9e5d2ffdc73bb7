// Defines the suffixed entry points of one element type as forwarders to
// the shared templates, so each per-type source is a single line of it.
#pragma once

#include <atomic>
#include <complex>
#include <cstdint>

#include "solver/band_solve_driver.hpp"
#include "solver/block_phases.hpp"
#include "solver/band_solver.hpp"

// SUFFIX: r4, r8, c8, c16, h8 or h16; T: the element type.
#define PBAND_SOLVER_MEMBERS(SUFFIX, T)                                        \
  void solve_band_system_##SUFFIX(T* A, std::int32_t n, std::int32_t hb, T* B, \
                                  std::int32_t nrhs, T* W,                     \
                                  std::int32_t& status) {                      \
    solve_band_system<T>(A, n, hb, B, nrhs, W, 0, status);                     \
  }                                                                            \
  void solve_band_system_team_##SUFFIX(                                        \
      T* A, std::int32_t n, std::int32_t hb, T* B, std::int32_t nrhs, T* W,    \
      std::int32_t team_size, std::int32_t& status) {                          \
    solve_band_system<T>(A, n, hb, B, nrhs, W, team_size, status);             \
  }                                                                            \
  void solve_band_system_library_##SUFFIX(                                     \
      T* A, std::int32_t n, std::int32_t hb, T* B, std::int32_t nrhs, T* W,    \
      std::int32_t team_size, std::int32_t& status) {                          \
    solve_band_system<T>(A, n, hb, B, nrhs, W, team_size, status, nullptr,     \
                         true);                                                \
  }                                                                            \
  void factor_band_system_##SUFFIX(                                            \
      T* A, std::int32_t n, std::int32_t hb, T* W, std::int32_t team_size,     \
      std::int32_t& block_size, std::int32_t& status) {                        \
    block_size = 0;                                                            \
    solve_band_system<T>(A, n, hb, nullptr, 0, W, team_size, status,           \
                         &block_size, true);                                   \
  }                                                                            \
  void solve_band_system_factored_##SUFFIX(                                    \
      const T* A, std::int32_t n, std::int32_t hb, T* B, std::int32_t nrhs,    \
      const T* W, std::int32_t block_size, std::int32_t team_size,             \
      std::int32_t& status) {                                                  \
    solve_band_system_factored<T>(A, n, hb, B, nrhs, W, block_size, team_size, \
                                  status);                                     \
  }                                                                            \
  BlockOps<T> solver_block_ops_##SUFFIX(std::int64_t hb) {                     \
    return block_ops<T>(hb, isa_in_use());                                     \
  }
