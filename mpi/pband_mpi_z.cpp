// The distributed C interface in one element type, from the shared
// templates.
#include "mpi/mpi_members.hpp"

PBAND_MPI_MEMBERS(z, pband_complex_double, std::complex<double>)
