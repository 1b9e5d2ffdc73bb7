// Private header of the distributed solver: the four arrays of a solve at
// their global positions, and one round of point-to-point messages that
// moves parts of them between ranks. Both ends of a message list its
// parts in the same order, so a message carries the elements alone.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "mpi/block_layout.hpp"
#include "pband/pband_mpi.h"

namespace pband::mpi {

// The arrays in the solver's indexing (solver/band_arrays.hpp): band
// column j at a + (j-1)(hb+1), coupling row i at (i-1)·hb, saved column
// j at (j-1)·hb, right-hand side q row i at b + (q-1)·n + (i-1).
template <class T>
struct GlobalArrays {
  T* a = nullptr;
  T* coupling = nullptr;
  T* saved = nullptr;
  T* b = nullptr;
  Geometry g;

  // Runs of elements of a region: f(pointer, count).
  template <class F>
  void runs(const Region& r, F f) const {
    const std::int64_t rows = r.to - r.from + 1;
    if (rows <= 0) return;
    switch (r.store) {
      case Store::band:
        f(a + (r.from - 1) * (g.hb + 1), rows * (g.hb + 1));
        return;
      case Store::coupling:
        if (g.hb > 0) f(coupling + (r.from - 1) * g.hb, rows * g.hb);
        return;
      case Store::saved:
        if (g.hb > 0) f(saved + (r.from - 1) * g.hb, rows * g.hb);
        return;
      case Store::rhs:
        for (std::int64_t q = 0; q < g.nrhs; ++q)
          f(b + q * g.n + (r.from - 1), rows);
        return;
    }
  }
  std::int64_t elements(const Region& r) const {
    std::int64_t total = 0;
    runs(r, [&](T*, std::int64_t k) { total += k; });
    return total;
  }
};

// One round: add the parts to send and to receive, then run() posts every
// receive, sends, waits and unpacks. A partner with nothing to move gets
// no message.
template <class T>
class Exchange {
 public:
  explicit Exchange(const GlobalArrays<T>& arrays) : arrays_(arrays) {}

  void send(std::int32_t to, const Region& r) { add(sends_, to, r); }
  void receive(std::int32_t from, const Region& r) { add(receives_, from, r); }

  // MPI_SUCCESS, or the first error MPI reported.
  int run(MPI_Comm comm, int tag) {
    std::vector<MPI_Request> requests;
    std::vector<std::vector<T>> in, out;
    requests.reserve(sends_.size() + receives_.size());
    in.reserve(receives_.size());
    out.reserve(sends_.size());
    for (const auto& [from, list] : receives_) {
      in.emplace_back(size_of(list));
      requests.emplace_back();
      const int err = MPI_Irecv(in.back().data(), bytes(in.back()), MPI_BYTE,
                                from, tag, comm, &requests.back());
      if (err != MPI_SUCCESS) return finish(requests, err);
    }
    for (const auto& [to, list] : sends_) {
      out.emplace_back(size_of(list));
      T* p = out.back().data();
      for (const Region& r : list)
        arrays_.runs(r, [&](T* src, std::int64_t k) {
          std::memcpy(p, src, sizeof(T) * k);
          p += k;
        });
      requests.emplace_back();
      const int err = MPI_Isend(out.back().data(), bytes(out.back()), MPI_BYTE,
                                to, tag, comm, &requests.back());
      if (err != MPI_SUCCESS) return finish(requests, err);
    }
    const int err = finish(requests, MPI_SUCCESS);
    if (err != MPI_SUCCESS) return err;
    std::size_t m = 0;
    for (const auto& [from, list] : receives_) {
      const T* p = in[m++].data();
      for (const Region& r : list)
        arrays_.runs(r, [&](T* dst, std::int64_t k) {
          std::memcpy(dst, p, sizeof(T) * k);
          p += k;
        });
    }
    return MPI_SUCCESS;
  }

 private:
  using Lists = std::map<std::int32_t, std::vector<Region>>;

  void add(Lists& lists, std::int32_t rank, const Region& r) {
    if (arrays_.elements(r) > 0) lists[rank].push_back(r);
  }
  std::size_t size_of(const std::vector<Region>& list) const {
    std::int64_t total = 0;
    for (const Region& r : list) total += arrays_.elements(r);
    return static_cast<std::size_t>(total);
  }
  static int bytes(const std::vector<T>& v) {
    return static_cast<int>(v.size() * sizeof(T));
  }
  static int finish(std::vector<MPI_Request>& requests, int err) {
    const int wait = MPI_Waitall(static_cast<int>(requests.size()),
                                 requests.data(), MPI_STATUSES_IGNORE);
    return err != MPI_SUCCESS ? err : wait;
  }

  const GlobalArrays<T>& arrays_;
  Lists sends_;
  Lists receives_;
};

}  // namespace pband::mpi
