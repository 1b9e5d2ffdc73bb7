// The band of the inverse in each element type, from the shared template.
#include "accuracy/band_inverse.hpp"

namespace pband {

#define PBAND_BAND_INVERSE(SUFFIX, T)                                     \
  void band_inverse_##SUFFIX(std::int64_t n, std::int64_t hb, const T* l, \
                             std::int64_t ldl, T* z, std::int64_t ldz) {  \
    band_inverse<T>(n, hb, l, ldl, z, ldz);                               \
  }

PBAND_BAND_INVERSE(r4, float)
PBAND_BAND_INVERSE(r8, double)
PBAND_BAND_INVERSE(c8, std::complex<float>)
PBAND_BAND_INVERSE(c16, std::complex<double>)
#undef PBAND_BAND_INVERSE

}  // namespace pband
