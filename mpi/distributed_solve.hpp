// Private header of the distributed solver: the levels of one solve on
// every rank. Each rank does the block operations of the blocks it holds,
// phase by phase in the order of the team's worker, and before and after
// each phase trades with the holders of neighbouring blocks the parts
// those operations read and write. Every block thus gets the operations,
// in the order and on the values, of the one-process solve: the same bits
// for every number of ranks, split and team.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "kernels/subnormals.hpp"
#include "mpi/block_layout.hpp"
#include "mpi/exchange.hpp"
#include "pband/pband_mpi.h"
#include "runtime/team.hpp"
#include "runtime/thread_scratch.hpp"
#include "solver/band_arrays.hpp"
#include "solver/block_phases.hpp"
#include "solver/forms/scratch.hpp"

namespace pband::mpi {

// One phase's blocks on this rank, shared by the rank's team: claimed a
// few at a time in increasing position.
template <class T>
struct PhaseRun {
  const BlockOps<T>* ops = nullptr;
  const GlobalArrays<T>* arrays = nullptr;
  const Phase* phase = nullptr;
  const std::int64_t* blocks = nullptr;
  std::int64_t count = 0;
  std::int64_t next = 0;
  Team team;
  std::atomic<std::int32_t> failure_flags[2] = {0, 0};
};

template <class T>
void phase_worker(PhaseRun<T>& run) {
  // As the one-process library solve this mirrors.
  const FlushSubnormals flush(true);
  const GlobalArrays<T>& ga = *run.arrays;
  const Geometry& g = ga.g;
  const Phase& ph = *run.phase;
  const BlockOps<T>& ops = *run.ops;
  BandArrays<T> s{ga.a, ga.b, ga.saved, ga.coupling,
                  g.n,  g.hb, g.nrhs,   g.block_size};
  s.scratch = static_cast<unsigned char*>(thread_scratch(kSolverScratchBytes));
  s.vector_forms = s.scratch != nullptr &&
                   solver_vector_forms_on.load(std::memory_order_relaxed);
  for (;;) {
    mutex_lock(run.team.mutex);
    const std::int64_t at = run.next;
    const std::int64_t left = run.count - at;
    const auto got = static_cast<int>(std::clamp<std::int64_t>(
        left / (2 * std::int64_t(run.team.size)), 1, ops.claim));
    const bool stop =
        left <= 0 || run.failure_flags[0].load(std::memory_order_relaxed) != 0;
    if (!stop) run.next = at + std::min<std::int64_t>(got, left);
    mutex_unlock(run.team.mutex);
    if (stop) return;
    const std::int64_t* cs = run.blocks + at;
    const int k = static_cast<int>(std::min<std::int64_t>(got, left));
    switch (ph.kind) {
      case PhaseKind::factor:
        if (g.rhs_only) {
          ops.forward_rhs(s, cs, k);
        } else if (!ops.factor(s, cs, k, ph.w, ph.nd, ph.level_first,
                               RealOf<T>(0), run.failure_flags, 1, g.fold)) {
          return;
        }
        break;
      case PhaseKind::update:
        if (g.rhs_only)
          ops.update_rhs(s, cs, k, ph.nd, ph.level_first);
        else
          ops.update(s, cs, k, ph.nd, ph.level_first);
        break;
      case PhaseKind::back:
        ops.back(s, cs, k, ph.nd);
        break;
    }
  }
}

// Runs the phase's blocks of this rank on `team` threads; false when a
// pivot failed.
template <class T>
bool run_phase(const BlockOps<T>& ops, const GlobalArrays<T>& arrays,
               const Phase& ph, const std::vector<std::int64_t>& blocks,
               std::int32_t team) {
  if (blocks.empty()) return true;
  PhaseRun<T> run;
  run.ops = &ops;
  run.arrays = &arrays;
  run.phase = &ph;
  run.blocks = blocks.data();
  run.count = static_cast<std::int64_t>(blocks.size());
  // More threads than claims would only wait on the mutex.
  const auto claims = std::int64_t(blocks.size() + ops.claim - 1) / ops.claim;
  team = static_cast<std::int32_t>(std::min<std::int64_t>(team, claims));
  run_team(
      run.team, team,
      [&](std::int32_t& worker) {
        launch_worker(worker, &phase_worker<T>, run);
      },
      [&] { phase_worker<T>(run); });
  return run.failure_flags[0].load() == 0;
}

// The levels of one solve, the rank's blocks and their parts already in
// place. Returns 0, 1 when a pivot failed on any rank (every rank stops
// after the same phase), or PBAND_MPI_ERROR.
template <class T>
int solve_levels(MPI_Comm comm, const Pieces& pieces, std::int32_t me,
                 const GlobalArrays<T>& arrays, std::int32_t team) {
  const Geometry& g = arrays.g;
  const BlockRun held = blocks_held(g, pieces.first[std::size_t(me)],
                                    pieces.count[std::size_t(me)]);
  const bool any = held.hi >= held.lo;
  const BlockOps<T> ops = solver_block_ops<T>(g.hb);
  int tag = 0;
  std::vector<std::int64_t> blocks;
  // Parts that the operations on the blocks near this rank's run read
  // (before) or write (after), between their holders.
  auto trade = [&](const Phase& ph, bool before) {
    Exchange<T> ex(arrays);
    // Only operations within nd of the run's ends reach across them.
    const std::int64_t nd = ph.nd;
    auto near_ends = [&](auto&& f) {
      if (!any) return;
      const std::int64_t left_end = std::min(held.lo + nd - 1, held.hi + nd);
      for_blocks_in(g, ph, held.lo - nd, left_end, f);
      for_blocks_in(g, ph, std::max(held.hi - nd + 1, left_end + 1),
                    held.hi + nd, f);
    };
    near_ends([&](std::int64_t c) {
      const std::int32_t oc = pieces.holder(c);
      auto part = [&](std::int64_t x, const Region& r) {
        const std::int32_t ox = pieces.holder(x);
        if (ox == oc) return;
        const std::int32_t from = before ? ox : oc, to = before ? oc : ox;
        if (from == me) ex.send(to, r);
        if (to == me) ex.receive(from, r);
      };
      if (before)
        op_reads(g, ph, c, part);
      else
        op_writes(g, ph, c, part);
    });
    return ex.run(comm, tag++ & 0x7fff);
  };
  for (const Phase& ph : phase_schedule(g)) {
    int err = trade(ph, true);
    if (err != MPI_SUCCESS) return PBAND_MPI_ERROR;
    blocks.clear();
    if (any)
      for_blocks_in(g, ph, held.lo, held.hi,
                    [&](std::int64_t c) { blocks.push_back(c); });
    const bool ok = run_phase(ops, arrays, ph, blocks, team);
    if (ph.kind == PhaseKind::factor && !g.rhs_only) {
      int failed = ok ? 0 : 1;
      err = MPI_Allreduce(MPI_IN_PLACE, &failed, 1, MPI_INT, MPI_MAX, comm);
      if (err != MPI_SUCCESS) return PBAND_MPI_ERROR;
      if (failed != 0) return 1;
    }
    err = trade(ph, false);
    if (err != MPI_SUCCESS) return PBAND_MPI_ERROR;
  }
  return 0;
}

}  // namespace pband::mpi
