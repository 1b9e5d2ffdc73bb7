// Results below the smallest normal number flushed to zero on this thread
// while a guard lives. The spikes of cyclic reduction decay through the
// subnormal range at the middle levels, where some processors take a
// hundred cycles per result; against values of ordinary size a flushed
// spike element drops terms far below half an ulp. Inputs are read as
// they are.
#pragma once

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace pband {

class FlushSubnormals {
 public:
  explicit FlushSubnormals(bool on) : on_(on) {
#if defined(__SSE__) || defined(__x86_64__)
    if (!on_) return;
    saved_ = _mm_getcsr() & kFlushBit;
    _mm_setcsr(_mm_getcsr() | kFlushBit);
#endif
  }
  // Gives back the caller's mode alone: the sticky exception flags this
  // thread's work raised stay for the caller to test.
  ~FlushSubnormals() {
#if defined(__SSE__) || defined(__x86_64__)
    if (on_) _mm_setcsr((_mm_getcsr() & ~kFlushBit) | saved_);
#endif
  }
  FlushSubnormals(const FlushSubnormals&) = delete;
  FlushSubnormals& operator=(const FlushSubnormals&) = delete;

 private:
  static constexpr unsigned kFlushBit = 0x8000u;
  bool on_;
  unsigned saved_ = 0;
};

}  // namespace pband
