// How the solver fails: a pivot that is not positive (complex: zero) in
// any block on any team gives status 1 without a hang; bad arguments are
// rejected before anything is touched; a solve that cannot get its slots,
// its mutex or its workers still gives the right solution.
#include <atomic>

#include "kernels/factor_diagonal_block.hpp"

#include "tests/solver/solver_test_support.hpp"

namespace pband::test {
namespace {

template <class T>
class SolverFailure : public SolverFixture {};
TYPED_TEST_SUITE(SolverFailure, ElementTypes);

// 25 blocks of 4 columns (hb 2, base 3): block 1 is eliminated at level 1,
// block 12 at level 4, block 13 at level 1, block 16 at level 16 (the top)
// and block 25, the last, at level 1.
constexpr std::int32_t kN = 98, kHb = 2, kBase = 3;

// Planted pivots: column j cut off from its neighbours with diagonal d,
// so the pivot is exactly d at whatever level its block is factored.
template <class T>
void plant_pivot(std::vector<T>& a, std::int32_t j, T d) {
  for (std::int32_t k = std::max(1, j - kHb); k <= std::min(kN, j + kHb); ++k)
    if (k != j) a[pos(std::max(j, k), std::min(j, k), kHb)] = T(0);
  a[pos(j, j, kHb)] = d;
}

// Columns across the blocks and levels: first, inside and at the edges of
// middle blocks, last.
const std::int32_t kPivotColumns[] = {1, 2, 46, 49, 62, 98};

template <class T>
void expect_failure_on_every_team(const SolveRun<T>& planted) {
  for (std::int32_t team = 1; team <= 8; ++team) {
    SCOPED_TRACE(::testing::Message() << "team " << team);
    SolveRun<T> run = planted;
    solve_with_team(run, team);  // bounded by the watchdog
    EXPECT_EQ(run.status, 1);
  }
}

TYPED_TEST(SolverFailure, ZeroPivotInAnyBlock) {
  pband::testing::set_solver_block_base(kBase);
  for (std::int32_t j : kPivotColumns) {
    SCOPED_TRACE(::testing::Message() << "zero pivot in column " << j);
    SolveRun<TypeParam> run = make_run<TypeParam>(kN, kHb, 1, 3);
    plant_pivot(run.a0, j, TypeParam(0));
    expect_failure_on_every_team(run);
  }
}

// Real types only: a negative pivot fails, and so does a negative
// diagonal entry that is still coupled (the updates only lower it).
template <class T>
class SolverFailureReal : public SolverFixture {};
using RealTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(SolverFailureReal, RealTypes);

TYPED_TEST(SolverFailureReal, NegativePivotInAnyBlock) {
  pband::testing::set_solver_block_base(kBase);
  for (std::int32_t j : kPivotColumns) {
    SCOPED_TRACE(::testing::Message() << "negative pivot in column " << j);
    SolveRun<TypeParam> run = make_run<TypeParam>(kN, kHb, 2, 4);
    plant_pivot(run.a0, j, TypeParam(-0.5));
    expect_failure_on_every_team(run);
    SolveRun<TypeParam> coupled = make_run<TypeParam>(kN, kHb, 2, 4);
    coupled.a0[pos(j, j, kHb)] = TypeParam(-3);
    expect_failure_on_every_team(coupled);
  }
}

// A pivot that only the updates of a higher level make negative: 1 on
// the diagonal and 0.515 beside it. The smallest eigenvalue of m such
// consecutive columns is 1 − 1.03·cos(π/(m+1)): positive for each block
// of 9 columns (0.02), negative from m = 12 on (−0.03 for the whole).
TYPED_TEST(SolverFailureReal, PivotLostToTheUpdates) {
  pband::testing::set_solver_block_base(kBase);
  SolveRun<TypeParam> run = make_run<TypeParam>(kN, 1, 1, 5);
  for (std::int32_t j = 1; j <= kN; ++j) {
    run.a0[pos(j, j, 1)] = TypeParam(1);
    if (j < kN) run.a0[pos(j + 1, j, 1)] = TypeParam(0.515);
  }
  // The diagonal blocks alone factor: the failure is not at level 1.
  for (std::int32_t c = 1; c <= kN; c += block_size_for(kBase, 1)) {
    std::vector<TypeParam> a = run.a0;
    std::atomic<std::int32_t> flags[2] = {0, 0};
    factor_diagonal_block(a.data(), 1, c,
                          std::min(kN, c + block_size_for(kBase, 1) - 1),
                          TypeParam(0), flags, 1);
    ASSERT_EQ(flags[0].load(), 0) << "block at " << c;
  }
  expect_failure_on_every_team(run);
}

// ---------------------------------------------------------------------------
// Arguments
// ---------------------------------------------------------------------------

template <class T>
class SolverArguments : public SolverFixture {};
TYPED_TEST_SUITE(SolverArguments, ElementTypes);

TYPED_TEST(SolverArguments, RejectedBeforeAnythingIsTouched) {
  using T = TypeParam;
  const std::int32_t n = 10, hb = 2, nrhs = 2;
  const Real<T> nan = std::numeric_limits<Real<T>>::quiet_NaN();
  std::vector<T> a(band_length(n, hb), T(nan)), b(n * nrhs, T(nan)),
      w(2 * n * hb, T(nan));
  const std::vector<T> a0 = a, b0 = b, w0 = w;
  struct Case {
    T* a;
    std::int32_t n, hb;
    T* b;
    std::int32_t nrhs;
    T* w;
    std::int32_t expected;
  };
  const Case cases[] = {
      {nullptr, n, hb, b.data(), nrhs, w.data(), -1},
      {a.data(), -1, hb, b.data(), nrhs, w.data(), -2},
      {nullptr, -1, hb, b.data(), nrhs, w.data(), -2},
      {a.data(), n, -1, b.data(), nrhs, w.data(), -3},
      {a.data(), n, -1, b.data(), nrhs, nullptr, -3},
      {a.data(), n, hb, nullptr, nrhs, w.data(), -4},
      {a.data(), n, hb, b.data(), -1, w.data(), -5},
      {a.data(), n, hb, nullptr, -1, w.data(), -5},
      {a.data(), n, hb, b.data(), nrhs, nullptr, -6},
  };
  for (const Case& c : cases) {
    std::int32_t status = 99;
    Solver<T>::solve(c.a, c.n, c.hb, c.b, c.nrhs, c.w, status);
    EXPECT_EQ(status, c.expected);
  }
  EXPECT_TRUE(same_bits(a, a0));
  EXPECT_TRUE(same_bits(b, b0));
  EXPECT_TRUE(same_bits(w, w0));
  EXPECT_EQ(pband::testing::solver_block_base(), 0) << "tuning was chosen";
}

TYPED_TEST(SolverArguments, EmptySystemsSucceed) {
  using T = TypeParam;
  std::int32_t status = 99;
  Solver<T>::solve(nullptr, 0, 3, nullptr, 2, nullptr, status);
  EXPECT_EQ(status, 0);
  // No right-hand side, no band: B and W are not needed.
  std::vector<T> a = random_band_matrix<T>(7, 0, 8);
  std::vector<T> expected(a.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    expected[i] = T(std::sqrt(std::real(a[i])));
  status = 99;
  Solver<T>::solve(a.data(), 7, 0, nullptr, 0, nullptr, status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(same_bits(a, expected)) << "diagonal not replaced by its root";
}

// ---------------------------------------------------------------------------
// Missing resources: the solve falls back to the team that it has.
// ---------------------------------------------------------------------------

template <class T>
class SolverResources : public SolverFixture {
 protected:
  void SetUp() override {
    SolverFixture::SetUp();
    pband::testing::set_solver_block_base(kBase);
    reference_ = make_run<T>(kN, kHb, 2, 11);
    solve_with_team(reference_, 1);
    ASSERT_EQ(reference_.status, 0);
    // A first team creates the runtime's table guards, which stay.
    SolveRun<T> warm_up = reference_;
    solve_with_team(warm_up, 2);
    ASSERT_EQ(warm_up.status, 0);
    slots_before_ = sync_slots_in_use();
    workers_before_ = workers_in_use();
    handles_before_ = os_open_handle_count();
  }
  // A team of `team` asked for, whatever it gets: the same bits as the
  // team of one, and nothing left behind.
  void expect_reference_result(std::int32_t team) {
    SolveRun<T> run = reference_;
    solve_with_team(run, team);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(same_bits(run.a, reference_.a));
    EXPECT_TRUE(same_bits(run.b, reference_.b));
    pband::testing::os_clear_faults();
  }
  void expect_nothing_left() {
    EXPECT_EQ(sync_slots_in_use(), slots_before_);
    EXPECT_EQ(workers_in_use(), workers_before_);
    EXPECT_EQ(os_open_handle_count(), handles_before_);
  }
  SolveRun<T> reference_;
  std::int32_t slots_before_ = 0, workers_before_ = 0, handles_before_ = 0;
};
TYPED_TEST_SUITE(SolverResources, ElementTypes);

// Holds all but `left` free slots until destroyed.
struct SlotHog {
  explicit SlotHog(std::int32_t left) {
    while (sync_slots_in_use() < SYNC_SLOT_COUNT - left) {
      std::int32_t s = 0;
      sync_slot_allocate(s);
      if (s == 0) break;
      held.push_back(s);
    }
  }
  ~SlotHog() {
    for (std::int32_t s : held) sync_slot_free(s);
  }
  std::vector<std::int32_t> held;
};

TYPED_TEST(SolverResources, NoSlotFree) {
  {
    SlotHog hog(0);
    this->expect_reference_result(4);
  }
  this->expect_nothing_left();
}

TYPED_TEST(SolverResources, OnlyOneSlotFree) {
  {
    SlotHog hog(1);
    this->expect_reference_result(4);
  }
  this->expect_nothing_left();
}

TYPED_TEST(SolverResources, SlotEventsCannotBeCreated) {
  pband::testing::os_fail_creation(pband::testing::OsObject::event, 1);
  this->expect_reference_result(3);
  this->expect_nothing_left();
}

TYPED_TEST(SolverResources, MutexCannotBeCreated) {
  pband::testing::os_fail_creation(pband::testing::OsObject::mutex, 0);
  this->expect_reference_result(3);
  this->expect_nothing_left();
}

TYPED_TEST(SolverResources, NoWorkerStarts) {
  pband::testing::os_fail_creation(pband::testing::OsObject::thread, 0);
  this->expect_reference_result(5);
  this->expect_nothing_left();
}

TYPED_TEST(SolverResources, SomeWorkersStart) {
  for (std::int32_t started : {1, 2, 3}) {
    SCOPED_TRACE(::testing::Message() << started << " workers start");
    pband::testing::os_fail_creation(pband::testing::OsObject::thread,
                                     started);
    this->expect_reference_result(5);
    this->expect_nothing_left();
  }
}

TYPED_TEST(SolverResources, FailedPivotWithFewerWorkers) {
  pband::testing::os_fail_creation(pband::testing::OsObject::thread, 1);
  SolveRun<TypeParam> run = this->reference_;
  plant_pivot(run.a0, 49, TypeParam(0));
  solve_with_team(run, 4);
  EXPECT_EQ(run.status, 1);
  pband::testing::os_clear_faults();
  this->expect_nothing_left();
}

}  // namespace
}  // namespace pband::test
