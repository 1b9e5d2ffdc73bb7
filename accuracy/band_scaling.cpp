// Equilibration in the four element types, from the shared templates.
#include "accuracy/scaling_sums.hpp"

PBAND_SCALING_MEMBERS(float, r4)
PBAND_SCALING_MEMBERS(double, r8)
PBAND_SCALING_MEMBERS(std::complex<float>, c8)
PBAND_SCALING_MEMBERS(std::complex<double>, c16)
