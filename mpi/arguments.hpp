// Private header of the distributed solver: the argument checks every
// rank agrees on. Each rank's own arguments are gathered once, so every
// rank finds the same first invalid argument on any rank, before anything
// is touched anywhere.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "mpi/block_layout.hpp"
#include "pband/pband_mpi.h"

namespace pband::mpi {

// One rank's view of a call: the arguments all ranks must agree on, and
// the first of its own arguments that is invalid on its own (0: none).
struct CallFacts {
  std::int64_t n = 0;
  std::int64_t hb = 0;
  std::int64_t nrhs = 0;
  std::int64_t first = 0;
  std::int64_t count = 0;
  std::int64_t own_bad = 0;
};

// Where n, hb, nrhs, first and count stand in the call's arguments (0:
// the call has none).
struct ArgumentPlaces {
  int n, hb, nrhs, first, count;
};

// Whether a communicator can carry the checks: argument 1 when not.
inline bool usable(MPI_Comm comm) {
  int up = 0, down = 0;
  MPI_Initialized(&up);
  if (up) MPI_Finalized(&down);
  return up && !down && comm != MPI_COMM_NULL;
}

// 0 when every rank's arguments are valid and the pieces cover 0 … n−1 in
// rank order; else −i for the first argument i invalid on some rank.
// Fills `pieces` from the gathered facts. Collective over comm.
inline int agree_on_arguments(MPI_Comm comm, const CallFacts& mine,
                              const ArgumentPlaces& at, Pieces& pieces) {
  int size = 1;
  MPI_Comm_size(comm, &size);
  const std::int64_t own[6] = {mine.n,     mine.hb,    mine.nrhs,
                               mine.first, mine.count, mine.own_bad};
  std::vector<std::int64_t> all(std::size_t(size) * 6);
  if (MPI_Allgather(own, 6, MPI_INT64_T, all.data(), 6, MPI_INT64_T, comm) !=
      MPI_SUCCESS)
    return -1;
  const auto fact = [&](int r, int k) { return all[std::size_t(r) * 6 + k]; };
  const std::int64_t n = fact(0, 0), hb = fact(0, 1), nrhs = fact(0, 2);
  std::int64_t worst = std::numeric_limits<std::int64_t>::max();
  auto bad = [&](int place) {
    if (place > 0) worst = std::min<std::int64_t>(worst, place);
  };
  // A piece that does not end where the next one starts is blamed on its
  // count; first is wrong only outside 0 … n, or rank 0's other than 0.
  for (int r = 0; r < size; ++r) {
    const std::int64_t rn = fact(r, 0), rhb = fact(r, 1), rq = fact(r, 2);
    const std::int64_t first = fact(r, 3), count = fact(r, 4);
    const std::int64_t next = r + 1 < size ? fact(r + 1, 3) : n;
    if (rn < 0 || rn != n) bad(at.n);
    if (rhb < 0 || rhb != hb) bad(at.hb);
    if (rq < 0 || rq != nrhs) bad(at.nrhs);
    if (first < 0 || first > n || (r == 0 && first != 0)) bad(at.first);
    if (count < 0 || first + count != next) bad(at.count);
    bad(static_cast<int>(fact(r, 5)));
  }
  if (worst != std::numeric_limits<std::int64_t>::max())
    return -static_cast<int>(worst);
  pieces.first.resize(std::size_t(size));
  pieces.count.resize(std::size_t(size));
  for (int r = 0; r < size; ++r) {
    pieces.first[std::size_t(r)] = fact(r, 3);
    pieces.count[std::size_t(r)] = fact(r, 4);
  }
  return 0;
}

}  // namespace pband::mpi
