// Private header of the band solver: the choice among the block
// operations' forms for each claim, and one compiled copy of them per
// common half bandwidth and instruction set, picked once per solve.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "solver/band_arrays.hpp"
#include "solver/block_groups.hpp"
#include "solver/block_ops.hpp"
#include "solver/block_ops_lanes.hpp"
#include "kernels/simd.hpp"
#include "kernels/isa.hpp"
#include "solver/solver_switches.hpp"

namespace pband {

// Most blocks one claim takes: a group of the widest packs (16 floats).
inline constexpr int kMaxClaim = 16;

// The block operations of one solve, chosen once per solve for its half
// bandwidth and the processor's instruction set.
template <class T>
struct BlockOps {
  // Blocks a claim should take at most: a group's lanes, or the four
  // back-substitutions the one-block forms interleave.
  int claim;
  // Factor phase on `count` claimed blocks; with `fold`, each block
  // factored also does its neighbours' halves of the update at once.
  // False when a pivot of this phase failed.
  bool (*factor)(const BandArrays<T>&, const std::int64_t* cs, int count,
                 std::int64_t w, std::int64_t nd, std::int64_t level_first,
                 RealOf<T> threshold,
                 std::atomic<std::int32_t>* failure_flags,
                 std::int32_t parity, bool fold);
  void (*update)(const BandArrays<T>&, const std::int64_t* cs, int count,
                 std::int64_t nd, std::int64_t level_first);
  // Back-substitution phase on `count` claimed blocks.
  void (*back)(const BandArrays<T>&, const std::int64_t* cs, int count,
               std::int64_t nd);
};

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
  const T* v = s.cpl(c, 1);
  for (std::int64_t i = 0; i < rows * hb; i += kLine) __builtin_prefetch(v + i);
}

template <class T, int HB, int VW>
void fold_into_neighbours(const BandArrays<T>& s, std::int64_t c,
                          std::int64_t nd, std::int64_t level_first);

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
    lines(s.sav(1, e), hb * hb);
    lines(s.cpl(e, 1), hb * hb);
    if (s.nrhs > 0) lines(s.rhs(e, 1), hb);
  }
  const std::int64_t t = c - nd + s.block_size - hb;  // left tail
  if (c <= s.n && t >= 1) {
    lines(s.template column<HB>(t), hb * (hb + 1));
    if (s.nrhs > 0) lines(s.rhs(t, 1), hb);
  }
}

// One block of a factor phase; with `fold`, followed by its share of its
// neighbours' update (fold_into_neighbours). False when a pivot failed.
template <class T, int HB, int VW>
bool factor_best(const BandArrays<T>& s, std::int64_t c, std::int64_t w,
                 std::int64_t nd, std::int64_t level_first,
                 RealOf<T> threshold, std::atomic<std::int32_t>* flags,
                 std::int32_t parity, bool fold) {
  prefetch_block<T, HB>(s, c + 2 * nd, w > 1 ? s.hb : 0);
  if (fold && w > 1) prefetch_fold<T, HB>(s, c + 2 * nd, nd);
  if constexpr (kHasLanes<T, HB>) {
    if (factor_lanes_fit<T, HB>(s, c)) {
      const std::int64_t cs[1] = {c};
      return factor_blocks_lanes<T, HB, 1>(s, cs, w, nd, level_first,
                                           threshold, flags, parity, fold);
    }
  }
  if (!factor_phase_block<T, HB, VW>(s, c, w, nd, level_first, threshold,
                                     flags, parity))
    return false;
  if (fold) fold_into_neighbours<T, HB, VW>(s, c, nd, level_first);
  return true;
}

template <class T, int HB, int VW>
void update_right_best(const BandArrays<T>& s, std::int64_t c,
                       std::int64_t nd) {
  if constexpr (kHasLanes<T, HB>)
    update_from_right_lanes<T, HB>(s, c, nd);
  else
    update_from_right<T, HB, VW>(s, c, nd);
}

template <class T, int HB, int VW>
void update_left_best(const BandArrays<T>& s, std::int64_t c,
                      std::int64_t nd, std::int64_t level_first) {
  if constexpr (kHasLanes<T, HB>)
    update_from_left_lanes<T, HB>(s, c, nd, level_first);
  else
    update_from_left<T, HB, VW>(s, c, nd, level_first);
}

template <class T, int HB, int VW>
void update_best(const BandArrays<T>& s, std::int64_t c, std::int64_t nd,
                 std::int64_t level_first) {
  // The next block's right neighbour holds the spike this block reads.
  prefetch_block<T, HB>(s, c + 3 * nd, s.block_size);
  update_right_best<T, HB, VW>(s, c, nd);
  update_left_best<T, HB, VW>(s, c, nd, level_first);
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
  if (c - nd >= level_first) update_right_best<T, HB, VW>(s, c - nd, nd);
  if (c + nd <= s.n)
    update_left_best<T, HB, VW>(s, c + nd, nd, level_first);
}

// The group operations of one instruction set, each compiled once per
// element type and group half bandwidth (GroupHb) rather than inlined into
// every copy of the block operations.
#define PBAND_GROUP_OPS_FOR_ISA(NAME, ATTRIBUTES, BYTES)                     \
  template <class T, int HB>                                                \
  struct NAME {                                                             \
    static constexpr int G = BYTES / sizeof(RealOf<T>);                     \
    using Ops = GroupOps<T, G, HB>;                                         \
    [[gnu::noinline]] ATTRIBUTES static int factor(                         \
        const BandArrays<T>& s, const std::int64_t* cs, int lanes,          \
        std::int64_t w, std::int64_t nd, RealOf<T> threshold,               \
        std::atomic<std::int32_t>* flags, std::int32_t parity, bool fold) { \
      return Ops::factor(s, cs, lanes, w, nd, threshold, flags, parity,     \
                         fold);                                             \
    }                                                                       \
    [[gnu::noinline]] ATTRIBUTES static void update(                        \
        const BandArrays<T>& s, const std::int64_t* cs, int lanes,          \
        std::int64_t nd) {                                                  \
      Ops::update(s, cs, lanes, nd);                                        \
    }                                                                       \
    [[gnu::noinline]] ATTRIBUTES static void back(                          \
        const BandArrays<T>& s, const std::int64_t* cs, int lanes,          \
        std::int64_t nd) {                                                  \
      Ops::back(s, cs, lanes, nd);                                          \
    }                                                                       \
  };

PBAND_GROUP_OPS_FOR_ISA(BaselineGroups, PBAND_FLATTEN, 16)
PBAND_GROUP_OPS_FOR_ISA(Avx2Groups,
                        PBAND_TARGET_AVX2 PBAND_FLATTEN, 32)
PBAND_GROUP_OPS_FOR_ISA(
    Avx512Groups,
    PBAND_TARGET_AVX512
        PBAND_FLATTEN, 64)
#undef PBAND_GROUP_OPS_FOR_ISA

// Half bandwidths whose groups have their own compiled copy; the others
// share one that reads hb at run time.
template <int HB>
inline constexpr int kGroupHb = HB == 8 ? HB : kAnyHb;

// Vector width of the wide-band forms for a half bandwidth read at run
// time: the group width of the instruction set; 0 (none) elsewhere.
template <class T, int HB, int G>
inline constexpr int kWideVw =
    ElementTraits<T>::is_complex || HB != kAnyHb ? 0 : G;

// Fewest blocks worth a group of G lanes: below it the one-block forms
// are faster than the group's fixed cost.
template <int G>
inline constexpr int kMinLanes = G >= 8 ? G / 4 : 2;

// Splits claimed blocks into groups of the common shape, G at a time, and
// the rest, which `one_by_one` takes (all of them at once, its one call).
// `group` returns 1 when done, 0 when its blocks must go one by one
// instead, -1 to stop (false).
template <int G, class Shape, class Group, class Rest>
bool split_claim(const std::int64_t* cs, int count, bool groups_fit,
                 Shape shape, Group group, Rest one_by_one) {
  std::int64_t rest[kMaxClaim];
  int singles = 0;
  std::int64_t lanes[G];
  int used = 0;
  auto flush = [&]() {
    if (used >= kMinLanes<G>) {
      solver_groups_done.fetch_add(1, std::memory_order_relaxed);
      const int r = group(lanes, used);
      if (r < 0) return false;
      if (r > 0) used = 0;
    }
    for (int g = 0; g < used; ++g) rest[singles++] = lanes[g];
    used = 0;
    return true;
  };
  groups_fit = groups_fit && solver_vector_forms_on.load(std::memory_order_relaxed);
  for (int b = 0; b < count; ++b) {
    if (groups_fit && shape(cs[b])) {
      lanes[used++] = cs[b];
      if (used == G && !flush()) return false;
    } else {
      rest[singles++] = cs[b];
    }
  }
  if (!flush()) return false;
  return one_by_one(rest, singles);
}

template <class T, int HB, class Groups>
bool factor_some(const BandArrays<T>& s, const std::int64_t* cs, int count,
                 std::int64_t w, std::int64_t nd, std::int64_t level_first,
                 RealOf<T> threshold, std::atomic<std::int32_t>* flags,
                 std::int32_t parity, bool fold) {
  using Ops = typename Groups::Ops;
  constexpr int G = Groups::G;
  return split_claim<G>(
      cs, count, Ops::fits(Ops::factor_packs(s.block_size, s.hb)),
      [&](std::int64_t c) {
        return GroupShape::factor(c, s.n, s.hb, s.block_size, nd,
                                  level_first);
      },
      [&](const std::int64_t* lanes, int used) {
        // When a pivot of the group failed, the one-block forms redo its
        // blocks and fail where and as a block alone does.
        return Groups::factor(s, lanes, used, w, nd, threshold, flags,
                              parity, fold);
      },
      [&](const std::int64_t* bs, int k) {
        for (int b = 0; b < k; ++b)
          if (!factor_best<T, HB, kWideVw<T, HB, G>>(
                  s, bs[b], w, nd, level_first, threshold, flags, parity,
                  fold))
            return false;
        return true;
      });
}

template <class T, int HB, class Groups>
void update_some(const BandArrays<T>& s, const std::int64_t* cs, int count,
                 std::int64_t nd, std::int64_t level_first) {
  using Ops = typename Groups::Ops;
  constexpr int G = Groups::G;
  split_claim<G>(
      cs, count, Ops::fits(Ops::update_packs(s.block_size, s.hb)),
      [&](std::int64_t c) {
        return GroupShape::update(c, s.n, s.hb, s.block_size, nd,
                                  level_first);
      },
      [&](const std::int64_t* lanes, int used) {
        Groups::update(s, lanes, used, nd);
        return 1;
      },
      [&](const std::int64_t* bs, int k) {
        for (int b = 0; b < k; ++b)
          update_best<T, HB, kWideVw<T, HB, G>>(s, bs[b], nd, level_first);
        return true;
      });
}

template <class T, int HB, class Groups>
void back_some(const BandArrays<T>& s, const std::int64_t* cs, int count,
               std::int64_t nd) {
  using Ops = typename Groups::Ops;
  constexpr int G = Groups::G;
  split_claim<G>(
      cs, count, Ops::fits(Ops::back_packs(s.block_size, s.hb)),
      [&](std::int64_t c) {
        return GroupShape::back(c, s.n, s.hb, s.block_size, nd);
      },
      [&](const std::int64_t* lanes, int used) {
        Groups::back(s, lanes, used, nd);
        return 1;
      },
      [&](const std::int64_t* bs, int k) {
        for (int b = 0; b < k;) {
          // The next claim takes the count blocks after these.
          prefetch_block<T, HB>(s, bs[b] + 2 * nd * count, s.block_size);
          if (k - b >= 4) {
            const std::int64_t c4[4] = {bs[b], bs[b + 1], bs[b + 2],
                                        bs[b + 3]};
            back_substitution_blocks<T, HB, 4>(s, c4, nd);
            b += 4;
          } else if (k - b >= 2) {
            const std::int64_t c2[2] = {bs[b], bs[b + 1]};
            back_substitution_blocks<T, HB, 2>(s, c2, nd);
            b += 2;
          } else {
            back_substitution_block<T, HB>(s, bs[b], nd);
            b += 1;
          }
        }
        return true;
      });
}

// One copy of the three operations per instruction set: each wrapper has
// everything it calls inlined (flatten) and compiled for its target. The
// baseline is plain x86-64; the wider ones run only where the processor
// has them (solver_isa).
#define PBAND_BLOCK_OPS_FOR_ISA(NAME, ATTRIBUTES, GROUPS)                    \
  template <class T, int HB>                                                \
  struct NAME {                                                             \
    using Groups = GROUPS<T, kGroupHb<HB>>;                                 \
    static constexpr int G = Groups::G;                                     \
    ATTRIBUTES static bool factor(                                          \
        const BandArrays<T>& s, const std::int64_t* cs, int count,          \
        std::int64_t w, std::int64_t nd, std::int64_t level_first,          \
        RealOf<T> threshold, std::atomic<std::int32_t>* flags,              \
        std::int32_t parity, bool fold) {                                   \
      return factor_some<T, HB, Groups>(s, cs, count, w, nd, level_first,        \
                                   threshold, flags, parity, fold);         \
    }                                                                       \
    ATTRIBUTES static void update(const BandArrays<T>& s,                   \
                                  const std::int64_t* cs, int count,        \
                                  std::int64_t nd,                          \
                                  std::int64_t level_first) {               \
      update_some<T, HB, Groups>(s, cs, count, nd, level_first);                 \
    }                                                                       \
    ATTRIBUTES static void back(const BandArrays<T>& s,                     \
                                const std::int64_t* cs, int count,          \
                                std::int64_t nd) {                          \
      back_some<T, HB, Groups>(s, cs, count, nd);                                \
    }                                                                       \
    static BlockOps<T> ops() {                                              \
      return {std::max(G, 4), &factor, &update, &back};                     \
    }                                                                       \
  };

PBAND_BLOCK_OPS_FOR_ISA(BaselineOps, PBAND_FLATTEN, BaselineGroups)
PBAND_BLOCK_OPS_FOR_ISA(Avx2Ops, PBAND_TARGET_AVX2 PBAND_FLATTEN,
                        Avx2Groups)
PBAND_BLOCK_OPS_FOR_ISA(
    Avx512Ops, PBAND_TARGET_AVX512
                   PBAND_FLATTEN,
    Avx512Groups)
#undef PBAND_BLOCK_OPS_FOR_ISA

template <class T, int HB>
BlockOps<T> block_ops_for(std::int32_t isa) {
  if (isa >= 2) return Avx512Ops<T, HB>::ops();
  if (isa == 1) return Avx2Ops<T, HB>::ops();
  return BaselineOps<T, HB>::ops();
}

// Half bandwidths common enough to be worth their own compiled kernels.
template <class T>
BlockOps<T> block_ops(std::int64_t hb, std::int32_t isa) {
  switch (hb) {
    case 1: return block_ops_for<T, 1>(isa);
    case 2: return block_ops_for<T, 2>(isa);
    case 4: return block_ops_for<T, 4>(isa);
    case 8: return block_ops_for<T, 8>(isa);
    case 16: return block_ops_for<T, 16>(isa);
    default: return block_ops_for<T, kAnyHb>(isa);
  }
}

}  // namespace pband
