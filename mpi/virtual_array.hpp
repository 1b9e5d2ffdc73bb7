// Private header of the distributed solver: an array of the whole
// system's size reserved in the address space without memory behind it,
// so that the solver's block operations may address it by global
// position while only the pages a rank touches (its blocks and the parts
// of neighbours it receives) take memory.
#pragma once

#include <cstddef>

namespace pband::mpi {

class VirtualArray {
 public:
  VirtualArray() = default;
  VirtualArray(const VirtualArray&) = delete;
  VirtualArray& operator=(const VirtualArray&) = delete;
  ~VirtualArray();

  // Reserves `bytes` (a few pages more, so that no form reaching a
  // little past the end can fault), zero when first touched. False when
  // the address space cannot be had; 0 bytes reserves nothing and
  // succeeds.
  bool reserve(std::size_t bytes);
  void* data() const { return data_; }

  // Asks for huge pages over bytes [from, to) (best effort): the part a
  // rank sweeps, which then costs fewer page faults and TLB misses. The
  // rest keeps small pages, so a neighbour's part costs little memory.
  void prefer_huge_pages(std::size_t from, std::size_t to);

  // Tests only: fill every reserved byte with `byte`, so that a read of
  // a part never received shows in the result.
  void fill(unsigned char byte);

 private:
  void* mapped_ = nullptr;
  std::size_t mapped_bytes_ = 0;
  void* data_ = nullptr;
  std::size_t bytes_ = 0;
};

}  // namespace pband::mpi
