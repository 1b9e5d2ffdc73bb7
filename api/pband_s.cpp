// The C interface in one element type, from the shared templates.
#include "api/c_api_members.hpp"

PBAND_C_API_MEMBERS(s, float, float, r4)
PBAND_C_API_REFINE_MEMBERS(s, float, float, r4)
