// The rows of one output shared by a team: consecutive rows claimed under
// the team mutex, each row done whole by the thread that claimed it, so
// no result depends on the team. Compiled once for every element type.
#pragma once

#include <cstdint>

namespace pband {

// Below this many products a call runs on the calling thread: starting a
// thread costs about as much.
inline constexpr std::int64_t kSerialWork = std::int64_t(1) << 17;
// Each further thread needs half that much work to pay for itself.
inline constexpr std::int64_t kThreadWork = kSerialWork / 2;
// Products per claim: the mutex is taken rarely and the last claims
// still even out the threads' shares.
inline constexpr std::int64_t kClaimWork = std::int64_t(1) << 15;

// Rows lo … hi − 1 of one call's output.
using RowRange = void (*)(void* call, std::int64_t lo, std::int64_t hi);

struct RowSplit {
  std::int64_t rows_per_claim = 1;
  std::int32_t team = 1;
};

// How `rows` rows of `row_work` products each are shared: a team of at
// most `requested` threads (1 … 32), the processors and the work allow.
RowSplit split_rows(std::int64_t rows, std::int64_t row_work,
                    std::int32_t requested);

// Runs range over rows 0 … rows − 1 as split says; a team of one runs
// it on the calling thread, starting none.
void run_rows(RowRange range, void* call, std::int64_t rows,
              const RowSplit& split);

}  // namespace pband
