// The calling thread's solver scratch, made ready before a solve: mapped
// by the runtime if the thread has none yet, and touched once, so that no
// solve pays for its first pages.
#include <cstring>

#include "runtime/thread_scratch.hpp"
#include "solver/band_solver.hpp"
#include "solver/forms/scratch.hpp"

namespace pband {

bool reserve_solver_scratch() {
  thread_local void* touched = nullptr;
  void* block = thread_scratch(kSolverScratchBytes);
  if (block == nullptr) return false;
  if (block != touched) {
    std::memset(block, 0, kSolverScratchBytes);
    touched = block;
  }
  return true;
}

}  // namespace pband
