// Private header of the band solver: which form of the block operations
// each claimed block takes, and one compiled copy of the operations per
// common half bandwidth and instruction set, picked once per solve.
//
// How a claim finds its form (every form gives the same bits):
//
//   per solve   block_ops(hb, isa): the compiled copy for the processor's
//               widest path (baseline, AVX2, AVX-512) and hb; hb 1, 2, 4,
//               8, 16 have copies of their own (short loops unrolled), any
//               other hb reads it at run time.
//   per claim   factor_claim / update_claim / back_claim: blocks of the
//               common shape (GroupShape: full, with full neighbours) go
//               through the group form, G at a time, one block per vector
//               lane (group.hpp), when the vector forms are on and the
//               group's packs fit its scratch; a group of fewer than
//               kMinLanes blocks, the first and last blocks of a level and
//               short blocks go one by one. A group whose pivot fails
//               writes nothing and is redone one by one, so that the
//               failure is found where a block alone finds it.
//   per block   factor_one / update_one: the vector form across a block's
//               HB spike columns (vector.hpp, vector_update.hpp) for the
//               real types with a fixed hb >= 4 where the block fits its
//               scratch, else the general form (general.hpp). The general
//               form's cubic steps take the wide form (wide.hpp) for an
//               hb read at run time up to kMaxWideHb (complex: and 16). Back-
//               substitutions go four, two or one at a time, interleaved.
//   the fold    blocks at least 2·hb long do the update of their
//               neighbours as each is factored (update.hpp); the update
//               phase then has no work.
//
// Why: the group form fills every lane with a different block and shares
// the chains of roots and divisions that bound one block; the vector forms
// pay where one block's columns fill a register; the general form covers
// every type and width. testing::set_solver_vector_forms turns the group
// and wide forms off, to compare them with the general forms.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "kernels/isa.hpp"
#include "kernels/simd.hpp"
#include "solver/band_arrays.hpp"
#include "solver/forms/factored.hpp"
#include "solver/forms/general.hpp"
#include "solver/forms/group.hpp"
#include "solver/forms/prefetch.hpp"
#include "solver/forms/update.hpp"
#include "solver/forms/vector.hpp"

namespace pband {

// Whether the group and wide forms may be taken: read once per solve into
// BandArrays::vector_forms.
inline std::atomic<bool> solver_vector_forms_on{true};
// Groups done since the process started, for tests to see them taken.
inline std::atomic<std::int64_t> solver_groups_done{0};

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
                 RealOf<T> threshold, std::atomic<std::int32_t>* failure_flags,
                 std::int32_t parity, bool fold);
  void (*update)(const BandArrays<T>&, const std::int64_t* cs, int count,
                 std::int64_t nd, std::int64_t level_first);
  // Back-substitution phase on `count` claimed blocks.
  void (*back)(const BandArrays<T>&, const std::int64_t* cs, int count,
               std::int64_t nd);
  // The phases of a stored factor's solve, on the right-hand sides alone.
  void (*forward_rhs)(const BandArrays<T>&, const std::int64_t* cs,
                      int count);
  void (*update_rhs)(const BandArrays<T>&, const std::int64_t* cs, int count,
                     std::int64_t nd, std::int64_t level_first);
};

// One block of a factor phase; with `fold`, followed by its share of its
// neighbours' update (fold_into_neighbours). False when a pivot failed.
template <class T, int HB, int VW>
bool factor_one(const BandArrays<T>& s, std::int64_t c, std::int64_t w,
                std::int64_t nd, std::int64_t level_first, RealOf<T> threshold,
                std::atomic<std::int32_t>* flags, std::int32_t parity,
                bool fold) {
  prefetch_block<T, HB>(s, c + 2 * nd, w > 1 ? s.hb : 0);
  if (fold && w > 1) prefetch_fold<T, HB>(s, c + 2 * nd, nd);
  if constexpr (kHasVectorForms<T, HB>) {
    if (factor_vector_fits<T, HB>(s, c)) {
      const std::int64_t cs[1] = {c};
      return factor_blocks_vector<T, HB, 1>(s, cs, w, nd, level_first,
                                            threshold, flags, parity, fold);
    }
  }
  if (!factor_phase_block<T, HB, VW>(s, c, w, nd, level_first, threshold, flags,
                                     parity))
    return false;
  if (fold) fold_into_neighbours<T, HB, VW>(s, c, nd, level_first);
  return true;
}

// The group operations of one instruction set, each compiled once per
// element type and group half bandwidth (GroupHb) rather than inlined into
// every copy of the block operations.
#define PBAND_GROUP_OPS_FOR_ISA(NAME, ATTRIBUTES, BYTES)                       \
  template <class T, int HB>                                                   \
  struct NAME {                                                                \
    static constexpr int G = BYTES / sizeof(RealOf<T>);                        \
    using Ops = GroupOps<T, G, HB>;                                            \
    [[gnu::noinline]] ATTRIBUTES static int factor(                            \
        const BandArrays<T>& s, const std::int64_t* cs, int lanes,             \
        std::int64_t w, std::int64_t nd, RealOf<T> threshold,                  \
        std::atomic<std::int32_t>* flags, std::int32_t parity, bool fold) {    \
      return Ops::factor(s, cs, lanes, w, nd, threshold, flags, parity, fold); \
    }                                                                          \
    [[gnu::noinline]] ATTRIBUTES static void update(const BandArrays<T>& s,    \
                                                    const std::int64_t* cs,    \
                                                    int lanes,                 \
                                                    std::int64_t nd) {         \
      Ops::update(s, cs, lanes, nd);                                           \
    }                                                                          \
    [[gnu::noinline]] ATTRIBUTES static void back(const BandArrays<T>& s,      \
                                                  const std::int64_t* cs,      \
                                                  int lanes,                   \
                                                  std::int64_t nd) {           \
      Ops::back(s, cs, lanes, nd);                                             \
    }                                                                          \
  };

PBAND_GROUP_OPS_FOR_ISA(BaselineGroups, PBAND_FLATTEN, 16)
PBAND_GROUP_OPS_FOR_ISA(Avx2Groups, PBAND_TARGET_AVX2 PBAND_FLATTEN, 32)
PBAND_GROUP_OPS_FOR_ISA(Avx512Groups, PBAND_TARGET_AVX512 PBAND_FLATTEN, 64)
#undef PBAND_GROUP_OPS_FOR_ISA

// Half bandwidths whose groups have their own compiled copy; the others
// share one that reads hb at run time.
template <int HB>
inline constexpr int kGroupHb = HB == 8 ? HB : kAnyHb;

// Elements a vector of the wide-band forms holds: a group's width of
// reals. They take a half bandwidth read at run time, and for the complex
// types, which have no vector form of their own, hb 16 too; 0 (none)
// elsewhere.
template <class T, int HB, int G>
inline constexpr int kWideVw =
    HB == kAnyHb || (ElementTraits<T>::is_complex && HB == 16)
        ? G / int(kRealsPer<T>)
        : 0;

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
bool factor_claim(const BandArrays<T>& s, const std::int64_t* cs, int count,
                  std::int64_t w, std::int64_t nd, std::int64_t level_first,
                  RealOf<T> threshold, std::atomic<std::int32_t>* flags,
                  std::int32_t parity, bool fold) {
  using Ops = typename Groups::Ops;
  constexpr int G = Groups::G;
  return split_claim<G>(
      cs, count,
      s.vector_forms && Ops::fits(Ops::factor_packs(s.block_size, s.hb)),
      [&](std::int64_t c) {
        return GroupShape::factor(c, s.n, s.hb, s.block_size, nd, level_first);
      },
      [&](const std::int64_t* lanes, int used) {
        // When a pivot of the group failed, the one-block forms redo its
        // blocks and fail where and as a block alone does.
        return Groups::factor(s, lanes, used, w, nd, threshold, flags, parity,
                              fold);
      },
      [&](const std::int64_t* blocks, int k) {
        for (int b = 0; b < k; ++b)
          if (!factor_one<T, HB, kWideVw<T, HB, G>>(s, blocks[b], w, nd,
                                                    level_first, threshold,
                                                    flags, parity, fold))
            return false;
        return true;
      });
}

template <class T, int HB, class Groups>
void update_claim(const BandArrays<T>& s, const std::int64_t* cs, int count,
                  std::int64_t nd, std::int64_t level_first) {
  using Ops = typename Groups::Ops;
  constexpr int G = Groups::G;
  split_claim<G>(
      cs, count,
      s.vector_forms && Ops::fits(Ops::update_packs(s.block_size, s.hb)),
      [&](std::int64_t c) {
        return GroupShape::update(c, s.n, s.hb, s.block_size, nd, level_first);
      },
      [&](const std::int64_t* lanes, int used) {
        Groups::update(s, lanes, used, nd);
        return 1;
      },
      [&](const std::int64_t* blocks, int k) {
        for (int b = 0; b < k; ++b)
          update_one<T, HB, kWideVw<T, HB, G>>(s, blocks[b], nd, level_first);
        return true;
      });
}

template <class T, int HB, class Groups>
void back_claim(const BandArrays<T>& s, const std::int64_t* cs, int count,
                std::int64_t nd) {
  using Ops = typename Groups::Ops;
  constexpr int G = Groups::G;
  split_claim<G>(
      cs, count,
      s.vector_forms && Ops::fits(Ops::back_packs(s.block_size, s.hb)),
      [&](std::int64_t c) {
        return GroupShape::back(c, s.n, s.hb, s.block_size, nd);
      },
      [&](const std::int64_t* lanes, int used) {
        Groups::back(s, lanes, used, nd);
        return 1;
      },
      [&](const std::int64_t* blocks, int k) {
        for (int b = 0; b < k;) {
          // The next claim takes the count blocks after these.
          prefetch_block<T, HB>(s, blocks[b] + 2 * nd * count, s.block_size);
          if (k - b >= 4) {
            const std::int64_t c4[4] = {blocks[b], blocks[b + 1], blocks[b + 2],
                                        blocks[b + 3]};
            back_substitution_blocks<T, HB, 4>(s, c4, nd);
            b += 4;
          } else if (k - b >= 2) {
            const std::int64_t c2[2] = {blocks[b], blocks[b + 1]};
            back_substitution_blocks<T, HB, 2>(s, c2, nd);
            b += 2;
          } else {
            back_substitution_block<T, HB>(s, blocks[b], nd);
            b += 1;
          }
        }
        return true;
      });
}

// One copy of the three operations per instruction set: each wrapper has
// everything it calls inlined (flatten) and compiled for its target. The
// baseline is plain x86-64; the wider ones run only where the processor
// has them (isa_in_use).
#define PBAND_BLOCK_OPS_FOR_ISA(NAME, ATTRIBUTES, GROUPS)                      \
  template <class T, int HB>                                                   \
  struct NAME {                                                                \
    using Groups = GROUPS<T, kGroupHb<HB>>;                                    \
    static constexpr int G = Groups::G;                                        \
    ATTRIBUTES static bool factor(const BandArrays<T>& s,                      \
                                  const std::int64_t* cs, int count,           \
                                  std::int64_t w, std::int64_t nd,             \
                                  std::int64_t level_first,                    \
                                  RealOf<T> threshold,                         \
                                  std::atomic<std::int32_t>* flags,            \
                                  std::int32_t parity, bool fold) {            \
      return factor_claim<T, HB, Groups>(s, cs, count, w, nd, level_first,     \
                                         threshold, flags, parity, fold);      \
    }                                                                          \
    ATTRIBUTES static void update(const BandArrays<T>& s,                      \
                                  const std::int64_t* cs, int count,           \
                                  std::int64_t nd, std::int64_t level_first) { \
      update_claim<T, HB, Groups>(s, cs, count, nd, level_first);              \
    }                                                                          \
    ATTRIBUTES static void back(const BandArrays<T>& s,                        \
                                const std::int64_t* cs, int count,             \
                                std::int64_t nd) {                             \
      back_claim<T, HB, Groups>(s, cs, count, nd);                             \
    }                                                                          \
    ATTRIBUTES static void forward(const BandArrays<T>& s,                     \
                                   const std::int64_t* cs, int count) {        \
      forward_rhs_claim<T, HB>(s, cs, count);                                  \
    }                                                                          \
    ATTRIBUTES static void update_rhs_claim(                                   \
        const BandArrays<T>& s, const std::int64_t* cs, int count,             \
        std::int64_t nd, std::int64_t level_first) {                           \
      for (int b = 0; b < count; ++b)                                          \
        update_rhs<T, HB>(s, cs[b], nd, level_first);                          \
    }                                                                          \
    static BlockOps<T> ops() {                                                 \
      return {std::max(G, 4), &factor,  &update,                               \
              &back,          &forward, &update_rhs_claim};                    \
    }                                                                          \
  };

PBAND_BLOCK_OPS_FOR_ISA(BaselineOps, PBAND_FLATTEN, BaselineGroups)
PBAND_BLOCK_OPS_FOR_ISA(Avx2Ops, PBAND_TARGET_AVX2 PBAND_FLATTEN, Avx2Groups)
PBAND_BLOCK_OPS_FOR_ISA(Avx512Ops, PBAND_TARGET_AVX512 PBAND_FLATTEN,
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
    case 1:
      return block_ops_for<T, 1>(isa);
    case 2:
      return block_ops_for<T, 2>(isa);
    case 4:
      return block_ops_for<T, 4>(isa);
    case 8:
      return block_ops_for<T, 8>(isa);
    case 16:
      return block_ops_for<T, 16>(isa);
    default:
      return block_ops_for<T, kAnyHb>(isa);
  }
}

}  // namespace pband
