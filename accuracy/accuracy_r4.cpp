// The accuracy routines in one element type, from the shared templates.
#include "accuracy/band_sums.hpp"

PBAND_ACCURACY_MEMBERS(float, r4)
