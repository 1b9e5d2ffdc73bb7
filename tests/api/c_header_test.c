/* The C header from strict C99, with C's own complex types: every call of
 * every element type on one small system (tridiagonal, complex symmetric
 * for c and z, and Hermitian for the Hermitian calls), judged by its
 * residual. Exits non-zero on any failure. */
#include <complex.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "pband/pband.h"

enum { N = 64, HB = 1, LD = HB + 2, NRHS = 2 };

static int failures = 0;

static void expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "failed: %s\n", what);
    ++failures;
  }
}

/* One element type: T the element, L the letter, D its diagonal. */
#define CHECK_TYPE(T, L, D, TOL)                                             \
  do {                                                                       \
    T ab[LD * N], l[LD * N], b[N * NRHS], x[N * NRHS], work[8 * N * NRHS];   \
    for (int j = 0; j < N; ++j) {                                            \
      ab[j * LD] = (D);                                                      \
      ab[j * LD + 1] = j + 1 < N ? (T)1 : (T)0;                              \
      ab[j * LD + 2] = (T)-99; /* padding */                                 \
    }                                                                        \
    for (int i = 0; i < N * NRHS; ++i) b[i] = (T)(i % 5) - (T)2;             \
    memcpy(l, ab, sizeof ab);                                                \
    memcpy(x, b, sizeof b);                                                  \
    const int64_t need = pband_solve_workspace_##L(N, HB, NRHS, LD, N);      \
    expect(need >= 0 && need <= 8 * N * NRHS, #L " workspace size");        \
    expect(pband_solve_work_##L(N, HB, NRHS, l, LD, x, N, 2, work, need) ==  \
               0, #L " solve_work");                                         \
    double worst = 0;                                                        \
    for (int q = 0; q < NRHS; ++q)                                           \
      for (int i = 0; i < N; ++i) {                                          \
        T r = b[q * N + i] - (D) * x[q * N + i];                             \
        if (i > 0) r -= x[q * N + i - 1];                                    \
        if (i + 1 < N) r -= x[q * N + i + 1];                                \
        worst = fmax(worst, cabs((double complex)r));                        \
      }                                                                      \
    expect(worst < (TOL), #L " residual");                                   \
    memcpy(l, ab, sizeof ab);                                                \
    expect(pband_cholesky_##L(N, HB, l, LD, 0) == 0, #L " cholesky");        \
    expect(l[2] == (T)-99, #L " padding kept");                              \
    T y[N * NRHS];                                                           \
    memcpy(y, b, sizeof b);                                                  \
    expect(pband_cholesky_solve_##L(N, HB, NRHS, l, LD, y, N, 1) == 0,       \
           #L " cholesky_solve");                                            \
    double diff = 0;                                                         \
    for (int i = 0; i < N * NRHS; ++i)                                       \
      diff = fmax(diff, cabs((double complex)(y[i] - x[i])));                \
    expect(diff < (TOL), #L " both solutions agree");                        \
    memcpy(y, b, sizeof b);                                                  \
    expect(pband_solve_##L(N, HB, NRHS, ab, LD, y, N, 3) == 0, #L " solve"); \
    expect(pband_solve_##L(-1, HB, NRHS, ab, LD, y, N, 3) == -1,             \
           #L " n < 0");                                                     \
  } while (0)

/* The Hermitian calls: subdiagonal 1 + i (so superdiagonal 1 - i),
 * diagonal 4 with an imaginary part that is not read. */
#define CHECK_HERMITIAN(T, L, TOL)                                           \
  do {                                                                       \
    T ab[LD * N], l[LD * N], b[N * NRHS], x[N * NRHS], y[N * NRHS];          \
    const T sub = (T)1 + (T)1 * I;                                           \
    for (int j = 0; j < N; ++j) {                                            \
      ab[j * LD] = (T)4 + (T)7 * I;                                          \
      ab[j * LD + 1] = j + 1 < N ? sub : (T)0;                               \
      ab[j * LD + 2] = (T)-99;                                               \
    }                                                                        \
    for (int i = 0; i < N * NRHS; ++i) b[i] = (T)(i % 5) - (T)2 * I;         \
    memcpy(l, ab, sizeof ab);                                                \
    memcpy(x, b, sizeof b);                                                  \
    expect(pband_solve_hermitian_##L(N, HB, NRHS, l, LD, x, N, 2) == 0,      \
           #L " solve_hermitian");                                           \
    double worst = 0;                                                        \
    for (int q = 0; q < NRHS; ++q)                                           \
      for (int i = 0; i < N; ++i) {                                          \
        T r = b[q * N + i] - (T)4 * x[q * N + i];                            \
        if (i > 0) r -= sub * x[q * N + i - 1];                              \
        if (i + 1 < N) r -= conj(sub) * x[q * N + i + 1];                    \
        worst = fmax(worst, cabs((double complex)r));                        \
      }                                                                      \
    expect(worst < (TOL), #L " hermitian residual");                         \
    memcpy(l, ab, sizeof ab);                                                \
    expect(pband_cholesky_hermitian_##L(N, HB, l, LD, 0) == 0,               \
           #L " cholesky_hermitian");                                        \
    memcpy(y, b, sizeof b);                                                  \
    expect(pband_cholesky_solve_hermitian_##L(N, HB, NRHS, l, LD, y, N, 1) == \
               0,                                                            \
           #L " cholesky_solve_hermitian");                                  \
    double diff = 0;                                                         \
    for (int i = 0; i < N * NRHS; ++i)                                       \
      diff = fmax(diff, cabs((double complex)(y[i] - x[i])));                \
    expect(diff < (TOL), #L " both Hermitian solutions agree");              \
  } while (0)

int main(void) {
  CHECK_TYPE(float, s, 4.0f, 1e-5);
  CHECK_TYPE(double, d, 4.0, 1e-13);
  CHECK_TYPE(float complex, c, 4.0f + 1.0f * I, 1e-5);
  CHECK_TYPE(double complex, z, 4.0 - 2.0 * I, 1e-13);
  CHECK_HERMITIAN(float complex, c, 1e-5);
  CHECK_HERMITIAN(double complex, z, 1e-13);
  expect(strcmp(pband_version(), PBAND_VERSION_STRING) == 0, "version");
  expect(pband_status_message(PBAND_OUT_OF_MEMORY) != NULL, "message");
  printf("%s\n", failures == 0 ? "C header: all calls passed" : "failures");
  return failures == 0 ? 0 : 1;
}
