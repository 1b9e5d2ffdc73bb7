// The condition estimate and the refinement with error bounds as the
// expert driver calls them: C entries of libpband written elsewhere,
// declared here with the names and arguments they are defined with.
#pragma once

#include <cstdint>

#include "pband/pband.h"

extern "C" {
int pband_rcond_s(int32_t n, int32_t hb, const float* ab, int32_t ldab,
                  const float* factor, int64_t lfactor, float anorm,
                  float* rcond, int32_t threads);
int pband_rcond_d(int32_t n, int32_t hb, const double* ab, int32_t ldab,
                  const double* factor, int64_t lfactor, double anorm,
                  double* rcond, int32_t threads);
int pband_rcond_c(int32_t n, int32_t hb, const pband_complex_float* ab,
                  int32_t ldab, const pband_complex_float* factor,
                  int64_t lfactor, float anorm, float* rcond, int32_t threads);
int pband_rcond_z(int32_t n, int32_t hb, const pband_complex_double* ab,
                  int32_t ldab, const pband_complex_double* factor,
                  int64_t lfactor, double anorm, double* rcond,
                  int32_t threads);

int pband_refine_s(int32_t n, int32_t hb, int32_t nrhs, const float* a,
                   int32_t lda, const float* af, int32_t ldaf,
                   const float* factor, int64_t lfactor, const float* b,
                   int32_t ldb, float* x, int32_t ldx, float* ferr, float* berr,
                   int32_t threads);
int pband_refine_d(int32_t n, int32_t hb, int32_t nrhs, const double* a,
                   int32_t lda, const double* af, int32_t ldaf,
                   const double* factor, int64_t lfactor, const double* b,
                   int32_t ldb, double* x, int32_t ldx, double* ferr,
                   double* berr, int32_t threads);
int pband_refine_c(int32_t n, int32_t hb, int32_t nrhs,
                   const pband_complex_float* a, int32_t lda,
                   const pband_complex_float* af, int32_t ldaf,
                   const pband_complex_float* factor, int64_t lfactor,
                   const pband_complex_float* b, int32_t ldb,
                   pband_complex_float* x, int32_t ldx, float* ferr,
                   float* berr, int32_t threads);
int pband_refine_z(int32_t n, int32_t hb, int32_t nrhs,
                   const pband_complex_double* a, int32_t lda,
                   const pband_complex_double* af, int32_t ldaf,
                   const pband_complex_double* factor, int64_t lfactor,
                   const pband_complex_double* b, int32_t ldb,
                   pband_complex_double* x, int32_t ldx, double* ferr,
                   double* berr, int32_t threads);
}
