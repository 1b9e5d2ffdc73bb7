// Each thread's scratch: lent from its kept stack's mapping when the OS
// layer started it, else mapped on first use and kept until the thread
// exits, so that a call pays for the pages once per thread, not per call.
#include "runtime/thread_scratch.hpp"

#include <atomic>
#include <cstddef>
#include <sys/mman.h>
#include <unistd.h>

#include "runtime/runtime_detail.hpp"

namespace pband {
namespace {

// A block this thread mapped itself; unmapped when the thread exits.
struct OwnScratch {
  void* block = nullptr;
  std::size_t size = 0;
  ~OwnScratch() {
    if (block != nullptr) munmap(block, size);
  }
};

thread_local OwnScratch own;
thread_local void* lent = nullptr;
thread_local std::size_t lent_size = 0;
std::atomic<bool> failing{false};

}  // namespace

namespace detail {
void lend_thread_scratch(void* block, std::size_t size) {
  lent = block;
  lent_size = block != nullptr ? size : 0;
}
}  // namespace detail

void* thread_scratch(std::size_t bytes) {
  if (lent != nullptr && lent_size >= bytes) return lent;
  if (own.block != nullptr && own.size >= bytes) return own.block;
  if (failing.load(std::memory_order_relaxed)) return nullptr;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t size = (bytes + page - 1) / page * page;
  void* m = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return nullptr;
  if (own.block != nullptr) munmap(own.block, own.size);
  own.block = m;
  own.size = size;
  return m;
}

namespace testing {
void fail_thread_scratch(bool on) {
  failing.store(on, std::memory_order_relaxed);
}
}  // namespace testing

}  // namespace pband
