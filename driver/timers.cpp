// Timers of one measured interval: wall-clock milliseconds from the tick
// counter and the user and kernel time of the whole process (all threads).
#include <cstdint>

#include "driver/benchmark.hpp"

namespace pband {

namespace {

struct TimerState {
  Handle process = 0;
  std::uint32_t start_tick = 0;
  std::uint32_t stop_tick = 0;
  FileTime start_times[4];  // creation, exit, kernel, user
  FileTime stop_times[4];
};

TimerState g_timer;

// The nearest binary32 to 1e-7, widened: the tick of the process times.
constexpr double kHundredNanoseconds = static_cast<double>(1.0e-7f);

}  // namespace

double filetime_to_real(const FileTime& t) {
  const std::uint64_t count = (std::uint64_t(t.high) << 32) | t.low;
  double value = static_cast<double>((count >> 56) & 0xFF);
  for (int byte = 6; byte >= 0; --byte)
    value = value * 256.0 + static_cast<double>((count >> (8 * byte)) & 0xFF);
  return value;
}

float elapsed_seconds(std::uint32_t start_tick, std::uint32_t stop_tick) {
  // Modulo 2^32 and read as signed, so an interval across a wrap is right.
  const auto ms = static_cast<std::int32_t>(stop_tick - start_tick);
  return static_cast<float>(static_cast<double>(ms) / 1000.0);
}

float cpu_seconds(const FileTime& start, const FileTime& stop) {
  return static_cast<float>((filetime_to_real(stop) - filetime_to_real(start)) *
                            kHundredNanoseconds);
}

void process_clock(std::int32_t mode, float& total, float& kernel, float& user,
                   float& elapsed) {
  TimerState& s = g_timer;
  if (mode != 1) {
    // The wall-clock interval encloses the processor-time interval.
    s.start_tick = os_get_tick_count();
    s.process = os_open_process(PROCESS_QUERY_INFORMATION, false,
                                os_get_current_process_id());
    os_get_process_times(s.process, &s.start_times[0], &s.start_times[1],
                         &s.start_times[2], &s.start_times[3]);
    return;
  }
  os_get_process_times(s.process, &s.stop_times[0], &s.stop_times[1],
                       &s.stop_times[2], &s.stop_times[3]);
  s.stop_tick = os_get_tick_count();
  elapsed = elapsed_seconds(s.start_tick, s.stop_tick);
  user = cpu_seconds(s.start_times[3], s.stop_times[3]);
  kernel = cpu_seconds(s.start_times[2], s.stop_times[2]);
  total = user + kernel;
  os_close_handle(s.process);
  s.process = 0;
}

void start_timers() {
  float unused = 0;
  process_clock(0, unused, unused, unused, unused);
}

void stop_timers(float& elapsed, float& user, float& kernel, float& total) {
  process_clock(1, total, kernel, user, elapsed);
}

}  // namespace pband
