// Report lines: the exact field formats and the CR LF line output of the
// benchmark, with terminal-aware flushing.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <string>

#include "driver/benchmark.hpp"

namespace pband {

namespace {

std::string right_justify(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

}  // namespace

std::string format_free_integer(std::int32_t value) {
  return right_justify(std::to_string(value), 11);
}

std::string format_width2(std::int32_t value) {
  if (value > 99 || value < -9) return "**";
  return right_justify(std::to_string(value), 2);
}

std::string format_fixed_8_2(float value) {
  const std::string overflow(8, '*');
  if (!std::isfinite(value)) return overflow;
  const double magnitude = std::fabs(static_cast<double>(value));
  // Nothing of a million or more fits; smaller values stay in range below.
  if (magnitude >= 1.0e6) return overflow;
  // A float has 24 significant bits, so times 100 (7 bits) is exact in
  // double: round() then sees the exact tie and rounds it away from zero.
  const auto hundredths = static_cast<std::int64_t>(std::round(magnitude * 100.0));
  std::string text = value < 0.0f ? "-" : "";
  text += std::to_string(hundredths / 100);
  text += '.';
  const std::int64_t cents = hundredths % 100;
  text += static_cast<char>('0' + cents / 10);
  text += static_cast<char>('0' + cents % 10);
  if (text.size() > 8) return overflow;
  return right_justify(text, 8);
}

ReportOutput::ReportOutput(int fd) : fd_(fd), line_mode_(::isatty(fd) == 1) {}

ReportOutput::~ReportOutput() { flush(); }

void ReportOutput::line(std::string_view text) {
  if (failed_) return;
  write_bytes(text.data(), text.size());
  write_bytes("\r\n", 2);
  if (line_mode_) flush();
}

void ReportOutput::flush() {
  emit(buffer_, used_);
  used_ = 0;
}

void ReportOutput::write_bytes(const char* data, std::size_t size) {
  while (size > 0) {
    const std::size_t room = kBufferSize - used_;
    const std::size_t take = size < room ? size : room;
    std::copy(data, data + take, buffer_ + used_);
    used_ += take;
    data += take;
    size -= take;
    if (used_ == kBufferSize) flush();
  }
}

void ReportOutput::emit(const char* data, std::size_t size) {
  // Partial and interrupted writes are retried, and a descriptor that is
  // not ready is waited for. Any other failure loses the report: nothing
  // more is written, since later lines could only tear it further.
  while (size > 0 && !failed_) {
    const ssize_t written = ::write(fd_, data, size);
    if (written > 0) {
      data += written;
      size -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd_, POLLOUT, 0};
      if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
    }
    failed_ = true;
  }
}

}  // namespace pband
