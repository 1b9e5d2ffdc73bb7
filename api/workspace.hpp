// Workspace the library allocates for one call: aligned, and backed by
// huge pages where the system offers them when it is large. The last
// large one released is kept for the next call (pband_release_memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace pband::api {

// nullptr when the memory cannot be had; else at least `bytes`, and
// `held` the bytes it holds. Release with release_workspace(memory, held).
void* allocate_workspace(std::size_t bytes, std::size_t& held);
void release_workspace(void* memory, std::size_t held);
// The bytes kept for the next call (0: none), for tests.
std::size_t kept_workspace_bytes();

// Owns the workspace of `elements` elements of T for one scope; none for
// 0 or less. ok() is false when it could not be allocated.
template <class T>
class Workspace {
 public:
  explicit Workspace(std::int64_t elements) {
    if (elements <= 0) return;
    if (elements >
        std::numeric_limits<std::ptrdiff_t>::max() / std::int64_t(sizeof(T))) {
      failed_ = true;
      return;
    }
    data_ = static_cast<T*>(allocate_workspace(
        static_cast<std::size_t>(elements) * sizeof(T), held_));
    failed_ = data_ == nullptr;
  }
  ~Workspace() { release_workspace(data_, held_); }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  bool ok() const { return !failed_; }
  T* data() const { return data_; }

 private:
  T* data_ = nullptr;
  std::size_t held_ = 0;
  bool failed_ = false;
};

}  // namespace pband::api
