// The team run behind every accuracy call: claims of consecutive rows
// taken under the team mutex until none is left.
#include "accuracy/row_team.hpp"

#include <algorithm>

#include "runtime/team.hpp"
#include "runtime/team_size.hpp"
#include "runtime/workers.hpp"

namespace pband {
namespace {

struct RowJob {
  Team team;
  RowRange range = nullptr;
  void* call = nullptr;
  std::int64_t rows = 0;
  std::int64_t rows_per_claim = 1;
  std::int64_t next = 0;
};

void row_worker(RowJob& job) {
  for (;;) {
    // Without a mutex run_team started no worker: the caller is alone.
    if (job.team.mutex != 0) mutex_lock(job.team.mutex);
    const std::int64_t lo = job.next;
    job.next = std::min(job.rows, lo + job.rows_per_claim);
    if (job.team.mutex != 0) mutex_unlock(job.team.mutex);
    if (lo >= job.rows) return;
    job.range(job.call, lo, std::min(job.rows, lo + job.rows_per_claim));
  }
}

}  // namespace

RowSplit split_rows(std::int64_t rows, std::int64_t row_work,
                    std::int32_t requested) {
  RowSplit s;
  row_work = std::max<std::int64_t>(row_work, 1);
  s.rows_per_claim = std::max<std::int64_t>(1, kClaimWork / row_work);
  const std::int64_t work = rows * row_work;
  if (work < kSerialWork || requested <= 1) return s;
  std::int32_t processors = 1;
  count_processors(processors);
  const std::int64_t claims = (rows + s.rows_per_claim - 1) / s.rows_per_claim;
  const std::int64_t team =
      std::min({std::int64_t(requested), std::int64_t(processors),
                work / kThreadWork, claims, std::int64_t(MAX_TEAM_SIZE)});
  s.team = static_cast<std::int32_t>(std::max<std::int64_t>(team, 1));
  return s;
}

void run_rows(RowRange range, void* call, std::int64_t rows,
              const RowSplit& split) {
  if (rows <= 0) return;
  if (split.team <= 1) {
    range(call, 0, rows);
    return;
  }
  RowJob job;
  job.range = range;
  job.call = call;
  job.rows = rows;
  job.rows_per_claim = split.rows_per_claim;
  auto launch = [&](std::int32_t& w) { launch_worker(w, &row_worker, job); };
  run_team(job.team, split.team, launch, [&] { row_worker(job); });
}

}  // namespace pband
