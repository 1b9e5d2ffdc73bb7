// Where an element of a band matrix lies in lower band storage: the one
// position rule every library of the project indexes by.
#pragma once

#include <cstdint>

namespace pband {

// 0-based position of element (i, j), i >= j, 1-based indices, in lower
// band storage with column stride hb + 1. 64-bit: large systems overflow.
inline std::int64_t band_pos(std::int64_t i, std::int64_t j, std::int64_t hb) {
  return (j - 1) * (hb + 1) + (i - j);
}

}  // namespace pband
