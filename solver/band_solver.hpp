// Public interface of the parallel band solver: A·X = B for a symmetric
// positive definite (complex: complex symmetric, or Hermitian positive
// definite) band matrix in lower band storage, by block cyclic reduction
// over the current team of threads.
#pragma once

#include <atomic>
#include <complex>
#include <cstdint>

#include "kernels/element_traits.hpp"

namespace pband {

// Lower band storage: column-major, hb + 1 elements per column, element
// (i, j), j <= i <= j + hb, at 0-based position (j-1)(hb+1) + (i-j);
// n + hb(n-1) elements.
//
// solve_band_system_*(A, n, hb, B, nrhs, W, status)
//   A      band matrix; overwritten by the factors of its diagonal blocks
//   B      n × nrhs right-hand sides, column-major; overwritten by X
//   W      workspace of 2·n·hb elements
//   status 0 success, 1 a pivot was not positive (complex: was zero);
//          negative: argument -status was invalid and nothing was touched
//          (the first one in argument order):
//            -1 A null while n > 0          -2 n < 0
//            -3 hb < 0                      -4 B null while n, nrhs > 0
//            -5 nrhs < 0                    -6 W null while n, hb > 0
// n = 0 does nothing and succeeds; nrhs = 0 factors A and leaves B alone
// (B may then be null). Every thread of the current team takes part. The
// blocks follow from a block base that each call takes from its element
// type and the team it asks for: real 24; complex 16 for a team of up to
// 2, else 8. Beyond that the blocks and the order of every operation do
// not depend on the team, so the real types give the same bits in A and B
// for every team size, the complex ones for every team of 1 … 2 and for
// every team of 3 … 32. Nothing an earlier call did changes the bits.
// Without its mutex, its two barrier slots or some of its threads, a solve
// goes on with the threads it has, down to the caller alone, and keeps the
// bits of the team it asked for.
void solve_band_system_r4(float* A, std::int32_t n, std::int32_t hb, float* B,
                          std::int32_t nrhs, float* W, std::int32_t& status);
void solve_band_system_r8(double* A, std::int32_t n, std::int32_t hb, double* B,
                          std::int32_t nrhs, double* W, std::int32_t& status);
void solve_band_system_c8(std::complex<float>* A, std::int32_t n,
                          std::int32_t hb, std::complex<float>* B,
                          std::int32_t nrhs, std::complex<float>* W,
                          std::int32_t& status);
void solve_band_system_c16(std::complex<double>* A, std::int32_t n,
                           std::int32_t hb, std::complex<double>* B,
                           std::int32_t nrhs, std::complex<double>* W,
                           std::int32_t& status);

// The same on a team of team_size threads (clamped to 1 … 32; 0 or less:
// the current team size), leaving the process-wide team size alone, so
// that concurrent callers can each ask for their own team.
void solve_band_system_team_r4(float* A, std::int32_t n, std::int32_t hb,
                               float* B, std::int32_t nrhs, float* W,
                               std::int32_t team_size, std::int32_t& status);
void solve_band_system_team_r8(double* A, std::int32_t n, std::int32_t hb,
                               double* B, std::int32_t nrhs, double* W,
                               std::int32_t team_size, std::int32_t& status);
void solve_band_system_team_c8(std::complex<float>* A, std::int32_t n,
                               std::int32_t hb, std::complex<float>* B,
                               std::int32_t nrhs, std::complex<float>* W,
                               std::int32_t team_size, std::int32_t& status);
void solve_band_system_team_c16(std::complex<double>* A, std::int32_t n,
                                std::int32_t hb, std::complex<double>* B,
                                std::int32_t nrhs, std::complex<double>* W,
                                std::int32_t team_size, std::int32_t& status);

// The library's solve (pband_solve_*): solve_band_system_team_* with the
// block base of the element type alone (real 24, complex 16), so that the
// complex types too give the same bits for every team.
void solve_band_system_library_r4(float* A, std::int32_t n, std::int32_t hb,
                                  float* B, std::int32_t nrhs, float* W,
                                  std::int32_t team_size,
                                  std::int32_t& status);
void solve_band_system_library_r8(double* A, std::int32_t n, std::int32_t hb,
                                  double* B, std::int32_t nrhs, double* W,
                                  std::int32_t team_size,
                                  std::int32_t& status);
void solve_band_system_library_c8(std::complex<float>* A, std::int32_t n,
                                  std::int32_t hb, std::complex<float>* B,
                                  std::int32_t nrhs, std::complex<float>* W,
                                  std::int32_t team_size,
                                  std::int32_t& status);
void solve_band_system_library_c16(std::complex<double>* A, std::int32_t n,
                                   std::int32_t hb, std::complex<double>* B,
                                   std::int32_t nrhs, std::complex<double>* W,
                                   std::int32_t team_size,
                                   std::int32_t& status);

// A stored factor for solves to come: solve_band_system_library_* with no
// right-hand side, which leaves L's diagonal blocks in A and the couplings
// in W (2·n·hb elements), and writes the columns per block of its cut.
// Status as solve_band_system_*.
// solve_band_system_factored_* then solves with it, any number of times:
// A and W as the factor left them (only read), B (n × nrhs) becomes X,
// with the bits of solve_band_system_library_* of the same system,
// whatever team factored or solves. Status 0, or -i for an
// invalid argument i (the order of solve_band_system_*; -7 block_size <
// 1), nothing touched.
void factor_band_system_r4(float* A, std::int32_t n, std::int32_t hb, float* W,
                           std::int32_t team_size, std::int32_t& block_size,
                           std::int32_t& status);
void solve_band_system_factored_r4(const float* A, std::int32_t n,
                                   std::int32_t hb, float* B, std::int32_t nrhs,
                                   const float* W, std::int32_t block_size,
                                   std::int32_t team_size,
                                   std::int32_t& status);
void factor_band_system_r8(double* A, std::int32_t n, std::int32_t hb,
                           double* W, std::int32_t team_size,
                           std::int32_t& block_size, std::int32_t& status);
void solve_band_system_factored_r8(const double* A, std::int32_t n,
                                   std::int32_t hb, double* B,
                                   std::int32_t nrhs, const double* W,
                                   std::int32_t block_size,
                                   std::int32_t team_size,
                                   std::int32_t& status);
void factor_band_system_c8(std::complex<float>* A, std::int32_t n,
                           std::int32_t hb, std::complex<float>* W,
                           std::int32_t team_size, std::int32_t& block_size,
                           std::int32_t& status);
void solve_band_system_factored_c8(
    const std::complex<float>* A, std::int32_t n, std::int32_t hb,
    std::complex<float>* B, std::int32_t nrhs, const std::complex<float>* W,
    std::int32_t block_size, std::int32_t team_size, std::int32_t& status);
void factor_band_system_c16(std::complex<double>* A, std::int32_t n,
                            std::int32_t hb, std::complex<double>* W,
                            std::int32_t team_size, std::int32_t& block_size,
                            std::int32_t& status);
void solve_band_system_factored_c16(
    const std::complex<double>* A, std::int32_t n, std::int32_t hb,
    std::complex<double>* B, std::int32_t nrhs, const std::complex<double>* W,
    std::int32_t block_size, std::int32_t team_size, std::int32_t& status);

// The same for a Hermitian positive definite matrix (A = L·Lᴴ; a
// diagonal element's imaginary part is not read): status 1 when a pivot's
// real part was not positive. Block base, cut and bits as the complex
// symmetric solves of the same precision.
void solve_band_system_h8(Hermitian<float>* A, std::int32_t n, std::int32_t hb,
                          Hermitian<float>* B, std::int32_t nrhs,
                          Hermitian<float>* W, std::int32_t& status);
void solve_band_system_h16(Hermitian<double>* A, std::int32_t n,
                           std::int32_t hb, Hermitian<double>* B,
                           std::int32_t nrhs, Hermitian<double>* W,
                           std::int32_t& status);
void solve_band_system_team_h8(Hermitian<float>* A, std::int32_t n,
                               std::int32_t hb, Hermitian<float>* B,
                               std::int32_t nrhs, Hermitian<float>* W,
                               std::int32_t team_size, std::int32_t& status);
void solve_band_system_team_h16(Hermitian<double>* A, std::int32_t n,
                                std::int32_t hb, Hermitian<double>* B,
                                std::int32_t nrhs, Hermitian<double>* W,
                                std::int32_t team_size, std::int32_t& status);
void solve_band_system_library_h8(Hermitian<float>* A, std::int32_t n,
                                  std::int32_t hb, Hermitian<float>* B,
                                  std::int32_t nrhs, Hermitian<float>* W,
                                  std::int32_t team_size,
                                  std::int32_t& status);
void solve_band_system_library_h16(Hermitian<double>* A, std::int32_t n,
                                   std::int32_t hb, Hermitian<double>* B,
                                   std::int32_t nrhs, Hermitian<double>* W,
                                   std::int32_t team_size,
                                   std::int32_t& status);
void factor_band_system_h8(Hermitian<float>* A, std::int32_t n,
                           std::int32_t hb, Hermitian<float>* W,
                           std::int32_t team_size, std::int32_t& block_size,
                           std::int32_t& status);
void solve_band_system_factored_h8(
    const Hermitian<float>* A, std::int32_t n, std::int32_t hb,
    Hermitian<float>* B, std::int32_t nrhs, const Hermitian<float>* W,
    std::int32_t block_size, std::int32_t team_size, std::int32_t& status);
void factor_band_system_h16(Hermitian<double>* A, std::int32_t n,
                            std::int32_t hb, Hermitian<double>* W,
                            std::int32_t team_size, std::int32_t& block_size,
                            std::int32_t& status);
void solve_band_system_factored_h16(
    const Hermitian<double>* A, std::int32_t n, std::int32_t hb,
    Hermitian<double>* B, std::int32_t nrhs, const Hermitian<double>* W,
    std::int32_t block_size, std::int32_t team_size, std::int32_t& status);

// Makes sure the calling thread has the scratch in which a solve keeps its
// larger working arrays (kept by the runtime from one call to the next,
// never on the caller's stack; a solve needs at most 64 KiB of that).
// False when the memory cannot be had: a solve on such a thread still
// succeeds with the same bits, in forms that need no scratch, only slower.
bool reserve_solver_scratch();

namespace testing {

// Forces the block base (columns per block follow from it and hb) of
// every later solve; 0 or less returns to each call's own choice.
// solver_block_base() is the forced base, 0 when none is.
void set_solver_block_base(std::int32_t base);
std::int32_t solver_block_base();

// Instruction-set path of the solver's kernels (the band library's
// diagonal blocks included): 0 baseline x86-64, 1 AVX2, 2 AVX-512. Every
// path gives the same bits. set_solver_isa(level) caps the path at level
// (never above what the processor has); -1 restores the widest, which is
// also the default. solver_isa_widest() is the widest this processor runs.
void set_solver_isa(std::int32_t level);
std::int32_t solver_isa_widest();
// The path the next solve takes.
std::int32_t solver_isa_in_use();

// Whether the solver takes its vector forms (the default): blocks of the
// common shape in groups, side by side in vector lanes, and wide bands'
// cubic work with vectors across a block. Off, every block goes through
// the one-block general forms; both give the same bits.
// solver_groups_done() counts the groups taken since the process started.
void set_solver_vector_forms(bool on);
std::int64_t solver_groups_done();

#if defined(PBAND_PHASE_CLOCKS)
// Seconds the solves since the last reset spent in each phase, by level
// (index log2 of the level stride), measured barrier to barrier by the
// leader: a build with PBAND_PHASE_CLOCKS only, for one solve at a time.
struct PhaseClocks {
  static constexpr int kLevels = 40;
  double factor[kLevels];
  double update[kLevels];
  double back[kLevels];
};
void reset_phase_clocks();
PhaseClocks phase_clocks();
#endif

}  // namespace testing

}  // namespace pband
