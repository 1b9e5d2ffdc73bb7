// The OS layer's event: one futex word, so that a set or a wait that
// finds no waiter makes no system call, and a waiter spins briefly before
// it sleeps. Runtime-internal: only the OS layer keeps events.
#pragma once

#include <atomic>
#include <cstdint>
#include <time.h>

#include "runtime/os_layer.hpp"

namespace pband::detail {

// Auto-reset: each set lets exactly one waiter through, or stays set
// while nobody waits. Manual reset: stays set, and lets all through,
// until reset. Constant-initialized, so it can live in a static pool.
class FutexEvent {
 public:
  // The event as created. Nobody may be inside an operation on it.
  void init(bool manual_reset, bool initial_state);
  bool manual() const { return manual_; }
  // Waits until the absolute monotonic `deadline` (nullptr = without
  // limit); `poll_only` only looks. WAIT_OBJECT_0 or WAIT_TIMEOUT.
  WaitResult wait(const timespec* deadline, bool poll_only);
  void set();
  void reset();

 private:
  // Takes what lets a registered waiter through; false when nothing does.
  bool take(std::uint32_t& w);

  std::atomic<std::uint32_t> word_{0};
  bool manual_ = false;
};

}  // namespace pband::detail
