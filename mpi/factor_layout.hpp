// Private header of the distributed solver: one rank's share of a stored
// factor, laid out in the caller's `factor` array: a header naming the
// system and the piece it belongs to, then, over the rank's run of blocks
// (columns lo … L, L the last one's end), the factored band, the coupling
// rows and the saved store's columns lo … min(n, L + hb), which hold the
// couplings kept for the back-substitution of the run's blocks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "mpi/block_layout.hpp"
#include "mpi/exchange.hpp"

namespace pband::mpi {

struct FactorHeader {
  std::int64_t magic;
  std::int64_t n;
  std::int64_t hb;
  std::int64_t block_size;
  std::int64_t first;
  std::int64_t count;
  std::int64_t element_bytes;
};
inline constexpr std::int64_t kFactorMagic = 0x70626E646D706931;  // pbndmpi1
inline constexpr std::int64_t kFactorHeaderBytes = 64;
static_assert(sizeof(FactorHeader) <= kFactorHeaderBytes);

// Where the parts lie, in elements of T from the array's start.
template <class T>
struct FactorParts {
  std::int64_t header = kFactorHeaderBytes / std::int64_t(sizeof(T));
  std::int64_t lo = 1, last = 0, saved_last = 0;
  std::int64_t band = 0, coupling = 0, saved = 0, total = 0;

  FactorParts(const Geometry& g, std::int64_t first, std::int64_t count) {
    const BlockRun held = blocks_held(g, first, count);
    if (held.hi >= held.lo) {
      lo = held.lo;
      last = g.last(held.hi);
      saved_last = std::min(g.n, last + g.hb);
    }
    const std::int64_t cols = std::max<std::int64_t>(last - lo + 1, 0);
    const std::int64_t saved_cols =
        std::max<std::int64_t>(saved_last - lo + 1, 0);
    band = header;
    coupling = band + cols * (g.hb + 1);
    saved = coupling + cols * g.hb;
    total = saved + saved_cols * g.hb;
  }

  // The rank's parts of the global arrays as regions.
  Region band_region() const { return {Store::band, lo, last}; }
  Region coupling_region() const { return {Store::coupling, lo, last}; }
  Region saved_region() const { return {Store::saved, lo, saved_last}; }
};

// Copies the rank's parts between the global arrays and the factor array
// (to_factor: from the arrays).
template <class T>
void factor_parts_copy(const GlobalArrays<T>& ga, const FactorParts<T>& fp,
                       T* factor, bool to_factor) {
  const auto copy = [&](const Region& r, std::int64_t at) {
    T* f = factor + at;
    ga.runs(r, [&](T* p, std::int64_t k) {
      if (to_factor)
        std::memcpy(f, p, sizeof(T) * std::size_t(k));
      else
        std::memcpy(p, f, sizeof(T) * std::size_t(k));
      f += k;
    });
  };
  copy(fp.band_region(), fp.band);
  copy(fp.coupling_region(), fp.coupling);
  copy(fp.saved_region(), fp.saved);
}

}  // namespace pband::mpi
