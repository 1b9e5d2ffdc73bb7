// Band routine library, single-precision complex members: the three workers and
// their team drivers, from the shared templates.
#include "bandlib/band_library_members.hpp"

namespace pband {

PBAND_BANDLIB_MEMBERS(c8, std::complex<float>)

}  // namespace pband
