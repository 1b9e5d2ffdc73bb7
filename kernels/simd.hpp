// W elements of a real type as one compiler vector (GCC/clang vector
// extensions), for the kernels that work across independent elements.
// Lane arithmetic is plain IEEE arithmetic, so any vector width the
// compiler maps it to gives the bits of the scalar code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace pband {

template <class R>
struct SimdInt;
template <>
struct SimdInt<float> {
  using type = std::int32_t;
};
template <>
struct SimdInt<double> {
  using type = std::int64_t;
};

namespace simd_detail {

// Lane i of the interleave of a and b (lanes W + j name b's lane j):
// a0 b0 a1 b1 … from the lower halves, or from the upper ones.
constexpr int interleave_lane(int w, bool upper, std::size_t i) {
  return (i % 2 == 0 ? 0 : w) + int(i / 2) + (upper ? w / 2 : 0);
}

// Lane i of an unpack at granularity s within blocks of e values: the low
// (or high) halves of a's and b's block, s values from a, then s from b.
constexpr int unpack_lane(int w, int e, int s, bool upper, std::size_t i) {
  const int block = int(i) / e, p = int(i) % e;
  const int pair = p / (2 * s), from_b = (p / s) % 2, off = p % s;
  return (from_b ? w : 0) + block * e + (upper ? e / 2 : 0) + pair * s + off;
}

// Lane i of the even (or odd) blocks of e values of a, then of b.
constexpr int block_lane(int w, int e, bool odd, std::size_t i) {
  const int nb = w / e, out_block = int(i) / e, off = int(i) % e;
  const bool from_b = out_block >= nb / 2;
  const int src = 2 * (out_block % (nb / 2 > 0 ? nb / 2 : 1)) + (odd ? 1 : 0);
  return (from_b ? w : 0) + src * e + off;
}

// Lane i of shift_in: the new value, then the old lanes moved up by one.
constexpr int shift_in_lane(int w, std::size_t i) {
  return i == 0 ? 0 : w + int(i) - 1;
}

}  // namespace simd_detail

// Vectors are only passed by reference: a vector argument's ABI depends on
// the instruction set, and the kernels are compiled for several.
template <class R, int W>
struct Simd {
  typedef R V __attribute__((vector_size(W * sizeof(R))));
  typedef typename SimdInt<R>::type Mask
      __attribute__((vector_size(W * sizeof(R))));

  static void load(V& v, const R* p) { std::memcpy(&v, p, sizeof v); }
  static void store(R* p, const V& v) { std::memcpy(p, &v, sizeof v); }
  static void zero(V& v) { v = V{}; }
  // r[k] := column k of the W × W tile whose rows are r[0] … r[W-1].
  // Where W values fill whole 16-byte blocks (at most four of them), each
  // block's square is transposed with in-block unpacks and then the
  // blocks themselves are moved, which costs about half the instructions
  // of interleaving whole vectors; elsewhere log2(W) rounds of
  // interleaving row p with row p + W/2.
  static void transpose(V (&r)[W]) {
    constexpr int E = 16 / int(sizeof(R));  // values a 16-byte block
    if constexpr (W % E == 0 && W / E <= 4) {
      transpose_blocks(r);
    } else {
      for (int round = 1; round < W; round *= 2) {
        V t[W];
        for (int p = 0; p < W / 2; ++p) {
          interleave<false>(t[2 * p], r[p], r[p + W / 2],
                            std::make_index_sequence<W>{});
          interleave<true>(t[2 * p + 1], r[p], r[p + W / 2],
                           std::make_index_sequence<W>{});
        }
        for (int k = 0; k < W; ++k) r[k] = t[k];
      }
    }
  }
  template <bool Upper, std::size_t... I>
  static void interleave(V& out, const V& a, const V& b,
                         std::index_sequence<I...>) {
    out = __builtin_shufflevector(a, b,
                                  simd_detail::interleave_lane(W, Upper, I)...);
  }
  // Within each 16-byte block, the low (or high) halves of a and b
  // interleaved S values at a time: unpacklo/unpackhi.
  template <int S, bool Upper, std::size_t... I>
  static void unpack(V& out, const V& a, const V& b,
                     std::index_sequence<I...>) {
    out = __builtin_shufflevector(
        a, b, simd_detail::unpack_lane(W, 16 / int(sizeof(R)), S, Upper, I)...);
  }
  // The even (or odd) 16-byte blocks of a, then those of b.
  template <bool Odd, std::size_t... I>
  static void blocks(V& out, const V& a, const V& b,
                     std::index_sequence<I...>) {
    out = __builtin_shufflevector(
        a, b, simd_detail::block_lane(W, 16 / int(sizeof(R)), Odd, I)...);
  }
  static void transpose_blocks(V (&r)[W]) {
    constexpr int E = 16 / int(sizeof(R));
    constexpr int NB = W / E;
    constexpr auto idx = std::make_index_sequence<W>{};
    // u[g·E + e]: block L holds rows g·E … g·E+E-1 of column L·E + e.
    V u[W];
    for (int g = 0; g < NB; ++g) {
      V* x = r + g * E;
      V* c = u + g * E;
      if constexpr (E == 4) {
        V t[4];
        unpack<1, false>(t[0], x[0], x[1], idx);
        unpack<1, true>(t[1], x[0], x[1], idx);
        unpack<1, false>(t[2], x[2], x[3], idx);
        unpack<1, true>(t[3], x[2], x[3], idx);
        unpack<2, false>(c[0], t[0], t[2], idx);
        unpack<2, true>(c[1], t[0], t[2], idx);
        unpack<2, false>(c[2], t[1], t[3], idx);
        unpack<2, true>(c[3], t[1], t[3], idx);
      } else {
        unpack<1, false>(c[0], x[0], x[1], idx);
        unpack<1, true>(c[1], x[0], x[1], idx);
      }
    }
    // Then the NB × NB matrix of blocks, for each e.
    for (int e = 0; e < E; ++e) {
      if constexpr (NB == 1) {
        r[e] = u[e];
      } else if constexpr (NB == 2) {
        blocks<false>(r[e], u[e], u[E + e], idx);
        blocks<true>(r[E + e], u[e], u[E + e], idx);
      } else {
        V ev01, od01, ev23, od23;
        blocks<false>(ev01, u[e], u[E + e], idx);
        blocks<true>(od01, u[e], u[E + e], idx);
        blocks<false>(ev23, u[2 * E + e], u[3 * E + e], idx);
        blocks<true>(od23, u[2 * E + e], u[3 * E + e], idx);
        blocks<false>(r[e], ev01, ev23, idx);
        blocks<true>(r[2 * E + e], ev01, ev23, idx);
        blocks<false>(r[E + e], od01, od23, idx);
        blocks<true>(r[3 * E + e], od01, od23, idx);
      }
    }
  }

  // out := v[D], v[D+1], …, v[W-1], then zeros.
  template <int D>
  static void shifted_down(V& out, const V& v) {
    shifted_down<D>(out, v, std::make_index_sequence<W>{});
  }
  template <int D, std::size_t... I>
  static void shifted_down(V& out, const V& v, std::index_sequence<I...>) {
    const V z{};
    out = __builtin_shufflevector(v, z, (int(I) + D < W ? int(I) + D : W)...);
  }

  // v := x, v[0], …, v[W-2]: a window sliding over a recurrence.
  static void shift_in(V& v, R x) {
    V xv{};
    xv[0] = x;
    shift_in(v, xv, std::make_index_sequence<W>{});
  }
  template <std::size_t... I>
  static void shift_in(V& v, const V& xv, std::index_sequence<I...>) {
    v = __builtin_shufflevector(xv, v, simd_detail::shift_in_lane(W, I)...);
  }

  // Lanes i >= n of v get their values from old. The mask comes from one
  // comparison with the lane numbers, n being known only at run time.
  static void keep_after(V& v, const V& old, int n) {
    Mask m;
    lane_numbers(m, std::make_index_sequence<W>{});
    m = m < static_cast<typename SimdInt<R>::type>(n);
    v = (V)(((Mask)v & m) | ((Mask)old & ~m));
  }
  template <std::size_t... I>
  static void lane_numbers(Mask& m, std::index_sequence<I...>) {
    m = Mask{static_cast<typename SimdInt<R>::type>(I)...};
  }
};

}  // namespace pband
