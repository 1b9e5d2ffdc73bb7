// Bad and unusual input at every public entry point: sizes out of range
// (down to INT32_MIN) rejected with a status before anything is touched,
// half bandwidths whose positions pass 2^31 solved in huge sparse
// mappings, byte counts past the address space refused, and NaN or
// infinite entries propagated as the arithmetic defines, the same on
// every team, without a write outside the arrays.
#include <sys/mman.h>

#include <cmath>
#include <cstdio>

#include "driver/benchmark.hpp"
#include "tests/stress/stress_support.hpp"

namespace pband::test {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// Every case under a watchdog: some run teams.
class Guarded : public StressTest {
 protected:
  void SetUp() override {
    StressTest::SetUp();
    guard_ = std::make_unique<Watchdog>(std::chrono::seconds(240),
                                        "a bad-input case");
  }
  void TearDown() override {
    guard_.reset();
    StressTest::TearDown();
  }
  std::unique_ptr<Watchdog> guard_;
};

template <class T>
class BadInput : public Guarded {};
TYPED_TEST_SUITE(BadInput, ElementTypes);

// Every invalid size, alone and before later invalid arguments: the
// status names the first invalid argument, and no array, slot, worker or
// handle is touched.
TYPED_TEST(BadInput, SizesOutOfRangeAreRejectedUntouched) {
  using T = TypeParam;
  const Resources baseline = warm_baseline();
  const T poison = T(std::numeric_limits<Real<T>>::quiet_NaN());
  std::vector<T> a(64, poison), b(64, poison), w(64, poison);
  const std::vector<T> a0 = a, b0 = b, w0 = w;
  struct SolverBad {
    std::int32_t n, hb, nrhs, expected;
  };
  const SolverBad solver_cases[] = {
      {-1, 2, 1, -2},        {kMin, 2, 1, -2},     {kMin, kMin, kMin, -2},
      {5, -1, 1, -3},        {5, kMin, 1, -3},     {5, kMin, kMin, -3},
      {5, 2, -1, -5},        {5, 2, kMin, -5},     {kMax, kMax, -1, -5},
      {0, -1, 1, -3},        {0, 0, -1, -5},
  };
  for (const SolverBad& c : solver_cases) {
    SCOPED_TRACE(::testing::Message() << "solver n=" << c.n << " hb=" << c.hb
                                      << " nrhs=" << c.nrhs);
    std::int32_t status = 99;
    Entry<T>::solve(a.data(), c.n, c.hb, b.data(), c.nrhs, w.data(), status);
    EXPECT_EQ(status, c.expected);
  }
  // Huge but missing arrays: rejected before any size is formed.
  std::int32_t status = 99;
  Entry<T>::solve(nullptr, kMax, kMax, nullptr, kMax, nullptr, status);
  EXPECT_EQ(status, -1);
  Entry<T>::solve(a.data(), kMax, kMax, b.data(), kMax, nullptr, status);
  EXPECT_EQ(status, -6);

  struct LibBad {
    std::int32_t n, hb, nb;
    std::int32_t with_b, without_b;  // factor-and-solve/substitute, factor
  };
  const LibBad lib_cases[] = {
      {-1, 2, 2, -2, -2},        {kMin, 2, 2, -2, -2},
      {kMax, 2, 2, -2, -2},      {kMin, kMin, kMin, -2, -2},
      {5, -1, 2, -3, -3},        {5, kMin, 2, -3, -3},
      {5, 2, 0, -5, -4},         {5, 2, -1, -5, -4},
      {5, 2, kMin, -5, -4},      {kMax, kMax, kMax, -2, -2},
      {0, 2, 0, -5, -4},         {0, -1, 1, -3, -3},
  };
  for (const LibBad& c : lib_cases) {
    SCOPED_TRACE(::testing::Message() << "library n=" << c.n << " hb="
                                      << c.hb << " nb=" << c.nb);
    std::int32_t s1 = 99, s2 = 99, s3 = 99;
    Entry<T>::factor_solve(a.data(), c.n, c.hb, b.data(), c.nb, s1);
    Entry<T>::factor(a.data(), c.n, c.hb, c.nb, s2);
    Entry<T>::substitute(a.data(), c.n, c.hb, b.data(), c.nb, s3);
    EXPECT_EQ(s1, c.with_b);
    EXPECT_EQ(s2, c.without_b);
    EXPECT_EQ(s3, c.with_b);
  }
  EXPECT_TRUE(same_bits(a, a0));
  EXPECT_TRUE(same_bits(b, b0));
  EXPECT_TRUE(same_bits(w, w0));
  EXPECT_EQ(Resources{}, baseline);
}

// Called directly on a team of one, a worker given no equations passes no
// barrier and touches nothing.
TYPED_TEST(BadInput, WorkersGivenNoEquationsReturnAtOnce) {
  using T = TypeParam;
  T sentinel = T(3);
  T* A = &sentinel;
  T* B = &sentinel;
  Handle mutex = 0;
  const std::int32_t slots[2] = {0, 0};
  const std::int32_t team = 1, nb = 2;
  for (std::int32_t n : {0, -1, kMin}) {
    for (std::int32_t hb : {0, -1, kMin}) {
      std::int32_t fp = 1, fn = 1, bp = n, bn = n;
      FailureFlags flags = {0, 0};
      Entry<T>::factor_solve_worker(A, n, hb, B, nb, mutex, slots, team, fp,
                                    fn, bp, bn, Real<T>(0), flags);
      EXPECT_EQ(fp, 1);
      EXPECT_EQ(bp, n);
      EXPECT_EQ(flags[0].load() + flags[1].load(), 0);
    }
  }
  EXPECT_EQ(sentinel, T(3));
}

// ---------------------------------------------------------------------------
// Half bandwidths whose storage positions pass 2^31: the arrays are huge
// mappings of which only the few pages holding the system are touched.
// A 32-bit product of positions would overflow (UBSan) or land outside
// the touched pages; every position must be formed in 64 bits.
// ---------------------------------------------------------------------------

template <class T>
class Mapping {
 public:
  explicit Mapping(std::int64_t elements)
      : bytes_(std::size_t(elements) * sizeof(T)) {
    void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    data_ = p == MAP_FAILED ? nullptr : static_cast<T*>(p);
  }
  ~Mapping() {
    if (data_ != nullptr) munmap(data_, bytes_);
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  T* data() const { return data_; }

 private:
  std::size_t bytes_;
  T* data_;
};

// Pages of this process in memory, to see that a mapping stayed sparse.
std::int64_t resident_pages() {
  long size = 0, resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return -1;
  const int got = std::fscanf(f, "%ld %ld", &size, &resident);
  std::fclose(f);
  return got == 2 ? resident : -1;
}

TYPED_TEST(BadInput, PositionsBeyondTwoToThe31AreFormedIn64Bits) {
  using T = TypeParam;
  constexpr std::int32_t n = 3, small_hb = 2;
  constexpr std::int32_t huge_hb = (1 << 30) + 1;  // column 3 at 2^31 + 4
  const auto a_small = random_band_matrix<T>(n, small_hb, 61);
  const auto b0 = random_rhs<T>(n, 1, 62);
  set_team_size(2);

  // The same 3 × 3 system in band storage with the huge bandwidth.
  Mapping<T> a(band_length(n, huge_hb));
  Mapping<T> w(2 * std::int64_t(n) * huge_hb);
  ASSERT_NE(a.data(), nullptr) << "no address space for the mapping";
  ASSERT_NE(w.data(), nullptr) << "no address space for the mapping";
  auto load = [&] {
    for (std::int64_t j = 1; j <= n; ++j)
      for (std::int64_t i = j; i <= n; ++i)
        a.data()[pos(i, j, huge_hb)] = a_small[pos(i, j, small_hb)];
  };
  auto result = [&] {
    std::vector<T> out;
    for (std::int64_t j = 1; j <= n; ++j)
      for (std::int64_t i = j; i <= n; ++i)
        out.push_back(a.data()[pos(i, j, huge_hb)]);
    return out;
  };
  auto small_result = [&](const std::vector<T>& s) {
    std::vector<T> out;
    for (std::int64_t j = 1; j <= n; ++j)
      for (std::int64_t i = j; i <= n; ++i) out.push_back(s[pos(i, j, small_hb)]);
    return out;
  };
  const std::int64_t pages_before = resident_pages();

  // Solver: the same bits as with the bandwidth the system really has.
  {
    std::vector<T> as = a_small, bs = b0, ws(2 * n * small_hb);
    std::int32_t s_small = 99, s_huge = 99;
    Entry<T>::solve(as.data(), n, small_hb, bs.data(), 1, ws.data(), s_small);
    load();
    std::vector<T> b = b0;
    Entry<T>::solve(a.data(), n, huge_hb, b.data(), 1, w.data(), s_huge);
    EXPECT_EQ(s_small, 0);
    EXPECT_EQ(s_huge, 0);
    EXPECT_TRUE(same_bits(b, bs)) << "solution";
    EXPECT_TRUE(same_bits(result(), small_result(as))) << "factor";
  }
  // Library: factor-and-solve, then factor and substitute.
  {
    std::vector<T> as = a_small, bs = b0;
    std::int32_t s_small = 99, s1 = 99, s2 = 99, s3 = 99;
    Entry<T>::factor_solve(as.data(), n, small_hb, bs.data(), 2, s_small);
    load();
    std::vector<T> b = b0;
    Entry<T>::factor_solve(a.data(), n, huge_hb, b.data(), 2, s1);
    EXPECT_EQ(s_small, 0);
    EXPECT_EQ(s1, 0);
    EXPECT_TRUE(same_bits(b, bs));
    EXPECT_TRUE(same_bits(result(), small_result(as)));
    load();
    b = b0;
    Entry<T>::factor(a.data(), n, huge_hb, 1, s2);
    Entry<T>::substitute(a.data(), n, huge_hb, b.data(), 1, s3);
    EXPECT_EQ(s2, 0);
    EXPECT_EQ(s3, 0);
    EXPECT_LT(scaled_residual(a_small, n, small_hb, b0, b, 1), 30.0);
  }
  // Only a handful of pages were touched, not gigabytes.
  const std::int64_t pages_after = resident_pages();
  if (pages_before > 0 && pages_after > 0) {
    EXPECT_LT(pages_after - pages_before, 4096);
  }
}

// ---------------------------------------------------------------------------
// Driver functions
// ---------------------------------------------------------------------------

class DriverBadInput : public Guarded {};

// Invalid sizes or a missing array that would be written: nothing is
// written; n = 0 or nrhs = 0 is no work at all.
TEST_F(DriverBadInput, TestProblemWithInvalidSizesWritesNothing) {
  const float poison = -7.0f;
  std::vector<float> a(64, poison), b(64, poison), x(64, poison);
  struct Bad {
    std::int32_t n, hb, nrhs;
    bool null_a, null_b, null_x;
  };
  const Bad cases[] = {
      {-1, 2, 1, false, false, false},  {kMin, 2, 1, false, false, false},
      {5, -1, 1, false, false, false},  {5, kMin, 1, false, false, false},
      {5, 2, -1, false, false, false},  {5, 2, kMin, false, false, false},
      {5, 2, 1, true, false, false},    {5, 2, 1, false, true, false},
      {5, 2, 1, false, false, true},    {0, 2, 1, false, false, false},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(::testing::Message() << "n=" << c.n << " hb=" << c.hb
                                      << " nrhs=" << c.nrhs);
    make_test_problem(c.null_a ? nullptr : a.data(),
                      c.null_b ? nullptr : b.data(),
                      c.null_x ? nullptr : x.data(), c.n, c.hb, c.nrhs);
    for (const auto* v : {&a, &b, &x})
      for (float e : *v) ASSERT_EQ(e, poison);
  }
  // No right-hand side: the matrix alone, and B and X may be null.
  make_test_problem(a.data(), nullptr, nullptr, 5, 2, 0);
  EXPECT_NE(a[0], poison) << "matrix not built";
  EXPECT_EQ(a[band_storage_length(5, 2)], poison) << "written past A";

  for (std::int32_t hb : {-1, kMin}) {
    std::vector<float> f(16, poison);
    std::vector<double> d(16, double(poison));
    form_band_llt_r4(f.data(), 4, hb);
    form_band_llt_r8(d.data(), 4, hb);
    for (float e : f) ASSERT_EQ(e, poison);
    for (double e : d) ASSERT_EQ(e, double(poison));
  }
  for (std::int32_t n : {0, -1, kMin}) {
    form_band_llt_r4(nullptr, n, 2);
    form_band_llt_r8(nullptr, n, 2);
  }
  form_band_llt_r4(nullptr, 4, 2);
  form_band_llt_r8(nullptr, 4, 2);
  EXPECT_EQ(band_storage_length(kMin, 3), 0);
  EXPECT_EQ(band_storage_length(kMax, kMax),
            std::int64_t(kMax) + std::int64_t(kMax) * (kMax - 1));
}

// The huge bandwidth again, for the band product of the test problem.
TEST_F(DriverBadInput, BandProductFormsPositionsIn64Bits) {
  constexpr std::int32_t n = 3, huge_hb = (1 << 30) + 1;
  Mapping<double> big(band_length(n, huge_hb));
  ASSERT_NE(big.data(), nullptr);
  std::vector<double> small(band_length(n, 2));
  for (std::int64_t j = 1; j <= n; ++j)
    for (std::int64_t i = j; i <= n; ++i)
      small[pos(i, j, 2)] = big.data()[pos(i, j, huge_hb)] = double(i + 2 * j);
  form_band_llt_r8(small.data(), n, 2);
  form_band_llt_r8(big.data(), n, huge_hb);
  for (std::int64_t j = 1; j <= n; ++j)
    for (std::int64_t i = j; i <= n; ++i)
      EXPECT_EQ(big.data()[pos(i, j, huge_hb)], small[pos(i, j, 2)]);
}

std::size_t requested_bytes = 0;
void* record_and_refuse(std::size_t bytes) {
  requested_bytes = bytes;
  return nullptr;
}

// The work array of the largest sizes has more bytes than a size_t holds:
// it is refused as unallocatable instead of asked for with a wrapped,
// small count and then overrun.
TEST_F(DriverBadInput, BenchmarkRefusesWorkArraysPastTheAddressSpace) {
  FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  struct Size {
    std::int32_t n, hb;
  };
  for (const Size s : {Size{kMax, kMax}, Size{kMax, 1 << 30},
                       Size{1 << 30, kMax}}) {
    SCOPED_TRACE(::testing::Message() << "n=" << s.n << " hb=" << s.hb);
    BenchmarkOptions options;
    options.n = s.n;
    options.hb = s.hb;
    options.output_fd = fileno(sink);
    options.allocate = &record_and_refuse;
    options.processor_count = 1;
    requested_bytes = 0;
    EXPECT_EQ(run_benchmark(options), 1);
    // Elements: band, B, X, workspace (and one spare): past 2^62.
    const long double elements =
        (long double)s.n + (long double)s.hb * (s.n - 1) + 1 + 2.0L * s.n +
        2.0L * s.n * s.hb;
    if (requested_bytes != 0) {
      EXPECT_GE((long double)requested_bytes, elements * sizeof(float))
          << "a wrapped byte count was asked for";
    }
  }
  std::fclose(sink);
}

void failing_solve(float*, std::int32_t, std::int32_t, float*, std::int32_t,
                   float*, std::int32_t& status) {
  status = 1;
}

// Negative sizes reach the solver, which rejects them: exit status 1.
TEST_F(DriverBadInput, BenchmarkWithInvalidSizesExitsWithOne) {
  FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  for (auto [n, hb] : {std::pair{-5, 8}, std::pair{100, -1},
                       std::pair{kMin, kMin}}) {
    SCOPED_TRACE(::testing::Message() << "n=" << n << " hb=" << hb);
    BenchmarkOptions options;
    options.n = n;
    options.hb = hb;
    options.output_fd = fileno(sink);
    options.solve = &solve_band_system_r4;
    options.processor_count = 2;
    EXPECT_EQ(run_benchmark(options), 1);
  }
  BenchmarkOptions options;
  options.n = 50;
  options.hb = 3;
  options.output_fd = fileno(sink);
  options.solve = &failing_solve;
  options.processor_count = 1;
  EXPECT_EQ(run_benchmark(options), 1);
  std::fclose(sink);
}

// ---------------------------------------------------------------------------
// NaN and infinity
// ---------------------------------------------------------------------------

enum class Where { diagonal, below_diagonal, rhs };

// What comes out: a NaN somewhere in the solution; the unknown of the
// poisoned row exactly 0 and the others solving the system without that
// row and column (the limit of an ever larger diagonal); or status 1.
enum class Outcome { nan, decoupled, fails };

struct Poison {
  Where where;
  int value;  // 0 NaN, 1 +inf, -1 -inf
  Outcome real, complex;
  const char* what;
};

const Poison kPoisons[] = {
    {Where::diagonal, 0, Outcome::nan, Outcome::nan, "NaN on the diagonal"},
    {Where::diagonal, 1, Outcome::decoupled, Outcome::decoupled,
     "+inf on the diagonal"},
    {Where::diagonal, -1, Outcome::fails, Outcome::decoupled,
     "-inf on the diagonal"},
    {Where::below_diagonal, 0, Outcome::nan, Outcome::nan,
     "NaN below the diagonal"},
    // The next pivot becomes a - inf·inf: -inf for a real type, a NaN
    // part with an infinite modulus for a complex one.
    {Where::below_diagonal, 1, Outcome::fails, Outcome::nan,
     "+inf below the diagonal"},
    {Where::rhs, 0, Outcome::nan, Outcome::nan, "NaN in B"},
    {Where::rhs, 1, Outcome::nan, Outcome::nan, "+inf in B"},
};

template <class T>
T poison_value(int value) {
  using R = Real<T>;
  return value == 0 ? T(std::numeric_limits<R>::quiet_NaN())
                    : T(R(value) * std::numeric_limits<R>::infinity());
}

template <class T>
bool has_nan(const std::vector<T>& v) {
  for (const T& e : v)
    if (std::isnan(std::real(e)) || std::isnan(std::imag(e))) return true;
  return false;
}

template <class T>
bool all_finite(const std::vector<T>& v) {
  for (const T& e : v)
    if (!std::isfinite(std::real(e)) || !std::isfinite(std::imag(e)))
      return false;
  return true;
}

// Solves with one family on the current team; status, A and B after.
template <class T>
std::int32_t solve_family(Family family, std::vector<T>& a, std::int32_t n,
                          std::int32_t hb, std::vector<T>& b) {
  std::vector<T> w(2 * std::size_t(n) * hb);
  std::int32_t status = 99;
  switch (family) {
    case Family::solver:
      Entry<T>::solve(a.data(), n, hb, b.data(), 1, w.data(), status);
      break;
    case Family::factor_solve:
      Entry<T>::factor_solve(a.data(), n, hb, b.data(), 4, status);
      break;
    case Family::factor_substitute:
      Entry<T>::factor(a.data(), n, hb, 4, status);
      if (status == 0)
        Entry<T>::substitute(a.data(), n, hb, b.data(), 4, status);
      break;
  }
  return status;
}

// NaN passes the pivot test (the comparison "not greater than 0" is
// false) and spreads; an infinite pivot passes when positive (complex:
// any infinite modulus) and a real -inf fails. Entries of B never reach
// the factor. Every team gives the same status, and when the solve
// succeeds the same bits.
TYPED_TEST(BadInput, NonFiniteEntriesPropagateAlikeOnEveryTeam) {
  using T = TypeParam;
  constexpr std::int32_t n = 45, hb = 3, j = 23;
  pband::testing::set_solver_block_base(3);
  const Resources baseline = warm_baseline();
  const auto a_clean = random_band_matrix<T>(n, hb, 71);
  const auto b_clean = random_rhs<T>(n, 1, 72);
  for (const Poison& p : kPoisons) {
    const Outcome outcome = IsComplex<T>::value ? p.complex : p.real;
    for (Family family : {Family::solver, Family::factor_solve,
                          Family::factor_substitute}) {
      SCOPED_TRACE(::testing::Message() << p.what << ", "
                                        << family_name(family));
      auto a = a_clean, b = b_clean;
      const T v = poison_value<T>(p.value);
      if (p.where == Where::diagonal) a[pos(j, j, hb)] = v;
      if (p.where == Where::below_diagonal) a[pos(j + 1, j, hb)] = v;
      if (p.where == Where::rhs) b[j - 1] = v;

      std::vector<T> first_a, first_b;
      for (std::int32_t team : {1, 3, 7}) {
        SCOPED_TRACE(::testing::Message() << "team " << team);
        set_team_size(team);
        std::vector<T> a1 = a, b1 = b;
        const std::int32_t status = solve_family(family, a1, n, hb, b1);
        if (outcome == Outcome::fails) {
          // What a failed solve leaves is undefined; its status is not.
          EXPECT_EQ(status, 1);
          continue;
        }
        ASSERT_EQ(status, 0);
        if (first_a.empty()) {
          first_a = a1;
          first_b = b1;
        }
        EXPECT_TRUE(same_bits(a1, first_a) && same_bits(b1, first_b))
            << "differs from the team of one";
        if (outcome == Outcome::nan) {
          EXPECT_TRUE(has_nan(b1));
        }
        if (outcome == Outcome::decoupled) {
          ASSERT_TRUE(all_finite(b1));
          EXPECT_EQ(b1[j - 1], T(0));
          auto a_red = a_clean;
          auto b_red = b_clean;
          for (std::int32_t k = std::max(1, j - hb); k <= std::min(n, j + hb);
               ++k)
            a_red[pos(std::max(j, k), std::min(j, k), hb)] = T(0);
          a_red[pos(j, j, hb)] = T(1);
          b_red[j - 1] = T(0);
          EXPECT_LT(scaled_residual(a_red, n, hb, b_red, b1, 1), 30.0)
              << "not the solution without the poisoned row";
        }
        if (p.where == Where::rhs) {
          std::vector<T> a2 = a_clean, b2 = b_clean;
          ASSERT_EQ(solve_family(family, a2, n, hb, b2), 0);
          EXPECT_TRUE(same_bits(a1, a2)) << "B changed the factor";
        }
      }
    }
  }
  EXPECT_EQ(Resources{}, baseline);
}

// A factor with a zero on its diagonal is not checked by substitution:
// the division by zero gives infinities or NaN in B, status 0, no trap.
TYPED_TEST(BadInput, SubstitutionWithAZeroInTheFactorSpreadsInfinities) {
  using T = TypeParam;
  constexpr std::int32_t n = 20, hb = 2;
  auto l = random_band_matrix<T>(n, hb, 81);
  l[pos(9, 9, hb)] = T(0);
  auto b = random_rhs<T>(n, 1, 82);
  for (std::int32_t team : {1, 4}) {
    set_team_size(team);
    auto x = b;
    std::int32_t status = 99;
    Entry<T>::substitute(l.data(), n, hb, x.data(), 3, status);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(all_finite(x));
  }
}

}  // namespace
}  // namespace pband::test
