// Private header of the band solver: each thread's scratch for the forms
// whose arrays would not fit a caller's stack, kept by the runtime from
// one solve to the next. A group's packs come first and a one-block
// form's arrays after them, so a group that hands blocks to a one-block
// form keeps its packs.
#pragma once

#include <cstddef>

#include "runtime/thread_scratch.hpp"
#include "solver/band_arrays.hpp"

namespace pband {

inline constexpr std::size_t kGroupScratchBytes = std::size_t(192) << 10;
inline constexpr std::size_t kOneBlockScratchBytes = std::size_t(160) << 10;
inline constexpr std::size_t kSolverScratchBytes =
    kGroupScratchBytes + kOneBlockScratchBytes;
static_assert(kSolverScratchBytes <= kKeptScratchBytes,
              "the runtime's threads keep the whole scratch");

// The one-block forms' part of a thread's scratch, as elements.
template <class T>
T* one_block_scratch(const BandArrays<T>& s) {
  return reinterpret_cast<T*>(s.scratch + kGroupScratchBytes);
}

}  // namespace pband
