// The benchmark driver: report lines, the reproducible test problem and
// its pseudo-random generator, the timers, and the main loop that solves
// one fixed band system once per team size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/runtime.hpp"

namespace pband {

// ---------------------------------------------------------------------------
// Report lines
// ---------------------------------------------------------------------------

// Decimal digits right-justified in 11 characters (wider when needed).
std::string format_free_integer(std::int32_t value);
// Right-justified in 2 characters; "**" above 99 or below -9.
std::string format_width2(std::int32_t value);
// Rounded to 2 decimals on the exact binary value, exact ties away from
// zero, right-justified in 8 characters; 8 asterisks when it does not fit.
std::string format_fixed_8_2(float value);

// Writes CR LF terminated lines to a file descriptor: line by line when it
// is a terminal, otherwise through an 8192-byte buffer written out when
// full and at flush(). After the first write that fails it writes nothing
// more, and failed() says so.
class ReportOutput {
 public:
  static constexpr std::size_t kBufferSize = 8192;
  explicit ReportOutput(int fd);
  ~ReportOutput();
  ReportOutput(const ReportOutput&) = delete;
  ReportOutput& operator=(const ReportOutput&) = delete;

  void line(std::string_view text);
  void flush();
  bool failed() const { return failed_; }

 private:
  void write_bytes(const char* data, std::size_t size);
  void emit(const char* data, std::size_t size);

  int fd_;
  bool line_mode_;
  bool failed_ = false;
  std::size_t used_ = 0;
  char buffer_[kBufferSize];
};

// ---------------------------------------------------------------------------
// Pseudo-random generator: two KISS states of four 32-bit words each.
// ---------------------------------------------------------------------------

inline constexpr std::int32_t kSeedSize = 8;

void seed_size(std::int32_t& count);
// Sets the state from the first 8 words of seed (byte-shuffled).
void put_seed(const std::int32_t* seed);
// Reads the state back as 8 seed words; put_seed of them restores it.
void get_seed(std::int32_t* seed);
// Back to the state at program start.
void reset_generator();
// Reseeds from the fixed benchmark seed.
void seed_test_generator();
// x in [0, 1), a multiple of 2^-24, from the first state only.
void random_uniform_r4(float& x);
// x in [0, 1), a multiple of 2^-53, from both states.
void random_uniform_r8(double& x);

// ---------------------------------------------------------------------------
// Test problem
// ---------------------------------------------------------------------------

// Elements of the lower band storage of n equations, half bandwidth hb.
std::int64_t band_storage_length(std::int32_t n, std::int32_t hb);

// Builds A (band storage), X (n × nrhs, pseudo-random) and B = A·X. Every
// call reseeds the generator and yields bit-identical arrays. A negative
// n, hb or nrhs, or a null array that would be written, writes nothing.
void make_test_problem(float* A, float* B, float* X, std::int32_t n,
                       std::int32_t hb, std::int32_t nrhs);
// Replaces the lower band factor L held in A by the lower band of L·Lᵀ.
// A negative hb, or A null while n > 0, writes nothing.
void form_band_llt_r4(float* A, std::int32_t n, std::int32_t hb);
void form_band_llt_r8(double* A, std::int32_t n, std::int32_t hb);

// ---------------------------------------------------------------------------
// Timers: wall-clock and whole-process CPU time of one measured interval.
// ---------------------------------------------------------------------------

void start_timers();
void stop_timers(float& elapsed, float& user, float& kernel, float& total);
// mode 1 stops and writes the four results; any other mode starts.
void process_clock(std::int32_t mode, float& total, float& kernel, float& user,
                   float& elapsed);
// The 64-bit count as a double, built byte by byte from the top.
double filetime_to_real(const FileTime& t);
// Seconds between two ticks; correct across a wrap of the 32-bit counter.
float elapsed_seconds(std::uint32_t start_tick, std::uint32_t stop_tick);
// Seconds between two 100-ns counts, rounded to single precision.
float cpu_seconds(const FileTime& start, const FileTime& stop);

// ---------------------------------------------------------------------------
// The benchmark
// ---------------------------------------------------------------------------

using BandSolveFn = void (*)(float* A, std::int32_t n, std::int32_t hb,
                             float* B, std::int32_t nrhs, float* W,
                             std::int32_t& status);
using AllocateFn = void* (*)(std::size_t bytes);

// What the program fixes, open to tests.
struct BenchmarkOptions {
  std::int32_t n = 2000000;
  std::int32_t hb = 8;
  int output_fd = 1;
  BandSolveFn solve = nullptr;        // the cyclic reduction solver if null
  AllocateFn allocate = nullptr;      // the default allocator if null
  std::int32_t processor_count = -1;  // counted if negative
};

// Solves the benchmark system once per team size and writes the report.
// Returns the exit status: 0, or 1 when the work array cannot be
// allocated (also when its byte count exceeds what a size_t holds), a
// solve reports a failure, or the report could not be written.
int run_benchmark(const BenchmarkOptions& options);
int run_benchmark();

}  // namespace pband
