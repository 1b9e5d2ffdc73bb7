// The benchmark program: solves one fixed band system (n = 2000000, half
// bandwidth 8, single precision) once per team size and reports the times.
#include "driver/benchmark.hpp"
#include "solver/band_solver.hpp"

namespace pband {

int run_benchmark() {
  BenchmarkOptions options;
  options.solve = &solve_band_system_r4;
  return run_benchmark(options);
}

}  // namespace pband

int main() { return pband::run_benchmark(); }
