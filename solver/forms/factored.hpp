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
template <class T, int HB = kAnyHb>
void forward_rhs(const BandArrays<T>& s, std::int64_t c) {
  const std::int64_t end = s.last(c);
  for (std::int64_t q = 1; q <= s.nrhs; ++q)
    forward_solve_block<T, HB>(s, c, end, s.rhs(c, q));
}

// Factor phase on Count blocks of one length: each element's operations
// as forward_rhs's, the blocks' rows interleaved so that one block's
// division overlaps the others' (a block alone waits on each).
template <class T, int HB, int Count>
void forward_rhs_blocks(const BandArrays<T>& s, const std::int64_t* cs) {
  using Tr = ElementTraits<T>;
  const std::int64_t hb = s.template half_band<HB>();
  const std::int64_t len = s.last(cs[0]) - cs[0] + 1;
  for (std::int64_t q = 1; q <= s.nrhs; ++q) {
    const T* l[Count];
    T* v[Count];
    for (int b = 0; b < Count; ++b) {
      l[b] = s.template column<HB>(cs[b]);
      v[b] = s.rhs(cs[b], q);
    }
    for (std::int64_t i = 0; i < len; ++i) {
      const std::int64_t m = std::min(hb, len - 1 - i);
      for (int b = 0; b < Count; ++b) {
        const T x = Tr::div(v[b][i], l[b][0]);
        v[b][i] = x;
        for (std::int64_t r = 1; r <= m; ++r)
          v[b][i + r] = Tr::msub(v[b][i + r], l[b][r], x);
        l[b] += hb + 1;
      }
    }
  }
}

// A claim of the factor phase: blocks of one length four or two at a
// time, the rest one by one.
template <class T, int HB>
void forward_rhs_claim(const BandArrays<T>& s, const std::int64_t* cs,
                       int count) {
  auto same_length = [&](int b, int k) {
    const std::int64_t len = s.last(cs[b]) - cs[b];
    for (int j = b + 1; j < b + k; ++j)
      if (s.last(cs[j]) - cs[j] != len) return false;
    return true;
  };
  for (int b = 0; b < count;) {
    if (count - b >= 4 && same_length(b, 4)) {
      forward_rhs_blocks<T, HB, 4>(s, cs + b);
      b += 4;
    } else if (count - b >= 2 && same_length(b, 2)) {
      forward_rhs_blocks<T, HB, 2>(s, cs + b);
      b += 2;
    } else {
      forward_rhs<T, HB>(s, cs[b]);
      b += 1;
    }
  }
}

// Update phase on remaining block e: its tail from the right neighbour,
// then its head from the left one, as update_from_right and
// update_from_left would fold them in.
template <class T, int HB = kAnyHb>
void update_rhs(const BandArrays<T>& s, std::int64_t e, std::int64_t nd,
                std::int64_t level_first) {
  if (s.hb == 0) return;
  for (std::int64_t q = 1; q <= s.nrhs; ++q) {
    if (e + nd <= s.n) rhs_from_right<T, HB>(s, e, e + nd, q);
    if (e - nd >= level_first) rhs_from_left<T, HB>(s, e, e - nd, q);
  }
}

}  // namespace pband
