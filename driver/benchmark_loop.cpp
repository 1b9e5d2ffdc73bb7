// The benchmark's main loop: one work array for the whole run, then for
// every team size from 1 to the processor count the same system rebuilt,
// solved between the timers, and reported.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sys/mman.h>

#include "driver/benchmark.hpp"

namespace pband {

namespace {

void* default_allocate(std::size_t bytes) {
  // Large arrays on 2 MiB boundaries, offered to the kernel for huge pages:
  // the solver's later levels reach far apart, and with small pages nearly
  // every block misses the TLB. Small ones cache-line aligned for the
  // vector loops. Contents undefined.
  constexpr std::size_t kHuge = std::size_t(2) << 20;
  const std::size_t align = bytes >= kHuge ? kHuge : 64;
  if (bytes > std::numeric_limits<std::size_t>::max() - align) return nullptr;
  const std::size_t size = (bytes + align - 1) / align * align;
  void* p = std::aligned_alloc(align, size);
  // Only a hint: without it the run is slower, not wrong.
  if (p != nullptr && align == kHuge) ::madvise(p, size, MADV_HUGEPAGE);
  return p;
}

}  // namespace

int run_benchmark(const BenchmarkOptions& options) {
  ReportOutput out(options.output_fd);
  const std::int32_t n = options.n;
  const std::int32_t hb = options.hb;
  out.line(" number of equations:  " + format_free_integer(n));
  out.line(" Half bandwidth:  " + format_free_integer(hb));

  // A, B, X and the solver's workspace W, one after the other. For the
  // largest sizes the count passes 2^63 elements: it is summed unsigned,
  // and a byte count beyond size_t is refused rather than wrapped.
  const std::int32_t nrhs = 1;
  const std::int64_t la = band_storage_length(n, hb);
  const std::int64_t rhs = std::int64_t(std::max(n, 0)) * nrhs;
  const std::int64_t workspace =
      2 * std::int64_t(std::max(n, 0)) * std::max(hb, 0);
  const std::uint64_t elements =
      std::uint64_t(la) + 1 + 2 * std::uint64_t(rhs) + std::uint64_t(workspace);
  AllocateFn allocate = options.allocate ? options.allocate : default_allocate;
  float* work = nullptr;
  if (elements <= std::numeric_limits<std::size_t>::max() / sizeof(float))
    work = static_cast<float*>(allocate(elements * sizeof(float)));
  if (work == nullptr) {
    out.line(" Unable to allocate memory");
    out.flush();
    return 1;
  }
  // Every page is faulted in now, outside the timers, so that the first
  // timed solve does not also pay for the first touch of its workspace.
  std::memset(work, 0, elements * sizeof(float));
  // The same for this thread's scratch, which the solver's larger arrays
  // use; a thread without it solves all the same.
  if (void* scratch = thread_scratch(kKeptScratchBytes))
    std::memset(scratch, 0, kKeptScratchBytes);
  float* A = work;
  float* B = A + la;
  float* X = B + rhs;
  float* W = X + rhs;

  std::int32_t processors = options.processor_count;
  if (processors < 0) count_processors(processors);

  int exit_status = 0;
  for (std::int32_t i = 1; i <= processors; ++i) {
    out.line("");
    out.line((i == 1 ? " Processor: " : " Processors: ") + format_width2(i));
    set_team_size(i);
    make_test_problem(A, B, X, n, hb, nrhs);
    std::int32_t status = 0;
    float elapsed = 0, user = 0, kernel = 0, total = 0;
    start_timers();
    if (options.solve != nullptr) options.solve(A, n, hb, B, nrhs, W, status);
    stop_timers(elapsed, user, kernel, total);
    // The report stays as it is; a failed solve shows in the exit status.
    if (status != 0) exit_status = 1;
    out.line(" Elapsed Time (Seconds): " + format_fixed_8_2(elapsed));
    out.line(" CPU Time in User Mode (Seconds): " + format_fixed_8_2(user));
    out.line(" CPU Time in Kernel Mode (Seconds): " + format_fixed_8_2(kernel));
    out.line(" Total CPU Time (Seconds): " + format_fixed_8_2(total));
  }
  out.line("");
  out.flush();
  shutdown_runtime();
  std::free(work);
  // A report that could not be written is a failed run.
  return out.failed() ? 1 : exit_status;
}

}  // namespace pband
