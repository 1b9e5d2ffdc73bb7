// Private header of the band solver: the arrays of one solve and their
// indexing, and the block cut, shared by every block operation.
#pragma once

#include <algorithm>
#include <cstdint>

#include "kernels/band_position.hpp"
#include "kernels/element_traits.hpp"

namespace pband {

// Columns per block: max(base² / max(hb, 1), hb + 1). Never more than n,
// which changes nothing (one block either way) and keeps a huge hb from
// overflowing 32 bits.
inline std::int32_t band_block_size(std::int32_t base, std::int64_t n,
                                    std::int32_t hb) {
  const std::int64_t b = base;
  const std::int64_t size = std::max<std::int64_t>(
      b * b / std::max<std::int64_t>(hb, 1), std::int64_t(hb) + 1);
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(size, std::max<std::int64_t>(n, 1)));
}

// Half bandwidth known at compile time (0, 1, 2, …) or kAnyHb: read from
// the arrays. Fixed widths let the compiler unroll the short band loops.
inline constexpr int kAnyHb = -1;

// The vector forms where they exist (real types, half bandwidth 4 or
// more), the general ones elsewhere.
template <class T, int HB>
inline constexpr bool kHasVectorForms =
    !ElementTraits<T>::is_complex && HB >= 4;

// The arrays of one solve and the indexing of each, 1-based as in the
// formulas; every position is formed in 64 bits.
//   coupling store: n × hb, row-major: entry (i, k) at (i-1)·hb + k, so
//                   the rows of a block are one contiguous run
//   saved store:    hb × n, entry (k, j) at (j-1)·hb + k
template <class T>
struct BandArrays {
  T* a;
  T* b;
  T* saved;
  T* coupling;
  std::int64_t n;
  std::int64_t hb;
  std::int64_t nrhs;
  std::int64_t block_size;
  // Whether the group and wide forms may be taken (choice.hpp).
  bool vector_forms = true;
  // This thread's scratch (forms/scratch.hpp); null: none, and the forms
  // that need it are not taken.
  unsigned char* scratch = nullptr;

  // Column j of the band from its diagonal: element (i, j) at [i - j].
  T* col(std::int64_t j) const { return a + band_pos(j, j, hb); }
  template <int HB>
  T* column(std::int64_t j) const {
    return a + (j - 1) * (half_band<HB>() + 1);
  }
  T* coupling_at(std::int64_t i, std::int64_t k) const {
    return coupling + ((i - 1) * hb + (k - 1));
  }
  T* saved_at(std::int64_t k, std::int64_t j) const {
    return saved + ((j - 1) * hb + (k - 1));
  }
  T* rhs(std::int64_t i, std::int64_t q) const {
    return b + ((q - 1) * n + (i - 1));
  }
  std::int64_t last(std::int64_t c) const {
    return std::min(n, c + block_size - 1);
  }
  template <int HB>
  std::int64_t half_band() const {
    if constexpr (HB >= 0)
      return HB;
    else
      return hb;
  }
};

}  // namespace pband
