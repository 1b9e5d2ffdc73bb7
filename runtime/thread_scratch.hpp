// Scratch memory the runtime keeps for each thread, reused from one call
// to the next, so that a routine's large working arrays never live on a
// stack that belongs to its caller.
#pragma once

#include <cstddef>

namespace pband {

// Bytes of scratch kept beside each of the runtime's own thread stacks.
inline constexpr std::size_t kKeptScratchBytes = std::size_t(512) << 10;

// This thread's scratch of at least `bytes`, page-aligned, or nullptr when
// it cannot be had. A thread the OS layer starts finds its block beside
// its kept stack; any other thread maps one on first use, keeps it for
// later calls and frees it when it exits (a larger request replaces it).
// Its contents are undefined on every call.
void* thread_scratch(std::size_t bytes);

namespace testing {
// While on, a request that needs new memory fails (returns nullptr);
// blocks a thread already has are still handed out.
void fail_thread_scratch(bool on);
}  // namespace testing

}  // namespace pband
