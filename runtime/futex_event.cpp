// The futex event and its spin policy, apart from the OS layer's handle
// pool: the word's protocol is the subtle part of the layer and is read
// and changed on its own.
#include "runtime/futex_event.hpp"

#include <cerrno>
#include <climits>
#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pband::detail {
namespace {

// Event word: bit 0 set (signalled), bits 1-15 waiters inside a wait,
// bits 16-30 releases handed by sets to waiters not yet through. A set
// that finds more waiters than handed releases hands one more, so each
// set lets exactly one waiter through even before the previous one has
// woken; with no waiter left to hand to, it sets bit 0, once.
constexpr std::uint32_t EVENT_SET = 1;
constexpr std::uint32_t EVENT_WAITER = 1u << 1;
constexpr std::uint32_t EVENT_GRANT = 1u << 16;
constexpr std::uint32_t event_waiters(std::uint32_t w) {
  return (w >> 1) & 0x7FFF;
}
constexpr std::uint32_t event_grants(std::uint32_t w) {
  return (w >> 16) & 0x7FFF;
}
// Polls of the word before a waiter registers and sleeps: some tens of
// microseconds, longer than the hand-offs of a barrier chain and than
// most phases' imbalance on idle processors, shorter than a wake-up.
constexpr int EVENT_SPINS = 4000;

long futex(std::atomic<std::uint32_t>* word, int op, std::uint32_t value,
           const timespec* deadline) {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
  return syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), op, value,
                 deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
}

// Sleeps while the word still holds `seen`, until the absolute monotonic
// deadline (nullptr = without limit); false once it has passed.
bool futex_sleep(std::atomic<std::uint32_t>* word, std::uint32_t seen,
                 const timespec* deadline) {
  long rc = futex(word, FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, seen, deadline);
  return !(rc != 0 && errno == ETIMEDOUT);
}

void futex_wake(std::atomic<std::uint32_t>* word, int count) {
  futex(word, FUTEX_WAKE | FUTEX_PRIVATE_FLAG,
        static_cast<std::uint32_t>(count), nullptr);
}

inline void cpu_relax() { __builtin_ia32_pause(); }

}  // namespace

void FutexEvent::init(bool manual_reset, bool initial_state) {
  manual_ = manual_reset;
  word_.store(initial_state ? EVENT_SET : 0, std::memory_order_relaxed);
}

// Takes what lets a registered waiter through: a handed release, or the
// set bit (an auto-reset event clears it; a manual one keeps it). The
// acquire pairs with the set's release.
bool FutexEvent::take(std::uint32_t& w) {
  for (;;) {
    std::uint32_t next;
    if (!manual_ && event_grants(w) > 0) {
      next = w - EVENT_GRANT - EVENT_WAITER;
    } else if ((w & EVENT_SET) != 0) {
      next = (manual_ ? w : w & ~EVENT_SET) - EVENT_WAITER;
    } else {
      return false;
    }
    if (word_.compare_exchange_weak(w, next, std::memory_order_acquire,
                                    std::memory_order_relaxed))
      return true;
  }
}

WaitResult FutexEvent::wait(const timespec* deadline, bool poll_only) {
  std::atomic<std::uint32_t>& word = word_;
  // Set and nobody to hand it to: take it without registering. A waiter
  // polls for that a while before it registers, so that a set that comes
  // meanwhile finds nobody to wake and makes no system call.
  std::uint32_t w = word.load(std::memory_order_relaxed);
  for (int spin = 0;; ++spin) {
    while ((w & EVENT_SET) != 0) {
      const std::uint32_t next = manual_ ? w : w & ~EVENT_SET;
      if (word.compare_exchange_weak(w, next, std::memory_order_acquire,
                                     std::memory_order_relaxed))
        return WAIT_OBJECT_0;
    }
    if (poll_only) return WAIT_TIMEOUT;
    if (spin == EVENT_SPINS) break;
    // Now and then give the processor away, in case the thread that will
    // set the event waits for it (more threads than processors).
    if (spin % 128 == 127)
      sched_yield();
    else
      cpu_relax();
    w = word.load(std::memory_order_relaxed);
  }
  w = word.fetch_add(EVENT_WAITER, std::memory_order_relaxed) + EVENT_WAITER;
  for (;;) {
    if (take(w)) return WAIT_OBJECT_0;
    if (!futex_sleep(&word, w, deadline)) {
      // Timed out: leave, unless a release was handed over meanwhile.
      w = word.load(std::memory_order_relaxed);
      for (;;) {
        if (take(w)) return WAIT_OBJECT_0;
        if (word.compare_exchange_weak(w, w - EVENT_WAITER,
                                       std::memory_order_relaxed))
          return WAIT_TIMEOUT;
      }
    }
    w = word.load(std::memory_order_relaxed);
  }
}

// Auto-reset: hands the release to a waiter that has none yet, or sets
// the event once. Manual reset: sets it and wakes every waiter.
void FutexEvent::set() {
  std::atomic<std::uint32_t>& word = word_;
  std::uint32_t w = word.load(std::memory_order_relaxed);
  for (;;) {
    std::uint32_t next;
    const bool hand = !manual_ && event_waiters(w) > event_grants(w);
    if (hand)
      next = w + EVENT_GRANT;
    else
      next = w | EVENT_SET;
    if (word.compare_exchange_weak(w, next, std::memory_order_release,
                                   std::memory_order_relaxed)) {
      // Only a handed release or a manual set has someone to wake.
      if (hand)
        futex_wake(&word, 1);
      else if (manual_ && event_waiters(w) > 0)
        futex_wake(&word, INT_MAX);
      return;
    }
  }
}

void FutexEvent::reset() {
  word_.fetch_and(~EVENT_SET, std::memory_order_relaxed);
}

}  // namespace pband::detail
