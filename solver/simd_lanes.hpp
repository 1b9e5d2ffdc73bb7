// W elements of a real type as one compiler vector (GCC/clang vector
// extensions), for the solver's kernels that work across independent
// elements. Lane arithmetic is plain IEEE arithmetic, so any vector width
// the compiler maps it to gives the bits of the scalar code.
#pragma once

#include <cstdint>
#include <cstring>

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

// Vectors are only passed by reference: a vector argument's ABI depends on
// the instruction set, and the kernels are compiled for several.
template <class R, int W>
struct Lanes {
  typedef R V __attribute__((vector_size(W * sizeof(R))));
  typedef typename LaneInt<R>::type Mask
      __attribute__((vector_size(W * sizeof(R))));

  static void load(V& v, const R* p) { std::memcpy(&v, p, sizeof v); }
  static void store(R* p, const V& v) { std::memcpy(p, &v, sizeof v); }
  static void zero(V& v) {
    for (int i = 0; i < W; ++i) v[i] = R(0);
  }
  // Lanes i >= n of v get their values from old.
  static void keep_after(V& v, const V& old, int n) {
    Mask m;
    for (int i = 0; i < W; ++i) m[i] = i < n ? -1 : 0;
    v = (V)(((Mask)v & m) | ((Mask)old & ~m));
  }
};

}  // namespace pband
