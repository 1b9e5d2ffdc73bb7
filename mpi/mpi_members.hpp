// Defines the distributed C interface's entry points of one element type
// as forwarders to the shared templates, so each per-type source is a
// single line of it.
#pragma once

#include <complex>
#include <cstdint>

#include "mpi/mpi_api.hpp"

// S: the suffix (s, d, c, z); C: the C element type; T: the C++ one.
#define PBAND_MPI_MEMBERS(S, C, T)                                           \
  extern "C" int pband_mpi_solve_##S(                                        \
      MPI_Comm comm, int64_t n, int32_t hb, int32_t nrhs, int64_t first,     \
      int32_t count, C* ab, int32_t ldab, C* b, int32_t ldb,                 \
      int32_t threads) {                                                     \
    return pband::mpi::solve<T>(comm, n, hb, nrhs, first, count,             \
                                reinterpret_cast<T*>(ab), ldab,        \
                                reinterpret_cast<T*>(b), ldb, threads);      \
  }
