// The C interface: solutions and factors against LAPACK and by residual in
// LAPACK's layout with padding, the storage outside the matrix left alone,
// the status of every bad argument with nothing touched, failing pivots
// named as LAPACK names them, and the same bits for the same arguments
// whatever the process ran before (a fresh process included).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "api/workspace.hpp"
#include "runtime/runtime.hpp"
#include "solver/band_solver.hpp"
#include "tests/api/c_api_support.hpp"
#include "tests/bandlib/bandlib_test_support.hpp"
#include "tests/common/all_processors.hpp"

extern "C" {
void spbtrf_(const char* uplo, const int* n, const int* kd, float* ab,
             const int* ldab, int* info, std::size_t uplo_len);
void dpbtrf_(const char* uplo, const int* n, const int* kd, double* ab,
             const int* ldab, int* info, std::size_t uplo_len);
}

namespace pband::test {
namespace {

template <class T>
class CApiTest : public ::testing::Test {
 protected:
  void TearDown() override {
    pband::testing::set_affinity_query(nullptr);
    pband::testing::set_solver_block_base(0);
  }
};
TYPED_TEST_SUITE(CApiTest, ElementTypes);

struct Shape {
  std::int32_t n, hb, nrhs, ab_pad, b_pad, threads;
};

// Padded and compact layouts, one and several right-hand sides, a band as
// wide as the matrix and wider, small and oversubscribed teams.
const Shape kShapes[] = {
    {1, 0, 1, 0, 0, 1},     {50, 0, 2, 3, 1, 2},    {300, 1, 1, 0, 0, 3},
    {517, 3, 3, 2, 5, 2},   {700, 8, 2, 0, 0, 4},   {400, 16, 1, 1, 0, 1},
    {9, 8, 2, 0, 0, 3},     {6, 11, 2, 4, 2, 2},    {1000, 5, 4, 0, 7, 8},
};

TYPED_TEST(CApiTest, SolvesInLapackLayout) {
  using T = TypeParam;
  for (const Shape& sh : kShapes) {
    SCOPED_TRACE(::testing::Message() << "n " << sh.n << " hb " << sh.hb
                                      << " nrhs " << sh.nrhs << " pads "
                                      << sh.ab_pad << "," << sh.b_pad);
    CSystem<T> s = c_system<T>(sh.n, sh.hb, sh.nrhs, sh.ab_pad, sh.b_pad, 5);
    const std::vector<T> ab0 = s.ab;
    ASSERT_EQ(c_solve(s, sh.threads), 0);
    EXPECT_LT(scaled_residual(s.a, s.n, s.hb, s.b, s.x(), s.nrhs), 30.0);
    // In place only with the kernels' own stride; else on a copy.
    const bool in_place = s.ldab == s.hb + 1 && s.hb < s.n;
    EXPECT_TRUE(s.outside_untouched(!in_place));
    if (!in_place) {
      EXPECT_TRUE(same_bits(s.ab, ab0)) << "ab was changed";
    }
    std::vector<T> ref = s.b;
    ASSERT_EQ(lapack_solve(s.a, s.n, s.hb, ref, s.nrhs), 0);
    const double eps = std::numeric_limits<Real<T>>::epsilon();
    EXPECT_LT(max_abs_diff(s.x(), ref), 1e3 * eps * max_abs(ref));
  }
}

// The layout changes nothing: padded ab or B, the caller's workspace of
// exactly the queried size, and the library's own give the same bits.
TYPED_TEST(CApiTest, LayoutAndWorkspaceKeepTheBits) {
  using T = TypeParam;
  for (auto [n, hb, nrhs] : {std::tuple{333, 4, 3}, {80, 1, 1}, {5, 9, 2}}) {
    SCOPED_TRACE(::testing::Message() << "n " << n << " hb " << hb);
    CSystem<T> plain = c_system<T>(n, hb, nrhs, 0, 0, 11);
    ASSERT_EQ(c_solve(plain, 2), 0);
    for (auto [ab_pad, b_pad] : {std::pair{3, 0}, {0, 2}, {1, 1}}) {
      CSystem<T> s = c_system<T>(n, hb, nrhs, ab_pad, b_pad, 11);
      const std::int64_t need =
          CApi<T>::workspace(n, hb, nrhs, s.ldab, s.ldb);
      ASSERT_GE(need, 0);
      std::vector<T> work(std::size_t(need) + 1, sentinel<T>());
      EXPECT_EQ(CApi<T>::solve_work(n, hb, nrhs, c_ptr(s.ab.data()), s.ldab,
                                    c_ptr(s.bb.data()), s.ldb, 2,
                                    c_ptr(work.data()), need - 1),
                -10);
      ASSERT_EQ(CApi<T>::solve_work(n, hb, nrhs, c_ptr(s.ab.data()), s.ldab,
                                    c_ptr(s.bb.data()), s.ldb, 2,
                                    c_ptr(work.data()), need),
                0);
      EXPECT_TRUE(same_bits(s.x(), plain.x()));
      EXPECT_TRUE(CSystem<T>::same(work[need], sentinel<T>()))
          << "wrote past the workspace";
    }
  }
}

// Same arguments, same bits, whatever ran before and whatever team is
// asked for (0: the processor count), complex types included: the cut
// follows the element type and hb alone. (For the complex types at this
// size a team-dependent cut would give other bits for teams above 2.)
TYPED_TEST(CApiTest, EveryCallChoosesItsOwnBlockCut) {
  using T = TypeParam;
  auto run = [](std::int32_t threads) {
    CSystem<T> s = c_system<T>(900, 1, 2, 0, 0, 3);
    EXPECT_EQ(c_solve(s, threads), 0);
    return s.x();
  };
  const std::vector<T> first = run(1);
  for (std::int32_t threads : {3, 1, 5, 2, 1, 32, 3, 40})
    EXPECT_TRUE(same_bits(run(threads), first)) << "threads " << threads;
  pband::testing::set_affinity_query(&all_processors);  // 32 processors
  EXPECT_TRUE(same_bits(run(0), first));
  EXPECT_TRUE(same_bits(run(-4), first));
  // A process-wide team size does not reach the C interface.
  set_team_size(1);
  EXPECT_TRUE(same_bits(run(4), first));
  reset_team_size();
}

// A large workspace is kept from one call to the next and returned by
// pband_release_memory; a kept workspace full of another system's values
// changes no bit.
TEST(CApiMemory, LargeWorkspaceKeptUntilReleased) {
  pband_release_memory();
  EXPECT_EQ(pband::api::kept_workspace_bytes(), 0u);
  auto run = [](std::int32_t n, std::int32_t hb, unsigned seed) {
    CSystem<double> s = c_system<double>(n, hb, 2, 0, 0, seed);
    EXPECT_EQ(c_solve(s, 2), 0);
    return s.x();
  };
  const std::vector<double> first = run(150000, 8, 1);
  const std::size_t kept = pband::api::kept_workspace_bytes();
  EXPECT_GE(kept, std::size_t(2) * 150000 * 8 * sizeof(double));
  (void)run(150000, 8, 2);  // the kept block now holds this one's values
  (void)run(90000, 3, 3);   // a smaller call takes it too
  EXPECT_TRUE(same_bits(run(150000, 8, 1), first));
  pband_release_memory();
  EXPECT_EQ(pband::api::kept_workspace_bytes(), 0u);
  (void)run(3000, 2, 4);  // too small to be kept
  EXPECT_EQ(pband::api::kept_workspace_bytes(), 0u);
}

// Work too small to feed a second thread runs on the calling thread:
// no thread is asked for, whatever team the call names; larger work is
// shared. The bits are the same either way.
TEST(CApiThreads, SmallWorkStaysOnTheCallingThread) {
  pband::testing::set_affinity_query(&all_processors);  // 32 processors
  pband::testing::reset_team_size_state();
  auto threads_asked = [](std::int32_t n, std::int32_t hb) {
    CSystem<double> s = c_system<double>(n, hb, 1, 0, 0, 5);
    const std::int64_t before = pband::testing::os_thread_requests();
    EXPECT_EQ(c_solve(s, 8), 0);
    return pband::testing::os_thread_requests() - before;
  };
  EXPECT_EQ(threads_asked(10000, 2), 0);  // 30000 band elements
  EXPECT_EQ(threads_asked(2000, 15), 0);  // 32000
  EXPECT_GT(threads_asked(40000, 2), 0);  // 120000
  pband::testing::set_affinity_query(nullptr);
  pband::testing::reset_team_size_state();
}

// Concurrent callers with different teams do not disturb each other.
TEST(CApiThreads, ConcurrentCallersKeepTheirOwnBits) {
  using T = std::complex<double>;
  auto run = [](std::int32_t threads) {
    CSystem<T> s = c_system<T>(600, 2, 1, 1, 0, 21);
    EXPECT_EQ(c_solve(s, threads), 0);
    return s.x();
  };
  const std::vector<T> one = run(1);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> callers;
  for (std::int32_t threads : {1, 3, 2, 4})
    callers.emplace_back([&, threads] {
      for (int k = 0; k < 8; ++k)
        if (!same_bits(run(threads), one))
          mismatches.fetch_add(1);
    });
  for (auto& c : callers) c.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// A fresh process gives the bits this one gives after any earlier calls.
// The helper case does the solve and writes its bits where the variable
// says; run alone it has nothing to do.
std::vector<std::complex<double>> fresh_case() {
  CSystem<std::complex<double>> s =
      c_system<std::complex<double>>(1200, 3, 2, 0, 0, 77);
  EXPECT_EQ(c_solve(s, 3), 0);
  return s.x();
}

TEST(CApiFreshProcess, Helper) {
  const char* out = std::getenv("PBAND_FRESH_PROCESS_OUT");
  if (out == nullptr) GTEST_SKIP() << "run by SameBitsAsAFreshProcess";
  const auto x = fresh_case();
  std::ofstream(out, std::ios::binary)
      .write(reinterpret_cast<const char*>(x.data()),
             std::streamsize(x.size() * sizeof(x[0])));
}

TEST(CApiFreshProcess, SameBitsAsAFreshProcess) {
  // Earlier calls of every kind: other teams, other types, a failure.
  CSystem<std::complex<double>> other =
      c_system<std::complex<double>>(1200, 3, 2, 0, 0, 77);
  ASSERT_EQ(c_solve(other, 1), 0);
  CSystem<float> real = c_system<float>(500, 2, 1, 0, 0, 4);
  ASSERT_EQ(c_solve(real, 6), 0);
  real.ab[0] = -1;
  EXPECT_EQ(c_solve(real, 2), 1);
  const auto here = fresh_case();

  char path[] = "/tmp/pband_fresh_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string var = std::string("PBAND_FRESH_PROCESS_OUT=") + path;
  char filter[] = "--gtest_filter=CApiFreshProcess.Helper";
  char self[] = "/proc/self/exe";
  char* argv[] = {self, filter, nullptr};
  char* envp[] = {const_cast<char*>(var.c_str()), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, self, nullptr, nullptr, argv, envp), 0);
  int wstatus = 0;
  ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
  ASSERT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::remove(path);
  ASSERT_EQ(bytes.size(), here.size() * sizeof(here[0]));
  EXPECT_EQ(std::memcmp(bytes.data(), here.data(), bytes.size()), 0);
}

// Each invalid argument, the first in argument order, and nothing touched.
TYPED_TEST(CApiTest, InvalidArgumentsTouchNothing) {
  using T = TypeParam;
  CSystem<T> s = c_system<T>(40, 3, 2, 1, 1, 8);
  const CSystem<T> s0 = s;
  T* ab = s.ab.data();
  T* b = s.bb.data();
  T work[4] = {};
  struct Case {
    std::int32_t n, hb, nrhs;
    T* ab;
    std::int32_t ldab;
    T* b;
    std::int32_t ldb;
    int expected;
  } cases[] = {
      {-1, 3, 2, ab, 5, b, 41, -1},    {40, -1, 2, ab, 5, b, 41, -2},
      {40, 3, -1, ab, 5, b, 41, -3},   {40, 3, 2, nullptr, 5, b, 41, -4},
      {40, 3, 2, ab, 3, b, 41, -5},    {40, 3, 2, ab, 5, nullptr, 41, -6},
      {40, 3, 2, ab, 5, b, 39, -7},    {0, 3, 2, ab, 5, b, 0, -7},
      {-1, -1, -1, nullptr, 0, nullptr, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "expected " << c.expected);
    EXPECT_EQ(CApi<T>::solve(c.n, c.hb, c.nrhs, c_ptr(c.ab), c.ldab,
                             c_ptr(c.b), c.ldb, 2),
              c.expected);
    EXPECT_EQ(CApi<T>::solve_work(c.n, c.hb, c.nrhs, c_ptr(c.ab), c.ldab,
                                  c_ptr(c.b), c.ldb, 2, c_ptr(work), 4),
              c.expected);
    // The size query takes no arrays.
    const bool array = c.expected == -4 || c.expected == -6;
    EXPECT_EQ(CApi<T>::workspace(c.n, c.hb, c.nrhs, c.ldab, c.ldb),
              array ? CApi<T>::workspace(40, 3, 2, 5, 41) : c.expected);
    EXPECT_EQ(CApi<T>::cholesky_solve(c.n, c.hb, c.nrhs, c_ptr(c.ab), c.ldab,
                                      c_ptr(c.b), c.ldb, 2),
              c.expected);
  }
  EXPECT_EQ(CApi<T>::solve_work(40, 3, 2, c_ptr(ab), 5, c_ptr(b), 41, 2,
                                nullptr, 1 << 20),
            -9);
  // The factorization's arguments: 1 n, 2 hb, 3 ab, 4 ldab.
  EXPECT_EQ(CApi<T>::cholesky(-1, 3, c_ptr(ab), 5, 1), -1);
  EXPECT_EQ(CApi<T>::cholesky(2147483647, 3, c_ptr(ab), 5, 1), -1);
  EXPECT_EQ(CApi<T>::cholesky(40, -2, c_ptr(ab), 5, 1), -2);
  EXPECT_EQ(CApi<T>::cholesky(40, 3, nullptr, 5, 1), -3);
  EXPECT_EQ(CApi<T>::cholesky(40, 3, c_ptr(ab), 3, 1), -4);
  EXPECT_TRUE(same_bits(s.ab, s0.ab));
  EXPECT_TRUE(same_bits(s.bb, s0.bb));
  // Nothing to do is a success, with or without arrays.
  EXPECT_EQ(CApi<T>::solve(0, 3, 2, nullptr, 4, nullptr, 1, 1), 0);
  EXPECT_EQ(CApi<T>::cholesky(0, 0, nullptr, 1, 1), 0);
}

// The factor is LAPACK's lower ?pbtrf factor (real types) and every
// position outside the matrix stays as it was; solving with it, or with
// LAPACK's own factor, gives the system's solution.
TYPED_TEST(CApiTest, CholeskyFactorsAndSolves) {
  using T = TypeParam;
  for (auto [n, hb, pad] : {std::tuple{1, 0, 0}, {600, 2, 0}, {513, 9, 3},
                            {70, 33, 1}, {12, 20, 0}}) {
    SCOPED_TRACE(::testing::Message() << "n " << n << " hb " << hb);
    CSystem<T> s = c_system<T>(n, hb, 3, pad, 2, 19);
    ASSERT_EQ(CApi<T>::cholesky(n, hb, c_ptr(s.ab.data()), s.ldab, 2), 0);
    EXPECT_TRUE(s.outside_untouched(true));
    const std::vector<T> l = s.band();
    EXPECT_LT(factor_residual(s.a, l, n, hb), 30.0);
    CSystem<T> again = c_system<T>(n, hb, 3, pad, 2, 19);
    ASSERT_EQ(CApi<T>::cholesky(n, hb, c_ptr(again.ab.data()), again.ldab, 5),
              0);
    EXPECT_TRUE(same_bits(again.ab, s.ab)) << "the team changed the bits";
    ASSERT_EQ(CApi<T>::cholesky_solve(n, hb, 3, c_ptr(s.ab.data()), s.ldab,
                                      c_ptr(s.bb.data()), s.ldb, 3),
              0);
    EXPECT_LT(scaled_residual(s.a, n, hb, s.b, s.x(), 3), 30.0);
    EXPECT_TRUE(s.outside_untouched(true));
    if constexpr (!IsComplex<T>::value) {
      CSystem<T> lp = c_system<T>(n, hb, 3, pad, 2, 19);
      const int nn = n, kd = hb, ld = lp.ldab;
      int info = -1;
      if constexpr (std::is_same_v<T, float>)
        spbtrf_("L", &nn, &kd, lp.ab.data(), &ld, &info, 1);
      else
        dpbtrf_("L", &nn, &kd, lp.ab.data(), &ld, &info, 1);
      ASSERT_EQ(info, 0);
      EXPECT_LT(max_abs_diff(lp.band(), l),
                64 * std::numeric_limits<T>::epsilon() * max_abs(l));
      ASSERT_EQ(CApi<T>::cholesky_solve(n, hb, 3, lp.ab.data(), lp.ldab,
                                        lp.bb.data(), lp.ldb, 1),
                0);
      EXPECT_LT(scaled_residual(s.a, n, hb, s.b, lp.x(), 3), 30.0);
    }
  }
}

// The C interface's Cholesky calls are the band library's team routines
// with the library's own tuning; the substitution's bits depend on nb.
TEST(CApiTuning, CholeskyIsTheBandLibraryWithItsTuning) {
  const std::int32_t n = 700, hb = 300;
  CSystem<double> s = c_system<double>(n, hb, 1, 2, 1, 29);
  std::vector<double> a = s.a, b = s.b;
  const std::int32_t nb = band_block_width(hb);
  std::int32_t status = -1;
  band_factor_team_r8(a.data(), n, hb, nb, band_factor_threads(0, hb, nb),
                      status);
  ASSERT_EQ(status, 0);
  band_substitute_team_r8(a.data(), n, hb, b.data(), nb,
                          band_substitute_threads(0, hb, nb), status);
  ASSERT_EQ(pband_cholesky_d(n, hb, s.ab.data(), s.ldab, 0), 0);
  ASSERT_EQ(pband_cholesky_solve_d(n, hb, 1, s.ab.data(), s.ldab,
                                   s.bb.data(), s.ldb, 0),
            0);
  EXPECT_TRUE(same_bits(s.band(), a));
  EXPECT_TRUE(same_bits(s.x(), b));
}

// A failing pivot: the solve reports 1, the factorization the column, as
// LAPACK's ?pbtrf does, in the first, a middle and the last column. The
// column is cut off from its neighbours with a zero diagonal, so its pivot
// is exactly 0 in any elimination order.
TYPED_TEST(CApiTest, FailedPivotsAreReported) {
  using T = TypeParam;
  const std::int32_t n = 2500, hb = 4;
  for (std::int32_t j : {1, 1031, n}) {
    SCOPED_TRACE(::testing::Message() << "column " << j);
    CSystem<T> s = c_system<T>(n, hb, 1, 1, 0, 23);
    for (std::int32_t k = std::max(1, j - hb); k <= std::min(n, j + hb); ++k)
      s.a[pos(std::max(j, k), std::min(j, k), hb)] = T(0);
    s.lay_out();
    CSystem<T> f = s, lp = s;
    EXPECT_EQ(c_solve(s, 3), 1);
    EXPECT_EQ(CApi<T>::cholesky(n, hb, c_ptr(f.ab.data()), f.ldab, 2), j);
    EXPECT_TRUE(f.outside_untouched(true));
    if constexpr (!IsComplex<T>::value) {
      const int nn = n, kd = hb, ld = lp.ldab;
      int info = -1;
      if constexpr (std::is_same_v<T, float>)
        spbtrf_("L", &nn, &kd, lp.ab.data(), &ld, &info, 1);
      else
        dpbtrf_("L", &nn, &kd, lp.ab.data(), &ld, &info, 1);
      EXPECT_EQ(info, j);
    }
  }
}

TEST(CApiText, StatusMessagesAndVersion) {
  for (int status : {0, 1, 7, -1, -10, -11, PBAND_OUT_OF_MEMORY, -5000})
    EXPECT_NE(pband_status_message(status), nullptr);
  EXPECT_STREQ(pband_status_message(-4), "argument 4 is invalid");
  EXPECT_STRNE(pband_status_message(-11), pband_status_message(-10));
  EXPECT_STREQ(pband_version(), PBAND_VERSION_STRING);
}

}  // namespace
}  // namespace pband::test
