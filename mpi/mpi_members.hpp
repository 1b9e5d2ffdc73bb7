// Defines the distributed C interface's entry points of one element type
// as forwarders to the shared templates, so each per-type source is a
// single line of it.
#pragma once

#include <complex>
#include <cstdint>

#include "mpi/factor_api.hpp"
#include "mpi/mpi_api.hpp"

// S: the suffix (s, d, c, z); C: the C element type; T: the C++ one.
#define PBAND_MPI_MEMBERS(S, C, T)                                             \
  extern "C" int pband_mpi_solve_##S(MPI_Comm comm, int64_t n, int32_t hb,     \
                                     int32_t nrhs, int64_t first,              \
                                     int32_t count, C* ab, int32_t ldab, C* b, \
                                     int32_t ldb, int32_t threads) {           \
    return pband::mpi::solve<T>(comm, n, hb, nrhs, first, count,               \
                                reinterpret_cast<T*>(ab), ldab,                \
                                reinterpret_cast<T*>(b), ldb, threads);        \
  }                                                                            \
  extern "C" int64_t pband_mpi_factor_workspace_##S(                           \
      int64_t n, int32_t hb, int64_t first, int32_t count, int32_t ldab) {     \
    return pband::mpi::factor_workspace<T>(n, hb, first, count, ldab);         \
  }                                                                            \
  extern "C" int pband_mpi_factor_##S(MPI_Comm comm, int64_t n, int32_t hb,    \
                                      int64_t first, int32_t count,            \
                                      const C* ab, int32_t ldab, C* factor,    \
                                      int64_t lfactor, int32_t threads) {      \
    return pband::mpi::factor<T>(                                              \
        comm, n, hb, first, count, reinterpret_cast<const T*>(ab), ldab,       \
        reinterpret_cast<T*>(factor), lfactor, threads);                       \
  }                                                                            \
  extern "C" int pband_mpi_solve_factored_##S(                                 \
      MPI_Comm comm, int64_t n, int32_t hb, int32_t nrhs, int64_t first,       \
      int32_t count, const C* factor, int64_t lfactor, C* b, int32_t ldb,      \
      int32_t threads) {                                                       \
    return pband::mpi::solve_factored<T>(                                      \
        comm, n, hb, nrhs, first, count, reinterpret_cast<const T*>(factor),   \
        lfactor, reinterpret_cast<T*>(b), ldb, threads);                       \
  }
