// The reserved arrays of the distributed solver over mmap: private,
// anonymous and without swap reserved, so the kernel commits a page only
// when it is first written.
#include "mpi/virtual_array.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>

namespace pband::mpi {

namespace {
constexpr std::size_t kSlack = 1 << 16;
constexpr std::size_t kHugePage = std::size_t(2) << 20;
}  // namespace

VirtualArray::~VirtualArray() {
  if (mapped_ != nullptr) munmap(mapped_, mapped_bytes_);
}

bool VirtualArray::reserve(std::size_t bytes) {
  if (bytes == 0) return true;
  if (bytes > (std::size_t(1) << 46)) return false;
  // Starting on a huge-page boundary, so that huge pages can cover it
  // from its first byte.
  const std::size_t total = bytes + kSlack;
  void* p = mmap(nullptr, total + kHugePage, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return false;
  mapped_ = p;
  mapped_bytes_ = total + kHugePage;
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  data_ = reinterpret_cast<void*>((at + kHugePage - 1) / kHugePage * kHugePage);
  bytes_ = total;
  return true;
}

void VirtualArray::prefer_huge_pages(std::size_t from, std::size_t to) {
  if (data_ == nullptr) return;
  // Whole huge pages only, by address: the rest keeps small pages.
  const auto base = reinterpret_cast<std::uintptr_t>(data_);
  const std::uintptr_t lo =
      (base + from + kHugePage - 1) / kHugePage * kHugePage;
  const std::uintptr_t hi =
      (base + std::min(to, bytes_)) / kHugePage * kHugePage;
  if (hi > lo)
    (void)madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
}

void VirtualArray::fill(unsigned char byte) {
  if (data_ != nullptr) std::memset(data_, byte, bytes_);
}

}  // namespace pband::mpi
