// Mixed precision gives the same x, iter and status on every team: teams
// of 1, 2, 3 and 5 on a machine that reports 32 processors, at sizes where
// the teams really form, on the converging path and on a fall back.
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "runtime/runtime_testing.hpp"
#include "tests/api/c_api_support.hpp"
#include "tests/common/all_processors.hpp"

namespace pband::test {
namespace {

class MixedBits : public ::testing::Test {
 protected:
  void SetUp() override { testing::set_affinity_query(&all_processors); }
  void TearDown() override {
    testing::set_affinity_query(nullptr);
    testing::reset_team_size_state();
  }
};

struct Outcome {
  int status = -100;
  std::int32_t iter = -100;
  std::vector<unsigned char> x;
};

template <class T>
Outcome run(const CSystem<T>& s, std::int32_t threads) {
  const std::int32_t ldx = s.n + 1;
  std::vector<T> x(std::size_t(ldx) * s.nrhs, sentinel<T>());
  Outcome o;
  const auto ab = c_ptr(s.ab.data());
  const auto b = c_ptr(s.bb.data());
  const auto xp = c_ptr(x.data());
  if constexpr (std::is_same_v<T, double>)
    o.status = pband_solve_mixed_ds(s.n, s.hb, s.nrhs, ab, s.ldab, b, s.ldb, xp,
                                    ldx, &o.iter, threads);
  else
    o.status = pband_solve_mixed_zc(s.n, s.hb, s.nrhs, ab, s.ldab, b, s.ldb, xp,
                                    ldx, &o.iter, threads);
  o.x.resize(x.size() * sizeof(T));
  std::memcpy(o.x.data(), x.data(), o.x.size());
  return o;
}

// Every team of `teams` gives the bits of the first.
template <class T>
void expect_same_bits(const CSystem<T>& s,
                      std::initializer_list<std::int32_t> teams) {
  const Outcome first = run(s, *teams.begin());
  EXPECT_EQ(first.status, 0);
  for (std::int32_t team : teams) {
    const Outcome o = run(s, team);
    EXPECT_EQ(o.status, first.status) << "team " << team;
    EXPECT_EQ(o.iter, first.iter) << "team " << team;
    EXPECT_TRUE(o.x == first.x) << "team " << team << " n " << s.n;
  }
}

// A random system in a padded layout.
template <class T>
CSystem<T> system_of(std::int32_t n, std::int32_t hb, std::int32_t nrhs) {
  CSystem<T> s = c_system<T>(n, hb, nrhs, 1, 2, 17 + hb);
  return s;
}

TEST_F(MixedBits, RealOnEveryTeam) {
  for (auto [n, hb] : {std::pair{300001, 1}, {120007, 8}, {40003, 33}}) {
    const CSystem<double> s = system_of<double>(n, hb, 2);
    expect_same_bits(s, {1, 2, 3, 5});
  }
}

// Overflow in single: the double solve's bits, the same on every team.
TEST_F(MixedBits, FallBackOnEveryTeam) {
  CSystem<double> s = system_of<double>(150001, 4, 1);
  for (auto& v : s.a) v *= 1e39;
  s.lay_out();
  expect_same_bits(s, {1, 2, 3, 5});
  EXPECT_EQ(run(s, 5).iter, -2);
}

TEST_F(MixedBits, ComplexOnEveryTeam) {
  for (auto [n, hb] : {std::pair{200003, 1}, {60001, 8}}) {
    const CSystem<std::complex<double>> s =
        system_of<std::complex<double>>(n, hb, 2);
    expect_same_bits(s, {1, 2, 3, 5});
  }
}

}  // namespace
}  // namespace pband::test
