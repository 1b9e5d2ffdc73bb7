// Private header of the distributed solver: who holds which block, the
// phases of a solve in the order every rank runs them, and the parts of
// neighbouring blocks each block operation reads or writes. Everything
// here follows from n, hb, the block size and the pieces alone, so every
// rank computes the same answers without asking the others.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace pband::mpi {

// Every rank's piece: rows first + 1 … first + count (1-based).
struct Pieces {
  std::vector<std::int64_t> first;
  std::vector<std::int64_t> count;

  // The rank whose piece holds row i (1-based). An empty piece starts
  // where the next one does, so the last piece starting at or before
  // row i - 1 (0-based) is never empty.
  std::int32_t holder(std::int64_t i) const {
    const auto it = std::upper_bound(first.begin(), first.end(), i - 1);
    return static_cast<std::int32_t>(it - first.begin()) - 1;
  }
};

// The fixed cut of the system into blocks of block_size columns (the last
// one shorter), positions 1-based as in the solver's arrays.
struct Geometry {
  std::int64_t n = 0;
  std::int64_t hb = 0;
  std::int64_t nrhs = 0;
  std::int64_t block_size = 1;
  // Blocks at least 2·hb long fold the update into the factor phase.
  bool fold = false;
  // The solve of a stored factor: right-hand sides alone.
  bool rhs_only = false;

  std::int64_t last(std::int64_t c) const {
    return std::min(n, c + block_size - 1);
  }
  std::int64_t head_end(std::int64_t c) const {
    return std::min(n, c + hb - 1);
  }
  // The block holding row i.
  std::int64_t block_of(std::int64_t i) const {
    return (i - 1) / block_size * block_size + 1;
  }
};

// Blocks are held by the rank holding their first row; each rank's blocks
// are one run of consecutive blocks (none when its piece holds no first
// row). At the top levels the few blocks left stay with their holders, so
// the work gathers onto fewer ranks by itself.
struct BlockRun {
  std::int64_t lo = 1;  // first block's position
  std::int64_t hi = 0;  // last block's position; hi < lo: none
};

inline BlockRun blocks_held(const Geometry& g, std::int64_t first,
                            std::int64_t count) {
  BlockRun r;
  if (count <= 0) return r;
  const std::int64_t bs = g.block_size;
  const std::int64_t k_lo = (first + bs - 1) / bs;
  const std::int64_t k_hi = (first + count - 1) / bs;
  if (k_lo > k_hi) return r;
  r.lo = k_lo * bs + 1;
  r.hi = k_hi * bs + 1;
  return r;
}

enum class PhaseKind { factor, update, back };

// One phase: blocks at start, start + step, … up to n, neighbours nd
// columns away, the level's first remaining block at level_first, level
// stride w (1 at the first level).
struct Phase {
  PhaseKind kind;
  std::int64_t start;
  std::int64_t step;
  std::int64_t w;
  std::int64_t nd;
  std::int64_t level_first;
};

// The phases of a solve in the order of the team's worker
// (solver/band_solve_worker.hpp), which advances the same values at its
// phase ends; update phases without work (the fold) are left out.
inline std::vector<Phase> phase_schedule(const Geometry& g) {
  std::vector<Phase> out;
  const std::int64_t bs = g.block_size;
  std::int64_t stride = 1, nd = bs, step = 2 * bs, level_first = 1;
  std::int64_t next_up = 1, next_down = 0;
  const bool updates = g.rhs_only || !g.fold;
  out.push_back({PhaseKind::factor, next_up, step, stride, nd, level_first});
  stride = 2;
  next_up = (stride - 1) * bs + 1;
  for (;;) {
    if (updates)
      out.push_back(
          {PhaseKind::update, next_up, step, stride, nd, level_first});
    next_up = level_first = (stride - 1) * bs + 1;
    step *= 2;
    nd *= 2;
    out.push_back({PhaseKind::factor, next_up, step, stride, nd, level_first});
    stride *= 2;
    next_up = (stride - 1) * bs + 1;
    if (next_up > g.n) {
      stride /= 2;
      next_down = (stride - 1) * bs + 1;
      break;
    }
  }
  for (;;) {
    out.push_back({PhaseKind::back, next_down, step, stride, nd, level_first});
    stride /= 2;
    step /= 2;
    nd /= 2;
    next_down = (stride - 1) * bs + 1;
    if (stride < 1) break;
  }
  return out;
}

// The phase's blocks from lo to hi, in increasing position.
template <class F>
void for_blocks_in(const Geometry& g, const Phase& ph, std::int64_t lo,
                   std::int64_t hi, F f) {
  hi = std::min(hi, g.n);
  std::int64_t k = lo > ph.start ? (lo - ph.start + ph.step - 1) / ph.step : 0;
  for (std::int64_t c = ph.start + k * ph.step; c <= hi; c += ph.step) f(c);
}

// What a transfer moves: rows (columns for the band and the saved store)
// from … to, 1-based, of one of the four arrays.
enum class Store { band, coupling, rhs, saved };
struct Region {
  Store store;
  std::int64_t from;
  std::int64_t to;
};

// The parts of other blocks that the operation of phase ph on block c
// reads (before the phase) and writes (sent back after it), each with the
// block it belongs to: add(block, region). They follow the solver's forms
// (solver/forms/general.hpp, update.hpp, factored.hpp); the group and
// vector forms touch the same parts.
template <class F>
void op_reads(const Geometry& g, const Phase& ph, std::int64_t c, F add) {
  const std::int64_t hb = g.hb, nd = ph.nd;
  if (hb == 0) return;
  const std::int64_t l = c - nd, r = c + nd;
  const auto tail = [&](std::int64_t x) { return g.last(x) - hb + 1; };
  switch (ph.kind) {
    case PhaseKind::factor:
      if (g.rhs_only) return;
      if (l >= ph.level_first) {
        // Left spike at the first level (the left block's tail columns in
        // the band) and the fold into the left block's tail.
        add(l, Region{Store::band, tail(l), g.last(l)});
        if (g.fold) add(l, Region{Store::rhs, tail(l), g.last(l)});
      }
      if (r <= g.n) {
        // Right coupling, formed in the right block's head rows, and the
        // fold into its head.
        add(r, Region{Store::coupling, r, g.head_end(r)});
        if (g.fold) {
          add(r, Region{Store::band, r, g.head_end(r)});
          add(r, Region{Store::rhs, r, g.head_end(r)});
        }
      }
      return;
    case PhaseKind::update:
      if (r <= g.n) {
        // The right block's spike and forward-substituted rows.
        add(r, Region{Store::coupling, r, g.last(r)});
        add(r, Region{Store::rhs, r, g.last(r)});
      }
      if (l >= ph.level_first) {
        // The left block's tail: its rows of y and of its spike; with a
        // stored factor, its coupling kept in the saved store.
        add(l, Region{Store::rhs, tail(l), g.last(l)});
        if (g.rhs_only)
          add(l,
              Region{Store::saved, g.last(l) + 1, g.head_end(g.last(l) + 1)});
        else
          add(l, Region{Store::coupling, tail(l), g.last(l)});
      }
      return;
    case PhaseKind::back:
      // Solved neighbours: the left one's tail rows, the right one's head.
      if (l >= 1) add(l, Region{Store::rhs, tail(l), g.last(l)});
      if (r <= g.n) add(r, Region{Store::rhs, r, g.head_end(r)});
      return;
  }
}

template <class F>
void op_writes(const Geometry& g, const Phase& ph, std::int64_t c, F add) {
  const std::int64_t hb = g.hb, nd = ph.nd;
  if (hb == 0 || g.rhs_only) return;
  const std::int64_t l = c - nd, r = c + nd;
  switch (ph.kind) {
    case PhaseKind::factor:
      if (r <= g.n) {
        add(r, Region{Store::coupling, r, g.head_end(r)});
        if (g.fold) {
          add(r, Region{Store::band, r, g.head_end(r)});
          add(r, Region{Store::rhs, r, g.head_end(r)});
        }
      }
      if (g.fold && l >= ph.level_first) {
        const std::int64_t t = g.last(l) - hb + 1;
        add(l, Region{Store::band, t, g.last(l)});
        add(l, Region{Store::rhs, t, g.last(l)});
      }
      return;
    case PhaseKind::update:
      // The left block's coupling, kept for its back-substitution.
      if (l >= ph.level_first)
        add(l, Region{Store::saved, g.last(l) + 1, g.head_end(g.last(l) + 1)});
      return;
    case PhaseKind::back:
      return;
  }
}

}  // namespace pband::mpi
