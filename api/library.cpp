// What the C interface shares across element types: status texts, the
// version and the workspace allocation.
#include <cstdlib>
#include <sys/mman.h>

#include "api/workspace.hpp"
#include "pband/pband.h"

namespace pband::api {
namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kCacheLine = 64;

}  // namespace

// Large workspaces start on a huge-page boundary and ask for huge pages
// (best effort: an error changes nothing), which saves the TLB misses of
// a sweep over many megabytes.
void* allocate_workspace(std::size_t bytes) {
  const bool huge = bytes >= kHugePage;
  void* memory = nullptr;
  if (posix_memalign(&memory, huge ? kHugePage : kCacheLine, bytes) != 0)
    return nullptr;
  if (huge) (void)madvise(memory, bytes, MADV_HUGEPAGE);
  return memory;
}

void release_workspace(void* memory) { std::free(memory); }

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

}  // extern "C"
