// The reserved arrays of the distributed solver over mmap: private,
// anonymous and without swap reserved, so the kernel commits a page only
// when it is first written.
#include "mpi/virtual_array.hpp"

#include <sys/mman.h>

#include <cstring>

namespace pband::mpi {

namespace {
constexpr std::size_t kSlack = 1 << 16;
}

VirtualArray::~VirtualArray() {
  if (data_ != nullptr) munmap(data_, bytes_);
}

bool VirtualArray::reserve(std::size_t bytes) {
  if (bytes == 0) return true;
  if (bytes > (std::size_t(1) << 46)) return false;
  const std::size_t total = bytes + kSlack;
  void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return false;
  data_ = p;
  bytes_ = total;
  return true;
}

void VirtualArray::fill(unsigned char byte) {
  if (data_ != nullptr) std::memset(data_, byte, bytes_);
}

}  // namespace pband::mpi
