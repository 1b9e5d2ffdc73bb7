// The distributed C interface written once over the element type: the
// checks all ranks agree on, the solve, the stored factor and the solves
// with it. Private: included only by the per-type sources.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "mpi/arguments.hpp"
#include "mpi/distributed_solve.hpp"
#include "mpi/system_setup.hpp"
#include "pband/pband_mpi.h"
#include "runtime/team_size.hpp"

namespace pband::mpi {

// The team each rank asks for: 0 or less is every processor the process
// may run on; never more than those, nor MAX_TEAM_SIZE.
inline std::int32_t team_for(std::int32_t threads) {
  std::int32_t processors = 1;
  count_processors(processors);
  processors = std::max(processors, 1);
  const std::int32_t t = threads <= 0 ? processors : threads;
  return std::clamp<std::int32_t>(std::min(t, processors), 1, MAX_TEAM_SIZE);
}

// A communicator of the library's own for one call, so that its messages
// never meet the caller's; freed on leaving.
class OwnComm {
 public:
  explicit OwnComm(MPI_Comm comm) {
    if (MPI_Comm_dup(comm, &comm_) != MPI_SUCCESS) comm_ = MPI_COMM_NULL;
  }
  ~OwnComm() {
    if (comm_ != MPI_COMM_NULL) MPI_Comm_free(&comm_);
  }
  OwnComm(const OwnComm&) = delete;
  OwnComm& operator=(const OwnComm&) = delete;
  MPI_Comm get() const { return comm_; }

 private:
  MPI_Comm comm_ = MPI_COMM_NULL;
};

// Every rank's status after a step that may fail on some: the worst.
inline int agree(MPI_Comm comm, int status) {
  int worst = status == 0 ? 0 : 1;
  if (MPI_Allreduce(MPI_IN_PLACE, &worst, 1, MPI_INT, MPI_MAX, comm) !=
      MPI_SUCCESS)
    return PBAND_MPI_ERROR;
  return worst == 0 ? 0 : (status != 0 ? status : PBAND_OUT_OF_MEMORY);
}

// Once every rank has tried to reserve its arrays: 0 with this rank's
// number in the call's own communicator in `me`, or the status every rank
// agrees on.
inline int start_call(MPI_Comm caller, const OwnComm& own, bool reserved,
                      int& me) {
  const int status = agree(
      caller, reserved && own.get() != MPI_COMM_NULL ? 0 : PBAND_OUT_OF_MEMORY);
  if (status == 0) MPI_Comm_rank(own.get(), &me);
  return status;
}

inline int mpi_status(int err) {
  return err == MPI_SUCCESS ? 0 : PBAND_MPI_ERROR;
}

// Tags of the calls' rounds: the levels use 0 … 0x7fff.
inline constexpr int kTagToBlocks = 0x10000;
inline constexpr int kTagToPieces = 0x10001;

// Arguments: 1 comm, 2 n, 3 hb, 4 nrhs, 5 first, 6 count, 7 ab, 8 ldab,
// 9 b, 10 ldb, 11 threads.
template <class T>
int solve(MPI_Comm comm, std::int64_t n, std::int32_t hb, std::int32_t nrhs,
          std::int64_t first, std::int32_t count, T* ab, std::int32_t ldab,
          T* b, std::int32_t ldb, std::int32_t threads) {
  if (!usable(comm)) return -1;
  CallFacts f{n, hb, nrhs, first, count, 0};
  if (ab == nullptr && count > 0)
    f.own_bad = 7;
  else if (ldab < std::int64_t(hb) + 1)
    f.own_bad = 8;
  else if (b == nullptr && count > 0 && nrhs > 0)
    f.own_bad = 9;
  else if (ldb < std::max<std::int32_t>(1, count))
    f.own_bad = 10;
  Pieces pieces;
  const int bad = agree_on_arguments(comm, f, {2, 3, 4, 5, 6}, pieces);
  if (bad != 0 || n == 0) return bad;

  const Geometry g = system_geometry<T>(n, hb, nrhs);
  RankArrays<T> rank;
  const BlockRun held = blocks_held(g, first, count);
  // A rank holding the whole system works in its own arrays where their
  // layout is the solver's, as pband_solve_* does: no copy.
  const bool whole = count == n;
  T* own_band = whole && ldab == g.hb + 1 ? ab : nullptr;
  T* own_rhs = whole && (nrhs <= 1 || ldb == n) ? b : nullptr;
  const bool reserved = rank.reserve(
      g, held.lo, held.hi >= held.lo ? g.last(held.hi) : 0, own_band, own_rhs);
  OwnComm own(comm);
  const MPI_Comm c = own.get();
  int me = 0;
  int status = start_call(comm, own, reserved, me);
  if (status != 0) return status;
  const GlobalArrays<T>& ga = rank.arrays;
  if (own_band == nullptr) band_in(ga, first, count, ab, ldab);
  if (own_rhs == nullptr) rhs_copy(ga, first, count, b, ldb, true);
  status =
      mpi_status(move_rows(c, pieces, me, ga, true, true, true, kTagToBlocks));
  if (status == 0) status = solve_levels(c, pieces, me, ga, team_for(threads));
  if (status == 0 && nrhs > 0) {
    status = mpi_status(
        move_rows(c, pieces, me, ga, false, true, false, kTagToPieces));
    if (status == 0 && own_rhs == nullptr)
      rhs_copy(ga, first, count, b, ldb, false);
  }
  return status;
}

}  // namespace pband::mpi
