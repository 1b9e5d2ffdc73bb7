// Helpers of the runtime tests: bounded polling, cyclic number arithmetic
// and a thread-safe record of faults seen on other threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "runtime/runtime.hpp"

namespace pband::test {

// Polls `done` until it holds or 10 s have passed; its last value.
template <class Done>
bool eventually(Done done) {
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The number k places after `number` in a cyclic table of `size`.
inline std::int32_t after(std::int32_t number, std::int32_t k,
                          std::int32_t size) {
  return (number - 1 + k) % size + 1;
}

// A manual-reset event that holds threads until it is opened.
struct Gate {
  Handle event = os_create_event(true, false);
  ~Gate() { os_close_handle(event); }
  void open() const { os_set_event(event); }
  void pass() const { os_wait_for_single_object(event, INFINITE); }
};

}  // namespace pband::test
