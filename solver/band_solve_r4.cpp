// One element type of the band solver: the kernel templates instantiated
// for it, and its entry points.
#include <complex>

#include "solver/band_solve_kernel.hpp"
#include "solver/band_solver.hpp"

namespace pband {
namespace {
using Element = float;
}  // namespace

template void band_solve_worker<Element>(
    Element*& A, std::int32_t& n, std::int32_t& hb, Element*& B,
    std::int32_t& nrhs, Element*& saved, Element*& coupling, Handle& mutex,
    std::int32_t (&slots)[2], std::int32_t& block_size,
    std::int32_t& team_size, std::int64_t& level_stride,
    std::int64_t& neighbour_distance, std::int64_t& claim_step,
    std::int64_t& level_first, std::int64_t& next_up,
    std::int64_t& next_down, RealOf<Element>& pivot_threshold,
    std::atomic<std::int32_t> (&failure_flags)[2]);
template void solve_band_system<Element>(Element* A, std::int32_t n,
                                         std::int32_t hb, Element* B,
                                         std::int32_t nrhs, Element* W,
                                         std::int32_t& status);

void solve_band_system_r4(Element* A, std::int32_t n, std::int32_t hb,
    Element* B, std::int32_t nrhs, Element* W, std::int32_t& status) {
  solve_band_system<Element>(A, n, hb, B, nrhs, W, status);
}

void factor_diagonal_block_r4(Element* A, std::int32_t hb,
    std::int32_t first, std::int32_t last, RealOf<Element> threshold,
    std::atomic<std::int32_t>* failure_flags, std::int32_t parity) {
  factor_diagonal_block<Element>(A, hb, first, last, threshold,
                                 failure_flags, parity);
}

}  // namespace pband
