// Higham's estimate of ‖B‖₁ from a few products with B and Bᴴ, step for
// step as LAPACK's ?lacn2 (real) and ?lacn2 (complex). Reverse
// communication: the caller forms the products, so many estimates can
// share one parallel solve per round.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "kernels/element_traits.hpp"

namespace pband::accuracy {

// What the caller must do with x before the next step.
enum class EstimateAsk { kDone = 0, kTimesB = 1, kTimesBH = 2 };

// One estimate's state between steps; zero-filled memory is a fresh one.
template <class T>
struct NormEstimate {
  std::int32_t entry = 0;  // LAPACK's isave(1): where the next step resumes
  std::int64_t j = 0;      // isave(2): the column tried last
  std::int32_t iter = 0;   // isave(3)
  RealOf<T> est = 0;
};

namespace estimate_detail {

template <class T>
RealOf<T> modulus(T a) {
  if constexpr (ElementTraits<T>::is_complex)
    return ElementTraits<T>::modulus(a);
  else
    return std::fabs(a);
}

// Σ|x(i)| in order, as ?asum and ?sum1 accumulate it.
template <class T>
RealOf<T> sum_abs(std::int64_t n, const T* x) {
  RealOf<T> s = 0;
  for (std::int64_t i = 0; i < n; ++i) s = s + modulus(x[i]);
  return s;
}

// The first i of largest |x(i)|, as i?amax and izmax1.
template <class T>
std::int64_t first_largest(std::int64_t n, const T* x) {
  std::int64_t at = 0;
  RealOf<T> best = modulus(x[0]);
  for (std::int64_t i = 1; i < n; ++i)
    if (modulus(x[i]) > best) {
      best = modulus(x[i]);
      at = i;
    }
  return at;
}

// x := its signs (real: ±1, zero counting as +; complex: x/|x|, or 1 where
// |x| is at most the safe minimum). Real: reports whether the signs are
// those kept in sign, and keeps the new ones.
template <class T>
bool take_signs(std::int64_t n, T* x, RealOf<T>* sign) {
  using R = RealOf<T>;
  bool same = true;
  for (std::int64_t i = 0; i < n; ++i) {
    if constexpr (ElementTraits<T>::is_complex) {
      const R a = modulus(x[i]);
      x[i] = a > std::numeric_limits<R>::min()
                 ? T(x[i].real() / a, x[i].imag() / a)
                 : T(1);
    } else {
      x[i] = x[i] >= R(0) ? R(1) : R(-1);
      same = same && sign[i] == x[i];
      sign[i] = x[i];
    }
  }
  return same;
}

template <class T>
void unit_vector(std::int64_t n, T* x, std::int64_t j) {
  for (std::int64_t i = 0; i < n; ++i) x[i] = T(0);
  x[j] = T(1);
}

}  // namespace estimate_detail

// One step: x holds the product the last step asked for (nothing on the
// first). v (n) keeps the best vector, sign (n, real types only) the last
// signs. On kDone, s.est is the estimate.
template <class T>
EstimateAsk estimate_step(std::int64_t n, T* v, T* x, RealOf<T>* sign,
                          NormEstimate<T>& s) {
  namespace d = estimate_detail;
  using R = RealOf<T>;
  constexpr bool real = !ElementTraits<T>::is_complex;
  constexpr int kMaxIter = 5;
  switch (s.entry) {
    case 0:
      for (std::int64_t i = 0; i < n; ++i) x[i] = T(R(1) / R(n));
      s.entry = 1;
      return EstimateAsk::kTimesB;
    case 1:  // x = B·x
      if (n == 1) {
        v[0] = x[0];
        s.est = d::modulus(v[0]);
        break;
      }
      s.est = d::sum_abs(n, x);
      d::take_signs(n, x, sign);
      s.entry = 2;
      return EstimateAsk::kTimesBH;
    case 2:  // x = Bᴴ·x
      s.j = d::first_largest(n, x);
      s.iter = 2;
      d::unit_vector(n, x, s.j);
      s.entry = 3;
      return EstimateAsk::kTimesB;
    case 3: {  // x = B·x
      for (std::int64_t i = 0; i < n; ++i) v[i] = x[i];
      const R old = s.est;
      s.est = d::sum_abs(n, v);
      bool repeated = false;
      if constexpr (real) {
        // The signs are compared before they are kept: a repeat means
        // convergence.
        repeated = true;
        for (std::int64_t i = 0; i < n && repeated; ++i)
          repeated = sign[i] == (x[i] >= R(0) ? R(1) : R(-1));
      }
      if (!repeated && !(s.est <= old)) {
        d::take_signs(n, x, sign);
        s.entry = 4;
        return EstimateAsk::kTimesBH;
      }
      goto final_stage;
    }
    case 4: {  // x = Bᴴ·x
      const std::int64_t last = s.j;
      s.j = d::first_largest(n, x);
      // Real: x(last) itself, signed, as LAPACK compares it.
      const R at_last = real ? R(std::real(x[last])) : d::modulus(x[last]);
      if (at_last != d::modulus(x[s.j]) && s.iter < kMaxIter) {
        ++s.iter;
        d::unit_vector(n, x, s.j);
        s.entry = 3;
        return EstimateAsk::kTimesB;
      }
      goto final_stage;
    }
    case 5: {  // x = B·x
      const R temp = R(2) * (d::sum_abs(n, x) / R(3 * n));
      if (temp > s.est) {
        for (std::int64_t i = 0; i < n; ++i) v[i] = x[i];
        s.est = temp;
      }
      break;
    }
  }
  s.entry = 0;
  return EstimateAsk::kDone;

final_stage:
  // Alternating signs with growing size catch what the sign vectors miss.
  {
    R alt = 1;
    for (std::int64_t i = 0; i < n; ++i) {
      x[i] = T(alt * (R(1) + R(i) / R(n - 1)));
      alt = -alt;
    }
  }
  s.entry = 5;
  return EstimateAsk::kTimesB;
}

}  // namespace pband::accuracy
