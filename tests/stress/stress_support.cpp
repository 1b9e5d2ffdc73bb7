// The typed half of the stress suites' cases, compiled once for all of
// them: a system of each element type through each family, and the
// random choice of one.
#include "tests/stress/stress_support.hpp"

namespace pband::test {
namespace {

template <class T>
class TypedCase : public Case {
 public:
  TypedCase(Family f, std::int32_t n_, std::int32_t hb_, std::int32_t nrhs_,
            std::int32_t nb, std::uint64_t seed) {
    family = f;
    n = n_;
    hb = hb_;
    nrhs = f == Family::solver ? nrhs_ : 1;
    block_width = nb;
    seed_ = seed;
    a0_ = random_band_matrix<T>(n, hb, seed);
    // Storage of rows beyond n (columns before the last): never read.
    for (std::int64_t j = std::max<std::int64_t>(1, n - hb + 1); j < n; ++j)
      for (std::int64_t i = n + 1; i <= j + hb; ++i) a0_[pos(i, j, hb)] = nan();
    b0_ = random_rhs<T>(n, nrhs, seed ^ 0x9E3779B97F4A7C15ull);
  }

  void run() override {
    fill(a_, a0_);
    fill(b_, b0_);
    std::vector<T> none;
    fill(w_, family == Family::solver
                 ? std::vector<T>(2 * std::size_t(n) * hb, nan())
                 : none);
    status = -100;
    T* A = a_.data() + kGuard;
    T* B = b_.data() + kGuard;
    switch (family) {
      case Family::solver:
        Entry<T>::solve(A, n, hb, B, nrhs, w_.data() + kGuard, status);
        break;
      case Family::factor_solve:
        Entry<T>::factor_solve(A, n, hb, B, block_width, status);
        break;
      case Family::factor_substitute:
        Entry<T>::factor(A, n, hb, block_width, status);
        if (status == 0) {
          std::int32_t s = -100;
          Entry<T>::substitute(A, n, hb, B, block_width, s);
          if (s != 0) status = 100 + s;  // substitution never fails
        }
        break;
    }
  }

  double residual() const override {
    const std::vector<T> x(b_.begin() + kGuard, b_.end() - kGuard);
    return scaled_residual(a0_, n, hb, b0_, x, nrhs);
  }

  std::vector<unsigned char> bits() const override {
    std::vector<unsigned char> out((a_.size() + b_.size()) * sizeof(T));
    std::memcpy(out.data(), a_.data(), a_.size() * sizeof(T));
    std::memcpy(out.data() + a_.size() * sizeof(T), b_.data(),
                b_.size() * sizeof(T));
    return out;
  }

  bool guards_intact() const override {
    return intact(a_) && intact(b_) && (w_.empty() || intact(w_));
  }

  void plant_zero_pivot(std::int32_t j) override {
    for (std::int64_t k = std::max(1, j - hb); k <= std::min(n, j + hb); ++k)
      if (k != j) a0_[pos(std::max<std::int64_t>(j, k),
                          std::min<std::int64_t>(j, k), hb)] = T(0);
    a0_[pos(j, j, hb)] = T(0);
  }

  std::string describe() const override {
    return std::string(family_name(family)) + "_" + Entry<T>::name +
           " n=" + std::to_string(n) + " hb=" + std::to_string(hb) +
           " nrhs=" + std::to_string(nrhs) +
           " nb=" + std::to_string(block_width) +
           " seed=" + std::to_string(seed_);
  }

 private:
  static T nan() { return T(std::numeric_limits<Real<T>>::quiet_NaN()); }
  static T guard_value() { return T(Real<T>(-12345.5)); }

  static void fill(std::vector<T>& out, const std::vector<T>& in) {
    out.assign(in.size() + 2 * kGuard, guard_value());
    std::copy(in.begin(), in.end(), out.begin() + kGuard);
  }
  static bool intact(const std::vector<T>& v) {
    const T g = guard_value();
    for (std::int64_t k = 0; k < kGuard; ++k)
      if (!(v[k] == g) || !(v[v.size() - 1 - k] == g)) return false;
    return true;
  }

  std::uint64_t seed_ = 0;
  std::vector<T> a0_, b0_;
  std::vector<T> a_, b_, w_;
};

}  // namespace

std::unique_ptr<Case> make_case(int type, Family family, std::int32_t n,
                                std::int32_t hb, std::int32_t nrhs,
                                std::int32_t block_width, std::uint64_t seed) {
  switch (type) {
    case 0:
      return std::make_unique<TypedCase<float>>(family, n, hb, nrhs,
                                                block_width, seed);
    case 1:
      return std::make_unique<TypedCase<double>>(family, n, hb, nrhs,
                                                 block_width, seed);
    case 2:
      return std::make_unique<TypedCase<std::complex<float>>>(
          family, n, hb, nrhs, block_width, seed);
    default:
      return std::make_unique<TypedCase<std::complex<double>>>(
          family, n, hb, nrhs, block_width, seed);
  }
}

std::unique_ptr<Case> random_case(std::mt19937_64& rng, Family family,
                                  int type) {
  std::uniform_int_distribution<std::int32_t> n_d(1, 80), hb_d(0, 9),
      nrhs_d(0, 3), nb_d(1, 12);
  const std::int32_t n = n_d(rng), hb = hb_d(rng), nrhs = nrhs_d(rng),
                     nb = nb_d(rng);
  const std::uint64_t seed = rng();
  return make_case(type, family, n, hb, nrhs, nb, seed);
}

std::unique_ptr<Case> random_case(std::mt19937_64& rng) {
  const int family = std::uniform_int_distribution<int>(0, 2)(rng);
  const int type = std::uniform_int_distribution<int>(0, 3)(rng);
  return random_case(rng, static_cast<Family>(family), type);
}

}  // namespace pband::test
