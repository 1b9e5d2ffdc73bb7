// The expert driver's C entries, one line per element type.
#include "api/expert_members.hpp"

PBAND_C_API_EXPERT(s, float, float, r4)
PBAND_C_API_EXPERT(d, double, double, r8)
PBAND_C_API_EXPERT(c, pband_complex_float, std::complex<float>, c8)
PBAND_C_API_EXPERT(z, pband_complex_double, std::complex<double>, c16)
