/* Solves a symmetric positive definite band system with pband from C and
 * checks the residual. Build: cc solve.c $(pkg-config --cflags --libs pband)
 */
#include <math.h>
#include <pband/pband.h>
#include <stdio.h>
#include <stdlib.h>

/* Element (i, j), |i - j| <= 2, of a diagonally dominant band matrix. */
static double a(int32_t i, int32_t j) {
  return i == j ? 4.0 : (abs(i - j) == 1 ? -1.0 : 0.5);
}

int main(void) {
  const int32_t n = 200000, hb = 2, ldab = hb + 1;
  double* ab = malloc(sizeof(double) * (size_t)ldab * n);
  double* b = malloc(sizeof(double) * (size_t)n);
  double* x = malloc(sizeof(double) * (size_t)n);
  if (!ab || !b || !x) return 1;
  for (int32_t j = 0; j < n; ++j)
    for (int32_t d = 0; d <= hb; ++d) ab[(size_t)j * ldab + d] = a(j + d, j);
  for (int32_t i = 0; i < n; ++i) x[i] = b[i] = 1.0 + i % 7;
  /* Every processor; ab is scratch, b becomes the solution. */
  const int status = pband_solve_d(n, hb, 1, ab, ldab, x, n, 0);
  if (status != 0) {
    fprintf(stderr, "pband_solve_d: %s\n", pband_status_message(status));
    return 1;
  }
  double worst = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    double r = b[i];
    for (int32_t j = i - hb; j <= i + hb; ++j)
      if (j >= 0 && j < n) r -= a(i, j) * x[j];
    worst = fmax(worst, fabs(r));
  }
  printf("C: pband %s, n = %d, max |b - A x| = %.3g\n", pband_version(),
         (int)n, worst);
  free(ab);
  free(b);
  free(x);
  return worst < 1e-12 ? 0 : 1;
}
