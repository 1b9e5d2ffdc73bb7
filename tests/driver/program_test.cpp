// The whole program, run as a user runs it, pinned to one processor and to
// two: exact line structure and bytes, nothing on standard error, status 0.
#include <sys/wait.h>

#include <cstdio>
#include <regex>
#include <string>

#include <gtest/gtest.h>

namespace {

struct ProgramRun {
  std::string out;
  int status = -1;
};

ProgramRun run_pinned(const char* cpus) {
  ProgramRun run;
  const std::string command = std::string("taskset -c ") + cpus + " " +
                              PBAND_BENCH1_PATH + " 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, got);
  const int raw = ::pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

std::string timing_lines() {
  const std::string field = "[ 0-9.]{8}\r\n";
  return " Elapsed Time \\(Seconds\\): " + field +
         " CPU Time in User Mode \\(Seconds\\): " + field +
         " CPU Time in Kernel Mode \\(Seconds\\): " + field +
         " Total CPU Time \\(Seconds\\): " + field;
}

const std::string kHead =
    " number of equations:      2000000\r\n"
    " Half bandwidth:            8\r\n";

bool has_processors(int count) {
  return std::system(("taskset -c 0-" + std::to_string(count - 1) +
                      " true >/dev/null 2>&1").c_str()) == 0;
}

TEST(Program, OneProcessor) {
  const ProgramRun run = run_pinned("0");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(std::regex_match(
      run.out, std::regex(kHead + "\r\n Processor:  1\r\n" + timing_lines() + "\r\n")))
      << run.out;
}

TEST(Program, TwoProcessors) {
  if (!has_processors(2)) GTEST_SKIP() << "fewer than two processors";
  const ProgramRun run = run_pinned("0,1");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(std::regex_match(
      run.out, std::regex(kHead + "\r\n Processor:  1\r\n" + timing_lines() +
                          "\r\n Processors:  2\r\n" + timing_lines() + "\r\n")))
      << run.out;
}

}  // namespace
