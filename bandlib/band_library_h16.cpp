// Band routine library, double-precision Hermitian members: the three
// workers and their team drivers, from the shared templates.
#include "bandlib/band_library_members.hpp"

namespace pband {

PBAND_BANDLIB_MEMBERS(h16, Hermitian<double>)

}  // namespace pband
