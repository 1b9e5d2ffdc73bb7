// The C interface in one element type, from the shared templates.
#include "api/c_api_members.hpp"

PBAND_C_API_MEMBERS(z, pband_complex_double, std::complex<double>, c16)
PBAND_C_API_REFINE_MEMBERS(z, pband_complex_double, std::complex<double>, c16)
