// The band of the inverse from a natural-order factor, in the four element
// types: argument checks in LAPACK's order, then the shared recurrence.
#include <algorithm>
#include <complex>
#include <cstdint>

#include "accuracy/band_inverse.hpp"
#include "pband/pband.h"

namespace {

// Arguments 1 n, 2 hb, 3 l, 4 ldl, 5 z, 6 ldz.
template <class T>
int inverse_band(std::int32_t n, std::int32_t hb, const T* l, std::int32_t ldl,
                 T* z, std::int32_t ldz,
                 void (*kernel)(std::int64_t, std::int64_t, const T*,
                                std::int64_t, T*, std::int64_t)) {
  if (n < 0) return -1;
  if (hb < 0) return -2;
  if (l == nullptr && n > 0) return -3;
  if (ldl < std::int64_t(hb) + 1) return -4;
  if (z == nullptr && n > 0) return -5;
  if (ldz < std::int64_t(hb) + 1) return -6;
  if (n == 0) return 0;
  // Rows beyond n lie outside the matrix: a wider band adds nothing.
  const std::int64_t kd = std::min<std::int64_t>(hb, n - 1);
  kernel(n, kd, l, ldl, z, ldz);
  return 0;
}

}  // namespace

#define PBAND_C_INVERSE(L, C, T, SUFFIX)                                   \
  extern "C" int pband_inverse_band_##L(int32_t n, int32_t hb, const C* l, \
                                        int32_t ldl, C* z, int32_t ldz) {  \
    return inverse_band<T>(n, hb, reinterpret_cast<const T*>(l), ldl,      \
                           reinterpret_cast<T*>(z), ldz,                   \
                           &pband::band_inverse_##SUFFIX);                 \
  }

PBAND_C_INVERSE(s, float, float, r4)
PBAND_C_INVERSE(d, double, double, r8)
PBAND_C_INVERSE(c, pband_complex_float, std::complex<float>, c8)
PBAND_C_INVERSE(z, pband_complex_double, std::complex<double>, c16)
#undef PBAND_C_INVERSE
