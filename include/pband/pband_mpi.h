/* pband over MPI: the block cyclic-reduction solve of a symmetric positive
 * definite (complex: complex symmetric) band system whose rows are spread
 * over the ranks of a communicator. Link libpband_mpi (CMake: the
 * component mpi of the package pband, target pband::pband_mpi;
 * pkg-config: pband_mpi).
 *
 * Each rank passes its piece: columns first … first + count − 1 (0-based)
 * of the lower band in LAPACK's layout (leading dimension ldab >= hb + 1)
 * and the same rows of B (leading dimension ldb >= max(1, count)). The
 * pieces follow each other in rank order and cover 0 … n − 1: rank 0's
 * first is 0, each next rank's first is the previous first + count, the
 * last rank's first + count is n. Pieces may be unequal or empty, and
 * there may be more ranks than blocks. A piece that does not end where
 * the next one starts is reported as its count (argument 6 of the solve),
 * a first outside 0 … n or rank 0's other than 0 as first. n, hb and
 * nrhs are the same on every rank; threads is each rank's own team (0 or
 * less: every processor the rank may run on).
 *
 * The solution has the same bits for every number of ranks, every split
 * and every team: those of block cyclic reduction on one process, which
 * pband_solve_* takes for the same system unless it is small
 * (n·(hb + 1) < 2^15; 2^16 from hb 8 on) or its band wide (hb ≥ 17
 * float, 9 double, 12 complex), where natural order is faster on one
 * machine. No rank's floating-point result is ever summed with another's.
 *
 * Every call is collective over comm and returns the same status on every
 * rank: 0 success; 1 a pivot failed on some rank (real: not positive;
 * complex: zero), the B pieces are then undefined; −i argument i
 * was invalid on some rank (the first in argument order over all ranks),
 * nothing was touched on any rank; PBAND_OUT_OF_MEMORY when some rank
 * could not reserve its arrays; PBAND_MPI_ERROR when MPI reported an
 * error (only under an error handler that returns). An invalid
 * communicator (argument 1) is reported by the rank that passed it alone.
 */
#ifndef PBAND_PBAND_MPI_H
#define PBAND_PBAND_MPI_H

/* The C interface of MPI alone, also from C++: MPI's deprecated C++
 * bindings would need a library of their own. */
#if defined(__cplusplus) && !defined(OMPI_SKIP_MPICXX)
#define OMPI_SKIP_MPICXX 1
#endif
#if defined(__cplusplus) && !defined(MPICH_SKIP_MPICXX)
#define MPICH_SKIP_MPICXX 1
#endif
#include <mpi.h>
#include <stdint.h>

#include "pband/pband.h"

#define PBAND_MPI_ERROR (-1011)

#ifdef __cplusplus
extern "C" {
#endif

/* Solves A·X = B; each rank's B piece becomes its rows of X. ab is only
 * read, except on a rank whose piece is the whole system with ldab =
 * hb + 1 and hb < n: that rank works in place, and ab is scratch as in
 * pband_solve_*. Arguments: 1 comm, 2 n, 3 hb, 4 nrhs, 5 first, 6 count,
 * 7 ab, 8 ldab, 9 b, 10 ldb, 11 threads. */
PBAND_API int pband_mpi_solve_s(MPI_Comm comm, int64_t n, int32_t hb,
                                int32_t nrhs, int64_t first, int32_t count,
                                float* ab, int32_t ldab, float* b, int32_t ldb,
                                int32_t threads);
PBAND_API int pband_mpi_solve_d(MPI_Comm comm, int64_t n, int32_t hb,
                                int32_t nrhs, int64_t first, int32_t count,
                                double* ab, int32_t ldab, double* b,
                                int32_t ldb, int32_t threads);
PBAND_API int pband_mpi_solve_c(MPI_Comm comm, int64_t n, int32_t hb,
                                int32_t nrhs, int64_t first, int32_t count,
                                pband_complex_float* ab, int32_t ldab,
                                pband_complex_float* b, int32_t ldb,
                                int32_t threads);
PBAND_API int pband_mpi_solve_z(MPI_Comm comm, int64_t n, int32_t hb,
                                int32_t nrhs, int64_t first, int32_t count,
                                pband_complex_double* ab, int32_t ldab,
                                pband_complex_double* b, int32_t ldb,
                                int32_t threads);

/* A stored factor, for many solves with one matrix, in the form of
 * pband_factor_* and pband_solve_factored_*. Each rank keeps its share in
 * its own array `factor` of lfactor elements: the factor of the blocks
 * whose first row lies in its piece. pband_mpi_factor_workspace_* gives
 * lfactor from the rank's own arguments alone (1 n, 2 hb, 3 first,
 * 4 count, 5 ldab; −i for an invalid one), and the share names its system
 * and piece, so that another's is refused.
 * pband_mpi_factor_* factors A; ab is only read. Status as the solve's;
 * after 1 the shares are no factor (their solves return −7). Arguments:
 * 1 comm, 2 n, 3 hb, 4 first, 5 count, 6 ab, 7 ldab, 8 factor,
 * 9 lfactor, 10 threads.
 * pband_mpi_solve_factored_* solves A·X = B with it, any number of times,
 * on any team: each rank's B piece becomes its rows of X, with the bits
 * of pband_mpi_solve_*. factor is only read.
 * Status 0, −i (−7: not this rank's share of a factor of this system),
 * PBAND_OUT_OF_MEMORY or PBAND_MPI_ERROR as the solve's. Arguments:
 * 1 comm, 2 n, 3 hb, 4 nrhs, 5 first, 6 count, 7 factor, 8 lfactor, 9 b,
 * 10 ldb, 11 threads. */
PBAND_API int64_t pband_mpi_factor_workspace_s(int64_t n, int32_t hb,
                                               int64_t first, int32_t count,
                                               int32_t ldab);
PBAND_API int pband_mpi_factor_s(MPI_Comm comm, int64_t n, int32_t hb,
                                 int64_t first, int32_t count, const float* ab,
                                 int32_t ldab, float* factor, int64_t lfactor,
                                 int32_t threads);
PBAND_API int pband_mpi_solve_factored_s(MPI_Comm comm, int64_t n, int32_t hb,
                                         int32_t nrhs, int64_t first,
                                         int32_t count, const float* factor,
                                         int64_t lfactor, float* b, int32_t ldb,
                                         int32_t threads);
PBAND_API int64_t pband_mpi_factor_workspace_d(int64_t n, int32_t hb,
                                               int64_t first, int32_t count,
                                               int32_t ldab);
PBAND_API int pband_mpi_factor_d(MPI_Comm comm, int64_t n, int32_t hb,
                                 int64_t first, int32_t count, const double* ab,
                                 int32_t ldab, double* factor, int64_t lfactor,
                                 int32_t threads);
PBAND_API int pband_mpi_solve_factored_d(MPI_Comm comm, int64_t n, int32_t hb,
                                         int32_t nrhs, int64_t first,
                                         int32_t count, const double* factor,
                                         int64_t lfactor, double* b,
                                         int32_t ldb, int32_t threads);
PBAND_API int64_t pband_mpi_factor_workspace_c(int64_t n, int32_t hb,
                                               int64_t first, int32_t count,
                                               int32_t ldab);
PBAND_API int pband_mpi_factor_c(MPI_Comm comm, int64_t n, int32_t hb,
                                 int64_t first, int32_t count,
                                 const pband_complex_float* ab, int32_t ldab,
                                 pband_complex_float* factor, int64_t lfactor,
                                 int32_t threads);
PBAND_API int pband_mpi_solve_factored_c(
    MPI_Comm comm, int64_t n, int32_t hb, int32_t nrhs, int64_t first,
    int32_t count, const pband_complex_float* factor, int64_t lfactor,
    pband_complex_float* b, int32_t ldb, int32_t threads);
PBAND_API int64_t pband_mpi_factor_workspace_z(int64_t n, int32_t hb,
                                               int64_t first, int32_t count,
                                               int32_t ldab);
PBAND_API int pband_mpi_factor_z(MPI_Comm comm, int64_t n, int32_t hb,
                                 int64_t first, int32_t count,
                                 const pband_complex_double* ab, int32_t ldab,
                                 pband_complex_double* factor, int64_t lfactor,
                                 int32_t threads);
PBAND_API int pband_mpi_solve_factored_z(
    MPI_Comm comm, int64_t n, int32_t hb, int32_t nrhs, int64_t first,
    int32_t count, const pband_complex_double* factor, int64_t lfactor,
    pband_complex_double* b, int32_t ldb, int32_t threads);

#ifdef __cplusplus
}
#endif

#endif /* PBAND_PBAND_MPI_H */
