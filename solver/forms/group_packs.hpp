// Packs: one value of each of G blocks that go through the same operations
// side by side, lane g belonging to block g. Each lane does exactly the
// arithmetic of its block alone, so the bits are those of the block done by
// itself. Also the transposes that move a group's data between the blocks'
// own storage and packs.
#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

#include "kernels/element_traits.hpp"
#include "kernels/simd.hpp"

namespace pband {

// A complex pack: the real parts of the G lanes, then their imaginary
// parts. Its memory is that of 2·G reals, a lane's real part and imaginary
// part G apart.
template <class R, int G>
struct ComplexPack {
  typename Simd<R, G>::V re, im;
};

// Lane-wise arithmetic of packs of element type T, in place, with the
// element type's rounding and, for the complex types, its own product and
// Smith division. Arguments by reference: a vector's passing convention
// depends on the instruction set.
template <class T, int G>
struct PackTraits;

namespace pack_detail {

// The correctly rounded square root of every lane as one instruction.
// Each width's instruction comes with its instruction set; the kernels
// compiled for it inline it.
using Pack4f = Simd<float, 4>::V;
using Pack2d = Simd<double, 2>::V;
using Pack8f = Simd<float, 8>::V;
using Pack4d = Simd<double, 4>::V;
using Pack16f = Simd<float, 16>::V;
using Pack8d = Simd<double, 8>::V;
inline void sqrt_pack(Pack4f& a) { a = (Pack4f)_mm_sqrt_ps((__m128)a); }
inline void sqrt_pack(Pack2d& a) { a = (Pack2d)_mm_sqrt_pd((__m128d)a); }
__attribute__((target("avx"))) inline void sqrt_pack(Pack8f& a) {
  a = (Pack8f)_mm256_sqrt_ps((__m256)a);
}
__attribute__((target("avx"))) inline void sqrt_pack(Pack4d& a) {
  a = (Pack4d)_mm256_sqrt_pd((__m256d)a);
}
__attribute__((target("avx512f"))) inline void sqrt_pack(Pack16f& a) {
  a = (Pack16f)_mm512_maskz_sqrt_ps(__mmask16(0xFFFF), (__m512)a);
}
__attribute__((target("avx512f"))) inline void sqrt_pack(Pack8d& a) {
  a = (Pack8d)_mm512_maskz_sqrt_pd(__mmask8(0xFF), (__m512d)a);
}

// |a| lane by lane: the sign bits cleared.
template <class R, int G>
[[gnu::always_inline]] inline void abs_lanes(typename Simd<R, G>::V& out,
                                             const typename Simd<R, G>::V& a) {
  using V = typename Simd<R, G>::V;
  using M = typename Simd<R, G>::Mask;
  using I = typename SimdInt<R>::type;
  constexpr I sign = I(1) << (8 * sizeof(R) - 1);
  out = (V)((M)a & ~sign);
}

}  // namespace pack_detail

template <class R, int G>
struct RealPackTraits {
  using V = typename Simd<R, G>::V;
  using X = V;
  using Real = R;
  static constexpr int kLanes = G;

  [[gnu::always_inline]] static void zero(X& a) { a = X{}; }
  // a := a - b·c, the product rounded first.
  [[gnu::always_inline]] static void msub(X& a, const X& b, const X& c) {
    a = a - b * c;
  }
  // a := a + b·c, the product rounded first.
  [[gnu::always_inline]] static void madd(X& a, const X& b, const X& c) {
    a = a + b * c;
  }
  [[gnu::always_inline]] static void sub(X& a, const X& b) { a = a - b; }
  [[gnu::always_inline]] static void div(X& a, const X& b) { a = a / b; }
  [[gnu::always_inline]] static const X& mirror(const X& a) { return a; }
  static void sqrt(X& a) { pack_detail::sqrt_pack(a); }
  // Whether the pivot of some lane fails: not greater than the threshold
  // (a NaN passes).
  [[gnu::always_inline]] static bool fails(const X& d, R threshold) {
    const auto m = d <= threshold;
    bool any = false;
    for (int g = 0; g < G; ++g) any |= m[g] != 0;
    return any;
  }
};

template <class R, int G>
struct ComplexPackTraits {
  using V = typename Simd<R, G>::V;
  using X = ComplexPack<R, G>;
  using Real = R;
  using Scalar = ComplexTraits<R>;
  static constexpr int kLanes = G;

  [[gnu::always_inline]] static void zero(X& a) {
    a.re = V{};
    a.im = V{};
  }
  // (a + bi)(c + di) = (ac - bd) + (ad + bc)i
  [[gnu::always_inline]] static void mul(V& re, V& im, const X& x, const X& y) {
    re = x.re * y.re - x.im * y.im;
    im = x.re * y.im + x.im * y.re;
  }
  [[gnu::always_inline]] static void msub(X& a, const X& b, const X& c) {
    V re, im;
    mul(re, im, b, c);
    a.re = a.re - re;
    a.im = a.im - im;
  }
  [[gnu::always_inline]] static void madd(X& a, const X& b, const X& c) {
    V re, im;
    mul(re, im, b, c);
    a.re = a.re + re;
    a.im = a.im + im;
  }
  [[gnu::always_inline]] static void sub(X& a, const X& b) {
    a.re = a.re - b.re;
    a.im = a.im - b.im;
  }
  // Complex symmetric: the same element at the transposed place.
  [[gnu::always_inline]] static const X& mirror(const X& a) { return a; }
  // Smith, both branches in every lane and each lane keeping its own:
  // |d| > |c|: r = c/d, e = d + c r, ((a r + b)/e, (b r - a)/e);
  // otherwise  r = d/c, e = c + d r, ((a + b r)/e, (b - a r)/e).
  [[gnu::always_inline]] static void div(X& x, const X& y) {
    using M = typename Simd<R, G>::Mask;
    const V a = x.re, b = x.im, c = y.re, d = y.im;
    // As the scalar |d| > |c|: false for a NaN.
    V ad, ac;
    pack_detail::abs_lanes<R, G>(ad, d);
    pack_detail::abs_lanes<R, G>(ac, c);
    const M first = ad > ac;
    const V r1 = c / d;
    const V e1 = d + c * r1;
    const V p1 = (a * r1 + b) / e1;
    const V q1 = (b * r1 - a) / e1;
    const V r2 = d / c;
    const V e2 = c + d * r2;
    const V p2 = (a + b * r2) / e2;
    const V q2 = (b - a * r2) / e2;
    x.re = (V)(((M)p1 & first) | ((M)p2 & ~first));
    x.im = (V)(((M)q1 & first) | ((M)q2 & ~first));
  }
  // The principal root of each lane, by the scalar routine.
  static void sqrt(X& a) {
    for (int g = 0; g < G; ++g) {
      const std::complex<R> z = Scalar::sqrt(std::complex<R>(a.re[g], a.im[g]));
      a.re[g] = z.real();
      a.im[g] = z.imag();
    }
  }
  static bool fails(const X& d, R threshold) {
    bool any = false;
    for (int g = 0; g < G; ++g)
      any |= Scalar::modulus(std::complex<R>(d.re[g], d.im[g])) <= threshold;
    return any;
  }
};

template <int G>
struct PackTraits<float, G> : RealPackTraits<float, G> {};
template <int G>
struct PackTraits<double, G> : RealPackTraits<double, G> {};
template <int G>
struct PackTraits<std::complex<float>, G> : ComplexPackTraits<float, G> {};
template <int G>
struct PackTraits<std::complex<double>, G> : ComplexPackTraits<double, G> {};

// Hermitian (HermitianTraits): the conjugate at the transposed place,
// divisors real (L's diagonal), a pivot's real part tested and rooted.
template <class R, int G>
struct HermitianPackTraits : ComplexPackTraits<R, G> {
  using typename ComplexPackTraits<R, G>::X;
  using typename ComplexPackTraits<R, G>::V;
  [[gnu::always_inline]] static X mirror(const X& a) { return {a.re, -a.im}; }
  // As HermitianTraits::div: times the reciprocal of the real divisor.
  [[gnu::always_inline]] static void div(X& x, const X& y) {
    const V r = V{} + R(1);
    const V inv = r / y.re;
    x.re = x.re * inv;
    x.im = x.im * inv;
  }
  static void sqrt(X& a) {
    pack_detail::sqrt_pack(a.re);
    a.im = V{};
  }
  static bool fails(const X& d, R threshold) {
    const auto m = d.re <= threshold;
    bool any = false;
    for (int g = 0; g < G; ++g) any |= m[g] != 0;
    return any;
  }
};
template <int G>
struct PackTraits<Hermitian<float>, G> : HermitianPackTraits<float, G> {};
template <int G>
struct PackTraits<Hermitian<double>, G> : HermitianPackTraits<double, G> {};

// Reals per element: a complex element is its real part, then its
// imaginary part, in storage and in a pack alike.
template <class T>
inline constexpr std::int64_t kRealsPer = ElementTraits<T>::is_complex ? 2 : 1;

// dst[p], lane g := src[g][p] for p < count, counted in reals: G × G tiles
// transposed in registers, the last one overlapping the one before it.
template <class R, int G>
void gather_packs(typename Simd<R, G>::V* dst, const R* const (&src)[G],
                  std::int64_t count) {
  using L = Simd<R, G>;
  using V = typename L::V;
  if (count < G) {
    // (count < G here; the bound says so to the compiler too.)
    const int small = int(std::min<std::int64_t>(count, G - 1));
    for (int p = 0; p < small; ++p)
      for (int g = 0; g < G; ++g) dst[p][g] = src[g][p];
    return;
  }
  for (std::int64_t p = 0;; p += G) {
    const std::int64_t q = std::min(p, count - G);
    V t[G];
    for (int g = 0; g < G; ++g) L::load(t[g], src[g] + q);
    L::transpose(t);
    for (int k = 0; k < G; ++k) dst[q + k] = t[k];
    if (q == count - G) break;
  }
}

// dst[g][p] := src[p], lane g, for p < count reals and the first `lanes`
// lanes only.
template <class R, int G>
void scatter_packs(R* const (&dst)[G], const typename Simd<R, G>::V* src,
                   std::int64_t count, int lanes) {
  using L = Simd<R, G>;
  using V = typename L::V;
  if (count < G) {
    const int small = int(std::min<std::int64_t>(count, G - 1));
    for (int g = 0; g < lanes; ++g)
      for (int p = 0; p < small; ++p) dst[g][p] = src[p][g];
    return;
  }
  for (std::int64_t p = 0;; p += G) {
    const std::int64_t q = std::min(p, count - G);
    V t[G];
    for (int k = 0; k < G; ++k) t[k] = src[q + k];
    L::transpose(t);
    for (int g = 0; g < lanes; ++g) L::store(dst[g] + q, t[g]);
    if (q == count - G) break;
  }
}

}  // namespace pband
