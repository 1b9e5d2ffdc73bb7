// W elements of a real type as one compiler vector (GCC/clang vector
// extensions), for the solver's kernels that work across independent
// elements. Lane arithmetic is plain IEEE arithmetic, so any vector width
// the compiler maps it to gives the bits of the scalar code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

// Per-instruction-set kernel copies are flattened so that everything they
// call is compiled for their target. Sanitizer builds check the same source
// without it: flattened and instrumented, the kernels take many minutes to
// compile, and inlining changes neither what is computed nor its bits.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PBAND_FLATTEN
#else
#define PBAND_FLATTEN __attribute__((flatten))
#endif

namespace pband {

template <class R>
struct LaneInt;
template <>
struct LaneInt<float> {
  using type = std::int32_t;
};
template <>
struct LaneInt<double> {
  using type = std::int64_t;
};

namespace lanes_detail {

// Lane i of the interleave of a and b (lanes W + j name b's lane j):
// a0 b0 a1 b1 … from the lower halves, or from the upper ones.
constexpr int interleave_lane(int w, bool upper, std::size_t i) {
  return (i % 2 == 0 ? 0 : w) + int(i / 2) + (upper ? w / 2 : 0);
}

// Lane i of shift_in: the new value, then the old lanes moved up by one.
constexpr int shift_in_lane(int w, std::size_t i) {
  return i == 0 ? 0 : w + int(i) - 1;
}

}  // namespace lanes_detail

// Vectors are only passed by reference: a vector argument's ABI depends on
// the instruction set, and the kernels are compiled for several.
template <class R, int W>
struct Lanes {
  typedef R V __attribute__((vector_size(W * sizeof(R))));
  typedef typename LaneInt<R>::type Mask
      __attribute__((vector_size(W * sizeof(R))));

  static void load(V& v, const R* p) { std::memcpy(&v, p, sizeof v); }
  static void store(R* p, const V& v) { std::memcpy(p, &v, sizeof v); }
  static void zero(V& v) { v = V{}; }
  // r[k] := column k of the W × W tile whose rows are r[0] … r[W-1]:
  // log2(W) rounds of interleaving row p with row p + W/2.
  static void transpose(V (&r)[W]) {
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
  template <bool Upper, std::size_t... I>
  static void interleave(V& out, const V& a, const V& b,
                         std::index_sequence<I...>) {
    out = __builtin_shufflevector(
        a, b, lanes_detail::interleave_lane(W, Upper, I)...);
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
    v = __builtin_shufflevector(xv, v, lanes_detail::shift_in_lane(W, I)...);
  }

  // Lanes i >= n of v get their values from old. The mask comes from one
  // comparison with the lane numbers, n being known only at run time.
  static void keep_after(V& v, const V& old, int n) {
    Mask m;
    lane_numbers(m, std::make_index_sequence<W>{});
    m = m < static_cast<typename LaneInt<R>::type>(n);
    v = (V)(((Mask)v & m) | ((Mask)old & ~m));
  }
  template <std::size_t... I>
  static void lane_numbers(Mask& m, std::index_sequence<I...>) {
    m = Mask{static_cast<typename LaneInt<R>::type>(I)...};
  }
};

}  // namespace pband
