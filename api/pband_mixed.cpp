// The mixed precision C entries, one line per pair of element types.
#include "api/mixed_members.hpp"

PBAND_C_API_MIXED(ds, double, double, float, r8, r4)
PBAND_C_API_MIXED(zc, pband_complex_double, std::complex<double>,
                  std::complex<float>, c16, c8)
