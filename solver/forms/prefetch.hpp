// Private header of the band solver: hints that start loading what a
// thread's next claim of a phase will touch. Hints only: they change no
// value.
#pragma once

#include <algorithm>
#include <cstdint>

#include "solver/band_arrays.hpp"

namespace pband {

// Starts loading the block a thread is likely to claim next in this
// phase (the claim counter steps by 2·nd): its band columns, its rows of
// B and the first `coupling_rows` of its rows of the coupling store. A
// hint only.
template <class T, int HB>
void prefetch_block(const BandArrays<T>& s, std::int64_t c,
                    std::int64_t coupling_rows) {
  if (c > s.n) return;
  const std::int64_t end = s.last(c);
  const std::int64_t hb = s.template half_band<HB>();
  constexpr std::int64_t kLine = 64 / sizeof(T) > 0 ? 64 / sizeof(T) : 1;
  const T* a = s.template column<HB>(c);
  const std::int64_t a_len = (end - c + 1) * (hb + 1);
  for (std::int64_t i = 0; i < a_len; i += kLine) __builtin_prefetch(a + i);
  if (s.nrhs > 0) {
    const T* b = s.rhs(c, 1);
    for (std::int64_t i = 0; i <= end - c; i += kLine)
      __builtin_prefetch(b + i);
  }
  const std::int64_t rows = std::min(coupling_rows, end - c + 1);
  const T* v = s.coupling_at(c, 1);
  for (std::int64_t i = 0; i < rows * hb; i += kLine) __builtin_prefetch(v + i);
}

// Starts loading what folding the block c likely claimed next will touch:
// the head of its right neighbour (band columns, coupling and saved rows,
// right-hand side) and the tail of its left one. A hint only.
template <class T, int HB>
void prefetch_fold(const BandArrays<T>& s, std::int64_t c, std::int64_t nd) {
  constexpr std::int64_t kLine = 64 / sizeof(T) > 0 ? 64 / sizeof(T) : 1;
  const std::int64_t hb = s.template half_band<HB>();
  auto lines = [&](const T* p, std::int64_t count) {
    for (std::int64_t i = 0; i < count; i += kLine) __builtin_prefetch(p + i);
  };
  const std::int64_t e = c + nd;  // right neighbour
  if (e + hb - 1 <= s.n) {
    lines(s.template column<HB>(e), hb * (hb + 1));
    lines(s.saved_at(1, e), hb * hb);
    lines(s.coupling_at(e, 1), hb * hb);
    if (s.nrhs > 0) lines(s.rhs(e, 1), hb);
  }
  const std::int64_t t = c - nd + s.block_size - hb;  // left tail
  if (c <= s.n && t >= 1) {
    lines(s.template column<HB>(t), hb * (hb + 1));
    if (s.nrhs > 0) lines(s.rhs(t, 1), hb);
  }
}

}  // namespace pband
