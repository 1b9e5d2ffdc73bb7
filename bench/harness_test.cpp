// Tests of the comparison's harness: statistics, the error measure, the
// systems it builds, that every repetition starts from the pristine system,
// and that both LAPACK providers load side by side and solve correctly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "bench/harness.hpp"
#include "bench/lapack_provider.hpp"
#include "driver/benchmark.hpp"

namespace pband::bench {
namespace {

TEST(Summarize, MedianMinMaxOfOddAndEvenCounts) {
  const Stats odd = summarize({5.0, 1.0, 3.0});
  EXPECT_EQ(odd.count, 3);
  EXPECT_EQ(odd.median, 3.0);
  EXPECT_EQ(odd.min, 1.0);
  EXPECT_EQ(odd.max, 5.0);
  const Stats even = summarize({4.0, 1.0, 2.0, 10.0});
  EXPECT_EQ(even.median, 3.0);
  EXPECT_EQ(even.max, 10.0);
  EXPECT_EQ(summarize({}).count, 0);
}

template <class T>
class Typed : public ::testing::Test {};
using Reals = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Typed, Reals);

TYPED_TEST(Typed, RelativeErrorIsNormwiseAndNanIsInfinite) {
  using T = TypeParam;
  const std::vector<T> X = {T(0.5), T(-2), T(1)};
  EXPECT_EQ(max_relative_error(X, X, 3), 0.0);
  std::vector<T> x = X;
  x[2] = T(1.5);  // off by 0.5, largest |X| is 2
  EXPECT_DOUBLE_EQ(max_relative_error(x, X, 3), 0.25);
  x[0] = std::numeric_limits<T>::quiet_NaN();
  EXPECT_TRUE(std::isinf(max_relative_error(x, X, 3)));
}

TYPED_TEST(Typed, EveryRepetitionStartsFromThePristineSystem) {
  using T = TypeParam;
  BandSystem<float> f = make_float_system(50, 3);
  BandSystem<T> s;
  if constexpr (std::is_same_v<T, float>)
    s = f;
  else
    s = widen_system(f);
  RunPlan plan;
  plan.warmups = 2;
  plan.min_reps = plan.max_reps = 4;
  int calls = 0, pristine = 0;
  const Measurement m = measure<T>(s, plan, [&] {
    ++calls;
    pristine += s.A == s.A0 && s.B == s.B0;
    // leave a wrong answer and a ruined matrix behind
    std::fill(s.A.begin(), s.A.end(), T(-1));
    std::copy(s.X.begin(), s.X.end(), s.B.begin());
    s.B[7] += T(1);
    return calls == 3 ? 5 : 0;
  });
  EXPECT_EQ(calls, 6);
  EXPECT_EQ(pristine, 6);
  EXPECT_EQ(m.time.count, 4);
  EXPECT_EQ(m.status, 5);
  EXPECT_GT(m.max_error, 0.5);
}

TEST(Measure, LongWarmUpCountsAsARepetitionAndBudgetAddsReps) {
  BandSystem<float> s = make_float_system(10, 1);
  RunPlan plan;
  plan.warmups = 1;
  plan.min_reps = 2;
  plan.max_reps = 9;
  plan.long_run_seconds = 0;  // every warm-up is "long"
  plan.long_min_reps = 3;
  int calls = 0;
  auto solve = [&] {
    ++calls;
    return 0;
  };
  EXPECT_EQ(measure<float>(s, plan, solve).time.count, 3);
  EXPECT_EQ(calls, 3);
  plan.single_run_seconds = 0;  // and "very long": the warm-up is all
  calls = 0;
  EXPECT_EQ(measure<float>(s, plan, solve).time.count, 1);
  EXPECT_EQ(calls, 1);
  plan.single_run_seconds = INFINITY;
  plan.long_run_seconds = 1e9;
  plan.budget_seconds = 1e9;  // never reached: max_reps bounds it
  calls = 0;
  EXPECT_EQ(measure<float>(s, plan, solve).time.count, 9);
  EXPECT_EQ(calls, 10);
}

TEST(Systems, FloatSystemIsTheDriversAndDoubleSystemIsConsistent) {
  const std::int32_t n = 40, hb = 4;
  BandSystem<float> f = make_float_system(n, hb);
  const std::int64_t len = band_storage_length(n, hb);
  std::vector<float> A(len), B(n), X(n);
  make_test_problem(A.data(), B.data(), X.data(), n, hb, 1);
  ASSERT_EQ(f.A0.size(), std::size_t(n) * (hb + 1));
  EXPECT_EQ(std::memcmp(A.data(), f.A0.data(), len * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(B.data(), f.B0.data(), n * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(X.data(), f.X.data(), n * sizeof(float)), 0);

  // Double system: same matrix and X; B = A·X checked by a dense product
  // in long double.
  BandSystem<double> d = widen_system(f);
  std::vector<long double> dense(std::size_t(n) * n, 0);
  for (std::int32_t j = 0; j < n; ++j)
    for (std::int32_t i = j; i <= std::min(n - 1, j + hb); ++i) {
      const double a = d.A0[std::size_t(j) * (hb + 1) + (i - j)];
      EXPECT_EQ(a, double(f.A0[std::size_t(j) * (hb + 1) + (i - j)]));
      dense[std::size_t(i) * n + j] = dense[std::size_t(j) * n + i] = a;
    }
  for (std::int32_t i = 0; i < n; ++i) {
    EXPECT_EQ(d.X[i], double(f.X[i]));
    long double sum = 0, scale = 0;
    for (std::int32_t j = 0; j < n; ++j) {
      sum += dense[std::size_t(i) * n + j] * d.X[j];
      scale += std::fabs(dense[std::size_t(i) * n + j] * d.X[j]);
    }
    EXPECT_LE(std::fabs(double(sum - d.B0[i])),
              2 * (hb + 1) * std::numeric_limits<double>::epsilon() *
                  double(scale));
  }
}

const char* kLibDir = "/usr/lib/x86_64-linux-gnu";

std::vector<LapackProvider> load_both() {
  const std::string d = kLibDir;
  std::vector<LapackProvider> p;
  p.push_back(load_lapack_provider(
      "reference", {d + "/blas/libblas.so.3", d + "/lapack/liblapack.so.3"},
      0));
  const std::string ob = d + "/openblas-pthread/";
  if (std::filesystem::exists(ob + "liblapack.so.3"))
    p.push_back(load_lapack_provider(
        "OpenBLAS", {ob + "libopenblas.so.0", ob + "liblapack.so.3"}, 1));
  return p;
}

TEST(LapackProvider, ProvidersLoadApartAndSolveTheSystem) {
  const std::vector<LapackProvider> providers = load_both();
  ASSERT_TRUE(providers[0].usable()) << providers[0].error;
  const std::string ref_dir = std::string(kLibDir) + "/";
  EXPECT_EQ(providers[0].spbsv_file.rfind(ref_dir + "lapack/", 0), 0u)
      << providers[0].spbsv_file;
  for (const std::string& f : providers[0].loaded)
    EXPECT_EQ(f.find("openblas"), std::string::npos) << f;
  if (providers.size() > 1) {
    ASSERT_TRUE(providers[1].usable()) << providers[1].error;
    EXPECT_NE(providers[1].spbsv_file.find("openblas"), std::string::npos);
    EXPECT_NE(providers[1].spbsv, providers[0].spbsv);
    EXPECT_EQ(providers[1].threads, "1");
    for (const std::string& f : providers[1].loaded)
      EXPECT_EQ(f.find(ref_dir + "blas/"), std::string::npos) << f;
  }
  BandSystem<float> f = make_float_system(300, 5);
  BandSystem<double> d = widen_system(f);
  for (const LapackProvider& p : providers) {
    f.restore();
    d.restore();
    EXPECT_EQ(run_pbsv(p.spbsv, f.a(), f.n, f.hb, f.b()), 0);
    EXPECT_EQ(run_pbsv(p.dpbsv, d.a(), d.n, d.hb, d.b()), 0);
    EXPECT_LT(max_relative_error(f.B, f.X, f.n), 1e-4) << p.name;
    EXPECT_LT(max_relative_error(d.B, d.X, d.n), 1e-12) << p.name;
  }
}

TEST(LapackProvider, NonPositiveDefiniteMatrixGivesItsColumn) {
  const LapackProvider p = load_both()[0];
  ASSERT_TRUE(p.usable()) << p.error;
  BandSystem<float> f = make_float_system(20, 2);
  f.A0[std::size_t(6) * 3] = -1.0f;  // diagonal of column 7
  f.restore();
  EXPECT_EQ(run_pbsv(p.spbsv, f.a(), f.n, f.hb, f.b()), 7);
}

TEST(LapackProvider, MissingLibraryIsReportedNotFatal) {
  const LapackProvider p =
      load_lapack_provider("none", {"/nonexistent/liblapack.so.3"}, 0);
  EXPECT_FALSE(p.usable());
  EXPECT_NE(p.error.find("/nonexistent/liblapack.so.3"), std::string::npos);
}

}  // namespace
}  // namespace pband::bench
