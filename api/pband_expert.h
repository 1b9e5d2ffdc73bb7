/* The expert driver's C declarations, kept apart until the condition
 * estimate and the refinement it calls are in libpband; with
 * PBAND_EXPERT_DRIVER on, this block belongs at the end of pband.h.
 *
 * Solves A·X = B as LAPACK's ?pbsvx, with the stored cyclic-reduction
 * factor in afb and factor. fact 'N': factor a copy of A; 'E': equilibrate
 * A first when its diagonal asks for it (pband_equilibrate_*; ab and b
 * are then scaled in place, *equed = 'Y', s the factors); 'F': afb and
 * factor hold pband_factor_* of A (scaled by s when *equed = 'Y').
 * Then rcond, X (into x; b is read), refinement with forward and backward
 * error bounds per column, X scaled back. Status 0; n + 1 when
 * rcond < eps (X and the bounds still computed); 1 when the factor
 * failed (rcond = 0); -i for argument i, nothing touched;
 * PBAND_OUT_OF_MEMORY.
 * Arguments: 1 fact, 2 n, 3 hb, 4 nrhs, 5 ab, 6 ldab, 7 afb, 8 ldafb,
 * 9 equed, 10 s, 11 factor, 12 lfactor, 13 b, 14 ldb, 15 x, 16 ldx,
 * 17 rcond, 18 ferr, 19 berr, 20 threads. */
#ifndef PBAND_EXPERT_H
#define PBAND_EXPERT_H

#include "pband/pband.h"

#ifdef __cplusplus
extern "C" {
#endif

PBAND_API int pband_solve_expert_s(char fact, int32_t n, int32_t hb,
                                   int32_t nrhs, float* ab, int32_t ldab,
                                   float* afb, int32_t ldafb, char* equed,
                                   float* s, float* factor, int64_t lfactor,
                                   float* b, int32_t ldb, float* x, int32_t ldx,
                                   float* rcond, float* ferr, float* berr,
                                   int32_t threads);
PBAND_API int pband_solve_expert_d(char fact, int32_t n, int32_t hb,
                                   int32_t nrhs, double* ab, int32_t ldab,
                                   double* afb, int32_t ldafb, char* equed,
                                   double* s, double* factor, int64_t lfactor,
                                   double* b, int32_t ldb, double* x,
                                   int32_t ldx, double* rcond, double* ferr,
                                   double* berr, int32_t threads);
PBAND_API int pband_solve_expert_c(
    char fact, int32_t n, int32_t hb, int32_t nrhs, pband_complex_float* ab,
    int32_t ldab, pband_complex_float* afb, int32_t ldafb, char* equed,
    float* s, pband_complex_float* factor, int64_t lfactor,
    pband_complex_float* b, int32_t ldb, pband_complex_float* x, int32_t ldx,
    float* rcond, float* ferr, float* berr, int32_t threads);
PBAND_API int pband_solve_expert_z(
    char fact, int32_t n, int32_t hb, int32_t nrhs, pband_complex_double* ab,
    int32_t ldab, pband_complex_double* afb, int32_t ldafb, char* equed,
    double* s, pband_complex_double* factor, int64_t lfactor,
    pband_complex_double* b, int32_t ldb, pband_complex_double* x, int32_t ldx,
    double* rcond, double* ferr, double* berr, int32_t threads);

#ifdef __cplusplus
}
#endif

#endif /* PBAND_EXPERT_H */
