// Process-wide switches and counters of the solver's forms, for tests.
#pragma once

#include <atomic>
#include <cstdint>

namespace pband {

// Whether the group and wide-band vector forms may be taken
// (testing::set_solver_vector_forms turns them off, to compare with the
// one-block general forms).
inline std::atomic<bool> solver_vector_forms_on{true};
// Groups done since the process started, for tests to see them taken.
inline std::atomic<std::int64_t> solver_groups_done{0};

}  // namespace pband
