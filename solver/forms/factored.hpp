// Private header of the band solver: the phases of a solve with a stored
// factor, which carry the right-hand sides alone through the levels. Each
// element takes its terms in the order of the one-shot solve's forms, so a
// stored factor gives the bits of a solve that factors as it goes.
#pragma once

#include <cstdint>

#include "solver/band_arrays.hpp"
#include "solver/forms/general.hpp"

namespace pband {

// Factor phase on block c: its forward substitution, L⁻¹·b.
template <class T>
void forward_rhs(const BandArrays<T>& s, std::int64_t c) {
  const std::int64_t end = s.last(c);
  for (std::int64_t q = 1; q <= s.nrhs; ++q)
    forward_solve_block<T>(s, c, end, s.rhs(c, q));
}

// Update phase on remaining block e: its tail from the right neighbour,
// then its head from the left one, as update_from_right and
// update_from_left would fold them in.
template <class T>
void update_rhs(const BandArrays<T>& s, std::int64_t e, std::int64_t nd,
                std::int64_t level_first) {
  if (s.hb == 0) return;
  for (std::int64_t q = 1; q <= s.nrhs; ++q) {
    if (e + nd <= s.n) rhs_from_right<T>(s, e, e + nd, q);
    if (e - nd >= level_first) rhs_from_left<T>(s, e, e - nd, q);
  }
}

}  // namespace pband
