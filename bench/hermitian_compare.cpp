// pband_hermitian_compare: times the Hermitian solve (pband_solve_hermitian_z)
// against reference LAPACK's zpbsv and against the complex symmetric solve
// (pband_solve_z) on the benchmark's pattern in complex double: A = L·Lᴴ
// with L's elements cycling through 1 … hb (imaginary parts cycling through
// -1, 0, 1), the diagonal times 10, and a random X with B = A·X.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/harness.hpp"
#include "bench/lapack_provider.hpp"
#include "pband/pband.h"

namespace pband::bench {
namespace {

using Z = std::complex<double>;

struct HermitianSystem {
  int n = 0, hb = 0;
  std::vector<Z> A0, B0, X;  // compact lower band, ld = hb + 1
};

// Element (i, j), 0-based, i >= j, of compact lower band storage.
std::size_t at(int i, int j, int hb) {
  return std::size_t(j) * (hb + 1) + (i - j);
}

HermitianSystem make_system(int n, int hb) {
  HermitianSystem s{n, hb, {}, {}, {}};
  const std::size_t len = std::size_t(n) * (hb + 1);
  std::vector<Z> L(len, Z(0, 0));
  int counter = 0;
  for (int j = 0; j < n; ++j)
    for (int r = 0; r <= hb && j + r < n; ++r) {
      counter = counter % std::max(hb, 1) + 1;
      L[at(j + r, j, hb)] = Z(counter, counter % 3 - 1);
    }
  // A = L·Lᴴ: A(i, j) = Σ_k L(i, k)·conj(L(j, k)), k ≤ j ≤ i ≤ k + hb.
  s.A0.assign(len, Z(0, 0));
  for (int j = 0; j < n; ++j)
    for (int i = j; i <= std::min(n - 1, j + hb); ++i) {
      Z sum(0, 0);
      for (int k = std::max(0, i - hb); k <= j; ++k)
        sum += L[at(i, k, hb)] * std::conj(L[at(j, k, hb)]);
      s.A0[at(i, j, hb)] = i == j ? Z(10 * sum.real(), 0) : sum;
    }
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(-1, 1);
  s.X.resize(n);
  for (Z& x : s.X) x = Z(u(rng), u(rng));
  s.B0.assign(n, Z(0, 0));
  for (int j = 0; j < n; ++j) {
    s.B0[j] += s.A0[at(j, j, hb)] * s.X[j];
    for (int i = j + 1; i <= std::min(n - 1, j + hb); ++i) {
      s.B0[i] += s.A0[at(i, j, hb)] * s.X[j];
      s.B0[j] += std::conj(s.A0[at(i, j, hb)]) * s.X[i];
    }
  }
  return s;
}

// One routine under test: its name, the call, whether its X is the
// system's (the complex symmetric solve reads A as Aᵀ = A: its X differs).
struct Routine {
  Routine(std::string label, std::function<int(Z*, Z*)> call, bool check = true)
      : name(std::move(label)), solve(std::move(call)), checked(check) {}
  std::string name;
  std::function<int(Z* a, Z* b)> solve;
  bool checked;
  std::vector<double> seconds;
  int status = 0;
  double error = 0;  // ‖x − X‖∞ / ‖X‖∞, worst repetition
};

// Every repetition calls each routine once, in turn, so that whatever
// else runs on the machine falls on all of them alike; A and B are
// restored outside the timed region. The first round warms up.
void time_interleaved(const HermitianSystem& s, int reps,
                      std::vector<Routine>& routines) {
  std::vector<Z> a, b;
  for (int r = 0; r <= reps; ++r)
    for (Routine& t : routines) {
      a = s.A0;
      b = s.B0;
      const double start = now_seconds();
      const int status = t.solve(a.data(), b.data());
      const double elapsed = now_seconds() - start;
      if (status != 0 && t.status == 0) t.status = status;
      if (r > 0) t.seconds.push_back(elapsed);
      if (!t.checked) continue;
      double err = 0, scale = 0;
      for (int i = 0; i < s.n; ++i) {
        err = std::max(err, std::abs(b[i] - s.X[i]));
        scale = std::max(scale, std::abs(s.X[i]));
      }
      t.error = std::max(t.error, err / scale);
    }
}

int run(int n, int hb, int reps, const std::string& libdir) {
  const HermitianSystem s = make_system(n, hb);
  const LapackProvider ref = load_lapack_provider(
      "reference",
      {libdir + "/blas/libblas.so.3", libdir + "/lapack/liblapack.so.3"}, 1);
  if (!ref.usable() || ref.zpbsv == nullptr) {
    std::fprintf(stderr, "reference LAPACK: %s\n",
                 ref.usable() ? "no zpbsv_" : ref.error.c_str());
    return 1;
  }
  auto c = [](Z* p) { return reinterpret_cast<pband_complex_double*>(p); };
  // The caller's workspace, as the benchmark gives the solver its own:
  // page faults of a fresh allocation stay out of the times.
  // The two solves may take different methods, with different needs.
  const std::int64_t lwork =
      std::max(pband_solve_hermitian_workspace_z(n, hb, 1, hb + 1, n),
               pband_solve_workspace_z(n, hb, 1, hb + 1, n));
  std::vector<Z> work(std::max<std::int64_t>(lwork, 1));
  std::vector<Routine> routines;
  routines.push_back({"zpbsv (reference LAPACK)", [&](Z* a, Z* b) {
                        const int nrhs = 1, ldab = hb + 1;
                        int info = 0;
                        ref.zpbsv("L", &n, &hb, &nrhs, a, &ldab, b, &n, &info,
                                  1);
                        return info;
                      }});
  for (int threads : {1, 2}) {
    const std::string t = " T=" + std::to_string(threads);
    routines.push_back(
        {"pband_solve_hermitian_z" + t, [&, threads](Z* a, Z* b) {
           return pband_solve_hermitian_work_z(n, hb, 1, c(a), hb + 1, c(b), n,
                                               threads, c(work.data()), lwork);
         }});
    routines.push_back({"pband_solve_z (symmetric)" + t,
                        [&, threads](Z* a, Z* b) {
                          return pband_solve_work_z(n, hb, 1, c(a), hb + 1,
                                                    c(b), n, threads,
                                                    c(work.data()), lwork);
                        },
                        false});
  }
  time_interleaved(s, reps, routines);
  const Stats lapack = summarize(routines[0].seconds);
  std::printf("n %d, hb %d, complex double, median of %d, interleaved\n", n, hb,
              reps);
  std::printf("%-30s %9s %9s %8s %6s %6s\n", "routine", "seconds", "min",
              "error", "ratio", "r.med");
  for (const Routine& t : routines) {
    const Stats st = summarize(t.seconds);
    // The median of each round's own ratio: robust to slow rounds.
    std::vector<double> ratios;
    for (std::size_t k = 0; k < t.seconds.size(); ++k)
      ratios.push_back(t.seconds[k] / routines[0].seconds[k]);
    std::printf("%-30s %9.4f %9.4f %8.1e %6.3f %6.3f%s\n", t.name.c_str(),
                st.median, st.min, t.checked ? t.error : NAN,
                st.median / lapack.median, summarize(ratios).median,
                t.status != 0 ? "  FAILED" : "");
  }
  return 0;
}

}  // namespace
}  // namespace pband::bench

int main(int argc, char** argv) {
  int n = 1000000, hb = 8, reps = 5;
  std::string libdir = "/usr/lib/x86_64-linux-gnu";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--n") == 0) n = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--hb") == 0) hb = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--reps") == 0) reps = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--libdir") == 0) libdir = argv[i + 1];
  }
  if (n < 1 || hb < 0 || reps < 1) {
    std::fputs(
        "usage: pband_hermitian_compare [--n N] [--hb HB] [--reps R]"
        " [--libdir DIR]\n",
        stderr);
    return 2;
  }
  return pband::bench::run(n, hb, reps, libdir);
}
