// The distributed C interface's stored factor, written once over the
// element type: each rank keeps the factor of its run of blocks in its
// own array, and the solves with it carry the right-hand sides alone
// through the levels, with the bits of the solve that factors as it goes.
// Private: included only by the per-type sources.
#pragma once

#include <cstdint>
#include <cstring>

#include "mpi/factor_layout.hpp"
#include "mpi/mpi_api.hpp"

namespace pband::mpi {

// Arguments 1 n, 2 hb, 3 first, 4 count, 5 ldab; elements of T, or −i.
template <class T>
std::int64_t factor_workspace(std::int64_t n, std::int32_t hb,
                              std::int64_t first, std::int32_t count,
                              std::int32_t ldab) {
  if (n < 0) return -1;
  if (hb < 0) return -2;
  if (first < 0 || first > n) return -3;
  if (count < 0 || first + count > n) return -4;
  if (ldab < std::int64_t(hb) + 1) return -5;
  if (n == 0) return 0;
  return FactorParts<T>(system_geometry<T>(n, hb, 0), first, count).total;
}

// Arguments 1 comm, 2 n, 3 hb, 4 first, 5 count, 6 ab, 7 ldab, 8 factor,
// 9 lfactor, 10 threads.
template <class T>
int factor(MPI_Comm comm, std::int64_t n, std::int32_t hb, std::int64_t first,
           std::int32_t count, const T* ab, std::int32_t ldab, T* factor,
           std::int64_t lfactor, std::int32_t threads) {
  if (!usable(comm)) return -1;
  CallFacts f{n, hb, 0, first, count, 0};
  const std::int64_t need =
      n > 0 && hb >= 0 && first >= 0 && count >= 0 && first + count <= n
          ? FactorParts<T>(system_geometry<T>(n, hb, 0), first, count).total
          : 0;
  if (ab == nullptr && count > 0)
    f.own_bad = 6;
  else if (ldab < std::int64_t(hb) + 1)
    f.own_bad = 7;
  else if (factor == nullptr && need > 0)
    f.own_bad = 8;
  else if (lfactor < need)
    f.own_bad = 9;
  Pieces pieces;
  const int bad = agree_on_arguments(comm, f, {2, 3, 0, 4, 5}, pieces);
  if (bad != 0 || n == 0) return bad;

  const Geometry g = system_geometry<T>(n, hb, 0);
  const FactorParts<T> parts(g, first, count);
  RankArrays<T> rank;
  const bool reserved = rank.reserve(g, parts.lo, parts.last);
  OwnComm own(comm);
  const MPI_Comm c = own.get();
  int me = 0;
  int status = start_call(comm, own, reserved, me);
  if (status != 0) return status;
  const GlobalArrays<T>& ga = rank.arrays;
  band_in(ga, first, count, ab, ldab);
  status =
      mpi_status(move_rows(c, pieces, me, ga, true, false, true, kTagToBlocks));
  if (status == 0) status = solve_levels(c, pieces, me, ga, team_for(threads));
  // A failed factor is no factor: its solves refuse it.
  const FactorHeader h{
      status == 0 ? kFactorMagic : 0, n, g.hb, g.block_size, first, count,
      std::int64_t(sizeof(T))};
  std::memcpy(static_cast<void*>(factor), &h, sizeof h);
  if (status == 0) factor_parts_copy(ga, parts, factor, true);
  return status;
}

// Whether `factor` is this rank's share of a factor of this system.
template <class T>
bool factor_fits(const T* factor, std::int64_t n, std::int64_t hb,
                 std::int64_t first, std::int64_t count) {
  if (factor == nullptr) return false;
  FactorHeader h;
  std::memcpy(&h, factor, sizeof h);
  const Geometry g = system_geometry<T>(n, hb, 0);
  return h.magic == kFactorMagic && h.n == n && h.hb == g.hb &&
         h.block_size == g.block_size && h.first == first && h.count == count &&
         h.element_bytes == std::int64_t(sizeof(T));
}

// Arguments 1 comm, 2 n, 3 hb, 4 nrhs, 5 first, 6 count, 7 factor,
// 8 lfactor, 9 b, 10 ldb, 11 threads.
template <class T>
int solve_factored(MPI_Comm comm, std::int64_t n, std::int32_t hb,
                   std::int32_t nrhs, std::int64_t first, std::int32_t count,
                   const T* factor, std::int64_t lfactor, T* b,
                   std::int32_t ldb, std::int32_t threads) {
  if (!usable(comm)) return -1;
  CallFacts f{n, hb, nrhs, first, count, 0};
  const bool sizes_ok =
      n > 0 && hb >= 0 && first >= 0 && count >= 0 && first + count <= n;
  if (sizes_ok && !factor_fits(factor, n, hb, first, count))
    f.own_bad = 7;
  else if (sizes_ok &&
           lfactor <
               FactorParts<T>(system_geometry<T>(n, hb, 0), first, count).total)
    f.own_bad = 8;
  else if (b == nullptr && count > 0 && nrhs > 0)
    f.own_bad = 9;
  else if (ldb < std::max<std::int32_t>(1, count))
    f.own_bad = 10;
  Pieces pieces;
  const int bad = agree_on_arguments(comm, f, {2, 3, 4, 5, 6}, pieces);
  if (bad != 0 || n == 0 || nrhs == 0) return bad;

  Geometry g = system_geometry<T>(n, hb, nrhs);
  g.rhs_only = true;
  const FactorParts<T> parts(g, first, count);
  RankArrays<T> rank;
  const bool reserved = rank.reserve(g, parts.lo, parts.last);
  OwnComm own(comm);
  const MPI_Comm c = own.get();
  int me = 0;
  int status = start_call(comm, own, reserved, me);
  if (status != 0) return status;
  const GlobalArrays<T>& ga = rank.arrays;
  factor_parts_copy(ga, parts, const_cast<T*>(factor), false);
  rhs_copy(ga, first, count, b, ldb, true);
  status =
      mpi_status(move_rows(c, pieces, me, ga, false, true, true, kTagToBlocks));
  if (status == 0) status = solve_levels(c, pieces, me, ga, team_for(threads));
  if (status == 0)
    status = mpi_status(
        move_rows(c, pieces, me, ga, false, true, false, kTagToPieces));
  if (status == 0) rhs_copy(ga, first, count, b, ldb, false);
  return status;
}

}  // namespace pband::mpi
