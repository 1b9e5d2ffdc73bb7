// Arithmetic of the element types, the one place where they differ: real,
// complex symmetric (nothing conjugated) and Hermitian complex, whose
// element at the transposed place is the conjugate. Every product, sum and
// quotient is rounded to the element type before it is used again, so
// results are the same on every machine.
#pragma once

#include <cfloat>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pband {

static_assert(FLT_EVAL_METHOD == 0,
              "intermediate results must be rounded to their own type");

template <class T>
struct ElementTraits;

// The correctly rounded square root as one instruction: std::sqrt may call
// the C library to set errno for a negative argument, which costs a call
// (and the registers saved around it) in the middle of a factorization.
inline float real_sqrt(float a) {
#if defined(__SSE2__)
  return _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(a)));
#else
  return std::sqrt(a);
#endif
}
inline double real_sqrt(double a) {
#if defined(__SSE2__)
  const __m128d v = _mm_set_sd(a);
  return _mm_cvtsd_f64(_mm_sqrt_sd(v, v));
#else
  return std::sqrt(a);
#endif
}

template <class R>
struct RealTraits {
  using Real = R;
  static constexpr bool is_complex = false;
  static R zero() { return R(0); }
  static R add(R a, R b) { return a + b; }
  static R sub(R a, R b) { return a - b; }
  static R mul(R a, R b) { return a * b; }
  static R div(R a, R b) { return a / b; }
  // a - b*c with the product rounded first.
  static R msub(R a, R b, R c) { return a - b * c; }
  static R sqrt(R a) { return real_sqrt(a); }
  // The value itself: a real pivot must be positive.
  static R modulus(R a) { return a; }
  // The element at the transposed place (j, i) of the one at (i, j).
  static R mirror(R a) { return a; }
  // What a pivot test compares with its threshold, and the pivot's root.
  static R pivot(R a) { return a; }
  static R pivot_root(R a) { return real_sqrt(a); }
};

template <>
struct ElementTraits<float> : RealTraits<float> {};
template <>
struct ElementTraits<double> : RealTraits<double> {};

// The modulus of a complex value.
inline float complex_modulus(std::complex<float> a);
inline double complex_modulus(std::complex<double> a);

// C: the element type, std::complex<R> or a type built on it.
template <class R, class C = std::complex<R>>
struct ComplexTraits {
  using Real = R;
  static constexpr bool is_complex = true;
  static C zero() { return C(R(0), R(0)); }
  static C add(C a, C b) { return C(a.real() + b.real(), a.imag() + b.imag()); }
  static C sub(C a, C b) { return C(a.real() - b.real(), a.imag() - b.imag()); }
  // (a + bi)(c + di) = (ac - bd) + (ad + bc)i
  static C mul(C x, C y) {
    const R a = x.real(), b = x.imag(), c = y.real(), d = y.imag();
    return C(a * c - b * d, a * d + b * c);
  }
  static C msub(C a, C b, C c) { return sub(a, mul(b, c)); }
  // Complex symmetric: the same element at both places.
  static C mirror(C a) { return a; }
  // Smith: |d| > |c|: r = c/d, e = d + c r, ((a r + b)/e, (b r - a)/e);
  // otherwise        r = d/c, e = c + d r, ((a + b r)/e, (b - a r)/e).
  static C div(C x, C y) {
    const R a = x.real(), b = x.imag(), c = y.real(), d = y.imag();
    if (std::fabs(d) > std::fabs(c)) {
      const R r = c / d;
      const R e = d + c * r;
      return C((a * r + b) / e, (b * r - a) / e);
    }
    const R r = d / c;
    const R e = c + d * r;
    return C((a + b * r) / e, (b - a * r) / e);
  }
  static R modulus(C a) { return complex_modulus(a); }
  static R pivot(C a) { return modulus(a); }
  static C pivot_root(C a) { return sqrt(a); }
  // The principal root as the C library's csqrt gives it: branch cut on
  // the negative real axis, signed zeros kept, finite wherever the root
  // is. Where no part over- or underflows it is formed inline, which
  // gives the library's bits: t = sqrt((|x| + |z|)/2); x > 0: (t, y/(2t)),
  // x < 0: (|y|/(2t), t with the sign of y). The rest (the ends of the
  // range, infinities and NaNs) goes to the library, which scales.
  static C sqrt(C z) {
    const R x = z.real(), y = z.imag();
    constexpr R kBig = std::numeric_limits<R>::max() / R(4);
    constexpr R kTiny = std::numeric_limits<R>::min() * R(2);
    const R ax = std::fabs(x), ay = std::fabs(y);
    if (ax <= kBig && ay <= kBig) {
      // On an axis the root is exact: sqrt of a real, or equal parts.
      if (y == R(0)) {
        if (x == R(0)) return C(R(0), y);
        const R r = real_sqrt(ax);
        return x > R(0) ? C(r, std::copysign(R(0), y))
                        : C(R(0), std::copysign(r, y));
      }
      if (x == R(0) && ay >= kTiny) {
        const R r = real_sqrt(ay * R(0.5));
        return C(r, std::copysign(r, y));
      }
      if (ax >= kTiny || ay >= kTiny) {
        const R t = real_sqrt((ax + modulus(z)) / R(2));
        const R u = y / (R(2) * t);
        if (std::fabs(u) >= std::numeric_limits<R>::min()) {
          if (x > R(0)) return C(t, u);
          return C(std::fabs(u), std::copysign(t, y));
        }
      }
    }
    return std::sqrt(z);
  }
};

// Single: the hypotenuse of the widened parts in double, rounded to
// single. Products of two floats are exact in double, so the one rounding
// of the sum and the correctly rounded root fix the result everywhere.
inline float complex_modulus(std::complex<float> a) {
  const double re = a.real(), im = a.imag();
  return static_cast<float>(std::sqrt(re * re + im * im));
}

inline double complex_modulus(std::complex<double> a) {
  return std::hypot(a.real(), a.imag());
}

template <>
struct ElementTraits<std::complex<float>> : ComplexTraits<float> {};
template <>
struct ElementTraits<std::complex<double>> : ComplexTraits<double> {};

// An element of a Hermitian matrix: stored as std::complex<R>, and with
// the same layout, so the caller's complex arrays are read as arrays of
// it. Its own type gives it its own arithmetic below.
template <class R>
struct Hermitian : std::complex<R> {
  Hermitian() = default;
  constexpr Hermitian(R re, R im = R(0)) : std::complex<R>(re, im) {}
  constexpr Hermitian(const std::complex<R>& z) : std::complex<R>(z) {}
};
static_assert(sizeof(Hermitian<double>) == sizeof(std::complex<double>));
static_assert(std::is_trivially_copyable_v<Hermitian<double>>);

// A = L·Lᴴ: the transposed place holds the conjugate, a pivot is the real
// part (a diagonal element's imaginary part is not read, as LAPACK's
// zpbtrf does not read it) and must be positive, its root is real.
template <class R>
struct HermitianTraits : ComplexTraits<R, Hermitian<R>> {
  using C = Hermitian<R>;
  static C mirror(C a) { return C(a.real(), -a.imag()); }
  static R pivot(C a) { return a.real(); }
  static C pivot_root(C a) { return C(real_sqrt(a.real()), R(0)); }
  // Every divisor of the factorization and its solves is a diagonal
  // element of L, which is real: (a + bi)/d = (a·r, b·r), r = 1/d, as
  // LAPACK's zpbtf2 scales a column. The reciprocal does not depend on the
  // dividend, so a run of divisions by one pivot shares it and a chain of
  // substitutions waits for a product instead of a quotient.
  static C div(C x, C y) {
    const R r = R(1) / y.real();
    return C(x.real() * r, x.imag() * r);
  }
};

template <>
struct ElementTraits<Hermitian<float>> : HermitianTraits<float> {};
template <>
struct ElementTraits<Hermitian<double>> : HermitianTraits<double> {};

template <class T>
using RealOf = typename ElementTraits<T>::Real;

}  // namespace pband
