// Defines the expert driver's C entry of one element type as a forwarder
// to the shared template, so each type is a single line of it.
#pragma once

#include <complex>
#include <cstdint>

#include "accuracy/band_accuracy.hpp"
#include "accuracy/band_scaling.hpp"
#include "api/expert_api.hpp"
#include "bandlib/band_library.hpp"
#include "pband/pband.h"
#include "solver/band_solver.hpp"

// L: s, d, c or z; C: the element type of the C header; T: ours;
// SUFFIX: the library's ending for T (r4, r8, c8, c16).
#define PBAND_C_API_EXPERT(L, C, T, SUFFIX)                                    \
  namespace {                                                                  \
  constexpr pband::api::ExpertEntries<T, C> expert_##L{                        \
      {&pband::solve_band_system_library_##SUFFIX,                                \
       &pband::band_factor_team_##SUFFIX,                                      \
       &pband::band_substitute_team_##SUFFIX,                                  \
       &pband::factor_band_system_##SUFFIX,                                    \
       &pband::solve_band_system_factored_##SUFFIX},                           \
      {&pband::band_norm1_##SUFFIX, &pband::band_product_##SUFFIX},            \
      {&pband::band_scale_factors_##SUFFIX, &pband::band_scale_##SUFFIX},      \
      &pband_rcond_##L,                                                        \
      &pband_refine_##L};                                                      \
  }                                                                            \
  extern "C" int pband_solve_expert_##L(                                       \
      char fact, int32_t n, int32_t hb, int32_t nrhs, C* ab, int32_t ldab,     \
      C* afb, int32_t ldafb, char* equed, pband::RealOf<T>* s, C* factor,      \
      int64_t lfactor, C* b, int32_t ldb, C* x, int32_t ldx,                   \
      pband::RealOf<T>* rcond, pband::RealOf<T>* ferr, pband::RealOf<T>* berr, \
      int32_t threads) {                                                       \
    auto t = [](C* p) { return reinterpret_cast<T*>(p); };                     \
    return pband::api::solve_expert(                                           \
        expert_##L,                                                            \
        pband::api::ExpertCall<T>{fact,      n,       hb,    nrhs,  t(ab),     \
                                  ldab,      t(afb),  ldafb, equed, s,         \
                                  t(factor), lfactor, t(b),  ldb,   t(x),      \
                                  ldx,       rcond,   ferr,  berr,  threads}); \
  }
