/* pband: parallel solution of symmetric positive definite band systems
 * A·X = B by block cyclic reduction, and a natural-order band Cholesky
 * factorization, in four element types, with the norm, product and
 * residual that judge a solution. C99 interface; docs/api.md says
 * what each call promises.
 *
 * Storage is LAPACK's lower band form: column-major, column j (0-based)
 * holds A(j, j), A(j+1, j) … A(j+hb, j) in ab[j*ldab] … ab[j*ldab + hb];
 * ldab >= hb + 1, rows hb+1 … ldab-1 of each column are padding. B is
 * n × nrhs, column-major with leading dimension ldb >= max(1, n).
 * Complex matrices are complex symmetric (A = Aᵀ): nothing is conjugated;
 * the *_hermitian_* calls take Hermitian matrices (A = Aᴴ) instead.
 *
 * Integers are 32-bit (int32_t) at the interface, as LAPACK's LP64 build;
 * positions inside are formed in 64 bits.
 *
 * Status of every call: 0 success; > 0 the matrix is not positive
 * definite (real: a pivot was not positive; complex: a pivot was zero;
 * Hermitian: a pivot's real part was not positive);
 * -i argument i was invalid and nothing was touched; PBAND_OUT_OF_MEMORY
 * when the library could not allocate its workspace (nothing touched).
 */
#ifndef PBAND_PBAND_H
#define PBAND_PBAND_H

#include <stdint.h>

#include "pband/pband_version.h"

#if defined(__GNUC__)
#define PBAND_API __attribute__((visibility("default")))
#else
#define PBAND_API
#endif

/* Complex elements: a pair of reals, real part first. C gets its own
 * complex types; C++ a plain pair of the same layout (<pband/pband.hpp>
 * takes std::complex). Define these before the include to use others of
 * the same layout. */
#ifndef pband_complex_float
#ifdef __cplusplus
typedef struct pband_complex_float_pair {
  float re, im;
} pband_complex_float_pair;
#define pband_complex_float pband_complex_float_pair
#else
#define pband_complex_float float _Complex
#endif
#endif
#ifndef pband_complex_double
#ifdef __cplusplus
typedef struct pband_complex_double_pair {
  double re, im;
} pband_complex_double_pair;
#define pband_complex_double pband_complex_double_pair
#else
#define pband_complex_double double _Complex
#endif
#endif

#define PBAND_SUCCESS 0
#define PBAND_OUT_OF_MEMORY (-1010)

#ifdef __cplusplus
extern "C" {
#endif

/* Solves A·X = B on a team of `threads` threads (0 or less: every
 * processor the process may run on; at most 32): by block cyclic
 * reduction, or in natural order for small systems (on the calling
 * thread) and wide bands (the halves from both ends, on two threads). The
 * method follows n, hb and the element type, never the team, so neither
 * do the bits. B is overwritten by X. ab is scratch when ldab = hb + 1 and
 * hb < n: its band rows, and the positions of rows beyond n in the last
 * hb columns, may be overwritten. Otherwise the library works on a copy
 * and leaves ab as it was. Padding rows are never touched. Status > 0 is
 * always 1; B is then undefined. The library allocates its workspace.
 * Results below the smallest normal number are flushed to zero (the
 * caller's floating-point mode is given back as it was).
 * Arguments: 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 b, 7 ldb, 8 threads. */
PBAND_API int pband_solve_s(int32_t n, int32_t hb, int32_t nrhs, float* ab,
                            int32_t ldab, float* b, int32_t ldb,
                            int32_t threads);
PBAND_API int pband_solve_d(int32_t n, int32_t hb, int32_t nrhs, double* ab,
                            int32_t ldab, double* b, int32_t ldb,
                            int32_t threads);
PBAND_API int pband_solve_c(int32_t n, int32_t hb, int32_t nrhs,
                            pband_complex_float* ab, int32_t ldab,
                            pband_complex_float* b, int32_t ldb,
                            int32_t threads);
PBAND_API int pband_solve_z(int32_t n, int32_t hb, int32_t nrhs,
                            pband_complex_double* ab, int32_t ldab,
                            pband_complex_double* b, int32_t ldb,
                            int32_t threads);

/* Elements of the element type that pband_solve_work_* needs for these
 * arguments (0 is possible), or a negative status: -1 … -7 as for
 * pband_solve_*, PBAND_OUT_OF_MEMORY when the size does not fit the
 * address space. The array pointers are not needed to ask. */
PBAND_API int64_t pband_solve_workspace_s(int32_t n, int32_t hb, int32_t nrhs,
                                          int32_t ldab, int32_t ldb);
PBAND_API int64_t pband_solve_workspace_d(int32_t n, int32_t hb, int32_t nrhs,
                                          int32_t ldab, int32_t ldb);
PBAND_API int64_t pband_solve_workspace_c(int32_t n, int32_t hb, int32_t nrhs,
                                          int32_t ldab, int32_t ldb);
PBAND_API int64_t pband_solve_workspace_z(int32_t n, int32_t hb, int32_t nrhs,
                                          int32_t ldab, int32_t ldb);

/* pband_solve_* in the caller's workspace of lwork elements, which it
 * overwrites; no allocation. Arguments 9 work (may be NULL when the size
 * is 0), 10 lwork (at least the size pband_solve_workspace_* gives). */
PBAND_API int pband_solve_work_s(int32_t n, int32_t hb, int32_t nrhs, float* ab,
                                 int32_t ldab, float* b, int32_t ldb,
                                 int32_t threads, float* work, int64_t lwork);
PBAND_API int pband_solve_work_d(int32_t n, int32_t hb, int32_t nrhs,
                                 double* ab, int32_t ldab, double* b,
                                 int32_t ldb, int32_t threads, double* work,
                                 int64_t lwork);
PBAND_API int pband_solve_work_c(int32_t n, int32_t hb, int32_t nrhs,
                                 pband_complex_float* ab, int32_t ldab,
                                 pband_complex_float* b, int32_t ldb,
                                 int32_t threads, pband_complex_float* work,
                                 int64_t lwork);
PBAND_API int pband_solve_work_z(int32_t n, int32_t hb, int32_t nrhs,
                                 pband_complex_double* ab, int32_t ldab,
                                 pband_complex_double* b, int32_t ldb,
                                 int32_t threads, pband_complex_double* work,
                                 int64_t lwork);

/* Factors A = L·Lᵀ in place in natural column order: on success ab holds
 * L in the same lower band storage, as LAPACK's ?pbtrf with uplo 'L'
 * leaves it (complex: the complex symmetric factor, not the Hermitian
 * one). Status > 0 is the column j (1-based) whose pivot failed, as
 * LAPACK's info: L is complete for columns before the pivot block that
 * holds j, the rest of the band holds partial results. Positions of rows
 * beyond n and padding rows are never touched. n < 2^31 - 1. Allocates
 * a copy of the band only when ldab > hb + 1 and hb < n.
 * Arguments: 1 n, 2 hb, 3 ab, 4 ldab, 5 threads. */
PBAND_API int pband_cholesky_s(int32_t n, int32_t hb, float* ab, int32_t ldab,
                               int32_t threads);
PBAND_API int pband_cholesky_d(int32_t n, int32_t hb, double* ab, int32_t ldab,
                               int32_t threads);
PBAND_API int pband_cholesky_c(int32_t n, int32_t hb, pband_complex_float* ab,
                               int32_t ldab, int32_t threads);
PBAND_API int pband_cholesky_z(int32_t n, int32_t hb, pband_complex_double* ab,
                               int32_t ldab, int32_t threads);

/* Solves L·Lᵀ·X = B with L from pband_cholesky_* (or LAPACK's ?pbtrf,
 * lower, real types); B is overwritten by X. L is only read. A zero on
 * L's diagonal is not reported: X then holds infinities or NaNs.
 * Arguments: 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 b, 7 ldb, 8 threads. */
PBAND_API int pband_cholesky_solve_s(int32_t n, int32_t hb, int32_t nrhs,
                                     const float* ab, int32_t ldab, float* b,
                                     int32_t ldb, int32_t threads);
PBAND_API int pband_cholesky_solve_d(int32_t n, int32_t hb, int32_t nrhs,
                                     const double* ab, int32_t ldab, double* b,
                                     int32_t ldb, int32_t threads);
PBAND_API int pband_cholesky_solve_c(int32_t n, int32_t hb, int32_t nrhs,
                                     const pband_complex_float* ab,
                                     int32_t ldab, pband_complex_float* b,
                                     int32_t ldb, int32_t threads);
PBAND_API int pband_cholesky_solve_z(int32_t n, int32_t hb, int32_t nrhs,
                                     const pband_complex_double* ab,
                                     int32_t ldab, pband_complex_double* b,
                                     int32_t ldb, int32_t threads);

/* Hermitian positive definite systems (A = Aᴴ), in the same lower band
 * storage: the conjugate of each stored element is the element at the
 * transposed place. A diagonal element's imaginary part is not read (as
 * LAPACK's ?pbtrf does not read it). Status > 0 when a pivot's real part
 * is not positive.
 *
 * pband_solve_hermitian_*, _workspace_*, _work_*: as pband_solve_*,
 * pband_solve_workspace_* and pband_solve_work_* (same arguments, checks,
 * workspace sizes and promises on ab, b and padding), by block cyclic
 * reduction with the bits of the complex symmetric solve's team rule:
 * every team of 1 … 2 threads gives the same bits, and every team of
 * 3 … 32. Status > 0 is always 1. */
PBAND_API int pband_solve_hermitian_c(int32_t n, int32_t hb, int32_t nrhs,
                                      pband_complex_float* ab, int32_t ldab,
                                      pband_complex_float* b, int32_t ldb,
                                      int32_t threads);
PBAND_API int pband_solve_hermitian_z(int32_t n, int32_t hb, int32_t nrhs,
                                      pband_complex_double* ab, int32_t ldab,
                                      pband_complex_double* b, int32_t ldb,
                                      int32_t threads);
PBAND_API int64_t pband_solve_hermitian_workspace_c(int32_t n, int32_t hb,
                                                    int32_t nrhs, int32_t ldab,
                                                    int32_t ldb);
PBAND_API int64_t pband_solve_hermitian_workspace_z(int32_t n, int32_t hb,
                                                    int32_t nrhs, int32_t ldab,
                                                    int32_t ldb);
PBAND_API int pband_solve_hermitian_work_c(int32_t n, int32_t hb, int32_t nrhs,
                                           pband_complex_float* ab,
                                           int32_t ldab, pband_complex_float* b,
                                           int32_t ldb, int32_t threads,
                                           pband_complex_float* work,
                                           int64_t lwork);
PBAND_API int pband_solve_hermitian_work_z(
    int32_t n, int32_t hb, int32_t nrhs, pband_complex_double* ab, int32_t ldab,
    pband_complex_double* b, int32_t ldb, int32_t threads,
    pband_complex_double* work, int64_t lwork);

/* Factors A = L·Lᴴ in place in natural column order, as pband_cholesky_*
 * does A = L·Lᵀ: on success ab holds L as LAPACK's ?pbtrf with uplo 'L'
 * leaves it, its diagonal real and positive (imaginary parts zero).
 * Status > 0 is the column j (1-based) whose pivot's real part was not
 * positive, as LAPACK's info. Arguments: 1 n, 2 hb, 3 ab, 4 ldab,
 * 5 threads. */
PBAND_API int pband_cholesky_hermitian_c(int32_t n, int32_t hb,
                                         pband_complex_float* ab, int32_t ldab,
                                         int32_t threads);
PBAND_API int pband_cholesky_hermitian_z(int32_t n, int32_t hb,
                                         pband_complex_double* ab, int32_t ldab,
                                         int32_t threads);

/* Solves L·Lᴴ·X = B with L from pband_cholesky_hermitian_* (or LAPACK's
 * ?pbtrf, lower); B is overwritten by X. As pband_cholesky_solve_*.
 * Arguments: 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 b, 7 ldb, 8 threads. */
PBAND_API int pband_cholesky_solve_hermitian_c(
    int32_t n, int32_t hb, int32_t nrhs, const pband_complex_float* ab,
    int32_t ldab, pband_complex_float* b, int32_t ldb, int32_t threads);
PBAND_API int pband_cholesky_solve_hermitian_z(
    int32_t n, int32_t hb, int32_t nrhs, const pband_complex_double* ab,
    int32_t ldab, pband_complex_double* b, int32_t ldb, int32_t threads);

/* Solves count independent systems of one band shape: system k
 * (0-based) has its band at ab + k*stride_ab and its right-hand sides at
 * b + k*stride_b, both laid out as for pband_solve_*, and its status, as
 * pband_solve_* would return it, in statuses[k]. A failed system does not
 * stop the others. Small systems (n*(hb+1) below 2^17) are solved whole,
 * one per thread of the team at a time, each with the bits pband_solve_*
 * gives it with threads = 1; larger ones one after another, each on the
 * whole team; both give the bits of a single pband_solve_* call.
 * Returns 0 when every system succeeded; else the first failed system
 * (1-based), as LAPACK's info; -i for an invalid argument i (nothing
 * touched, statuses neither); PBAND_OUT_OF_MEMORY (nothing touched).
 * Strides are in elements; with count > 1, stride_ab >= ldab*n and
 * stride_b >= ldb*nrhs when n > 0 (systems may not overlap).
 * Arguments: 1 count, 2 n, 3 hb, 4 nrhs, 5 ab, 6 ldab, 7 stride_ab, 8 b,
 * 9 ldb, 10 stride_b, 11 statuses, 12 threads. */
PBAND_API int pband_solve_batch_s(int32_t count, int32_t n, int32_t hb,
                                  int32_t nrhs, float* ab, int32_t ldab,
                                  int64_t stride_ab, float* b, int32_t ldb,
                                  int64_t stride_b, int32_t* statuses,
                                  int32_t threads);
PBAND_API int pband_solve_batch_d(int32_t count, int32_t n, int32_t hb,
                                  int32_t nrhs, double* ab, int32_t ldab,
                                  int64_t stride_ab, double* b, int32_t ldb,
                                  int64_t stride_b, int32_t* statuses,
                                  int32_t threads);
PBAND_API int pband_solve_batch_c(int32_t count, int32_t n, int32_t hb,
                                  int32_t nrhs, pband_complex_float* ab,
                                  int32_t ldab, int64_t stride_ab,
                                  pband_complex_float* b, int32_t ldb,
                                  int64_t stride_b, int32_t* statuses,
                                  int32_t threads);
PBAND_API int pband_solve_batch_z(int32_t count, int32_t n, int32_t hb,
                                  int32_t nrhs, pband_complex_double* ab,
                                  int32_t ldab, int64_t stride_ab,
                                  pband_complex_double* b, int32_t ldb,
                                  int64_t stride_b, int32_t* statuses,
                                  int32_t threads);

/* The same for Hermitian positive definite systems, each solved as
 * pband_solve_hermitian_* solves it. */
PBAND_API int pband_solve_batch_hermitian_c(
    int32_t count, int32_t n, int32_t hb, int32_t nrhs, pband_complex_float* ab,
    int32_t ldab, int64_t stride_ab, pband_complex_float* b, int32_t ldb,
    int64_t stride_b, int32_t* statuses, int32_t threads);
PBAND_API int pband_solve_batch_hermitian_z(
    int32_t count, int32_t n, int32_t hb, int32_t nrhs,
    pband_complex_double* ab, int32_t ldab, int64_t stride_ab,
    pband_complex_double* b, int32_t ldb, int64_t stride_b, int32_t* statuses,
    int32_t threads);

/* A short English text for a status; static storage, never NULL. */
PBAND_API const char* pband_status_message(int status);

/* The library's version, "major.minor.patch"; PBAND_VERSION_STRING is the
 * version of the header. */
PBAND_API const char* pband_version(void);

/* The calls that allocate their own workspace keep the last large one (2 MiB
 * to 1 GiB) for the next call, which then finds its pages ready; this
 * returns it to the system. Safe at any time, from any thread. */
PBAND_API void pband_release_memory(void);

#ifdef __cplusplus
}
#endif

/* The stored factor and the accuracy tools: norm, product, residual,
 * condition estimate, refinement, equilibration, the expert driver, mixed
 * precision and the band of the inverse. */
#include "pband/pband_accuracy.h"

#endif /* PBAND_PBAND_H */
