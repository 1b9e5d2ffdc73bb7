// Pinned bits of the solver: FNV-1a hashes of the factors left in A and
// of the solution, recorded from the straightforward implementation. Any
// faster code path (vector widths, bandwidth-specialised kernels) must
// reproduce them exactly, whatever instruction set it runs on.
#include <cstring>
#include <tuple>

#include "driver/benchmark.hpp"
#include "kernels/factor_diagonal_block.hpp"
#include "tests/solver/solver_test_support.hpp"

namespace pband::test {
namespace {

// FNV-1a, 64 bits, over the bytes of the array.
template <class T>
std::uint64_t fnv1a(const std::vector<T>& v) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  const auto* p = reinterpret_cast<const unsigned char*>(v.data());
  for (std::size_t i = 0; i < v.size() * sizeof(T); ++i) {
    h ^= p[i];
    h *= 0x100000001b3ull;
  }
  return h;
}

struct Pinned {
  std::uint64_t factor;
  std::uint64_t solution;
};

// Prints what a run produced, so that a failure shows the new values.
template <class T>
void expect_pinned(const std::vector<T>& a, const std::vector<T>& b,
                   Pinned want, const char* what) {
  const Pinned got{fnv1a(a), fnv1a(b)};
  EXPECT_EQ(got.factor, want.factor) << what << ": factor bits changed";
  EXPECT_EQ(got.solution, want.solution) << what << ": solution bits changed";
  if (got.factor != want.factor || got.solution != want.solution)
    std::printf("%s: {0x%016llxull, 0x%016llxull}\n", what,
                static_cast<unsigned long long>(got.factor),
                static_cast<unsigned long long>(got.solution));
}

// Every instruction-set path the solver can take on this machine, the
// baseline first.
std::vector<std::int32_t> isa_levels() {
  std::vector<std::int32_t> levels;
  for (std::int32_t l = 0; l <= pband::testing::solver_isa_widest(); ++l)
    levels.push_back(l);
  return levels;
}

class SolverHash : public SolverFixture {
 protected:
  void TearDown() override {
    pband::testing::set_solver_isa(-1);
    SolverFixture::TearDown();
  }
};

// The cap takes effect and is lifted again; the widest path is the
// default.
TEST_F(SolverHash, InstructionSetCanBeCapped) {
  const std::int32_t widest = pband::testing::solver_isa_widest();
  ASSERT_GE(widest, 0);
  ASSERT_LE(widest, 2);
  EXPECT_EQ(pband::testing::solver_isa_in_use(), widest);
  for (std::int32_t level : isa_levels()) {
    pband::testing::set_solver_isa(level);
    EXPECT_EQ(pband::testing::solver_isa_in_use(), level);
  }
  pband::testing::set_solver_isa(widest + 1);
  EXPECT_EQ(pband::testing::solver_isa_in_use(), widest);
  pband::testing::set_solver_isa(-1);
  EXPECT_EQ(pband::testing::solver_isa_in_use(), widest);
}

// The benchmark's own system on teams of one and two, on every path.
TEST_F(SolverHash, BenchmarkSystemSingle) {
  const std::int32_t n = 2000000, hb = 8;
  const std::int64_t la = band_storage_length(n, hb);
  std::vector<float> a(la), b(n), x(n), w(2 * std::size_t(n) * hb);
  pband::testing::set_solver_block_base(24);
  for (std::int32_t isa : isa_levels()) {
    pband::testing::set_solver_isa(isa);
    for (std::int32_t team : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << "isa " << isa << " team " << team);
      make_test_problem(a.data(), b.data(), x.data(), n, hb, 1);
      set_team_size(team);
      std::int32_t status = -100;
      {
        Watchdog guard(kHangLimit);
        solve_band_system_r4(a.data(), n, hb, b.data(), 1, w.data(), status);
      }
      ASSERT_EQ(status, 0);
      expect_pinned(a, b, {0xd6e3ae1bba09c0b3ull, 0xa100dd18a852e215ull}, "benchmark r4");
    }
  }
}

// The same system widened to double (exactly: its values are short
// fractions), solved in double precision.
TEST_F(SolverHash, BenchmarkSystemDouble) {
  const std::int32_t n = 2000000, hb = 8;
  const std::int64_t la = band_storage_length(n, hb);
  std::vector<float> af(la), bf(n), xf(n);
  make_test_problem(af.data(), bf.data(), xf.data(), n, hb, 1);
  std::vector<double> a(la), b(n), w(2 * std::size_t(n) * hb);
  pband::testing::set_solver_block_base(24);
  for (std::int32_t isa : isa_levels()) {
    pband::testing::set_solver_isa(isa);
    for (std::int32_t team : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << "isa " << isa << " team " << team);
      std::copy(af.begin(), af.end(), a.begin());
      std::copy(bf.begin(), bf.end(), b.begin());
      set_team_size(team);
      std::int32_t status = -100;
      {
        Watchdog guard(kHangLimit);
        solve_band_system_r8(a.data(), n, hb, b.data(), 1, w.data(), status);
      }
      ASSERT_EQ(status, 0);
      expect_pinned(a, b, {0xa8c50845a266cd8aull, 0xd1c73e53e001c66eull}, "benchmark r8");
    }
  }
}

// Test data from its own generator (splitmix64), independent of the
// standard library's distributions: values k·2⁻²⁴ in [-1, 1), and a
// diagonal that dominates its row by at least 1.
class Splitmix {
 public:
  explicit Splitmix(std::uint64_t seed) : s_(seed) {}
  double next() {
    std::uint64_t z = (s_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    return double(std::int64_t(z >> 39) - (std::int64_t(1) << 24)) /
           double(std::int64_t(1) << 24);
  }
  template <class T>
  T value() {
    if constexpr (IsComplex<T>::value) {
      const double re = next();
      const double im = next();
      return T(Real<T>(re), Real<T>(im));
    } else {
      return T(next());
    }
  }

 private:
  std::uint64_t s_;
};

template <class T>
double size_bound(const T& v) {
  if constexpr (IsComplex<T>::value)
    return std::fabs(double(v.real())) + std::fabs(double(v.imag()));
  else
    return std::fabs(double(v));
}

template <class T>
SolveRun<T> hashed_system(std::int32_t n, std::int32_t hb,
                          std::int32_t nrhs, std::uint64_t seed) {
  Splitmix g(seed);
  SolveRun<T> r;
  r.n = n;
  r.hb = hb;
  r.nrhs = nrhs;
  r.a0.assign(band_length(n, hb), T(0));
  for (std::int64_t j = 1; j <= n; ++j)
    for (std::int64_t i = j + 1; i <= std::min<std::int64_t>(n, j + hb); ++i)
      r.a0[pos(i, j, hb)] = g.value<T>();
  for (std::int64_t j = 1; j <= n; ++j) {
    double off = 0;
    for (std::int64_t k = std::max<std::int64_t>(1, j - hb);
         k <= std::min<std::int64_t>(n, j + hb); ++k)
      if (k != j) off += size_bound(band_at(r.a0, hb, k, j));
    r.a0[pos(j, j, hb)] = T(Real<T>(off + 1.0 + std::fabs(g.next())));
  }
  r.b0.resize(std::size_t(n) * nrhs);
  for (T& v : r.b0) v = g.value<T>();
  return r;
}

struct HashCase {
  std::int32_t hb;
  Pinned pinned;
};

// Half bandwidths with and without a specialised kernel; n is not a
// multiple of the block size, and a small block base gives many levels.
template <class T>
std::vector<HashCase> hash_cases();

template <>
std::vector<HashCase> hash_cases<float>() {
  return {
      {0, {0x6851bd8f1b312bd4ull, 0x7b1f67bbe165385bull}},
      {1, {0xa48b645da5071664ull, 0xa57586d1d4176f57ull}},
      {2, {0x6dfcf6186c2e56faull, 0xf03c06f6cd576d0bull}},
      {3, {0x7164b0b0a234c4dcull, 0x228bee47c8309a4eull}},
      {4, {0xe8ccf56ff20bb22eull, 0x7e6c3ccea995a837ull}},
      {5, {0x49692ca9725559fdull, 0x290f1193ed54da1cull}},
      {8, {0x292e8a1045297fcfull, 0x015ab2f6aa91758full}},
      {16, {0x1218e5b8ddbe03d8ull, 0x2d7e2cea2d7ff15dull}},
      {17, {0x6d9f609f40b336cdull, 0x3538b8619a2f1b4bull}},
      {33, {0x8dcace2c31f4ad2dull, 0xca683766ff73019full}}};
}
template <>
std::vector<HashCase> hash_cases<double>() {
  return {
      {0, {0x36c18d1e83be780eull, 0xa66229897b5f3518ull}},
      {1, {0xb8a86d90b238967full, 0x7bb3f06e67aa292full}},
      {2, {0x142a7adc3af9c152ull, 0x5230150c84d9fa64ull}},
      {3, {0xacb7862886288295ull, 0x696acfd014152667ull}},
      {4, {0xe6bb27384951e5b1ull, 0x627bf5d6d0ac79d0ull}},
      {5, {0xd360bb9e2e212634ull, 0x8a1957811a8a2b98ull}},
      {8, {0xbe5ca03413392a9aull, 0x6ab3cb2cf2e6b00cull}},
      {16, {0xa29d74b9ec859f9bull, 0xc13311a544da76cfull}},
      {17, {0x1b86f0b84ea65cd8ull, 0x7ca3e7929a411209ull}},
      {33, {0x777e7b7076df4585ull, 0x583b7d82c9dd0e93ull}}};
}
template <>
std::vector<HashCase> hash_cases<std::complex<float>>() {
  return {
      {0, {0x0a7d0f58e66e9aa4ull, 0xdcf27e71ee647a03ull}},
      {1, {0x6dd75e705ffd1cfbull, 0x72afabd3060155eeull}},
      {2, {0xd960189f66d5fb68ull, 0xd663dd639a73de3aull}},
      {3, {0x93682c604f77245bull, 0xa2525471851a4ccfull}},
      {4, {0x94b57dfc4e8da633ull, 0xdcb0f703f6e64b58ull}},
      {5, {0xc0249ba4faef2714ull, 0x92a960b4b6a38cc9ull}},
      {8, {0x537ecbdbd014b952ull, 0xd46903cb2fd50951ull}},
      {16, {0x88abdb60adc08030ull, 0x533bb96ee8aeecfcull}},
      {17, {0xbe32fad41a33ad9full, 0x9a2a69c092a36bd3ull}},
      {33, {0x17ecde76d0e17e51ull, 0x2509f7f6bc839288ull}}};
}
template <>
std::vector<HashCase> hash_cases<std::complex<double>>() {
  return {
      {0, {0xdff712b6c4e1480eull, 0xaf9718c2554bc2afull}},
      {1, {0x68fe7da9d92c15a8ull, 0x71273b4023113777ull}},
      {2, {0x28b74c0547f860c6ull, 0x30fc8b8b55e8d459ull}},
      {3, {0xf8892ddfc3bb6625ull, 0xb920921ef73d7130ull}},
      {4, {0x9cec44cd6cf33b39ull, 0xc1f68ef189f945baull}},
      {5, {0x954f119f3379cb22ull, 0x7883d813b6d25293ull}},
      {8, {0x647382d4d304290aull, 0xa0079f6e7400f202ull}},
      {16, {0x8c4509bfcbb9e51full, 0xf2df22a01af41d20ull}},
      {17, {0xd6d4c678d2bfe3ffull, 0x70e86500d8dec64cull}},
      {33, {0xbe8209fc8860664full, 0x647117e7359312eaull}}};
}

template <class T>
class SolverHashTyped : public SolverHash {};
TYPED_TEST_SUITE(SolverHashTyped, ElementTypes);

// Block base 7: 49/hb columns per block (at least hb + 1), so every case
// runs through many levels; two right-hand sides; teams of one and three.
TYPED_TEST(SolverHashTyped, RandomSystems) {
  pband::testing::set_solver_block_base(7);
  for (const HashCase& hc : hash_cases<TypeParam>()) {
    const std::int32_t n = 1500 + 7 * hc.hb, nrhs = 2;
    const SolveRun<TypeParam> base =
        hashed_system<TypeParam>(n, hc.hb, nrhs, 1000 + hc.hb);
    for (std::int32_t isa : isa_levels()) {
      pband::testing::set_solver_isa(isa);
      for (std::int32_t team : {1, 3}) {
        SCOPED_TRACE(::testing::Message() << "hb " << hc.hb << " isa " << isa
                                          << " team " << team);
        SolveRun<TypeParam> r = base;
        solve_with_team(r, team);
        ASSERT_EQ(r.status, 0);
        char what[32];
        std::snprintf(what, sizeof what, "hb %d", hc.hb);
        expect_pinned(r.a, r.b, hc.pinned, what);
      }
    }
  }
}

// The diagonal-block routine, which the band library compiles from the
// solver's header, takes the capped path too, and every path leaves the
// bits of the baseline one: widths with a vector form and without, around
// the masked form's vector counts, runs shorter than the band, and a
// pivot that fails inside the run (what it leaves must match too).
TYPED_TEST(SolverHashTyped, DiagonalBlockSameOnEveryPath) {
  using T = TypeParam;
  for (std::int32_t hb : {1, 4, 8, 9, 15, 16, 17, 24, 33, 64, 65, 130}) {
    for (const auto& [first, last, failing] :
         {std::tuple{11, 290, 0}, std::tuple{3, 3 + hb / 2, 0},
          std::tuple{1, 300, 150}}) {
      SCOPED_TRACE(::testing::Message() << "hb " << hb << " run " << first
                                        << "-" << last << " fails at "
                                        << failing);
      // A complex pivot fails on its modulus alone: real types only.
      if (failing > 0 && IsComplex<T>::value) continue;
      SolveRun<T> sys = hashed_system<T>(300, hb, 1, 7 + hb);
      if (failing > 0) sys.a0[pos(failing, failing, hb)] = T(-1);
      std::vector<T> baseline;
      for (std::int32_t isa : isa_levels()) {
        pband::testing::set_solver_isa(isa);
        std::vector<T> a = sys.a0;
        std::atomic<std::int32_t> flags[2] = {0, 0};
        factor_diagonal_block<T>(a.data(), hb, first, last, Real<T>(0), flags,
                                 1);
        ASSERT_EQ(flags[0].load(), failing > 0 ? 1 : 0) << "isa " << isa;
        if (isa == 0)
          baseline = a;
        else
          EXPECT_TRUE(same_bits(a, baseline)) << "isa " << isa;
      }
    }
  }
}

}  // namespace
}  // namespace pband::test
