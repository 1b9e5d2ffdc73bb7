// The size of an element as LAPACK's refinement measures residuals and
// solutions: |re| + |im| for complex values, cheaper than the modulus and
// within a factor √2 of it. Shared by the sums and the refinement.
#pragma once

#include <cmath>

#include "kernels/element_traits.hpp"

namespace pband::accuracy {

template <class T>
RealOf<T> abs1(T a) {
  if constexpr (ElementTraits<T>::is_complex)
    return std::fabs(a.real()) + std::fabs(a.imag());
  else
    return std::fabs(a);
}

}  // namespace pband::accuracy
