// Private header of the band solver: the block operations of one solve as
// a caller that hands out the blocks itself (the distributed solver) runs
// them. They are the compiled copies the team's worker takes, so every
// block gets the same bits whoever does it.
#pragma once

#include <complex>
#include <cstdint>
#include <type_traits>

#include "solver/forms/choice.hpp"

namespace pband {

// The operations for half bandwidth hb on the processor's widest
// instruction-set path (band_solve_r4.cpp … band_solve_c16.cpp).
BlockOps<float> solver_block_ops_r4(std::int64_t hb);
BlockOps<double> solver_block_ops_r8(std::int64_t hb);
BlockOps<std::complex<float>> solver_block_ops_c8(std::int64_t hb);
BlockOps<std::complex<double>> solver_block_ops_c16(std::int64_t hb);

template <class T>
BlockOps<T> solver_block_ops(std::int64_t hb) {
  if constexpr (std::is_same_v<T, float>)
    return solver_block_ops_r4(hb);
  else if constexpr (std::is_same_v<T, double>)
    return solver_block_ops_r8(hb);
  else if constexpr (std::is_same_v<T, std::complex<float>>)
    return solver_block_ops_c8(hb);
  else
    return solver_block_ops_c16(hb);
}

}  // namespace pband
