// pband_mpi_bench: the distributed solve timed under mpirun, beside the
// one-process pband_solve_d on one team thread and, where the build found
// it, ScaLAPACK's pdpbsv on the same ranks and split.
//   mpirun -np P pband_mpi_bench [--n N | --n-per-rank N] [--hb HB]
//       [--system test|random] [--nrhs K] [--threads T] [--reps R]
//   mpirun -np 2 pband_mpi_bench --pingpong
// --pingpong: the latency and bandwidth of messages between two ranks
// (half the round trip), the figures of the scaling model
// (docs/scaling.md).
// --n: strong scaling (the same n at every P); --n-per-rank: weak scaling.
// The test system is the benchmark's (driver/test_problem.cpp, formed in
// single precision and solved in double); random is diagonally dominant,
// each rank drawing its own piece. Prints, on rank 0, the best and median
// of R solves (barrier to barrier), the scaled residual
// ‖b − A·x‖₁ / (‖A‖₁·‖x‖₁·eps) and a hash of X, which is the same for every
// P when the solver keeps its bits.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/benchmark.hpp"
#include "pband/pband.h"
#include "pband/pband_mpi.h"

#if defined(PBAND_HAVE_SCALAPACK)
extern "C" {
void Cblacs_get(int context, int what, int* value);
void Cblacs_gridinit(int* context, const char* order, int rows, int cols);
void Cblacs_gridexit(int context);
void pdpbsv_(const char* uplo, const int* n, const int* bw, const int* nrhs,
             double* a, const int* ja, const int* desca, double* b,
             const int* ib, const int* descb, double* work, const int* lwork,
             int* info);
}
#endif

namespace {

struct Options {
  std::int64_t n = 2000000;
  std::int64_t n_per_rank = 0;
  std::int32_t hb = 8;
  std::int32_t nrhs = 1;
  std::int32_t threads = 1;
  int reps = 5;
  bool test_system = true;
  bool pingpong = false;
};

// A value in [-1, 1) from the position alone: every rank draws its own
// piece of the random system.
double drawn(std::uint64_t i, std::uint64_t j) {
  std::uint64_t z = i * 0x9E3779B97F4A7C15ull + j * 0xBF58476D1CE4E5B9ull + 1;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return double(z >> 11) * 0x1.0p-52 - 1.0;
}

// The whole system on one rank: band (stride hb + 1) and B.
struct System {
  std::vector<double> a, b;
};

// Columns first … first + count − 1 of the system and their rows of B.
void piece_of(const Options& o, std::int64_t n, std::int64_t first,
              std::int64_t count, const System* whole, std::vector<double>& a,
              std::vector<double>& b) {
  const std::int64_t ld = o.hb + 1;
  a.assign(std::size_t(std::max<std::int64_t>(count, 1) * ld), 0.0);
  b.assign(std::size_t(std::max<std::int64_t>(count, 1) * o.nrhs), 0.0);
  for (std::int64_t j = 0; j < count; ++j) {
    const std::int64_t col = first + j;
    for (std::int64_t i = 0; i <= std::min<std::int64_t>(o.hb, n - 1 - col);
         ++i)
      a[std::size_t(j * ld + i)] =
          whole    ? whole->a[std::size_t(col * ld + i)]
          : i == 0 ? 2.0 * o.hb + 1.5 + 0.5 * drawn(col, col)
                   : drawn(col + i, col);
    for (std::int64_t q = 0; q < o.nrhs; ++q)
      b[std::size_t(q * count + j)] =
          whole ? whole->b[std::size_t(q * n + col)] : drawn(col, n + q);
  }
}

System test_system(std::int64_t n, std::int32_t hb, std::int32_t nrhs) {
  const std::int64_t len = n + std::int64_t(hb) * (n - 1);
  const auto elements = [](std::int64_t k) {
    return static_cast<std::size_t>(k);
  };
  std::vector<float> a(elements(len)), b(elements(n * nrhs)),
      x(elements(n * nrhs));
  pband::make_test_problem(a.data(), b.data(), x.data(),
                           static_cast<std::int32_t>(n), hb, nrhs);
  System s;
  s.a.assign(std::size_t(n * (hb + 1)), 0.0);
  std::copy(a.begin(), a.end(), s.a.begin());
  s.b.assign(b.begin(), b.end());
  return s;
}

System random_system(const Options& o, std::int64_t n) {
  System s;
  piece_of(o, n, 0, n, nullptr, s.a, s.b);
  return s;
}

double scaled_residual(const System& s, std::int64_t n, std::int32_t hb,
                       std::int32_t nrhs, const std::vector<double>& x) {
  const std::int64_t ld = hb + 1;
  auto at = [&](std::int64_t i, std::int64_t j) {  // 0-based, |i − j| ≤ hb
    return i >= j ? s.a[std::size_t(j * ld + i - j)]
                  : s.a[std::size_t(i * ld + j - i)];
  };
  long double norm_a = 0;
  for (std::int64_t j = 0; j < n; ++j) {
    long double c = 0;
    for (std::int64_t i = std::max<std::int64_t>(0, j - hb);
         i <= std::min<std::int64_t>(n - 1, j + hb); ++i)
      c += std::fabs(at(i, j));
    norm_a = std::max(norm_a, c);
  }
  double worst = 0;
  for (std::int64_t q = 0; q < nrhs; ++q) {
    long double r = 0, nx = 0;
    const double* xq = x.data() + q * n;
    for (std::int64_t i = 0; i < n; ++i) {
      long double t = s.b[std::size_t(q * n + i)];
      for (std::int64_t j = std::max<std::int64_t>(0, i - hb);
           j <= std::min<std::int64_t>(n - 1, i + hb); ++j)
        t -= (long double)at(i, j) * xq[j];
      r += std::fabs(t);
      nx += std::fabs(xq[i]);
    }
    worst = std::max(worst, double(r / (norm_a * nx * 0x1.0p-52)));
  }
  return worst;
}

std::uint64_t hash_of(const std::vector<double>& x) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  const auto* p = reinterpret_cast<const unsigned char*>(x.data());
  for (std::size_t k = 0; k < x.size() * sizeof(double); ++k)
    h = (h ^ p[k]) * 0x100000001b3ull;
  return h;
}

// Best and median of the times (seconds).
struct Times {
  double best = 0, median = 0;
};
Times summary(std::vector<double> t) {
  std::sort(t.begin(), t.end());
  return {t.front(), t[t.size() / 2]};
}

// Seconds from the barrier before to the end of the slowest rank.
template <class F>
double timed(F f) {
  MPI_Barrier(MPI_COMM_WORLD);
  const double t0 = MPI_Wtime();
  f();
  double t = MPI_Wtime() - t0;
  MPI_Allreduce(MPI_IN_PLACE, &t, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
  return t;
}

bool parse(int argc, char** argv, Options& o) {
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--pingpong") {
      o.pingpong = true;
      continue;
    }
    const char* v = k + 1 < argc ? argv[k + 1] : nullptr;
    if (v == nullptr) return false;
    if (a == "--n")
      o.n = std::atoll(v);
    else if (a == "--n-per-rank")
      o.n_per_rank = std::atoll(v);
    else if (a == "--hb")
      o.hb = std::atoi(v);
    else if (a == "--nrhs")
      o.nrhs = std::atoi(v);
    else if (a == "--threads")
      o.threads = std::atoi(v);
    else if (a == "--reps")
      o.reps = std::max(1, std::atoi(v));
    else if (a == "--system")
      o.test_system = std::string(v) == "test";
    else
      return false;
    ++k;
  }
  return o.n > 0 && o.hb >= 0 && o.nrhs >= 1;
}

// Half the best round trip of messages of each size between ranks 0 and
// 1; the others wait.
void pingpong(int me) {
  if (me == 0) std::printf("bytes      one-way (us)   bandwidth (GB/s)\n");
  for (std::size_t bytes = 8; bytes <= (std::size_t(1) << 22); bytes *= 4) {
    std::vector<char> buf(bytes);
    const int reps = bytes < 65536 ? 2000 : 100;
    double best = 1e30;
    for (int trial = 0; trial < 5; ++trial) {
      MPI_Barrier(MPI_COMM_WORLD);
      const double t0 = MPI_Wtime();
      for (int r = 0; r < reps && me < 2; ++r) {
        if (me == 0) {
          MPI_Send(buf.data(), int(bytes), MPI_BYTE, 1, 0, MPI_COMM_WORLD);
          MPI_Recv(buf.data(), int(bytes), MPI_BYTE, 1, 0, MPI_COMM_WORLD,
                   MPI_STATUS_IGNORE);
        } else {
          MPI_Recv(buf.data(), int(bytes), MPI_BYTE, 0, 0, MPI_COMM_WORLD,
                   MPI_STATUS_IGNORE);
          MPI_Send(buf.data(), int(bytes), MPI_BYTE, 0, 0, MPI_COMM_WORLD);
        }
      }
      best = std::min(best, (MPI_Wtime() - t0) / reps / 2);
    }
    if (me == 0)
      std::printf("%-10zu %12.3f %18.3f\n", bytes, best * 1e6,
                  double(bytes) / best * 1e-9);
  }
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int me = 0, p = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &me);
  MPI_Comm_size(MPI_COMM_WORLD, &p);
  Options o;
  if (!parse(argc, argv, o)) {
    if (me == 0)
      std::fprintf(stderr,
                   "usage: pband_mpi_bench [--n N | --n-per-rank N] [--hb HB]"
                   " [--system test|random] [--nrhs K] [--threads T]"
                   " [--reps R]\n");
    MPI_Finalize();
    return 2;
  }
  if (o.pingpong) {
    if (p >= 2) pingpong(me);
    MPI_Finalize();
    return p >= 2 ? 0 : 2;
  }
  const std::int64_t n = o.n_per_rank > 0 ? o.n_per_rank * p : o.n;
  // Even pieces, the last one shorter: the split pdpbsv asks for.
  const std::int64_t nb = (n + p - 1) / p;
  const std::int64_t first = std::min<std::int64_t>(n, me * nb);
  const std::int64_t count = std::min<std::int64_t>(n, first + nb) - first;
  // The whole system where rank 0 judges X, or every rank cuts its piece
  // from the test system.
  System whole;
  if (o.test_system || me == 0)
    whole = o.test_system ? test_system(n, o.hb, o.nrhs) : random_system(o, n);
  std::vector<double> a, b0;
  piece_of(o, n, first, count, o.test_system ? &whole : nullptr, a, b0);
  if (!o.test_system && me != 0) whole = System{};
  const std::int32_t ld = o.hb + 1;
  const auto cnt = static_cast<std::int32_t>(count);
  const std::int32_t ldb = std::max(cnt, 1);

  std::vector<double> t, b;
  int status = 0;
  // A rank holding the whole system solves in place: a fresh copy each
  // time.
  const std::vector<double> a0 = a;
  for (int r = 0; r < o.reps; ++r) {
    a = a0;
    b = b0;
    t.push_back(timed([&] {
      status |= pband_mpi_solve_d(MPI_COMM_WORLD, n, o.hb, o.nrhs, first, cnt,
                                  a.data(), ld, b.data(), ldb, o.threads);
    }));
  }
  const Times mine = summary(t);
  // X on rank 0, column by column.
  std::vector<int> counts(static_cast<std::size_t>(p)),
      displs(static_cast<std::size_t>(p));
  for (int r = 0; r < p; ++r) {
    const std::int64_t f = std::min<std::int64_t>(n, r * nb);
    counts[std::size_t(r)] = int(std::min<std::int64_t>(n, f + nb) - f);
    displs[std::size_t(r)] = int(f);
  }
  std::vector<double> x(me == 0 ? std::size_t(n * o.nrhs) : 0);
  for (std::int64_t q = 0; q < o.nrhs; ++q)
    MPI_Gatherv(b.data() + q * ldb, cnt, MPI_DOUBLE,
                me == 0 ? x.data() + q * n : nullptr, counts.data(),
                displs.data(), MPI_DOUBLE, 0, MPI_COMM_WORLD);

  // The one-process solve on one thread of rank 0, the others waiting.
  Times single{};
  if (n < (std::int64_t(1) << 31)) {
    std::vector<double> ts;
    for (int r = 0; r < o.reps; ++r) {
      std::vector<double> a1, b1;
      if (me == 0) {
        a1 = whole.a;
        b1 = whole.b;
      }
      ts.push_back(timed([&] {
        if (me == 0)
          pband_solve_d(static_cast<std::int32_t>(n), o.hb, o.nrhs, a1.data(),
                        ld, b1.data(), static_cast<std::int32_t>(n), 1);
      }));
    }
    single = summary(ts);
  }

  Times scalapack{};
  int scalapack_info = -1;
#if defined(PBAND_HAVE_SCALAPACK)
  if (o.hb > 0 && nb >= 2 * o.hb && n < (std::int64_t(1) << 31)) {
    int context = 0;
    Cblacs_get(0, 0, &context);
    Cblacs_gridinit(&context, "R", 1, p);
    const int in = int(n), ibw = o.hb, inrhs = o.nrhs, one = 1;
    const int desca[7] = {501, context, in, int(nb), 0, ld, 0};
    const int descb[7] = {502, context, in, int(nb), 0, ldb, 0};
    std::vector<double> ac, bc;
    // Its documented least: the factor's fill-in, then the solve's.
    const std::int64_t bw = o.hb;
    int lwork = int((nb + 2 * bw) * bw + std::max(bw * o.nrhs, bw * bw));
    std::vector<double> work(static_cast<std::size_t>(lwork));
    int info = 0;
    std::vector<double> ts;
    for (int r = 0; r < o.reps; ++r) {
      ac = a0;
      bc = b0;
      ts.push_back(timed([&] {
        pdpbsv_("L", &in, &ibw, &inrhs, ac.data(), &one, desca, bc.data(), &one,
                descb, work.data(), &lwork, &info);
      }));
    }
    scalapack = summary(ts);
    scalapack_info = info;
    Cblacs_gridexit(context);
  }
#endif

  int worst = status;
  MPI_Allreduce(MPI_IN_PLACE, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  if (me == 0) {
    const double res = scaled_residual(whole, n, o.hb, o.nrhs, x);
    std::printf("%s ranks %d threads %d n %" PRId64
                " hb %d nrhs %d system %s\n"
                "  pband_mpi_solve_d  best %.4f s  median %.4f s  status %d\n"
                "  residual %.3g  hash %016" PRIx64 "\n",
                o.n_per_rank > 0 ? "weak" : "strong", p, o.threads, n, o.hb,
                o.nrhs, o.test_system ? "test" : "random", mine.best,
                mine.median, worst, res, hash_of(x));
    if (single.best > 0)
      std::printf("  pband_solve_d T=1  best %.4f s  median %.4f s (rank 0)\n",
                  single.best, single.median);
    if (scalapack.best > 0)
      std::printf("  pdpbsv            best %.4f s  median %.4f s  info %d\n",
                  scalapack.best, scalapack.median, scalapack_info);
  }
  MPI_Finalize();
  return worst == 0 ? 0 : 1;
}
