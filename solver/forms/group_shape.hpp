// Private header of the band solver: which blocks a group can hold, and
// the bounds of a group's scratch.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pband {

// The widest band a group takes (its scratch bounds it anyway).
inline constexpr std::int64_t kMaxGroupHb = 48;

// Which blocks a group can hold: those of the common shape, a full block
// with both neighbours (a full head on the right), every one of its
// operations present. The first, last and short blocks of a level are
// done one by one.
struct GroupShape {
  // Factor phase: left neighbour (and, for the fold, its own left one),
  // right neighbour with hb rows of head.
  static bool factor(std::int64_t c, std::int64_t n, std::int64_t hb,
                     std::int64_t block_size, std::int64_t nd,
                     std::int64_t level_first) {
    return hb > 0 && hb <= kMaxGroupHb && c + block_size - 1 <= n &&
           c - nd >= level_first && c + nd + hb - 1 <= n;
  }
  // Update phase on a remaining block: full, both neighbours full, and the
  // left one with a left neighbour of its own.
  static bool update(std::int64_t c, std::int64_t n, std::int64_t hb,
                     std::int64_t block_size, std::int64_t nd,
                     std::int64_t level_first) {
    return hb > 0 && hb <= kMaxGroupHb && c + nd + block_size - 1 <= n &&
           c - nd > level_first;
  }
  // Back-substitution: full, both neighbours, hb rows of right head.
  static bool back(std::int64_t c, std::int64_t n, std::int64_t hb,
                   std::int64_t block_size, std::int64_t nd) {
    return hb > 0 && hb <= kMaxGroupHb && c + block_size - 1 <= n &&
           c - nd >= 1 && c + nd + hb - 1 <= n;
  }
};

}  // namespace pband
