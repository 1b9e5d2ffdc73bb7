/* Solves a symmetric positive definite band system over MPI with
 * pband_mpi, each rank holding its own piece of the rows, and checks the
 * residual of its rows. Build:
 *   mpicc solve_mpi.c $(pkg-config --cflags --libs pband_mpi)
 * Run: mpirun -np 2 ./a.out
 */
#include <math.h>
#include <pband/pband_mpi.h>
#include <stdio.h>
#include <stdlib.h>

/* Element (i, j), |i - j| <= 2, of a diagonally dominant band matrix. */
static double a(int64_t i, int64_t j) {
  return i == j ? 4.0 : (llabs(i - j) == 1 ? -1.0 : 0.5);
}

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  const int64_t n = 300000;
  const int32_t hb = 2, ldab = hb + 1;
  /* Rows first … first + count − 1 on this rank, in rank order. */
  const int64_t first = n * rank / ranks;
  const int32_t count = (int32_t)(n * (rank + 1) / ranks - first);
  /* The piece with hb rows of X either side, for the residual. */
  double* ab = malloc(sizeof(double) * (size_t)ldab * (count + 1));
  double* x = calloc((size_t)count + 2 * hb, sizeof(double));
  if (!ab || !x) MPI_Abort(MPI_COMM_WORLD, 1);
  double* mine = x + hb;
  for (int32_t j = 0; j < count; ++j) {
    for (int32_t d = 0; d <= hb; ++d)
      ab[(size_t)j * ldab + d] = a(first + j + d, first + j);
    mine[j] = 1.0 + (first + j) % 7;
  }
  /* One thread a rank; b becomes this rank's rows of the solution. */
  const int status = pband_mpi_solve_d(MPI_COMM_WORLD, n, hb, 1, first, count,
                                       ab, ldab, mine, count > 0 ? count : 1,
                                       1);
  if (status != 0) {
    if (rank == 0) fprintf(stderr, "pband_mpi_solve_d: status %d\n", status);
    MPI_Finalize();
    return 1;
  }
  /* The neighbours' rows next to this piece (every piece has >= hb rows). */
  const int up = rank > 0 ? rank - 1 : MPI_PROC_NULL;
  const int down = rank + 1 < ranks ? rank + 1 : MPI_PROC_NULL;
  MPI_Sendrecv(mine, hb, MPI_DOUBLE, up, 0, mine + count, hb, MPI_DOUBLE,
               down, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
  MPI_Sendrecv(mine + count - hb, hb, MPI_DOUBLE, down, 1, x, hb, MPI_DOUBLE,
               up, 1, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
  double worst = 0.0;
  for (int32_t i = 0; i < count; ++i) {
    double r = 1.0 + (first + i) % 7;
    for (int64_t j = first + i - hb; j <= first + i + hb; ++j)
      if (j >= 0 && j < n) r -= a(first + i, j) * mine[j - first];
    worst = fmax(worst, fabs(r));
  }
  MPI_Allreduce(MPI_IN_PLACE, &worst, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
  if (rank == 0)
    printf("C over MPI: %d ranks, n = %lld, max |b - A x| = %.3g\n", ranks,
           (long long)n, worst);
  free(ab);
  free(x);
  MPI_Finalize();
  return worst < 1e-12 ? 0 : 1;
}
