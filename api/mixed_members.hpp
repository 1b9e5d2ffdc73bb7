// Defines the mixed precision C entry of one pair of element types as a
// forwarder to the shared template, so each pair is a single line of it.
#pragma once

#include <complex>
#include <cstdint>

#include "accuracy/band_accuracy.hpp"
#include "api/mixed_api.hpp"
#include "bandlib/band_library.hpp"
#include "pband/pband.h"
#include "solver/band_solver.hpp"

// The library's entry points of one element type, SUFFIX its ending.
#define PBAND_MIXED_ENTRIES(SUFFIX)                 \
  {                                                 \
    &pband::solve_band_system_library_##SUFFIX,     \
        &pband::band_factor_team_##SUFFIX,          \
        &pband::band_substitute_team_##SUFFIX,      \
        &pband::factor_band_system_##SUFFIX,        \
        &pband::solve_band_system_factored_##SUFFIX \
  }

// LL: ds or zc; C: the higher type of the C header; H, L: ours, higher
// and lower; HS, LS: the library's endings for H and L.
#define PBAND_C_API_MIXED(LL, C, H, L, HS, LS)                                 \
  namespace {                                                                  \
  constexpr pband::api::MixedEntries<H, L> mixed_##LL{                         \
      PBAND_MIXED_ENTRIES(HS),                                                 \
      PBAND_MIXED_ENTRIES(LS),                                                 \
      {&pband::band_norm1_##HS, &pband::band_product_##HS}};                   \
  }                                                                            \
  extern "C" int pband_solve_mixed_##LL(int32_t n, int32_t hb, int32_t nrhs,   \
                                        const C* ab, int32_t ldab, const C* b, \
                                        int32_t ldb, C* x, int32_t ldx,        \
                                        int32_t* iter, int32_t threads) {      \
    return pband::api::solve_mixed(                                            \
        mixed_##LL, n, hb, nrhs, reinterpret_cast<const H*>(ab), ldab,         \
        reinterpret_cast<const H*>(b), ldb, reinterpret_cast<H*>(x), ldx,      \
        iter, threads);                                                        \
  }
