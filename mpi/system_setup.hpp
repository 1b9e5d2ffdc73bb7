// Private header of the distributed solver: one call's system on one
// rank: the block cut, the reserved global arrays, the rank's piece
// copied in and moved to the holders of its blocks, and the solution
// moved back to the pieces.
#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>

#include "kernels/element_traits.hpp"
#include "mpi/block_layout.hpp"
#include "mpi/exchange.hpp"
#include "mpi/virtual_array.hpp"
#include "pband/pband_mpi.h"
#include "solver/band_arrays.hpp"

namespace pband {
// The block base of the library's one-process solve
// (solver/solver_tuning.cpp).
std::int32_t select_solver_tuning_real();
std::int32_t select_library_tuning_complex();
}  // namespace pband

namespace pband::mpi {

// The block base: that of the library's one-process solve of the same
// system, which depends on the element type alone.
template <class T>
std::int32_t block_base() {
  if constexpr (ElementTraits<T>::is_complex)
    return select_library_tuning_complex();
  else
    return select_solver_tuning_real();
}

// The cut of a system of order n (> 0) and half bandwidth hb: a wider band
// than n − 1 adds nothing, as in the one-process solve.
template <class T>
Geometry system_geometry(std::int64_t n, std::int64_t hb, std::int64_t nrhs) {
  Geometry g;
  g.n = n;
  g.hb = std::min<std::int64_t>(hb, n - 1);
  g.nrhs = nrhs;
  g.block_size =
      band_block_size(block_base<T>(), n, static_cast<std::int32_t>(g.hb));
  g.fold = g.hb > 0 && g.block_size >= 2 * g.hb;
  return g;
}

// Tests only: fill the reserved arrays with NaN bytes before use, so that
// a part read but never received shows in the solution.
inline bool poison_arrays = false;

// The four arrays of one rank, reserved at the global size.
template <class T>
class RankArrays {
 public:
  // False when this rank cannot reserve them. Rows (columns) lo … hi are
  // the rank's own, which it sweeps. A rank holding the whole system may
  // pass its own band (stride hb + 1) and B (columns n apart), which are
  // then used in place, as the one-process solve uses them.
  bool reserve(const Geometry& g, std::int64_t lo, std::int64_t hi,
               T* own_band = nullptr, T* own_rhs = nullptr) {
    const std::int64_t n = g.n, hb = g.hb;
    const auto bytes = [](std::int64_t elements) {
      return static_cast<std::size_t>(elements) * sizeof(T);
    };
    // Past the end: a whole last block's stores, which a form may address.
    const std::int64_t pad = (hb + 1) * (hb + 1);
    const bool ok = band_.reserve(own_band ? 0 : bytes(n * (hb + 1) + pad)) &&
                    coupling_.reserve(hb > 0 ? bytes(n * hb + pad) : 0) &&
                    saved_.reserve(hb > 0 ? bytes(n * hb + pad) : 0) &&
                    rhs_.reserve(own_rhs ? 0 : bytes(n * g.nrhs));
    if (ok && hi >= lo) {
      const auto part = [&](VirtualArray& v, std::int64_t per_row) {
        v.prefer_huge_pages(bytes((lo - 1) * per_row), bytes(hi * per_row));
      };
      part(band_, hb + 1);
      part(coupling_, hb);
      part(saved_, hb);
      for (std::int64_t q = 0; q < g.nrhs; ++q)
        rhs_.prefer_huge_pages(bytes(q * n + lo - 1), bytes(q * n + hi));
    }
    if (ok && poison_arrays)
      for (VirtualArray* v : {&band_, &coupling_, &saved_, &rhs_})
        v->fill(0xff);
    arrays.a = own_band ? own_band : static_cast<T*>(band_.data());
    arrays.coupling = static_cast<T*>(coupling_.data());
    arrays.saved = static_cast<T*>(saved_.data());
    arrays.b = own_rhs ? own_rhs : static_cast<T*>(rhs_.data());
    arrays.g = g;
    return ok;
  }

  GlobalArrays<T> arrays;

 private:
  VirtualArray band_, coupling_, saved_, rhs_;
};

// The piece's band columns first+1 … first+count from the caller's
// layout (leading dimension ldab) to the global band; rows beyond n are
// zero, as in the one-process solve's copy.
template <class T>
void band_in(const GlobalArrays<T>& ga, std::int64_t first, std::int64_t count,
             const T* ab, std::int64_t ldab) {
  const std::int64_t hb = ga.g.hb, n = ga.g.n;
  for (std::int64_t j = 0; j < count; ++j) {
    const std::int64_t col = first + j + 1;
    const std::int64_t rows = std::min(hb, n - col) + 1;
    T* to = ga.a + (col - 1) * (hb + 1);
    std::copy_n(ab + j * ldab, rows, to);
    std::fill(to + rows, to + hb + 1, T(0));
  }
}

// The piece's rows of B in (to_global) or of X out.
template <class T>
void rhs_copy(const GlobalArrays<T>& ga, std::int64_t first, std::int64_t count,
              T* b, std::int64_t ldb, bool to_global) {
  for (std::int64_t q = 0; q < ga.g.nrhs; ++q) {
    T* global = ga.b + q * ga.g.n + first;
    if (to_global)
      std::copy_n(b + q * ldb, count, global);
    else
      std::copy_n(global, count, b + q * ldb);
  }
}

// Moves rows between the pieces and the holders of the blocks they fall
// in: the rows of a piece before its first block's start belong to the
// block held by a lower rank, and the rank holding a block that runs past
// its piece gets the rest from the pieces after it. `band` and `rhs`
// choose the arrays; to_blocks the direction. MPI's status.
template <class T>
int move_rows(MPI_Comm comm, const Pieces& p, std::int32_t me,
              const GlobalArrays<T>& ga, bool band, bool rhs, bool to_blocks,
              int tag) {
  const Geometry& g = ga.g;
  Exchange<T> ex(ga);
  auto add = [&](std::int32_t other, std::int64_t from, std::int64_t to,
                 bool mine_to_other) {
    const bool send = mine_to_other == to_blocks;
    for (int k = 0; k < 2; ++k) {
      if ((k == 0 && !band) || (k == 1 && !rhs)) continue;
      const Region r{k == 0 ? Store::band : Store::rhs, from, to};
      if (send)
        ex.send(other, r);
      else
        ex.receive(other, r);
    }
  };
  const std::int64_t first = p.first[std::size_t(me)] + 1;
  const std::int64_t last = first + p.count[std::size_t(me)] - 1;
  if (last >= first) {
    const std::int64_t x = g.block_of(first);
    if (x < first) add(p.holder(x), first, std::min(g.last(x), last), true);
  }
  const BlockRun held = blocks_held(g, first - 1, p.count[std::size_t(me)]);
  if (held.hi >= held.lo) {
    const std::int64_t end = g.last(held.hi);
    for (std::int64_t row = last + 1; row <= end;) {
      const std::int32_t r = p.holder(row);
      const std::int64_t to =
          std::min(end, p.first[std::size_t(r)] + p.count[std::size_t(r)]);
      add(r, row, to, false);
      row = to + 1;
    }
  }
  return ex.run(comm, tag);
}

}  // namespace pband::mpi
