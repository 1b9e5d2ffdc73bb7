// Defines the C entry points of one element type as forwarders to the
// shared templates, so each per-type source is a single line of it.
#pragma once

#include <complex>
#include <cstdint>

#include "accuracy/band_accuracy.hpp"
#include "api/c_api.hpp"
#include "api/c_api_accuracy.hpp"
#include "api/c_api_refine.hpp"
#include "api/factor_api.hpp"
#include "bandlib/band_library.hpp"
#include "pband/pband.h"
#include "solver/band_solver.hpp"

// L: s, d, c or z; C: the element type of the C header; T: ours;
// SUFFIX: the library's ending for T (r4, r8, c8, c16).
#define PBAND_C_API_MEMBERS(L, C, T, SUFFIX)                                  \
  namespace {                                                                 \
  constexpr pband::api::Entries<T> entries_##L{                               \
      &pband::solve_band_system_library_##SUFFIX,                                \
      &pband::band_factor_team_##SUFFIX,                                      \
      &pband::band_substitute_team_##SUFFIX,                                  \
      &pband::factor_band_system_##SUFFIX,                                    \
      &pband::solve_band_system_factored_##SUFFIX};                           \
  constexpr pband::api::AccuracyEntries<T> tools_##L{                         \
      &pband::band_norm1_##SUFFIX, &pband::band_product_##SUFFIX};            \
  T* ours_##L(C* p) { return reinterpret_cast<T*>(p); }                       \
  const T* ours_##L(const C* p) { return reinterpret_cast<const T*>(p); }     \
  }                                                                           \
  extern "C" {                                                                \
  int pband_solve_##L(int32_t n, int32_t hb, int32_t nrhs, C* ab,             \
                      int32_t ldab, C* b, int32_t ldb, int32_t threads) {     \
    return pband::api::solve(entries_##L, n, hb, nrhs, ours_##L(ab), ldab,    \
                             ours_##L(b), ldb, threads);                      \
  }                                                                           \
  int64_t pband_solve_workspace_##L(int32_t n, int32_t hb, int32_t nrhs,      \
                                    int32_t ldab, int32_t ldb) {              \
    return pband::api::solve_workspace<T>(n, hb, nrhs, ldab, ldb);            \
  }                                                                           \
  int pband_solve_work_##L(int32_t n, int32_t hb, int32_t nrhs, C* ab,        \
                           int32_t ldab, C* b, int32_t ldb, int32_t threads,  \
                           C* work, int64_t lwork) {                          \
    return pband::api::solve_work(entries_##L, n, hb, nrhs, ours_##L(ab),     \
                                  ldab, ours_##L(b), ldb, threads,            \
                                  ours_##L(work), lwork);                     \
  }                                                                           \
  int pband_cholesky_##L(int32_t n, int32_t hb, C* ab, int32_t ldab,          \
                         int32_t threads) {                                   \
    return pband::api::cholesky(entries_##L, n, hb, ours_##L(ab), ldab,       \
                                threads);                                     \
  }                                                                           \
  int pband_cholesky_solve_##L(int32_t n, int32_t hb, int32_t nrhs,           \
                               const C* ab, int32_t ldab, C* b, int32_t ldb,  \
                               int32_t threads) {                             \
    return pband::api::cholesky_solve(entries_##L, n, hb, nrhs, ours_##L(ab), \
                                      ldab, ours_##L(b), ldb, threads);       \
  }                                                                           \
  int64_t pband_factor_workspace_##L(int32_t n, int32_t hb, int32_t ldab) {   \
    return pband::api::factor_workspace<T>(n, hb, ldab);                      \
  }                                                                           \
  int pband_factor_##L(int32_t n, int32_t hb, C* ab, int32_t ldab, C* factor, \
                       int64_t lfactor, int32_t threads) {                    \
    return pband::api::factor(entries_##L, n, hb, ours_##L(ab), ldab,         \
                              ours_##L(factor), lfactor, threads);            \
  }                                                                           \
  int pband_solve_factored_##L(int32_t n, int32_t hb, int32_t nrhs,           \
                               const C* ab, int32_t ldab, const C* factor,    \
                               int64_t lfactor, C* b, int32_t ldb,            \
                               int32_t threads) {                             \
    return pband::api::solve_factored(entries_##L, n, hb, nrhs, ours_##L(ab), \
                                      ldab, ours_##L(factor), lfactor,        \
                                      ours_##L(b), ldb, threads);             \
  }                                                                           \
  int pband_norm1_##L(int32_t n, int32_t hb, const C* ab, int32_t ldab,       \
                      pband::RealOf<T>* anorm, int32_t threads) {             \
    return pband::api::norm1(tools_##L, n, hb, ours_##L(ab), ldab, anorm,     \
                             threads);                                        \
  }                                                                           \
  int pband_multiply_##L(int32_t n, int32_t hb, int32_t nrhs, const C* ab,    \
                         int32_t ldab, const C* x, int32_t ldx, C* y,         \
                         int32_t ldy, int32_t threads) {                      \
    return pband::api::multiply(tools_##L, n, hb, nrhs, ours_##L(ab), ldab,   \
                                ours_##L(x), ldx, ours_##L(y), ldy, threads); \
  }                                                                           \
  int pband_residual_##L(int32_t n, int32_t hb, int32_t nrhs, const C* ab,    \
                         int32_t ldab, const C* x, int32_t ldx, const C* b,   \
                         int32_t ldb, C* r, int32_t ldr, int32_t threads) {   \
    return pband::api::residual(tools_##L, n, hb, nrhs, ours_##L(ab), ldab,   \
                                ours_##L(x), ldx, ours_##L(b), ldb,           \
                                ours_##L(r), ldr, threads);                   \
  }                                                                           \
  }

// The condition estimate and refinement of one element type, with the
// names the macro above gave.
#define PBAND_C_API_REFINE_MEMBERS(L, C, T, SUFFIX)                            \
  namespace {                                                                  \
  constexpr pband::api::RefineEntries<T> refine_##L{                           \
      &pband::band_product_##SUFFIX, &pband::band_abs_product_##SUFFIX};       \
  }                                                                            \
  extern "C" {                                                                 \
  int pband_rcond_##L(int32_t n, int32_t hb, const C* ab, int32_t ldab,        \
                      const C* factor, int64_t lfactor,                        \
                      pband::RealOf<T> anorm, pband::RealOf<T>* rcond,         \
                      int32_t threads) {                                       \
    return pband::api::rcond(entries_##L, n, hb, ours_##L(ab), ldab,           \
                             ours_##L(factor), lfactor, anorm, rcond,          \
                             threads);                                         \
  }                                                                            \
  int pband_refine_##L(int32_t n, int32_t hb, int32_t nrhs, const C* a,        \
                       int32_t lda, const C* af, int32_t ldaf,                 \
                       const C* factor, int64_t lfactor, const C* b,           \
                       int32_t ldb, C* x, int32_t ldx, pband::RealOf<T>* ferr, \
                       pband::RealOf<T>* berr, int32_t threads) {              \
    return pband::api::refine(entries_##L, refine_##L, n, hb, nrhs,            \
                              ours_##L(a), lda, ours_##L(af), ldaf,            \
                              ours_##L(factor), lfactor, ours_##L(b), ldb,     \
                              ours_##L(x), ldx, ferr, berr, threads);          \
  }                                                                            \
  }

// The Hermitian entries of one complex type: the solve, its workspace
// query and its form in the caller's workspace, the natural-order
// factorization and the solve with its factor. C: the element type of the
// C header; R: its real type; SUFFIX: the library's ending (h8, h16).
#define PBAND_C_API_HERMITIAN_MEMBERS(L, C, R, SUFFIX)                         \
  namespace {                                                                  \
  using hermitian_##L = pband::Hermitian<R>;                                   \
  constexpr pband::api::Entries<hermitian_##L> hermitian_entries_##L{          \
      &pband::solve_band_system_library_##SUFFIX,                               \
      &pband::band_factor_team_##SUFFIX,                                       \
      &pband::band_substitute_team_##SUFFIX,                                   \
      &pband::factor_band_system_##SUFFIX,                                     \
      &pband::solve_band_system_factored_##SUFFIX};                            \
  hermitian_##L* hermitian_##L##_of(C* p) {                                    \
    return reinterpret_cast<hermitian_##L*>(p);                                \
  }                                                                            \
  const hermitian_##L* hermitian_##L##_of(const C* p) {                        \
    return reinterpret_cast<const hermitian_##L*>(p);                          \
  }                                                                            \
  }                                                                            \
  extern "C" {                                                                 \
  int pband_solve_hermitian_##L(int32_t n, int32_t hb, int32_t nrhs, C* ab,    \
                                int32_t ldab, C* b, int32_t ldb,               \
                                int32_t threads) {                             \
    return pband::api::solve(hermitian_entries_##L, n, hb, nrhs,               \
                             hermitian_##L##_of(ab), ldab,                     \
                             hermitian_##L##_of(b), ldb, threads);             \
  }                                                                            \
  int64_t pband_solve_hermitian_workspace_##L(int32_t n, int32_t hb,           \
                                              int32_t nrhs, int32_t ldab,      \
                                              int32_t ldb) {                   \
    return pband::api::solve_workspace<hermitian_##L>(n, hb, nrhs, ldab, ldb); \
  }                                                                            \
  int pband_solve_hermitian_work_##L(int32_t n, int32_t hb, int32_t nrhs,      \
                                     C* ab, int32_t ldab, C* b, int32_t ldb,   \
                                     int32_t threads, C* work,                 \
                                     int64_t lwork) {                          \
    return pband::api::solve_work(                                             \
        hermitian_entries_##L, n, hb, nrhs, hermitian_##L##_of(ab), ldab,      \
        hermitian_##L##_of(b), ldb, threads, hermitian_##L##_of(work), lwork); \
  }                                                                            \
  int pband_cholesky_hermitian_##L(int32_t n, int32_t hb, C* ab, int32_t ldab, \
                                   int32_t threads) {                          \
    return pband::api::cholesky(hermitian_entries_##L, n, hb,                  \
                                hermitian_##L##_of(ab), ldab, threads);        \
  }                                                                            \
  int pband_cholesky_solve_hermitian_##L(int32_t n, int32_t hb, int32_t nrhs,  \
                                         const C* ab, int32_t ldab, C* b,      \
                                         int32_t ldb, int32_t threads) {       \
    return pband::api::cholesky_solve(hermitian_entries_##L, n, hb, nrhs,      \
                                      hermitian_##L##_of(ab), ldab,            \
                                      hermitian_##L##_of(b), ldb, threads);    \
  }                                                                            \
  }
