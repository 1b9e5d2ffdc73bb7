// Helpers of the distributed solver's tests: the C calls of both
// libraries by element type, the splits of n rows over the ranks, and
// checks every rank agrees on (each rank judges its own piece; the counts
// are summed, so every rank asserts the same thing).
#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "pband/pband.h"
#include "pband/pband_mpi.h"
#include "solver/band_solver.hpp"

namespace pband::test {

inline int rank_of(MPI_Comm comm = MPI_COMM_WORLD) {
  int r = 0;
  MPI_Comm_rank(comm, &r);
  return r;
}
inline int ranks(MPI_Comm comm = MPI_COMM_WORLD) {
  int p = 1;
  MPI_Comm_size(comm, &p);
  return p;
}
inline std::int64_t summed(std::int64_t v) {
  MPI_Allreduce(MPI_IN_PLACE, &v, 1, MPI_INT64_T, MPI_SUM, MPI_COMM_WORLD);
  return v;
}
inline int lowest(int v) {
  MPI_Allreduce(MPI_IN_PLACE, &v, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  return v;
}
inline int highest(int v) {
  MPI_Allreduce(MPI_IN_PLACE, &v, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  return v;
}

// C element type of T.
template <class T>
struct CType {
  using type = T;
};
template <>
struct CType<std::complex<float>> {
  using type = pband_complex_float;
};
template <>
struct CType<std::complex<double>> {
  using type = pband_complex_double;
};
template <class T>
auto* c_ptr(T* p) {
  return reinterpret_cast<typename CType<T>::type*>(p);
}
template <class T>
const auto* c_ptr(const T* p) {
  return reinterpret_cast<const typename CType<T>::type*>(p);
}

template <class T>
int mpi_solve(MPI_Comm comm, std::int64_t n, std::int32_t hb, std::int32_t nrhs,
              std::int64_t first, std::int32_t count, T* ab, std::int32_t ldab,
              T* b, std::int32_t ldb, std::int32_t threads) {
  if constexpr (std::is_same_v<T, float>)
    return pband_mpi_solve_s(comm, n, hb, nrhs, first, count, ab, ldab, b, ldb,
                             threads);
  else if constexpr (std::is_same_v<T, double>)
    return pband_mpi_solve_d(comm, n, hb, nrhs, first, count, ab, ldab, b, ldb,
                             threads);
  else if constexpr (std::is_same_v<T, std::complex<float>>)
    return pband_mpi_solve_c(comm, n, hb, nrhs, first, count, c_ptr(ab), ldab,
                             c_ptr(b), ldb, threads);
  else
    return pband_mpi_solve_z(comm, n, hb, nrhs, first, count, c_ptr(ab), ldab,
                             c_ptr(b), ldb, threads);
}

// The threaded cyclic-reduction solve, which the distributed one mirrors
// (pband_solve_* takes natural order for small systems and wide bands).
// ab: stride ldab >= hb + 1; b: columns ldb >= n apart.
template <class T>
int one_process_solve(std::int32_t n, std::int32_t hb, std::int32_t nrhs, T* ab,
                      std::int32_t ldab, T* b, std::int32_t ldb) {
  if (n == 0) return 0;
  const std::int32_t kd = std::min(hb, n - 1);
  std::vector<T> a(std::size_t(n) * (kd + 1)), x(std::size_t(n) * nrhs);
  for (std::int64_t j = 0; j < n; ++j)
    for (std::int64_t i = 0; i <= std::min<std::int64_t>(kd, n - 1 - j); ++i)
      a[std::size_t(j * (kd + 1) + i)] = ab[j * ldab + i];
  for (std::int64_t q = 0; q < nrhs; ++q)
    std::copy_n(b + q * ldb, n, x.begin() + q * n);
  std::vector<T> w(std::size_t(2) * n * kd + 1);
  std::int32_t status = 0;
  if constexpr (std::is_same_v<T, float>)
    pband::solve_band_system_library_r4(a.data(), n, kd, x.data(), nrhs,
                                        w.data(), 1, status);
  else if constexpr (std::is_same_v<T, double>)
    pband::solve_band_system_library_r8(a.data(), n, kd, x.data(), nrhs,
                                        w.data(), 1, status);
  else if constexpr (std::is_same_v<T, std::complex<float>>)
    pband::solve_band_system_library_c8(a.data(), n, kd, x.data(), nrhs,
                                        w.data(), 1, status);
  else
    pband::solve_band_system_library_c16(a.data(), n, kd, x.data(), nrhs,
                                         w.data(), 1, status);
  for (std::int64_t q = 0; q < nrhs; ++q)
    std::copy_n(x.begin() + q * n, n, b + q * ldb);
  return status;
}

#define PBAND_MPI_TEST_BY_TYPE(call, ...)                    \
  if constexpr (std::is_same_v<T, float>)                    \
    return call##_s(__VA_ARGS__);                            \
  else if constexpr (std::is_same_v<T, double>)              \
    return call##_d(__VA_ARGS__);                            \
  else if constexpr (std::is_same_v<T, std::complex<float>>) \
    return call##_c(__VA_ARGS__);                            \
  else                                                       \
    return call##_z(__VA_ARGS__)

template <class T>
std::int64_t mpi_factor_workspace(std::int64_t n, std::int32_t hb,
                                  std::int64_t first, std::int32_t count,
                                  std::int32_t ldab) {
  PBAND_MPI_TEST_BY_TYPE(pband_mpi_factor_workspace, n, hb, first, count, ldab);
}

template <class T>
int mpi_factor(MPI_Comm comm, std::int64_t n, std::int32_t hb,
               std::int64_t first, std::int32_t count, const T* ab,
               std::int32_t ldab, T* factor, std::int64_t lfactor,
               std::int32_t threads) {
  PBAND_MPI_TEST_BY_TYPE(pband_mpi_factor, comm, n, hb, first, count, c_ptr(ab),
                         ldab, c_ptr(factor), lfactor, threads);
}

template <class T>
int mpi_solve_factored(MPI_Comm comm, std::int64_t n, std::int32_t hb,
                       std::int32_t nrhs, std::int64_t first,
                       std::int32_t count, const T* factor,
                       std::int64_t lfactor, T* b, std::int32_t ldb,
                       std::int32_t threads) {
  PBAND_MPI_TEST_BY_TYPE(pband_mpi_solve_factored, comm, n, hb, nrhs, first,
                         count, c_ptr(factor), lfactor, c_ptr(b), ldb, threads);
}

// Ways to split n rows over p ranks.
enum class Split { even, uneven, empty_ranks, crumbs };

inline const char* split_name(Split s) {
  switch (s) {
    case Split::even:
      return "even";
    case Split::uneven:
      return "uneven";
    case Split::empty_ranks:
      return "empty ranks";
    case Split::crumbs:
      return "crumbs";
  }
  return "";
}

// Rows per rank: even (the remainder to the first ranks); uneven (in
// proportion to (r+1)²); every other rank empty, rank 0 among them when
// there are more than one; crumbs (one to three rows for every rank but
// the last, which takes the rest: more ranks than blocks).
inline std::vector<std::int64_t> split_rows(std::int64_t n, int p, Split s) {
  std::vector<std::int64_t> c(std::size_t(p), 0);
  auto spread = [&](const std::vector<std::int64_t>& w) {
    std::int64_t total = 0, given = 0;
    for (auto x : w) total += x;
    for (int r = 0; r < p; ++r) {
      c[std::size_t(r)] = total == 0 ? 0 : n * w[std::size_t(r)] / total;
      given += c[std::size_t(r)];
    }
    for (int r = p - 1; r >= 0; --r)
      if (w[std::size_t(r)] > 0) {
        c[std::size_t(r)] += n - given;
        break;
      }
  };
  std::vector<std::int64_t> w(std::size_t(p), 1);
  switch (s) {
    case Split::even:
      break;
    case Split::uneven:
      for (int r = 0; r < p; ++r) w[std::size_t(r)] = (r + 1) * (r + 1);
      break;
    case Split::empty_ranks:
      for (int r = 0; r < p; ++r)
        w[std::size_t(r)] = p > 1 && r % 2 == 0 ? 0 : 1;
      break;
    case Split::crumbs: {
      std::int64_t left = n;
      for (int r = 0; r + 1 < p; ++r) {
        c[std::size_t(r)] = std::min<std::int64_t>(left, 1 + r % 3);
        left -= c[std::size_t(r)];
      }
      c[std::size_t(p - 1)] = left;
      return c;
    }
  }
  spread(w);
  return c;
}

inline std::int64_t first_row(const std::vector<std::int64_t>& counts, int r) {
  std::int64_t f = 0;
  for (int k = 0; k < r; ++k) f += counts[std::size_t(k)];
  return f;
}

// Elements whose bytes differ.
template <class T>
std::int64_t differing(const T* x, const T* y, std::int64_t k) {
  std::int64_t d = 0;
  for (std::int64_t i = 0; i < k; ++i)
    d += std::memcmp(x + i, y + i, sizeof(T)) != 0;
  return d;
}

}  // namespace pband::test
