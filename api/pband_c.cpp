// The C interface in one element type, from the shared templates.
#include "api/c_api_members.hpp"

PBAND_C_API_MEMBERS(c, pband_complex_float, std::complex<float>, c8)
PBAND_C_API_REFINE_MEMBERS(c, pband_complex_float, std::complex<float>, c8)
