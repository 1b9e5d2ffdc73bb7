// Stacks for the OS layer's threads, kept and reused. A stack the C
// library hands out comes back from every finished thread without its
// pages, and on a virtual machine each page faulted in again costs about
// ten microseconds: a short solve's workers would pay for their scratch
// on every call.
#include <atomic>
#include <cstddef>
#include <sys/mman.h>
#include <unistd.h>

#include "runtime/runtime_detail.hpp"
#include "runtime/thread_scratch.hpp"

namespace pband::detail {
namespace {

constexpr int kPooledStacks = 64;

struct PooledStack {
  std::atomic<bool> taken{false};
  // Touched only by the thread that holds `taken`.
  // Guard page, the stack, then the thread's scratch above its top.
  char* mapping = nullptr;
  std::size_t size = 0;  // of the stack, without the guard
};

PooledStack stacks[kPooledStacks];

}  // namespace

int take_thread_stack(std::size_t size, void** stack, std::size_t* usable) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  size = (size + page - 1) / page * page;
  for (int i = 0; i < kPooledStacks; ++i) {
    bool free = false;
    PooledStack& s = stacks[i];
    if (!s.taken.compare_exchange_strong(free, true, std::memory_order_acquire))
      continue;
    if (s.mapping != nullptr && s.size < size) {
      munmap(s.mapping, s.size + page + kKeptScratchBytes);
      s.mapping = nullptr;
    }
    if (s.mapping == nullptr) {
      void* m =
          mmap(nullptr, size + page + kKeptScratchBytes, PROT_READ | PROT_WRITE,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
      if (m == MAP_FAILED) {
        s.taken.store(false, std::memory_order_release);
        return -1;
      }
      // An overflow faults on the guard instead of writing past it.
      mprotect(m, page, PROT_NONE);
      s.mapping = static_cast<char*>(m);
      s.size = size;
    }
    *stack = s.mapping + page;
    *usable = s.size;
    return i;
  }
  return -1;
}

void* kept_stack_scratch(int index) {
  if (index < 0 || index >= kPooledStacks) return nullptr;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const PooledStack& s = stacks[index];
  return s.mapping == nullptr ? nullptr : s.mapping + page + s.size;
}

void give_thread_stack(int index) {
  if (index >= 0 && index < kPooledStacks)
    stacks[index].taken.store(false, std::memory_order_release);
}

}  // namespace pband::detail
