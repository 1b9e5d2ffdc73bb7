// Private header of the band solver: the arithmetic of a group on its
// packs, block g in lane g: each element's terms in the order of the
// general forms, so that every lane gets the bits of its block alone. A
// factor read transposed goes through Tr::mirror, as there.
#pragma once

#include <algorithm>
#include <cstdint>

#include "kernels/element_traits.hpp"
#include "kernels/simd.hpp"
#include "solver/forms/group_packs.hpp"
#include "solver/forms/group_shape.hpp"

namespace pband {

template <class T, int G, int HB>
struct GroupRows {
  using Tr = PackTraits<T, G>;
  using X = typename Tr::X;
  using R = RealOf<T>;
  using V = typename Simd<R, G>::V;
  // Registers for one row of hb values (an array for a run-time hb).
  static constexpr int kAcc = HB >= 1 ? HB : int(kMaxGroupHb);

  // The diagonal blocks' columns factored left-looking, each followed by
  // the same row of the left spike and of the first right-hand side: the
  // terms of every element in the order of the general forms. l: len
  // columns of hb + 1 from the diagonal; sp: the spike, row-major (null:
  // none), its K from kl (level 1: the band columns c-hb … c-1; later: the
  // hb head rows of the coupling); y: the right-hand side (null: none).
  // False when a pivot of some lane fails.
  static bool factor_rows(X* l, X* sp, X* y, const X* kl, std::int64_t len,
                          std::int64_t hb_run, bool level1, R threshold) {
    const std::int64_t hb = HB >= 0 ? HB : hb_run;
    const std::int64_t S = hb + 1;
    // Each element's terms go into one register, in increasing column;
    // elements of a row or column are independent of each other.
    X acc[kAcc];
    for (std::int64_t i = 0; i < len; ++i) {
      X* ci = l + i * S;
      const std::int64_t k0 = std::max<std::int64_t>(0, i - hb);
      // Column i, row r: the columns k before it that reach row r.
      const std::int64_t r_end = std::min(i + hb, len - 1);
      for (std::int64_t r = i; r <= r_end; ++r) {
        X t = ci[r - i];
        for (std::int64_t k = std::max(k0, r - hb); k < i; ++k)
          Tr::msub(t, l[k * S + r - k], Tr::mirror(l[k * S + i - k]));
        ci[r - i] = t;
      }
      if (Tr::fails(ci[0], threshold)) return false;
      Tr::sqrt(ci[0]);
      const X root = ci[0];
      for (std::int64_t r = 1; r <= r_end - i; ++r) Tr::div(ci[r], root);
      // Row i of the spike: K(i, ·) less the rows above it times L(i, k).
      if (sp != nullptr) {
        for (std::int64_t q = 0; q < hb; ++q) {
          if (i >= hb)
            Tr::zero(acc[q]);
          else if (!level1)
            acc[q] = kl[i * hb + q];
          else if (i <= q)
            acc[q] = kl[q * S + hb + i - q];
          else
            Tr::zero(acc[q]);
        }
        for (std::int64_t k = k0; k < i; ++k) {
          const X lik = l[k * S + i - k];
          const X* sk = sp + k * hb;
          for (std::int64_t q = 0; q < hb; ++q) Tr::msub(acc[q], lik, sk[q]);
        }
        X* si = sp + i * hb;
        for (std::int64_t q = 0; q < hb; ++q) {
          Tr::div(acc[q], root);
          si[q] = acc[q];
        }
      }
      if (y != nullptr) {
        X t = y[i];
        for (std::int64_t k = k0; k < i; ++k)
          Tr::msub(t, l[k * S + i - k], y[k]);
        Tr::div(t, root);
        y[i] = t;
      }
    }
    return true;
  }

  // C := K'·L⁻ᵀ over the block's tail, row r of kr (the right neighbour's
  // head row) at a time; at level 1 K' is first taken from the band below
  // the tail.
  static void right_coupling(X* kr, const X* l, std::int64_t len,
                             std::int64_t hb_run, bool level1) {
    const std::int64_t hb = HB >= 0 ? HB : hb_run;
    const std::int64_t S = hb + 1;
    const X* tail = l + (len - hb) * S;
    if (level1) {
      for (std::int64_t r = 0; r < hb; ++r)
        for (std::int64_t k = 0; k < hb; ++k) {
          if (r <= k)
            kr[r * hb + k] = tail[k * S + hb + r - k];
          else
            Tr::zero(kr[r * hb + k]);
        }
    }
    for (std::int64_t r = 0; r < hb; ++r) {
      X* v = kr + r * hb;
      for (std::int64_t k = 0; k < hb; ++k) {
        X t = v[k];
        for (std::int64_t j = 0; j < k; ++j)
          Tr::msub(t, Tr::mirror(tail[j * S + k - j]), v[j]);
        Tr::div(t, tail[k * S]);
        v[k] = t;
      }
    }
  }

  // A remaining block's tail from its right neighbour's spike sp (rows
  // rows, row-major) and right-hand side y: et holds the tail's hb
  // columns of hb + 1 from the diagonal, yt its rows of the right-hand
  // side (null: none). Each tail entry's sum is formed from zero in
  // increasing row and subtracted once; the right-hand side takes its
  // products one at a time.
  static void tail_update(X* et, X* yt, const X* sp, const X* y,
                          std::int64_t rows, std::int64_t hb_run) {
    const std::int64_t hb = HB >= 0 ? HB : hb_run;
    const std::int64_t S = hb + 1;
    if constexpr (HB >= 1) {
      // Tail columns J and HB-1-J together: HB + 1 sums in registers.
      [&]<int... Js>(std::integer_sequence<int, Js...>) {
        (tail_sums<Js>(et, sp, rows), ...);
      }
      (std::make_integer_sequence<int, (HB + 1) / 2>{});
    } else {
      for (std::int64_t j = 0; j < hb; ++j) {
        X sums[kMaxGroupHb];
        for (std::int64_t k = j; k < hb; ++k) Tr::zero(sums[k - j]);
        for (std::int64_t i = 0; i < rows; ++i) {
          const X* si = sp + i * hb;
          for (std::int64_t k = j; k < hb; ++k)
            Tr::madd(sums[k - j], Tr::mirror(si[k]), si[j]);
        }
        for (std::int64_t k = j; k < hb; ++k)
          Tr::sub(et[j * S + k - j], sums[k - j]);
      }
    }
    if (yt != nullptr) {
      X acc[kAcc];
      for (std::int64_t k = 0; k < hb; ++k) acc[k] = yt[k];
      for (std::int64_t i = 0; i < rows; ++i)
        for (std::int64_t k = 0; k < hb; ++k)
          Tr::msub(acc[k], Tr::mirror(sp[i * hb + k]), y[i]);
      for (std::int64_t k = 0; k < hb; ++k) yt[k] = acc[k];
    }
  }
  // The sums of tail columns J and HB-1-J over the spike's rows.
  template <int J>
  static void tail_sums(X* et, const X* sp, std::int64_t rows) {
    constexpr int S = HB + 1, J2 = HB - 1 - J;
    constexpr int N1 = HB - J, N2 = J2 > J ? HB - J2 : 0;
    X sums[N1 + N2];
    for (int t = 0; t < N1 + N2; ++t) Tr::zero(sums[t]);
    for (std::int64_t i = 0; i < rows; ++i) {
      const X* si = sp + i * HB;
      for (int k = J; k < HB; ++k)
        Tr::madd(sums[k - J], Tr::mirror(si[k]), si[J]);
      if constexpr (N2 > 0)
        for (int k = J2; k < HB; ++k)
          Tr::madd(sums[N1 + k - J2], Tr::mirror(si[k]), si[J2]);
    }
    for (int k = J; k < HB; ++k) Tr::sub(et[J * S + k - J], sums[k - J]);
    if constexpr (N2 > 0)
      for (int k = J2; k < HB; ++k)
        Tr::sub(et[J2 * S + k - J2], sums[N1 + k - J2]);
  }

  // A remaining block's head from its left neighbour P: eh holds the hb
  // band slots of the column before the head (the row buffer), then the
  // head's hb columns of hb + 1; yh its rows of the right-hand side (null:
  // none); kr holds C_P (head rows, row-major), which is kept in sv and,
  // when P has a left neighbour, replaced by -C_P·S_P(P's tail rows),
  // sp_tail being those rows and y_tail P's tail of the right-hand side.
  static void head_update(X* eh, X* yh, X* kr, X* sv, const X* sp_tail,
                          const X* y_tail, std::int64_t hb_run, bool has_q) {
    const std::int64_t hb = HB >= 0 ? HB : hb_run;
    const std::int64_t S = hb + 1;
    X* hc = eh + hb;
    // Head block -= C·Cᵀ: each entry takes its terms in increasing k.
    for (std::int64_t j = 0; j < hb; ++j) {
      const X* cj = kr + j * hb;
      for (std::int64_t i = j; i < hb; ++i) {
        const X* ci = kr + i * hb;
        X t = hc[j * S + i - j];
        for (std::int64_t k = 0; k < hb; ++k)
          Tr::msub(t, ci[k], Tr::mirror(cj[k]));
        hc[j * S + i - j] = t;
      }
    }
    if (yh != nullptr) {
      for (std::int64_t i = 0; i < hb; ++i) {
        const X* ci = kr + i * hb;
        X t = yh[i];
        for (std::int64_t k = 0; k < hb; ++k) Tr::msub(t, ci[k], y_tail[k]);
        yh[i] = t;
      }
    }
    for (std::int64_t p = 0; p < hb * hb; ++p) sv[p] = kr[p];
    if (!has_q) return;
    // Row by row through the buffer, which keeps the last row.
    X acc[kAcc];
    for (std::int64_t i = 0; i < hb; ++i) {
      X* e = kr + i * hb;
      for (std::int64_t k = 0; k < hb; ++k) {
        eh[k] = e[k];
        Tr::zero(acc[k]);
      }
      for (std::int64_t m = 0; m < hb; ++m) {
        const X bm = eh[m];
        const X* sm = sp_tail + m * hb;
        for (std::int64_t k = 0; k < hb; ++k) Tr::msub(acc[k], bm, sm[k]);
      }
      for (std::int64_t k = 0; k < hb; ++k) e[k] = acc[k];
    }
  }

  // Back-substitution of the first right-hand side x: less S·x(P's tail)
  // (xp) and Cᵀ·x(R's head) (sv, xr), then L⁻ᵀ.
  static void back_rows(X* x, const X* sp, const X* xp, const X* sv,
                        const X* xr, const X* l, std::int64_t len,
                        std::int64_t hb_run) {
    const std::int64_t hb = HB >= 0 ? HB : hb_run;
    const std::int64_t S = hb + 1;
    for (std::int64_t i = 0; i < len; ++i) {
      const X* si = sp + i * hb;
      X t = x[i];
      for (std::int64_t k = 0; k < hb; ++k) Tr::msub(t, si[k], xp[k]);
      x[i] = t;
    }
    X* xt = x + len - hb;
    for (std::int64_t k = 0; k < hb; ++k) {
      X t = xt[k];
      for (std::int64_t r = 0; r < hb; ++r)
        Tr::msub(t, Tr::mirror(sv[r * hb + k]), xr[r]);
      xt[k] = t;
    }
    for (std::int64_t i = len - 1; i >= 0; --i) {
      const X* li = l + i * S;
      X t = x[i];
      const std::int64_t below = std::min(hb, len - 1 - i);
      for (std::int64_t k = 1; k <= below; ++k)
        Tr::msub(t, Tr::mirror(li[k]), x[i + k]);
      Tr::div(t, li[0]);
      x[i] = t;
    }
  }
};

}  // namespace pband
