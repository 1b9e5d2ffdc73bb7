// Defines the equilibration C entries of one element type as forwarders
// to the shared templates, so each type is a single line of it.
#pragma once

#include <complex>
#include <cstdint>

#include "accuracy/band_scaling.hpp"
#include "api/scaling_api.hpp"
#include "pband/pband.h"

// L: s, d, c or z; C: the element type of the C header; T: ours;
// SUFFIX: the library's ending for T (r4, r8, c8, c16).
#define PBAND_C_API_SCALING(L, C, T, SUFFIX)                                   \
  namespace {                                                                  \
  constexpr pband::api::ScalingEntries<T> scaling_##L{                         \
      &pband::band_scale_factors_##SUFFIX, &pband::band_scale_##SUFFIX};       \
  }                                                                            \
  extern "C" {                                                                 \
  int pband_equilibrate_factors_##L(int32_t n, int32_t hb, const C* ab,        \
                                    int32_t ldab, pband::RealOf<T>* s,         \
                                    pband::RealOf<T>* scond,                   \
                                    pband::RealOf<T>* amax) {                  \
    return pband::api::scale_factors(scaling_##L, n, hb,                       \
                                     reinterpret_cast<const T*>(ab), ldab, s,  \
                                     scond, amax);                             \
  }                                                                            \
  int pband_equilibrate_##L(int32_t n, int32_t hb, C* ab, int32_t ldab,        \
                            const pband::RealOf<T>* s, pband::RealOf<T> scond, \
                            pband::RealOf<T> amax, char* equed) {              \
    return pband::api::equilibrate(scaling_##L, n, hb,                         \
                                   reinterpret_cast<T*>(ab), ldab, s, scond,   \
                                   amax, equed);                               \
  }                                                                            \
  }
