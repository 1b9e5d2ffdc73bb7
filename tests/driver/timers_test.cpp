// Timer arithmetic: exact conversion of 100-ns counts, tick wrap, and a
// measured interval around real work.
#include <cstdint>
#include <ctime>

#include <gtest/gtest.h>

#include "driver/benchmark.hpp"

namespace pband {
namespace {

FileTime filetime(std::uint64_t count) {
  return FileTime{static_cast<std::uint32_t>(count),
                  static_cast<std::uint32_t>(count >> 32)};
}

TEST(Timers, FiletimeConversionIsExactBelowTwoToThe53) {
  const std::uint64_t counts[] = {0, 1, 255, 256, 0x0102030405060708ull,
                                  (1ull << 53) - 1, 123456789012345ull};
  for (std::uint64_t c : counts)
    EXPECT_EQ(filetime_to_real(filetime(c)), static_cast<double>(c)) << c;
}

TEST(Timers, ElapsedFromTicks) {
  EXPECT_EQ(elapsed_seconds(1000, 2234), 1.234f);
  EXPECT_EQ(format_fixed_8_2(elapsed_seconds(1000, 2234)), "    1.23");
  EXPECT_EQ(elapsed_seconds(5, 5), 0.0f);
  // Across the wrap of the 32-bit counter.
  EXPECT_EQ(elapsed_seconds(0xFFFFFF00u, 0x00000100u), 0.512f);
}

TEST(Timers, CpuSecondsUseTheSinglePrecisionTick) {
  // 10^7 counts times the binary32 nearest 1e-7, rounded to single.
  EXPECT_EQ(cpu_seconds(filetime(0), filetime(10000000)),
            static_cast<float>(10000000.0 * static_cast<double>(1.0e-7f)));
  EXPECT_EQ(cpu_seconds(filetime(5), filetime(5)), 0.0f);
}

TEST(Timers, MeasureRealWork) {
  float elapsed = -1, user = -1, kernel = -1, total = -1;
  start_timers();
  const std::uint32_t begin = os_get_tick_count();
  volatile double sink = 0;
  // At least 200 ms, and on a loaded machine until this process has had
  // 100 ms of processor time (4 s at most), so the user time is there.
  const std::clock_t cpu_begin = std::clock();
  while (os_get_tick_count() - begin < 200 ||
         (std::clock() - cpu_begin < CLOCKS_PER_SEC / 10 &&
          os_get_tick_count() - begin < 4000))
    for (int i = 0; i < 100000; ++i) sink = sink + 1.0;
  stop_timers(elapsed, user, kernel, total);
  EXPECT_GE(elapsed, 0.2f);
  EXPECT_LT(elapsed, 5.0f);
  EXPECT_GT(user, 0.05f);
  EXPECT_GE(kernel, 0.0f);
  EXPECT_EQ(total, user + kernel);
  EXPECT_LE(user + kernel, elapsed * 4 + 0.1f);
}

}  // namespace
}  // namespace pband
