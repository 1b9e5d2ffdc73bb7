// Private header of the band solver: VW elements of one type side by side
// in one vector, with each lane's arithmetic that of ElementTraits, so the
// wide forms (wide.hpp) give the general forms' bits for every type. A
// complex vector keeps the storage's order (real part, imaginary part),
// so it loads and stores without shuffles; products and quotients pair
// the parts with one swap.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include "kernels/element_traits.hpp"
#include "kernels/simd.hpp"

namespace pband {

template <class T, int VW, bool Complex = ElementTraits<T>::is_complex>
struct WideLanes;

template <class T, int VW>
struct WideLanes<T, VW, false> {
  using L = Simd<T, VW>;
  using V = typename L::V;
  static void load(V& v, const T* p) { L::load(v, p); }
  static void store(T* p, const V& v) { L::store(p, v); }
  static void zero(V& v) { v = V{}; }
  // x := x - v·s and x := x + v·s, the product rounded first.
  static void msub(V& x, const V& v, T s) { x = x - v * s; }
  static void madd(V& x, const V& v, T s) { x = x + v * s; }
  static void div(V& v, T d) { v = v / d; }
  static void mirror(V& out, const V& v) { out = v; }
};

template <class T, int VW>
struct WideLanes<T, VW, true> {
  using R = RealOf<T>;
  static constexpr int kReals = 2 * VW;
  using V = typename Simd<R, kReals>::V;
  static constexpr bool kHermitian = std::is_same_v<T, Hermitian<R>>;

  static void load(V& v, const T* p) {
    std::memcpy(&v, static_cast<const void*>(p), sizeof v);
  }
  static void store(T* p, const V& v) {
    std::memcpy(static_cast<void*>(p), &v, sizeof v);
  }
  static void zero(V& v) { v = V{}; }

  // Each element's parts exchanged: (b, a) from (a, b).
  template <std::size_t... I>
  static void swapped(V& out, const V& v, std::index_sequence<I...>) {
    out = __builtin_shufflevector(v, v, int(I ^ 1)...);
  }
  static void swapped(V& out, const V& v) {
    swapped(out, v, std::make_index_sequence<kReals>{});
  }
  // Real parts from re, imaginary parts from im.
  template <std::size_t... I>
  static void parts(V& out, const V& re, const V& im,
                    std::index_sequence<I...>) {
    out = __builtin_shufflevector(re, im, int(I % 2 ? kReals + I : I)...);
  }
  static void parts(V& out, const V& re, const V& im) {
    parts(out, re, im, std::make_index_sequence<kReals>{});
  }

  // out := v·s lane by lane as ElementTraits::mul: (ac - bd, ad + bc).
  static void mul(V& out, const V& v, T s) {
    V q;
    swapped(q, v);
    const V p = v * s.real();  // (ac, bc)
    q = q * s.imag();          // (bd, ad)
    parts(out, p - q, p + q);
  }
  static void msub(V& x, const V& v, T s) {
    V m;
    mul(m, v, s);
    x = x - m;
  }
  static void madd(V& x, const V& v, T s) {
    V m;
    mul(m, v, s);
    x = x + m;
  }
  // v / d lane by lane as ElementTraits::div: Smith's branch depends on
  // the divisor alone, so the lanes share it; Hermitian divisors are real.
  static void div(V& v, T d) {
    if constexpr (kHermitian) {
      v = v * (R(1) / d.real());
    } else {
      const R c = d.real(), di = d.imag();
      V sw, q;
      R e;
      swapped(sw, v);
      if (std::fabs(di) > std::fabs(c)) {
        const R r = c / di;
        e = di + c * r;
        const V vr = v * r;  // (ar, br)
        parts(q, vr + sw, vr - sw);
      } else {
        const R r = di / c;
        e = c + di * r;
        sw = sw * r;  // (br, ar)
        parts(q, v + sw, v - sw);
      }
      v = q / e;
    }
  }
  static void mirror(V& out, const V& v) {
    if constexpr (kHermitian)
      parts(out, v, -v);
    else
      out = v;
  }
};

}  // namespace pband
