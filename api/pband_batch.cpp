// The batch entry points of the four element types and the two Hermitian
// ones: each runs the shared template over the type's own solve.
#include <complex>
#include <cstdint>

#include "api/c_api_batch.hpp"
#include "pband/pband.h"
#include "solver/band_solver.hpp"

// Only the solve is used; the other entries stay empty.
#define PBAND_C_API_BATCH(L, C, T, SUFFIX)                                     \
  namespace {                                                                  \
  constexpr pband::api::Entries<T> batch_entries_##L{                          \
      &pband::solve_band_system_library_##SUFFIX, nullptr, nullptr, nullptr,      \
      nullptr};                                                                \
  }                                                                            \
  extern "C" int pband_solve_batch_##L(                                        \
      int32_t count, int32_t n, int32_t hb, int32_t nrhs, C* ab, int32_t ldab, \
      int64_t stride_ab, C* b, int32_t ldb, int64_t stride_b,                  \
      int32_t* statuses, int32_t threads) {                                    \
    return pband::api::solve_batch(                                            \
        batch_entries_##L, count, n, hb, nrhs, reinterpret_cast<T*>(ab), ldab, \
        stride_ab, reinterpret_cast<T*>(b), ldb, stride_b, statuses, threads); \
  }

PBAND_C_API_BATCH(s, float, float, r4)
PBAND_C_API_BATCH(d, double, double, r8)
PBAND_C_API_BATCH(c, pband_complex_float, std::complex<float>, c8)
PBAND_C_API_BATCH(z, pband_complex_double, std::complex<double>, c16)
PBAND_C_API_BATCH(hermitian_c, pband_complex_float, pband::Hermitian<float>, h8)
PBAND_C_API_BATCH(hermitian_z, pband_complex_double, pband::Hermitian<double>,
                  h16)
