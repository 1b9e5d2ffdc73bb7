// The equilibration C entries, one line per element type.
#include "api/scaling_members.hpp"

PBAND_C_API_SCALING(s, float, float, r4)
PBAND_C_API_SCALING(d, double, double, r8)
PBAND_C_API_SCALING(c, pband_complex_float, std::complex<float>, c8)
PBAND_C_API_SCALING(z, pband_complex_double, std::complex<double>, c16)
