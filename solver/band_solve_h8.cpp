// One element type of the band solver: its entry points, from the shared
// kernel templates.
#include "solver/band_solve_members.hpp"

namespace pband {

PBAND_SOLVER_MEMBERS(h8, Hermitian<float>)

}  // namespace pband
