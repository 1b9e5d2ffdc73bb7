// The C interface for Hermitian positive definite systems in both complex
// types, from the shared templates.
#include "api/c_api_members.hpp"

PBAND_C_API_HERMITIAN_MEMBERS(c, pband_complex_float, float, h8)
PBAND_C_API_HERMITIAN_MEMBERS(z, pband_complex_double, double, h16)
