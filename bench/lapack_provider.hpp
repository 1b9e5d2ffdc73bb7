// LAPACK band solvers (spbsv/dpbsv) of one provider, e.g. reference LAPACK
// or OpenBLAS, loaded by full path into a link-map namespace of its own so
// that providers with the same sonames sit in one process side by side.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pband::bench {

using PbsvR4 = void (*)(const char* uplo, const int* n, const int* kd,
                        const int* nrhs, float* ab, const int* ldab, float* b,
                        const int* ldb, int* info, std::size_t uplo_len);
using PbsvR8 = void (*)(const char* uplo, const int* n, const int* kd,
                        const int* nrhs, double* ab, const int* ldab,
                        double* b, const int* ldb, int* info,
                        std::size_t uplo_len);

// Hermitian positive definite band solver (zpbsv), complex as two doubles.
using PbsvZ = void (*)(const char* uplo, const int* n, const int* kd,
                       const int* nrhs, void* ab, const int* ldab, void* b,
                       const int* ldb, int* info, std::size_t uplo_len);

// y := alpha·A·x + beta·y, A symmetric in band storage (BLAS dsbmv).
using SbmvR8 = void (*)(const char* uplo, const int* n, const int* k,
                        const double* alpha, const double* a, const int* lda,
                        const double* x, const int* incx, const double* beta,
                        double* y, const int* incy, std::size_t uplo_len);

// The factor, its solve, the condition estimate and refinement (dpbtrf,
// dpbtrs, dpbcon, dpbrfs), lower storage.
using PbtrfR8 = void (*)(const char* uplo, const int* n, const int* kd,
                         double* ab, const int* ldab, int* info,
                         std::size_t uplo_len);
using PbtrsR8 = void (*)(const char* uplo, const int* n, const int* kd,
                         const int* nrhs, const double* ab, const int* ldab,
                         double* b, const int* ldb, int* info,
                         std::size_t uplo_len);
using PbconR8 = void (*)(const char* uplo, const int* n, const int* kd,
                         const double* ab, const int* ldab,
                         const double* anorm, double* rcond, double* work,
                         int* iwork, int* info, std::size_t uplo_len);
using PbrfsR8 = void (*)(const char* uplo, const int* n, const int* kd,
                         const int* nrhs, const double* ab, const int* ldab,
                         const double* afb, const int* ldafb,
                         const double* b, const int* ldb, double* x,
                         const int* ldx, double* ferr, double* berr,
                         double* work, int* iwork, int* info,
                         std::size_t uplo_len);

struct LapackProvider {
  std::string name;
  PbsvR4 spbsv = nullptr;
  PbsvR8 dpbsv = nullptr;
  PbsvZ zpbsv = nullptr;  // null when absent
  SbmvR8 dsbmv = nullptr;  // from the provider's BLAS; null when absent
  PbtrfR8 dpbtrf = nullptr;  // null when absent, as the three below
  PbtrsR8 dpbtrs = nullptr;
  PbconR8 dpbcon = nullptr;
  PbrfsR8 dpbrfs = nullptr;
  // File in which dladdr finds each resolved symbol (after realpath).
  std::string spbsv_file;
  std::string dpbsv_file;
  // BLAS/LAPACK files present in the provider's namespace after loading.
  std::vector<std::string> loaded;
  std::string loader;   // how it was loaded
  std::string threads;  // thread setting read back, when the library has one
  std::string config;   // build description, when the library has one
  std::string error;    // why it is unusable; empty when usable

  bool usable() const { return error.empty(); }
};

// Loads `libraries` in order (dependencies first, LAPACK last) into one new
// namespace with RTLD_NOW | RTLD_LOCAL and resolves spbsv_ and dpbsv_ (and
// dsbmv_, through the BLAS it depends on) from the last. With a positive `threads`, a library that offers
// openblas_set_num_threads is set to it. Never unloads anything.
LapackProvider load_lapack_provider(const std::string& name,
                                    const std::vector<std::string>& libraries,
                                    int threads);

// Solves the band system with LAPACK's lower storage (ldab = hb + 1, one
// right-hand side); returns LAPACK's info.
int run_pbsv(PbsvR4 f, float* ab, int n, int hb, float* b);
int run_pbsv(PbsvR8 f, double* ab, int n, int hb, double* b);

}  // namespace pband::bench
