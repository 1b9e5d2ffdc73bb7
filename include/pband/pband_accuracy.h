/* pband: the stored factor and the accuracy tools of the
 * C interface (conventions, element types and status codes as in
 * <pband/pband.h>, which includes this header). */
#ifndef PBAND_PBAND_ACCURACY_H
#define PBAND_PBAND_ACCURACY_H

#include <stdint.h>

#include "pband/pband.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A stored factor, for many solves with one matrix, by the method
 * pband_solve_* takes for the system. pband_factor_* factors A on a team
 * of `threads` threads, as pband_solve_* would, and keeps what later solves need in the caller's
 * array `factor` of lfactor elements (pband_factor_workspace_* gives
 * lfactor; it also names the system, so that a factor of another one is
 * refused). ab is overwritten by the factored band (padding rows and rows
 * beyond n untouched when ldab > hb + 1). Status 0; 1 when a pivot failed
 * (factor is then no factor: solves with it return -6); -i for argument
 * i, nothing touched; PBAND_OUT_OF_MEMORY.
 * Arguments: 1 n, 2 hb, 3 ab, 4 ldab, 5 factor, 6 lfactor, 7 threads.
 * pband_factor_workspace_*: arguments 1 n, 2 hb, 3 ldab; elements, or a
 * negative status. */
PBAND_API int64_t pband_factor_workspace_s(int32_t n, int32_t hb, int32_t ldab);
PBAND_API int pband_factor_s(int32_t n, int32_t hb, float* ab, int32_t ldab,
                             float* factor, int64_t lfactor, int32_t threads);
PBAND_API int64_t pband_factor_workspace_d(int32_t n, int32_t hb, int32_t ldab);
PBAND_API int pband_factor_d(int32_t n, int32_t hb, double* ab, int32_t ldab,
                             double* factor, int64_t lfactor, int32_t threads);
PBAND_API int64_t pband_factor_workspace_c(int32_t n, int32_t hb, int32_t ldab);
PBAND_API int pband_factor_c(int32_t n, int32_t hb, pband_complex_float* ab,
                             int32_t ldab, pband_complex_float* factor,
                             int64_t lfactor, int32_t threads);
PBAND_API int64_t pband_factor_workspace_z(int32_t n, int32_t hb, int32_t ldab);
PBAND_API int pband_factor_z(int32_t n, int32_t hb, pband_complex_double* ab,
                             int32_t ldab, pband_complex_double* factor,
                             int64_t lfactor, int32_t threads);

/* Solves A·X = B with the factor that pband_factor_* left in ab and
 * factor, on a team of `threads` threads; B is overwritten by X, with the
 * bits of pband_solve_* of the same system on the factor's team, whatever
 * team solves. ab and factor are only read. Status 0; -i for argument i
 * (-6: not a factor of this system), nothing touched;
 * PBAND_OUT_OF_MEMORY (a copy of B when nrhs > 1 and ldb > n, or of
 * B's second half for a two-way factor).
 * Arguments: 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 factor, 7 lfactor, 8 b,
 * 9 ldb, 10 threads. */
PBAND_API int pband_solve_factored_s(int32_t n, int32_t hb, int32_t nrhs,
                                     const float* ab, int32_t ldab,
                                     const float* factor, int64_t lfactor,
                                     float* b, int32_t ldb, int32_t threads);
PBAND_API int pband_solve_factored_d(int32_t n, int32_t hb, int32_t nrhs,
                                     const double* ab, int32_t ldab,
                                     const double* factor, int64_t lfactor,
                                     double* b, int32_t ldb, int32_t threads);
PBAND_API int pband_solve_factored_c(int32_t n, int32_t hb, int32_t nrhs,
                                     const pband_complex_float* ab,
                                     int32_t ldab,
                                     const pband_complex_float* factor,
                                     int64_t lfactor, pband_complex_float* b,
                                     int32_t ldb, int32_t threads);
PBAND_API int pband_solve_factored_z(int32_t n, int32_t hb, int32_t nrhs,
                                     const pband_complex_double* ab,
                                     int32_t ldab,
                                     const pband_complex_double* factor,
                                     int64_t lfactor, pband_complex_double* b,
                                     int32_t ldb, int32_t threads);

/* anorm := the 1-norm of A (its infinity-norm too, A being symmetric),
 * as LAPACK's ?lansb('1', 'L', ...): the largest column sum of |a(i,j)|,
 * the modulus for complex values. A NaN in the band gives a NaN; n = 0
 * gives 0. Each column is summed in one fixed order, so every team gives
 * the same bits. Nothing is allocated.
 * Arguments: 1 n, 2 hb, 3 ab, 4 ldab, 5 anorm, 6 threads. */
PBAND_API int pband_norm1_s(int32_t n, int32_t hb, const float* ab,
                            int32_t ldab, float* anorm, int32_t threads);
PBAND_API int pband_norm1_d(int32_t n, int32_t hb, const double* ab,
                            int32_t ldab, double* anorm, int32_t threads);
PBAND_API int pband_norm1_c(int32_t n, int32_t hb,
                            const pband_complex_float* ab, int32_t ldab,
                            float* anorm, int32_t threads);
PBAND_API int pband_norm1_z(int32_t n, int32_t hb,
                            const pband_complex_double* ab, int32_t ldab,
                            double* anorm, int32_t threads);

/* Y := A·X for nrhs columns (complex: complex symmetric, nothing
 * conjugated). Each element of Y is summed in one fixed order, so every
 * team gives the same bits. y must not overlap ab or x; rows of Y beyond
 * n (ldy > n) are never touched. Nothing is allocated.
 * Arguments: 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 x, 7 ldx, 8 y, 9 ldy,
 * 10 threads. */
PBAND_API int pband_multiply_s(int32_t n, int32_t hb, int32_t nrhs,
                               const float* ab, int32_t ldab, const float* x,
                               int32_t ldx, float* y, int32_t ldy,
                               int32_t threads);
PBAND_API int pband_multiply_d(int32_t n, int32_t hb, int32_t nrhs,
                               const double* ab, int32_t ldab, const double* x,
                               int32_t ldx, double* y, int32_t ldy,
                               int32_t threads);
PBAND_API int pband_multiply_c(int32_t n, int32_t hb, int32_t nrhs,
                               const pband_complex_float* ab, int32_t ldab,
                               const pband_complex_float* x, int32_t ldx,
                               pband_complex_float* y, int32_t ldy,
                               int32_t threads);
PBAND_API int pband_multiply_z(int32_t n, int32_t hb, int32_t nrhs,
                               const pband_complex_double* ab, int32_t ldab,
                               const pband_complex_double* x, int32_t ldx,
                               pband_complex_double* y, int32_t ldy,
                               int32_t threads);

/* R := B - A·X for nrhs columns, each element from b(i) subtracting
 * a(i,k)·x(k) for k increasing, so every team gives the same bits. r may
 * be b itself (r == b with ldr == ldb: the residual in place; r == b with
 * another ldr is -11); any other overlap of r with ab, x or b is the
 * caller's fault. Nothing is allocated.
 * Arguments: 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 x, 7 ldx, 8 b, 9 ldb,
 * 10 r, 11 ldr, 12 threads. */
PBAND_API int pband_residual_s(int32_t n, int32_t hb, int32_t nrhs,
                               const float* ab, int32_t ldab, const float* x,
                               int32_t ldx, const float* b, int32_t ldb,
                               float* r, int32_t ldr, int32_t threads);
PBAND_API int pband_residual_d(int32_t n, int32_t hb, int32_t nrhs,
                               const double* ab, int32_t ldab, const double* x,
                               int32_t ldx, const double* b, int32_t ldb,
                               double* r, int32_t ldr, int32_t threads);
PBAND_API int pband_residual_c(int32_t n, int32_t hb, int32_t nrhs,
                               const pband_complex_float* ab, int32_t ldab,
                               const pband_complex_float* x, int32_t ldx,
                               const pband_complex_float* b, int32_t ldb,
                               pband_complex_float* r, int32_t ldr,
                               int32_t threads);
PBAND_API int pband_residual_z(int32_t n, int32_t hb, int32_t nrhs,
                               const pband_complex_double* ab, int32_t ldab,
                               const pband_complex_double* x, int32_t ldx,
                               const pband_complex_double* b, int32_t ldb,
                               pband_complex_double* r, int32_t ldr,
                               int32_t threads);

/* The band of A^-1 (its elements within hb of the diagonal, lower band
 * storage in z) from the natural-order factor L of pband_cholesky_*
 * (A = L·L^T; complex symmetric, nothing conjugated), in O(n·hb²) on the
 * calling thread. l is only read; z's padding rows are not touched. A
 * zero on L's diagonal is not reported: z then holds infinities or NaNs.
 * Status 0, or -i for argument i, nothing touched.
 * Arguments: 1 n, 2 hb, 3 l, 4 ldl, 5 z, 6 ldz. */
PBAND_API int pband_inverse_band_s(int32_t n, int32_t hb, const float* l,
                                   int32_t ldl, float* z, int32_t ldz);
PBAND_API int pband_inverse_band_d(int32_t n, int32_t hb, const double* l,
                                   int32_t ldl, double* z, int32_t ldz);
PBAND_API int pband_inverse_band_c(int32_t n, int32_t hb,
                                   const pband_complex_float* l, int32_t ldl,
                                   pband_complex_float* z, int32_t ldz);
PBAND_API int pband_inverse_band_z(int32_t n, int32_t hb,
                                   const pband_complex_double* l, int32_t ldl,
                                   pband_complex_double* z, int32_t ldz);

/* Solves A·X = B as LAPACK's ?pbsvx, with the stored cyclic-reduction
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

/* Mixed precision, as LAPACK's dsposv and zcposv: A and B are rounded to
 * the lower precision (float, complex float), A is factored there by the
 * stored cyclic-reduction factor and X refined in the caller's precision
 * from residuals B - A·X, until for every column
 * max|r| <= max|x|·||A||·eps·sqrt(n) (eps = 2^-53), at most 30 steps.
 * ab and b are only read; X goes to x (which must not overlap them).
 * *iter: the steps taken (>= 0); -2 a value overflowed the lower
 * precision, -3 its factor failed, -31 no convergence: then X comes from
 * pband_solve_d/_z of a copy. Status 0; 1 when that solve's factor fails
 * too (x undefined); -i for argument i, nothing touched (iter neither);
 * PBAND_OUT_OF_MEMORY, iter not written. Scratch it allocates: the band,
 * the factor and B in the lower precision and one residual block in the
 * higher (about n*(1.5*hb+0.5) + 1.5*n*nrhs doubles for ds); on a fall
 * back, after releasing those, a copy of the band and the solve's own.
 * Arguments: 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 b, 7 ldb, 8 x, 9 ldx,
 * 10 iter, 11 threads. */
PBAND_API int pband_solve_mixed_ds(int32_t n, int32_t hb, int32_t nrhs,
                                   const double* ab, int32_t ldab,
                                   const double* b, int32_t ldb, double* x,
                                   int32_t ldx, int32_t* iter, int32_t threads);
PBAND_API int pband_solve_mixed_zc(int32_t n, int32_t hb, int32_t nrhs,
                                   const pband_complex_double* ab, int32_t ldab,
                                   const pband_complex_double* b, int32_t ldb,
                                   pband_complex_double* x, int32_t ldx,
                                   int32_t* iter, int32_t threads);

/* Equilibration, as LAPACK's ?pbequ and ?laqsb. The factors:
 * s(i) = 1/sqrt(|a(i,i)|), scond = sqrt(min |a(i,i)|) / sqrt(max |a(i,i)|),
 * amax = max |a(i,i)| (real types: the diagonal itself). Status i > 0
 * when a(i,i) is the first diagonal that is not positive (complex: zero);
 * s then holds the diagonal up to i and scond is not written.
 * Arguments: 1 n, 2 hb, 3 ab, 4 ldab, 5 s (n elements), 6 scond, 7 amax.
 * pband_equilibrate_*: A := diag(s)·A·diag(s) unless scond >= 0.1 and
 * amax lies within [small, 1/small] (small = the least normal number over
 * the precision), *equed = 'Y' when it scaled, 'N' when not. Padding rows
 * and rows beyond n are never touched. Status 0 or -i.
 * Arguments: 1 n, 2 hb, 3 ab, 4 ldab, 5 s, 6 scond, 7 amax, 8 equed. */
PBAND_API int pband_equilibrate_factors_s(int32_t n, int32_t hb,
                                          const float* ab, int32_t ldab,
                                          float* s, float* scond, float* amax);
PBAND_API int pband_equilibrate_factors_d(int32_t n, int32_t hb,
                                          const double* ab, int32_t ldab,
                                          double* s, double* scond,
                                          double* amax);
PBAND_API int pband_equilibrate_factors_c(int32_t n, int32_t hb,
                                          const pband_complex_float* ab,
                                          int32_t ldab, float* s, float* scond,
                                          float* amax);
PBAND_API int pband_equilibrate_factors_z(int32_t n, int32_t hb,
                                          const pband_complex_double* ab,
                                          int32_t ldab, double* s,
                                          double* scond, double* amax);
PBAND_API int pband_equilibrate_s(int32_t n, int32_t hb, float* ab,
                                  int32_t ldab, const float* s, float scond,
                                  float amax, char* equed);
PBAND_API int pband_equilibrate_d(int32_t n, int32_t hb, double* ab,
                                  int32_t ldab, const double* s, double scond,
                                  double amax, char* equed);
PBAND_API int pband_equilibrate_c(int32_t n, int32_t hb,
                                  pband_complex_float* ab, int32_t ldab,
                                  const float* s, float scond, float amax,
                                  char* equed);
PBAND_API int pband_equilibrate_z(int32_t n, int32_t hb,
                                  pband_complex_double* ab, int32_t ldab,
                                  const double* s, double scond, double amax,
                                  char* equed);
/* rcond := an estimate of 1 / (||A||_1 ||A^-1||_1) from the factor that
 * pband_factor_* left in ab and factor, as LAPACK's ?pbcon: ||A^-1||_1 by
 * Higham's estimator (?lacn2) over parallel solves with the factor.
 * anorm is ||A||_1 as pband_norm1_* gives it for A before it was
 * factored. n = 0 gives 1; anorm = 0 gives 0; a NaN anorm gives NaN; an
 * estimate that overflows gives 0. The same bits for every team. Status
 * 0; -i for argument i (-5: not a factor of this system; -7: anorm < 0),
 * nothing touched; PBAND_OUT_OF_MEMORY (it allocates 2n elements).
 * Arguments: 1 n, 2 hb, 3 ab, 4 ldab, 5 factor, 6 lfactor, 7 anorm,
 * 8 rcond, 9 threads. */
PBAND_API int pband_rcond_s(int32_t n, int32_t hb, const float* ab,
                            int32_t ldab, const float* factor, int64_t lfactor,
                            float anorm, float* rcond, int32_t threads);
PBAND_API int pband_rcond_d(int32_t n, int32_t hb, const double* ab,
                            int32_t ldab, const double* factor, int64_t lfactor,
                            double anorm, double* rcond, int32_t threads);
PBAND_API int pband_rcond_c(int32_t n, int32_t hb,
                            const pband_complex_float* ab, int32_t ldab,
                            const pband_complex_float* factor, int64_t lfactor,
                            float anorm, float* rcond, int32_t threads);
PBAND_API int pband_rcond_z(int32_t n, int32_t hb,
                            const pband_complex_double* ab, int32_t ldab,
                            const pband_complex_double* factor, int64_t lfactor,
                            double anorm, double* rcond, int32_t threads);

/* Improves the solutions X of A·X = B by iterative refinement, as
 * LAPACK's ?pbrfs: a is A itself, af and factor its factor from
 * pband_factor_*. Each column is corrected while its componentwise
 * backward error berr exceeds eps, at least halves, and at most 5 times;
 * ferr bounds its forward error relative to its largest element. Every
 * right-hand side at once: residuals in one parallel call, corrections in
 * one parallel solve. The same bits (x, ferr, berr) for every team.
 * Status 0; -i for argument i (-8: not a factor of this system), nothing
 * touched; PBAND_OUT_OF_MEMORY (it allocates about 5·n·nrhs elements).
 * Arguments: 1 n, 2 hb, 3 nrhs, 4 a, 5 lda, 6 af, 7 ldaf, 8 factor,
 * 9 lfactor, 10 b, 11 ldb, 12 x, 13 ldx, 14 ferr, 15 berr, 16 threads. */
PBAND_API int pband_refine_s(int32_t n, int32_t hb, int32_t nrhs,
                             const float* a, int32_t lda, const float* af,
                             int32_t ldaf, const float* factor, int64_t lfactor,
                             const float* b, int32_t ldb, float* x, int32_t ldx,
                             float* ferr, float* berr, int32_t threads);
PBAND_API int pband_refine_d(int32_t n, int32_t hb, int32_t nrhs,
                             const double* a, int32_t lda, const double* af,
                             int32_t ldaf, const double* factor,
                             int64_t lfactor, const double* b, int32_t ldb,
                             double* x, int32_t ldx, double* ferr, double* berr,
                             int32_t threads);
PBAND_API int pband_refine_c(int32_t n, int32_t hb, int32_t nrhs,
                             const pband_complex_float* a, int32_t lda,
                             const pband_complex_float* af, int32_t ldaf,
                             const pband_complex_float* factor, int64_t lfactor,
                             const pband_complex_float* b, int32_t ldb,
                             pband_complex_float* x, int32_t ldx, float* ferr,
                             float* berr, int32_t threads);
PBAND_API int pband_refine_z(int32_t n, int32_t hb, int32_t nrhs,
                             const pband_complex_double* a, int32_t lda,
                             const pband_complex_double* af, int32_t ldaf,
                             const pband_complex_double* factor,
                             int64_t lfactor, const pband_complex_double* b,
                             int32_t ldb, pband_complex_double* x, int32_t ldx,
                             double* ferr, double* berr, int32_t threads);

#ifdef __cplusplus
}
#endif

#endif /* PBAND_PBAND_ACCURACY_H */
