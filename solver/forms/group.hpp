// Private header of the band solver: the block operations of a group of
// blocks of one phase at once, block g in lane g of packs (group_packs.hpp).
// Each lane does its block's operations in the order of the general forms
// (general.hpp), so a group leaves the bits of its blocks done one by one;
// the group shares the chains of square roots and divisions that bound a
// block done alone. A group's data is copied into packs in the thread's
// scratch, worked on there and copied back.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "kernels/element_traits.hpp"
#include "solver/band_arrays.hpp"
#include "solver/forms/general.hpp"
#include "solver/forms/group_packs.hpp"
#include "solver/forms/group_rows.hpp"
#include "solver/forms/group_shape.hpp"
#include "solver/forms/scratch.hpp"

namespace pband {
template <class T, int G, int HB>
struct GroupOps : GroupRows<T, G, HB> {
  using Rows = GroupRows<T, G, HB>;
  using Rows::back_rows;
  using Rows::factor_rows;
  using Rows::head_update;
  using Rows::right_coupling;
  using Rows::tail_update;
  using typename Rows::R;
  using typename Rows::Tr;
  using typename Rows::V;
  using typename Rows::X;

  // Packs a scratch must hold for each phase (kNoFit: more than any).
  static constexpr std::int64_t kNoFit = std::int64_t(1) << 62;
  static constexpr std::int64_t kMaxGroupLen = std::int64_t(1) << 20;
  static std::int64_t factor_packs(std::int64_t len, std::int64_t hb) {
    if (hb > kMaxGroupHb || len > kMaxGroupLen) return kNoFit;
    return len * (2 * hb + 2) + 3 * hb * (hb + 1) + 2 * hb * hb + 3 * hb;
  }
  static std::int64_t update_packs(std::int64_t len, std::int64_t hb) {
    if (hb > kMaxGroupHb || len > kMaxGroupLen) return kNoFit;
    return hb + len * (hb + 1) + 2 * len + len * hb + 3 * hb * hb + hb;
  }
  static std::int64_t back_packs(std::int64_t len, std::int64_t hb) {
    if (hb > kMaxGroupHb || len > kMaxGroupLen) return kNoFit;
    return len * (2 * hb + 2) + hb * hb + 2 * hb;
  }

  static bool fits(std::int64_t packs) {
    return packs <= std::int64_t(kGroupScratchBytes / sizeof(X));
  }

  // Carves consecutive runs of packs out of the scratch.
  struct Carver {
    X* next;
    X* take(std::int64_t count) {
      X* p = next;
      next += count;
      return p;
    }
  };

  // Lane g of dst[p] := src[g][p], p < count elements; and back, for the
  // first `lanes` lanes.
  static void gather(X* dst, T* const (&src)[G], std::int64_t count) {
    const R* from[G];
    for (int g = 0; g < G; ++g) from[g] = reinterpret_cast<const R*>(src[g]);
    gather_packs<R, G>(reinterpret_cast<V*>(dst), from, count * kRealsPer<T>);
  }
  static void scatter(T* const (&dst)[G], const X* src, std::int64_t count,
                      int lanes) {
    R* to[G];
    for (int g = 0; g < G; ++g) to[g] = reinterpret_cast<R*>(dst[g]);
    scatter_packs<R, G>(to, reinterpret_cast<const V*>(src),
                        count * kRealsPer<T>, lanes);
  }
  // Addresses of every lane, from each block's first column: padding
  // lanes (lanes … G-1) repeat lane 0, so they compute its values.
  template <class F>
  static void lane_addresses(T* (&out)[G], const std::int64_t* cs, int lanes,
                             F address) {
    for (int g = 0; g < G; ++g) out[g] = address(cs[g < lanes ? g : 0]);
  }

  // dst := the count elements at address(c) of every lane's block c.
  template <class F>
  static void gather_from(X* dst, const std::int64_t* cs, int lanes, F address,
                          std::int64_t count) {
    T* from[G];
    lane_addresses(from, cs, lanes, address);
    gather(dst, from, count);
  }

  // Starts loading count elements from p (for writing: `write`). A hint.
  static void prefetch(const T* p, std::int64_t count, bool write) {
    constexpr std::int64_t kLine = std::max<std::int64_t>(1, 64 / sizeof(T));
    for (std::int64_t i = 0; i < count; i += kLine) {
      if (write)
        __builtin_prefetch(p + i, 1);
      else
        __builtin_prefetch(p + i);
    }
  }
  // What the factor phase of the `lanes` blocks after cs[lanes-1] (the
  // thread's likely next group) reads and writes. A hint only.
  static void prefetch_factor(const BandArrays<T>& s, const std::int64_t* cs,
                              int lanes, std::int64_t nd, bool level1) {
    const std::int64_t hb = s.template half_band<HB>();
    const std::int64_t len = s.block_size;
    const std::int64_t step = 2 * nd;
    for (int g = 1; g <= lanes; ++g) {
      const std::int64_t c = cs[lanes - 1] + g * step;
      if (c + nd + hb - 1 > s.n) return;
      const std::int64_t from = level1 ? c - hb : c;
      prefetch(s.col(from), (c + len - from) * (hb + 1), false);
      prefetch(s.rhs(from, 1), c + len - from, false);
      prefetch(s.coupling_at(c, 1), len * hb, true);
      if (!level1) {
        prefetch(s.col(c - nd + len - hb), hb * (hb + 1), false);
        prefetch(s.col(c + nd - 1), (hb + 1) * (hb + 1), false);
        prefetch(s.coupling_at(c + nd, 1), hb * hb, false);
      }
    }
  }
  // What the back-substitution of the likely next group reads. A hint.
  static void prefetch_back(const BandArrays<T>& s, const std::int64_t* cs,
                            int lanes, std::int64_t nd) {
    const std::int64_t hb = s.template half_band<HB>();
    const std::int64_t len = s.block_size;
    const std::int64_t step = 2 * nd;
    for (int g = 1; g <= lanes; ++g) {
      const std::int64_t c = cs[lanes - 1] + g * step;
      if (c + nd + hb - 1 > s.n) return;
      prefetch(s.col(c), len * (hb + 1), false);
      prefetch(s.rhs(c, 1), len, false);
      prefetch(s.coupling_at(c, 1), len * hb, false);
      prefetch(s.saved_at(1, c + len), hb * hb, false);
    }
  }

  // Factor phase on the blocks cs[0 … lanes), each of the group's shape,
  // at level w with neighbours nd away; with `fold`, also their halves of
  // the neighbours' update (fold_into_neighbours). The first right-hand
  // side goes through the packs, the others through the general forms
  // afterwards. 1: done; 0: a pivot of the group failed and nothing was
  // written; -1: a pivot of this phase failed elsewhere.
  static int factor(const BandArrays<T>& s, const std::int64_t* cs, int lanes,
                    std::int64_t w, std::int64_t nd, R threshold,
                    std::atomic<std::int32_t>* failure_flags,
                    std::int32_t parity, bool fold) {
    const std::int64_t hb = s.template half_band<HB>();
    const std::int64_t len = s.block_size;
    const std::int64_t S = hb + 1;
    const bool level1 = w == 1;
    const bool rhs = s.nrhs > 0;
    prefetch_factor(s, cs, lanes, nd, level1);
    Carver cut{reinterpret_cast<X*>(s.scratch)};
    X* l = cut.take(len * S);
    X* sp = cut.take(len * hb);
    X* y = cut.take(len);
    X* kl = cut.take(hb * S);
    X* kr = cut.take(hb * hb);

    T* a[G];
    lane_addresses(a, cs, lanes, [&](std::int64_t c) { return s.col(c); });
    gather(l, a, len * S);
    if (level1)
      gather_from(
          kl, cs, lanes, [&](std::int64_t c) { return s.col(c - hb); }, hb * S);
    else
      gather_from(
          kl, cs, lanes, [&](std::int64_t c) { return s.coupling_at(c, 1); },
          hb * hb);
    T* head_coupling[G];
    lane_addresses(head_coupling, cs, lanes,
                   [&](std::int64_t c) { return s.coupling_at(c + nd, 1); });
    if (!level1) gather(kr, head_coupling, hb * hb);
    T* b[G];
    lane_addresses(b, cs, lanes, [&](std::int64_t c) { return s.rhs(c, 1); });
    if (rhs) gather(y, b, len);

    if (!factor_rows(l, sp, rhs ? y : nullptr, kl, len, hb, level1, threshold))
      return 0;
    if (failure_flags[parity - 1].load(std::memory_order_relaxed) != 0)
      return -1;
    right_coupling(kr, l, len, hb, level1);

    // Left neighbour's tail from the spike, right neighbour's head from C.
    X* et = cut.take(hb * S);
    X* yt = cut.take(hb);
    X* eh = cut.take(hb + hb * S);
    X* yh = cut.take(hb);
    X* sv = cut.take(hb * hb);
    T* e_tail[G] = {};
    T* y_tail[G] = {};
    T* e_head[G] = {};
    T* y_head[G] = {};
    if (fold) {
      const std::int64_t t = len - hb;  // tail offset of a full block
      lane_addresses(e_tail, cs, lanes,
                     [&](std::int64_t c) { return s.col(c - nd + t); });
      lane_addresses(y_tail, cs, lanes,
                     [&](std::int64_t c) { return s.rhs(c - nd + t, 1); });
      lane_addresses(e_head, cs, lanes,
                     [&](std::int64_t c) { return s.col(c + nd - 1) + 1; });
      lane_addresses(y_head, cs, lanes,
                     [&](std::int64_t c) { return s.rhs(c + nd, 1); });
      gather(et, e_tail, hb * S);
      gather(eh, e_head, hb + hb * S);
      if (rhs) {
        gather(yt, y_tail, hb);
        gather(yh, y_head, hb);
      }
      tail_update(et, rhs ? yt : nullptr, sp, y, len, hb);
      head_update(eh, rhs ? yh : nullptr, kr, sv, sp + t * hb, y + t, hb, true);
    }

    scatter(a, l, len * S, lanes);
    T* spike[G];
    lane_addresses(spike, cs, lanes,
                   [&](std::int64_t c) { return s.coupling_at(c, 1); });
    scatter(spike, sp, len * hb, lanes);
    scatter(head_coupling, kr, hb * hb, lanes);
    if (rhs) scatter(b, y, len, lanes);
    if (fold) {
      // After the block's columns: at level 1 the row buffer lies in the
      // band slots of its last column.
      scatter(e_tail, et, hb * S, lanes);
      scatter(e_head, eh, hb + hb * S, lanes);
      T* saved[G];
      lane_addresses(saved, cs, lanes,
                     [&](std::int64_t c) { return s.saved_at(1, c + len); });
      scatter(saved, sv, hb * hb, lanes);
      if (rhs) {
        scatter(y_tail, yt, hb, lanes);
        scatter(y_head, yh, hb, lanes);
      }
    }
    for (int g = 0; g < lanes; ++g)
      for (std::int64_t q = 2; q <= s.nrhs; ++q)
        factor_rhs_rest(s, cs[g], nd, q, fold);
    return 1;
  }

  // Right-hand side q of a factored block of the group's shape: its
  // forward substitution and, with the fold, its neighbours' updates of
  // it, each element's terms in the general forms' order.
  static void factor_rhs_rest(const BandArrays<T>& s, std::int64_t c,
                              std::int64_t nd, std::int64_t q, bool fold) {
    const std::int64_t end = s.last(c);
    forward_solve_block<T, HB>(s, c, end, s.rhs(c, q));
    if (!fold) return;
    rhs_from_right<T, HB>(s, c - nd, c, q);
    rhs_from_left<T, HB>(s, c + nd, c, q);
  }

  // Update phase on remaining blocks cs[0 … lanes) of the group's shape:
  // the tail from the right neighbour, then the head from the left one.
  static void update(const BandArrays<T>& s, const std::int64_t* cs, int lanes,
                     std::int64_t nd) {
    const std::int64_t hb = s.template half_band<HB>();
    const std::int64_t len = s.block_size;
    const std::int64_t S = hb + 1;
    const std::int64_t t = len - hb;
    const bool rhs = s.nrhs > 0;
    Carver cut{reinterpret_cast<X*>(s.scratch)};
    X* run = cut.take(hb + len * S);  // row buffer slots, then the block
    X* y = cut.take(len);
    X* ec = cut.take(hb * hb);
    X* sr = cut.take(len * hb);
    X* yr = cut.take(len);
    X* spt = cut.take(hb * hb);
    X* ypt = cut.take(hb);
    X* sv = cut.take(hb * hb);

    T* a[G];
    T* b[G];
    T* head_coupling[G];
    lane_addresses(a, cs, lanes,
                   [&](std::int64_t c) { return s.col(c - 1) + 1; });
    gather(run, a, hb + len * S);
    lane_addresses(head_coupling, cs, lanes,
                   [&](std::int64_t c) { return s.coupling_at(c, 1); });
    gather(ec, head_coupling, hb * hb);
    gather_from(
        sr, cs, lanes, [&](std::int64_t c) { return s.coupling_at(c + nd, 1); },
        len * hb);
    gather_from(
        spt, cs, lanes,
        [&](std::int64_t c) { return s.coupling_at(c - nd + t, 1); }, hb * hb);
    lane_addresses(b, cs, lanes, [&](std::int64_t c) { return s.rhs(c, 1); });
    if (rhs) {
      gather(y, b, len);
      gather_from(
          yr, cs, lanes, [&](std::int64_t c) { return s.rhs(c + nd, 1); }, len);
      gather_from(
          ypt, cs, lanes, [&](std::int64_t c) { return s.rhs(c - nd + t, 1); },
          hb);
    }

    tail_update(run + hb + t * S, rhs ? y + t : nullptr, sr, yr, len, hb);
    head_update(run, rhs ? y : nullptr, ec, sv, spt, ypt, hb, true);

    scatter(a, run, hb + len * S, lanes);
    scatter(head_coupling, ec, hb * hb, lanes);
    if (rhs) scatter(b, y, len, lanes);
    T* saved[G];
    lane_addresses(saved, cs, lanes,
                   [&](std::int64_t c) { return s.saved_at(1, c - nd + len); });
    scatter(saved, sv, hb * hb, lanes);
    for (int g = 0; g < lanes; ++g)
      for (std::int64_t q = 2; q <= s.nrhs; ++q) {
        rhs_from_right<T, HB>(s, cs[g], cs[g] + nd, q);
        rhs_from_left<T, HB>(s, cs[g], cs[g] - nd, q);
      }
  }

  // Back-substitution on blocks cs[0 … lanes) of the group's shape, the
  // first right-hand side in packs: y - S·x(P's tail) - Cᵀ·x(R's head),
  // then L⁻ᵀ. The others through the general form.
  static void back(const BandArrays<T>& s, const std::int64_t* cs, int lanes,
                   std::int64_t nd) {
    const std::int64_t hb = s.template half_band<HB>();
    const std::int64_t len = s.block_size;
    const std::int64_t S = hb + 1;
    if (s.nrhs > 0) {
      prefetch_back(s, cs, lanes, nd);
      Carver cut{reinterpret_cast<X*>(s.scratch)};
      X* x = cut.take(len);
      X* sp = cut.take(len * hb);
      X* xp = cut.take(hb);
      X* sv = cut.take(hb * hb);
      X* xr = cut.take(hb);
      X* l = cut.take(len * S);
      T* b[G];
      lane_addresses(b, cs, lanes, [&](std::int64_t c) { return s.rhs(c, 1); });
      gather(x, b, len);
      gather_from(
          sp, cs, lanes, [&](std::int64_t c) { return s.coupling_at(c, 1); },
          len * hb);
      gather_from(
          xp, cs, lanes,
          [&](std::int64_t c) { return s.rhs(c - nd + len - hb, 1); }, hb);
      gather_from(
          sv, cs, lanes, [&](std::int64_t c) { return s.saved_at(1, c + len); },
          hb * hb);
      gather_from(
          xr, cs, lanes, [&](std::int64_t c) { return s.rhs(c + nd, 1); }, hb);
      gather_from(
          l, cs, lanes, [&](std::int64_t c) { return s.col(c); }, len * S);

      back_rows(x, sp, xp, sv, xr, l, len, hb);
      scatter(b, x, len, lanes);
    }
    for (int g = 0; g < lanes; ++g)
      back_substitution_block<T, HB>(s, cs[g], nd, 2);
  }
};

}  // namespace pband
