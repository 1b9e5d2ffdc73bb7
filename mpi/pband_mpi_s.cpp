// The distributed C interface in one element type, from the shared
// templates.
#include "mpi/mpi_members.hpp"

PBAND_MPI_MEMBERS(s, float, float)
