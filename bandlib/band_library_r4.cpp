// Band routine library, single-precision real members: the three workers and
// their team drivers, from the shared templates.
#include "bandlib/band_library_members.hpp"

namespace pband {

PBAND_BANDLIB_MEMBERS(r4, float)

}  // namespace pband
