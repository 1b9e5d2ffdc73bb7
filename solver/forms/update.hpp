// Private header of the band solver: one remaining block's update from
// its neighbours, in the vector form where it exists and the general form
// elsewhere, and the fold that does it as soon as a neighbour is factored.
#pragma once

#include <cstdint>

#include "solver/band_arrays.hpp"
#include "solver/forms/general.hpp"
#include "solver/forms/prefetch.hpp"
#include "solver/forms/vector_update.hpp"

namespace pband {

template <class T, int HB, int VW = 0>
void update_right_one(const BandArrays<T>& s, std::int64_t c, std::int64_t nd) {
  if constexpr (kHasVectorForms<T, HB>)
    update_from_right_vector<T, HB>(s, c, nd);
  else
    update_from_right<T, HB, VW>(s, c, nd);
}

template <class T, int HB, int VW = 0>
void update_left_one(const BandArrays<T>& s, std::int64_t c, std::int64_t nd,
                     std::int64_t level_first) {
  if constexpr (kHasVectorForms<T, HB>)
    update_from_left_vector<T, HB>(s, c, nd, level_first);
  else
    update_from_left<T, HB, VW>(s, c, nd, level_first);
}

template <class T, int HB, int VW>
void update_one(const BandArrays<T>& s, std::int64_t c, std::int64_t nd,
                std::int64_t level_first) {
  // The next block's right neighbour holds the spike this block reads.
  prefetch_block<T, HB>(s, c + 3 * nd, s.block_size);
  update_right_one<T, HB, VW>(s, c, nd);
  update_left_one<T, HB, VW>(s, c, nd, level_first);
}

// The update of the remaining blocks either side of block c, just
// factored at this level, while its spike and coupling are still in
// cache: its left neighbour's tail from c's spike, its right neighbour's
// head from c's coupling. Each remaining block gets exactly the
// operations of its update phase, its tail from one thread and its head
// from another; they touch disjoint data when blocks are at least 2·hb
// long, which the caller makes sure of.
template <class T, int HB, int VW>
void fold_into_neighbours(const BandArrays<T>& s, std::int64_t c,
                          std::int64_t nd, std::int64_t level_first) {
  if (c - nd >= level_first) update_right_one<T, HB, VW>(s, c - nd, nd);
  if (c + nd <= s.n) update_left_one<T, HB, VW>(s, c + nd, nd, level_first);
}

}  // namespace pband
