// The diagonal-block factor's entry points, one per element type, from
// the shared template.
#include "kernels/diagonal_block.hpp"

#include "kernels/factor_diagonal_block.hpp"

namespace pband {

#define PBAND_DIAGONAL_BLOCK(SUFFIX, T)                                    \
  void factor_diagonal_block_##SUFFIX(                                     \
      T* A, std::int32_t hb, std::int32_t first, std::int32_t last,        \
      RealOf<T> threshold, std::atomic<std::int32_t>* failure_flags,       \
      std::int32_t parity) {                                               \
    factor_diagonal_block<T>(A, hb, first, last, threshold, failure_flags, \
                             parity);                                      \
  }

PBAND_DIAGONAL_BLOCK(r4, float)
PBAND_DIAGONAL_BLOCK(r8, double)
PBAND_DIAGONAL_BLOCK(c8, std::complex<float>)
PBAND_DIAGONAL_BLOCK(c16, std::complex<double>)
PBAND_DIAGONAL_BLOCK(h8, Hermitian<float>)
PBAND_DIAGONAL_BLOCK(h16, Hermitian<double>)
#undef PBAND_DIAGONAL_BLOCK

}  // namespace pband
