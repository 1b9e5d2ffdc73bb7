// Field formats and line output of the report.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "driver/benchmark.hpp"

namespace pband {
namespace {

TEST(FixedFormat, RoundsTheExactBinaryValueWithTiesAwayFromZero) {
  struct Case { float value; const char* text; };
  const Case cases[] = {
      {0.5f, "    0.50"},
      {0.125f, "    0.13"},          // exact tie: away from zero
      {-0.125f, "   -0.13"},
      {0.375f, "    0.38"},
      {0.005f, "    0.00"},          // stored just below 0.005
      {0.0050001f, "    0.01"},
      {std::nextafter(0.125f, 0.0f), "    0.12"},
      {std::nextafter(0.125f, 1.0f), "    0.13"},
      {1.234f, "    1.23"},
      {3.27f, "    3.27"},
      {6.44f, "    6.44"},
      {0.0f, "    0.00"},
      {-0.001f, "   -0.00"},
      {-2.5f, "   -2.50"},
      {99999.99f, "99999.99"},       // eight characters still fit
      {-9999.996f, "********"},      // rounds to -10000.00
      {100000.0f, "********"},
      {-9999.99f, "-9999.99"},
      {-10000.0f, "********"},
      {1.0e30f, "********"},
      {INFINITY, "********"},
      {NAN, "********"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(format_fixed_8_2(c.value), c.text) << "value " << c.value;
}

TEST(IntegerFormats, FreeFormAndWidthTwo) {
  EXPECT_EQ(format_free_integer(2000000), "    2000000");
  EXPECT_EQ(format_free_integer(8), "          8");
  EXPECT_EQ(format_free_integer(-5), "         -5");
  EXPECT_EQ(format_free_integer(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(format_width2(1), " 1");
  EXPECT_EQ(format_width2(12), "12");
  EXPECT_EQ(format_width2(99), "99");
  EXPECT_EQ(format_width2(100), "**");
  EXPECT_EQ(format_width2(-9), "-9");
  EXPECT_EQ(format_width2(-10), "**");
}

std::string read_all(int fd) {
  std::string text;
  char chunk[4096];
  ssize_t got;
  while ((got = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, got);
  return text;
}

TEST(ReportOutput, BuffersUntilFlushWhenNotATerminal) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  {
    ReportOutput out(fds[1]);
    out.line(" Processor:  1");
    out.line("");
    EXPECT_EQ(read_all(fds[0]), "");  // still in the buffer
    out.flush();
    EXPECT_EQ(read_all(fds[0]), " Processor:  1\r\n\r\n");
    out.line("last");
  }  // destruction writes the rest
  EXPECT_EQ(read_all(fds[0]), "last\r\n");
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(ReportOutput, WritesAFullBufferAtOnce) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  ReportOutput out(fds[1]);
  const std::string text(998, 'x');  // 1000 bytes with CR LF
  for (int i = 0; i < 8; ++i) out.line(text);
  EXPECT_EQ(read_all(fds[0]), "");
  out.line(text);  // crosses 8192: exactly one full buffer goes out
  EXPECT_EQ(read_all(fds[0]).size(), ReportOutput::kBufferSize);
  out.flush();
  EXPECT_EQ(read_all(fds[0]).size(), 9000 - ReportOutput::kBufferSize);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(ReportOutput, FlushesEveryLineOnATerminal) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) GTEST_SKIP() << "no pseudo-terminal available";
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  {
    ReportOutput out(slave);
    out.line(" Processors:  2");
    ::usleep(20000);
    EXPECT_EQ(read_all(master), " Processors:  2\r\n");
  }
  ::close(slave);
  ::close(master);
}

}  // namespace
}  // namespace pband
