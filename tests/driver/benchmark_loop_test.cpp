// The main loop in-process on a small system with stand-in solvers: the
// exact report structure, the rebuilt system, team sizes and exit status.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/benchmark.hpp"
#include "solver/band_solver.hpp"

namespace pband {
namespace {

struct Capture {
  std::FILE* file = std::tmpfile();
  ~Capture() { std::fclose(file); }
  int fd() const { return fileno(file); }
  std::string text() const {
    std::string all;
    char chunk[4096];
    ssize_t got;
    for (off_t at = 0; (got = ::pread(fd(), chunk, sizeof chunk, at)) > 0; at += got)
      all.append(chunk, got);
    return all;
  }
};

const char* kTiming =
    " Elapsed Time \\(Seconds\\): [ 0-9.]{8}\r\n"
    " CPU Time in User Mode \\(Seconds\\): [ 0-9.]{8}\r\n"
    " CPU Time in Kernel Mode \\(Seconds\\): [ 0-9.]{8}\r\n"
    " Total CPU Time \\(Seconds\\): [ 0-9.]{8}\r\n";

// What every stand-in solve saw.
struct Seen {
  std::vector<std::int32_t> team_sizes;
  std::vector<float> first_b;
  bool same_system = true;
  std::int32_t status = 0;
} seen;

void recording_solve(float* A, std::int32_t n, std::int32_t hb, float* B,
                     std::int32_t nrhs, float* W, std::int32_t& status) {
  std::int32_t team = 0;
  get_team_size(team);
  seen.team_sizes.push_back(team);
  std::vector<float> b(B, B + std::int64_t(n) * nrhs);
  if (seen.first_b.empty()) seen.first_b = b;
  seen.same_system = seen.same_system && b == seen.first_b && A[0] == 10.0f;
  // Overwrite like a solver does, so a missing rebuild shows.
  for (std::int64_t k = 0; k < band_storage_length(n, hb); ++k) A[k] = -1;
  for (std::int64_t k = 0; k < std::int64_t(n) * nrhs; ++k) B[k] = -1;
  for (std::int64_t k = 0; k < 2 * std::int64_t(n) * hb; ++k) W[k] = -1;
  status = seen.status;
}

BenchmarkOptions small_run(const Capture& out, std::int32_t processors) {
  BenchmarkOptions options;
  options.n = 2000;
  options.hb = 8;
  options.output_fd = out.fd();
  options.solve = &recording_solve;
  options.processor_count = processors;
  seen = Seen{};
  return options;
}

std::string expected_pattern(int runs, const char* size_lines) {
  std::string pattern = size_lines;
  for (int i = 1; i <= runs; ++i) {
    char header[64];
    std::snprintf(header, sizeof header, "\r\n %s: %2d\r\n",
                  i == 1 ? "Processor" : "Processors", i);
    pattern += header;
    pattern += kTiming;
  }
  return pattern + "\r\n";
}

const char* kSizeLines =
    " number of equations:         2000\r\n Half bandwidth:            8\r\n";

TEST(BenchmarkLoop, OneRunPerProcessorWithExactLines) {
  Capture out;
  std::int32_t processors = 0;
  count_processors(processors);
  EXPECT_EQ(run_benchmark(small_run(out, processors)), 0);
  EXPECT_TRUE(std::regex_match(out.text(), std::regex(expected_pattern(processors, kSizeLines))))
      << out.text();
  ASSERT_EQ(seen.team_sizes.size(), std::size_t(processors));
  for (std::int32_t i = 0; i < processors; ++i) EXPECT_EQ(seen.team_sizes[i], i + 1);
  EXPECT_TRUE(seen.same_system);
}

TEST(BenchmarkLoop, HeadersShowTheRunNumber) {
  Capture out;
  // More runs than processors: the header counts on, the team stays capped.
  EXPECT_EQ(run_benchmark(small_run(out, 4)), 0);
  EXPECT_TRUE(std::regex_match(out.text(), std::regex(expected_pattern(4, kSizeLines))))
      << out.text();
  std::int32_t processors = 0;
  count_processors(processors);
  for (std::size_t i = 0; i < seen.team_sizes.size(); ++i)
    EXPECT_EQ(seen.team_sizes[i], std::min<std::int32_t>(i + 1, processors));
  EXPECT_TRUE(seen.same_system);
}

TEST(BenchmarkLoop, NoProcessorsNoRuns) {
  Capture out;
  EXPECT_EQ(run_benchmark(small_run(out, 0)), 0);
  EXPECT_EQ(out.text(), std::string(kSizeLines) + "\r\n");
}

TEST(BenchmarkLoop, FailedSolveKeepsTheReportAndExitsWithOne) {
  Capture out;
  BenchmarkOptions options = small_run(out, 2);
  seen.status = 1;
  EXPECT_EQ(run_benchmark(options), 1);
  EXPECT_TRUE(std::regex_match(out.text(), std::regex(expected_pattern(2, kSizeLines))))
      << out.text();
}

void* no_memory(std::size_t) { return nullptr; }

TEST(BenchmarkLoop, AllocationFailurePrintsOneLineAndExitsWithOne) {
  Capture out;
  BenchmarkOptions options = small_run(out, 2);
  options.allocate = &no_memory;
  EXPECT_EQ(run_benchmark(options), 1);
  EXPECT_EQ(out.text(), std::string(kSizeLines) + " Unable to allocate memory\r\n");
  EXPECT_TRUE(seen.team_sizes.empty());
}

// A report written into a descriptor that fails: /dev/full (ENOSPC) and a
// pipe nobody reads (EPIPE, with SIGPIPE ignored here; the program keeps
// its default action). The real solver runs on teams of 1 and 2, and every
// slot and worker it took must be back.
TEST(BenchmarkLoop, LostReportExitsWithOneAndReleasesTheRuntime) {
  struct Sink {
    const char* what;
    int fd;
  };
  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ::close(pipe_fds[0]);
  const auto old_action = std::signal(SIGPIPE, SIG_IGN);
  for (const Sink& sink : {Sink{"/dev/full", full}, Sink{"pipe", pipe_fds[1]}}) {
    BenchmarkOptions options;
    options.n = 3000;
    options.output_fd = sink.fd;
    options.solve = &solve_band_system_r4;
    options.processor_count = 2;
    EXPECT_EQ(run_benchmark(options), 1) << sink.what;
    EXPECT_EQ(sync_slots_in_use(), 0) << sink.what;
    EXPECT_EQ(workers_in_use(), 0) << sink.what;
  }
  std::signal(SIGPIPE, old_action);
  ::close(full);
  ::close(pipe_fds[1]);
}

// After the first failed write nothing more goes out, even once the
// descriptor would take it again.
TEST(BenchmarkLoop, ReportWritesNothingAfterAFailure) {
  Capture later;
  const int fd = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  ReportOutput out(fd);
  out.line(" first");
  out.flush();
  EXPECT_TRUE(out.failed());
  ASSERT_EQ(::dup2(later.fd(), fd), fd);
  out.line(" second");
  out.flush();
  EXPECT_TRUE(out.failed());
  EXPECT_EQ(later.text(), "");
  ::close(fd);
}

}  // namespace
}  // namespace pband
