// What the C interface shares across element types: status texts, the
// version and the workspace allocation.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

#include "api/workspace.hpp"
#include "pband/pband.h"

namespace pband::api {
namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kCacheLine = 64;
// The largest workspace kept from one call to the next.
constexpr std::size_t kMostKept = std::size_t(1) << 30;

// The idle workspace kept for the next call: a program that solves again
// and again would otherwise have the kernel clear hundreds of megabytes of
// fresh pages at every call (40 ms of a 160 ms solve at n = 2·10⁶, hb 8,
// double). Its size stands in its first bytes while it is idle; taking and
// keeping are single exchanges, so no lock can be left held by a fork.
std::atomic<void*> kept{nullptr};

std::size_t size_of_kept(void* memory) {
  std::size_t size = 0;
  std::memcpy(&size, memory, sizeof size);
  return size;
}

}  // namespace

// Large workspaces start on a huge-page boundary and ask for huge pages
// (best effort: an error changes nothing), which saves the TLB misses of
// a sweep over many megabytes.
void* allocate_workspace(std::size_t bytes, std::size_t& held) {
  const bool huge = bytes >= kHugePage;
  held = bytes;
  if (huge) {
    if (void* k = kept.exchange(nullptr, std::memory_order_acquire)) {
      const std::size_t size = size_of_kept(k);
      if (size >= bytes) {
        held = size;
        return k;
      }
      std::free(k);
    }
  }
  void* memory = nullptr;
  if (posix_memalign(&memory, huge ? kHugePage : kCacheLine, bytes) != 0)
    return nullptr;
  if (huge) (void)madvise(memory, bytes, MADV_HUGEPAGE);
  return memory;
}

void release_workspace(void* memory, std::size_t held) {
  if (memory == nullptr) return;
  if (held < kHugePage || held > kMostKept) return std::free(memory);
  std::memcpy(memory, &held, sizeof held);
  // The latest kept; an earlier one goes back to the system.
  std::free(kept.exchange(memory, std::memory_order_acq_rel));
}

std::size_t kept_workspace_bytes() {
  void* k = kept.exchange(nullptr, std::memory_order_acquire);
  if (k == nullptr) return 0;
  const std::size_t size = size_of_kept(k);
  release_workspace(k, size);
  return size;
}

}  // namespace pband::api

extern "C" {

const char* pband_status_message(int status) {
  static const char* const invalid[] = {
      "argument 1 is invalid",  "argument 2 is invalid",
      "argument 3 is invalid",  "argument 4 is invalid",
      "argument 5 is invalid",  "argument 6 is invalid",
      "argument 7 is invalid",  "argument 8 is invalid",
      "argument 9 is invalid",  "argument 10 is invalid",
      "argument 11 is invalid", "argument 12 is invalid"};
  if (status == PBAND_SUCCESS) return "success";
  if (status > 0)
    return "the matrix is not positive definite (a pivot was not positive; "
           "complex: a pivot was zero; a batch: in at least one system)";
  if (status == PBAND_OUT_OF_MEMORY) return "out of memory for the workspace";
  if (status >= -12) return invalid[-status - 1];
  // The refinement's arguments past the twelfth.
  static const char* const further[] = {
      "argument 13 is invalid", "argument 14 is invalid",
      "argument 15 is invalid", "argument 16 is invalid"};
  if (status >= -16) return further[-status - 13];
  return "unknown status";
}

const char* pband_version(void) { return PBAND_VERSION_STRING; }

void pband_release_memory(void) {
  std::free(pband::api::kept.exchange(nullptr, std::memory_order_acq_rel));
}

}  // extern "C"
