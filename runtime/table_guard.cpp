// Creation and closing of the tables' guard mutexes. One process-wide lock
// makes "create on first use" safe even when two threads use a table for
// the first time at once, and lets shutdown_runtime reset the guards.
#include <mutex>

#include "runtime/runtime_detail.hpp"

namespace pband::detail {
namespace {
std::mutex guard_creation;  // constant-initialized: usable before main
}

Handle table_guard(std::atomic<Handle>& guard) {
  Handle h = guard.load(std::memory_order_acquire);
  if (h != 0) return h;
  std::lock_guard<std::mutex> hold(guard_creation);
  h = guard.load(std::memory_order_relaxed);
  if (h == 0) {
    h = os_create_mutex(false);
    guard.store(h, std::memory_order_release);
  }
  return h;
}

void close_table_guard(std::atomic<Handle>& guard) {
  std::lock_guard<std::mutex> hold(guard_creation);
  Handle h = guard.exchange(0, std::memory_order_acq_rel);
  if (h != 0) os_close_handle(h);
}

}  // namespace pband::detail
