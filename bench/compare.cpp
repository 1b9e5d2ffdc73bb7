// pband_compare: times our cyclic reduction solver and the band routine
// library against LAPACK spbsv/dpbsv (reference and OpenBLAS, loaded side
// by side) in one process, and writes gnuplot data next to the table.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "bandlib/band_library.hpp"
#include "bandlib/band_tuning.hpp"
#include "bench/harness.hpp"
#include "bench/lapack_provider.hpp"
#include "bench/factor_timing.hpp"
#include "bench/mixed_timing.hpp"
#include "bench/residual_timing.hpp"
#include "driver/benchmark.hpp"
#include "pband/pband.h"
#include "runtime/runtime.hpp"
#include "solver/band_solver.hpp"

namespace pband::bench {
namespace {

struct Options {
  int reps = 7;
  int max_team = 0;  // 0: the processor count
  int nb = 0;        // 0: the fastest of the block width sweep
  bool quick = false;
  bool main_table = true;
  bool nb_sweep = true;
  bool sweep = true;
  bool sweep_openblas = true;
  bool overhead = true;
  bool residual = true;
  bool mixed = true;
  bool factor = true;
  double mixed_budget = 900;  // seconds
  double sweep_budget = 1.0;
  std::string libdir = "/usr/lib/x86_64-linux-gnu";
  std::string data_dir;
  std::vector<int> sweep_hb = {1, 2, 4, 8, 16, 32, 64};
  std::vector<int> sweep_n = {10000, 100000, 1000000, 2000000};
  // nb 1 and 2 cost a barrier every one or two columns: seconds each
  std::vector<int> nb_list = {16, 64, 256, 1024, 4096};
};

void usage() {
  std::puts(
      "usage: pband_compare [options]\n"
      "  --quick             fewer repetitions, a smaller sweep budget,\n"
      "                      sweep sizes up to 10^6\n"
      "  --reps N            repetitions per row of the main table (7)\n"
      "  --max-team T        largest team size (the processor count)\n"
      "  --nb N              band library block width (default: the fastest"
      " of the sweep)\n"
      "  --sweep-budget S    timed seconds per sweep cell and routine (1)\n"
      "  --sweep-hb LIST     half bandwidths of the sweep (1,2,4,8,16,32,64)\n"
      "  --sweep-n LIST      sizes of the sweep (10000,...,2000000)\n"
      "  --nb-list LIST      block widths tried for the band library"
      " (16,64,256,1024,4096)\n"
      "  --no-main --no-nb-sweep --no-sweep --no-overhead --no-residual\n"
      "  --no-mixed          leave out mixed precision against dpbsv\n"
      "  --no-factor         leave out the stored factor against dpbtrs,\n"
      "                      dpbcon and dpbrfs\n"
      "  --mixed-budget S    seconds the mixed precision rows may take (900)\n"
      "  --no-sweep-openblas leave OpenBLAS out of the sweep\n"
      "  --libdir DIR        where Debian's lapack/, blas/ and\n"
      "                      openblas-pthread/ folders are\n"
      "  --data-dir DIR      write gnuplot data files there");
}

std::vector<int> parse_list(const char* text) {
  std::vector<int> out;
  for (const char* p = text; *p != '\0';) {
    char* end = nullptr;
    const long v = std::strtol(p, &end, 10);
    if (end == p || v < 0 || v > std::numeric_limits<int>::max()) return {};
    out.push_back(static_cast<int>(v));
    p = end;
    if (*p == ',') ++p;
  }
  return out;
}

std::optional<Options> parse(int argc, char** argv) {
  Options o;
  bool sizes_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* {
      return i + 1 < argc ? argv[++i] : nullptr;
    };
    auto number = [&](int& out, int lowest) {
      const char* v = value();
      if (v == nullptr) return false;
      char* end = nullptr;
      const long x = std::strtol(v, &end, 10);
      if (*end != '\0' || x < lowest || x > 1000000000) return false;
      out = static_cast<int>(x);
      return true;
    };
    auto list = [&](std::vector<int>& out) {
      const char* v = value();
      if (v == nullptr) return false;
      out = parse_list(v);
      return !out.empty();
    };
    bool ok = true;
    if (a == "--quick") {
      o.quick = true;
      o.reps = 3;
      o.sweep_budget = 0.3;
    } else if (a == "--reps") {
      ok = number(o.reps, 1);
    } else if (a == "--max-team") {
      ok = number(o.max_team, 1);
    } else if (a == "--nb") {
      ok = number(o.nb, 1);
    } else if (a == "--sweep-budget") {
      const char* v = value();
      ok = v != nullptr;
      if (ok) o.sweep_budget = std::atof(v);
    } else if (a == "--sweep-hb") {
      ok = list(o.sweep_hb);
    } else if (a == "--sweep-n") {
      ok = list(o.sweep_n);
      sizes_given = true;
    } else if (a == "--nb-list") {
      ok = list(o.nb_list);
      for (int nb : o.nb_list) ok = ok && nb >= 1;
    } else if (a == "--no-main") {
      o.main_table = false;
    } else if (a == "--no-nb-sweep") {
      o.nb_sweep = false;
    } else if (a == "--no-sweep") {
      o.sweep = false;
    } else if (a == "--no-sweep-openblas") {
      o.sweep_openblas = false;
    } else if (a == "--no-overhead") {
      o.overhead = false;
    } else if (a == "--no-residual") {
      o.residual = false;
    } else if (a == "--no-factor") {
      o.factor = false;
    } else if (a == "--no-mixed") {
      o.mixed = false;
    } else if (a == "--mixed-budget") {
      const char* v = value();
      ok = v != nullptr;
      if (ok) o.mixed_budget = std::atof(v);
    } else if (a == "--libdir") {
      const char* v = value();
      ok = v != nullptr;
      if (ok) o.libdir = v;
    } else if (a == "--data-dir") {
      const char* v = value();
      ok = v != nullptr;
      if (ok) o.data_dir = v;
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "bad argument near %s\n", a.c_str());
      return std::nullopt;
    }
  }
  if (o.quick && !sizes_given) o.sweep_n = {10000, 100000, 1000000};
  return o;
}

std::string file_of(const void* symbol) {
  Dl_info info{};
  if (dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) return "?";
  char buffer[4096];
  if (realpath(info.dli_fname, buffer) == nullptr) return info.dli_fname;
  return buffer;
}

std::string load_average() {
  double l[3] = {0, 0, 0};
  if (getloadavg(l, 3) != 3) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", l[0], l[1], l[2]);
  return text;
}

// ---------------------------------------------------------------------------
// Result rows and their checks
// ---------------------------------------------------------------------------

int failures = 0;

template <class T>
double tolerance(double reference_error) {
  // Cyclic reduction may lose more than Cholesky, but a broken solve is off
  // by O(1); a thousand times the reference error separates the two.
  const double eps = std::numeric_limits<T>::epsilon();
  return 1000.0 * std::max(reference_error, eps);
}

struct Row {
  std::string routine;
  std::string type;
  int team = 1;
  int nb = 0;
  Measurement m;
  double reference_median = 0;  // 0: this row is the reference
  double tol = 0;
  int same_bits = -1;  // -1 not checked, 0 differs, 1 same as team size 1
  std::string file;
};

void print_row_header() {
  std::printf("%-28s %-4s %3s %4s %11s %11s %11s %4s %7s %10s %6s %7s %s\n",
              "routine", "type", "T", "nb", "median ms", "min ms", "max ms",
              "reps", "t/ref", "rel.err", "check", "preempt", "file");
}

bool row_ok(const Row& r) {
  return r.m.status == 0 && r.m.max_error <= r.tol && r.same_bits != 0 &&
         r.m.time.count > 0;
}

void print_row(const Row& r) {
  char nb[16] = "-";
  if (r.nb > 0) std::snprintf(nb, sizeof nb, "%d", r.nb);
  char ratio[16] = "1";
  if (r.reference_median > 0)
    std::snprintf(ratio, sizeof ratio, "%.3f",
                  r.m.time.median / r.reference_median);
  std::string check = "ok";
  if (r.m.status != 0)
    check = "st=" + std::to_string(r.m.status);
  else if (!(r.m.max_error <= r.tol))
    check = "ERR";
  else if (r.same_bits == 0)
    check = "BITS";
  else if (r.same_bits == 1)
    check = "ok=T1";
  if (!row_ok(r)) ++failures;
  std::printf(
      "%-28s %-4s %3d %4s %11.3f %11.3f %11.3f %4d %7s %10.2e %6s %7.1f "
      "%s\n",
      r.routine.c_str(), r.type.c_str(), r.team, nb, r.m.time.median * 1e3,
      r.m.time.min * 1e3, r.m.time.max * 1e3, r.m.time.count, ratio,
      r.m.max_error, check.c_str(), r.m.preemptions, r.file.c_str());
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Team start and join cost
// ---------------------------------------------------------------------------

void empty_routine() {}

void measure_overhead(const Options& o, const std::vector<int>& teams) {
  std::printf("\n== Cost of starting and joining a team ==\n");
  const int cycles = o.quick ? 300 : 2000;
  std::printf("(median over %d cycles; microseconds)\n", cycles);
  for (int t : teams) {
    if (t < 2) continue;
    std::vector<double> times;
    std::vector<std::int32_t> workers(t - 1, 0);
    bool all_started = true;
    for (int c = 0; c < cycles; ++c) {
      const double t0 = now_seconds();
      for (auto& w : workers) launch_worker(w, &empty_routine);
      for (auto& w : workers) join_worker(w);
      times.push_back(now_seconds() - t0);
      for (auto w : workers) all_started = all_started && w != 0;
    }
    const Stats s = summarize(times);
    std::printf(
        "launch_worker + join_worker, %2d empty workers: %8.1f us "
        "(min %.1f)%s; workers left in use: %d\n",
        t - 1, s.median * 1e6, s.min * 1e6,
        all_started ? "" : " SOME LAUNCHES FAILED", workers_in_use());
    std::vector<double> plain;
    for (int c = 0; c < cycles; ++c) {
      const double t0 = now_seconds();
      std::vector<std::thread> threads;
      for (int k = 1; k < t; ++k) threads.emplace_back([] {});
      for (auto& th : threads) th.join();
      plain.push_back(now_seconds() - t0);
    }
    const Stats p = summarize(plain);
    std::printf("std::thread create + join,  %2d empty threads: %8.1f us "
                "(min %.1f)\n",
                t - 1, p.median * 1e6, p.min * 1e6);
  }
  // A solve too small to have work for a second thread: what is left is
  // the driver's set-up and the team's start, barriers and join.
  const std::int32_t n = 32, hb = 8;
  BandSystem<float> s = make_float_system(n, hb);
  s.allocate_workspace();
  RunPlan plan;
  plan.warmups = 10;
  plan.min_reps = plan.max_reps = cycles;
  double single = 0;
  for (int t : teams) {
    set_team_size(t);
    const Measurement m = measure<float>(s, plan, [&] {
      std::int32_t status = 0;
      solve_band_system_r4(s.a(), n, hb, s.b(), 1, s.w(), status);
      return status;
    });
    if (t == 1) single = m.time.median;
    std::printf("solve_band_system_r4 n=%d hb=%d, T=%2d: %8.1f us "
                "(min %.1f)%s%s\n",
                n, hb, t, m.time.median * 1e6, m.time.min * 1e6,
                m.status != 0 ? " BAD STATUS" : "",
                m.max_error > tolerance<float>(0) ? " BAD RESULT" : "");
    if (m.status != 0 || m.max_error > tolerance<float>(0)) ++failures;
    if (t > 1 && single > 0)
      std::printf("  team overhead over T=1: %.1f us\n",
                  (m.time.median - single) * 1e6);
  }
  reset_team_size();
}

// ---------------------------------------------------------------------------
// Main table: the benchmark system for every team size
// ---------------------------------------------------------------------------

struct TeamData {  // medians for the plot, by routine and team size
  std::map<std::string, std::map<int, double>> median;
};

template <class T>
using SolverFn = void (*)(T*, std::int32_t, std::int32_t, T*, std::int32_t,
                          T*, std::int32_t&);
template <class T>
using LibraryFn = void (*)(T*, std::int32_t, std::int32_t, T*, std::int32_t,
                           std::int32_t&);
// The public C call users make: `pband_solve_s` or `_d`.
template <class T>
using PublicFn = int (*)(std::int32_t, std::int32_t, std::int32_t, T*,
                         std::int32_t, T*, std::int32_t, std::int32_t);

template <class T>
auto pbsv_of(const LapackProvider& p) {
  if constexpr (std::is_same_v<T, float>)
    return p.spbsv;
  else
    return p.dpbsv;
}

template <class T>
const char* pbsv_name() {
  return std::is_same_v<T, float> ? "spbsv" : "dpbsv";
}

// Runs the LAPACK rows (the first provider is the reference), then the
// solver, the public call over it and the band library for every team
// size.
template <class T>
void team_rows(BandSystem<T>& s, const char* type, SolverFn<T> solver,
               const char* solver_name, LibraryFn<T> library,
               const char* library_name, PublicFn<T> public_call,
               const char* public_name, int nb,
               const std::vector<LapackProvider>& providers,
               const std::vector<int>& teams, const RunPlan& plan,
               TeamData& data) {
  const std::int32_t n = s.n, hb = s.hb;
  double ref_median = 0, ref_error = 0;
  for (const LapackProvider& p : providers) {
    auto f = pbsv_of<T>(p);
    Row r;
    r.routine = std::string(pbsv_name<T>()) + " [" + p.name + "]";
    r.type = type;
    r.m = measure<T>(s, plan, [&] { return run_pbsv(f, s.a(), n, hb, s.b()); });
    if (ref_median == 0) {
      ref_median = r.m.time.median;
      ref_error = r.m.max_error;
      r.tol = tolerance<T>(0);
    } else {
      r.reference_median = ref_median;
      r.tol = tolerance<T>(ref_error);
    }
    r.file = file_of(reinterpret_cast<const void*>(f));
    print_row(r);
    data.median[r.routine][0] = r.m.time.median;
  }
  std::vector<T> first;
  for (int pass = 0; pass < 3; ++pass) {
    first.clear();
    for (int t : teams) {
      set_team_size(t);
      Row r;
      r.type = type;
      r.team = t;
      r.reference_median = ref_median;
      r.tol = tolerance<T>(ref_error);
      if (pass == 0) {
        r.routine = solver_name;
        r.m = measure<T>(s, plan, [&] {
          std::int32_t status = 0;
          solver(s.a(), n, hb, s.b(), 1, s.w(), status);
          return status;
        });
        r.file = file_of(reinterpret_cast<const void*>(solver));
      } else if (pass == 1) {
        r.routine = public_name;
        r.m = measure<T>(s, plan, [&] {
          return public_call(n, hb, 1, s.a(), hb + 1, s.b(), n, t);
        });
        r.file = file_of(reinterpret_cast<const void*>(public_call));
      } else {
        r.routine = library_name;
        r.nb = nb;
        r.m = measure<T>(s, plan, [&] {
          std::int32_t status = 0;
          library(s.a(), n, hb, s.b(), nb, status);
          return status;
        });
        r.file = file_of(reinterpret_cast<const void*>(library));
      }
      if (first.empty())
        first.assign(s.B.begin(), s.B.end());
      else
        r.same_bits = std::memcmp(first.data(), s.B.data(),
                                  sizeof(T) * s.B.size()) == 0;
      print_row(r);
      data.median[r.routine][t] = r.m.time.median;
    }
  }
  reset_team_size();
}

// Block width of the band library: medians over a few widths.
int sweep_block_width(const Options& o, BandSystem<float>& s,
                      const std::vector<int>& teams, double ref_error,
                      FILE* out) {
  std::printf("\n== band_factor_solve_r4 block width (n=%d, hb=%d) ==\n", s.n,
              s.hb);
  RunPlan plan;
  plan.min_reps = plan.max_reps = o.quick ? 1 : 3;
  // a barrier every nb columns makes small widths in a team take seconds:
  // one run over a second is enough to rank them
  plan.long_min_reps = 1;
  std::printf("(median ms of %d after 1 warm-up; a warm-up over %.0f s is "
              "the only run)\n",
              plan.min_reps, plan.long_run_seconds);
  std::printf("%4s", "nb");
  for (int t : teams) std::printf("   T=%-2d med ms", t);
  std::printf("\n");
  if (out) {
    std::fprintf(out, "nb");
    for (int t : teams) std::fprintf(out, " T=%d", t);
    std::fprintf(out, "\n");
  }
  int best = 0;
  double best_time = INFINITY;
  for (int nb : o.nb_list) {
    std::printf("%4d", nb);
    if (out) std::fprintf(out, "%d", nb);
    for (int t : teams) {
      set_team_size(t);
      const Measurement m = measure<float>(s, plan, [&] {
        std::int32_t status = 0;
        band_factor_solve_r4(s.a(), s.n, s.hb, s.b(), nb, status);
        return status;
      });
      const bool bad =
          m.status != 0 || !(m.max_error <= tolerance<float>(ref_error));
      if (bad) ++failures;
      std::printf("  %12.3f%s", m.time.median * 1e3, bad ? "!" : " ");
      if (out) std::fprintf(out, " %.6e", m.time.median);
      if (t == teams.back() && m.time.median < best_time && !bad) {
        best_time = m.time.median;
        best = nb;
      }
    }
    std::printf("\n");
    if (out) std::fprintf(out, "\n");
    std::fflush(stdout);
  }
  reset_team_size();
  std::printf("fastest at T=%d: nb = %d\n", teams.back(), best);
  return best > 0 ? best : 1;
}

// ---------------------------------------------------------------------------
// Sweep over half bandwidth and size
// ---------------------------------------------------------------------------

// The public call of the sweep's type.
template <class T>
PublicFn<T> public_solve() {
  if constexpr (std::is_same_v<T, float>)
    return &pband_solve_s;
  else
    return &pband_solve_d;
}

// The sweep's system: the benchmark's matrix, widened for double.
template <class T>
BandSystem<T> sweep_system(std::int32_t n, std::int32_t hb) {
  if constexpr (std::is_same_v<T, float>)
    return make_float_system(n, hb);
  else
    return widen_system(make_float_system(n, hb));
}

template <class T>
void run_sweep(const Options& o, const std::vector<LapackProvider>& providers,
               int all, FILE* out) {
  const char* ref_name = pbsv_name<T>();
  const char* ours = std::is_same_v<T, float> ? "pband_solve_s" : "pband_solve_d";
  const PublicFn<T> solve = public_solve<T>();
  RunPlan plan;
  plan.warmups = 1;
  plan.min_reps = o.quick ? 1 : 3;
  plan.long_min_reps = o.quick ? 1 : 2;
  plan.single_run_seconds = 5.0;
  plan.max_reps = o.quick ? 5 : 15;
  plan.budget_seconds = o.sweep_budget;
  std::printf("\n== Sweep: %s against %s, benchmark-type matrix ==\n", ours,
              ref_name);
  std::printf("(median ms; t/ref = time / reference %s; build = seconds "
              "to make the system, untimed; 1 warm-up, repetitions up to "
              "%.1f s of timed work per cell and routine, at least %d; a "
              "warm-up over %.0f s counts, then at least %d, over %.0f s it "
              "is the only run; preempt: involuntary context switches per "
              "repetition, worst routine; load average now %s)\n",
              ref_name, o.sweep_budget, plan.min_reps, plan.long_run_seconds,
              plan.long_min_reps, plan.single_run_seconds,
              load_average().c_str());
  std::vector<const LapackProvider*> used;
  used.push_back(&providers[0]);
  if (o.sweep_openblas && providers.size() > 1) used.push_back(&providers[1]);
  std::printf("%3s %8s %6s %7s ref", "hb", "n", "build", ref_name);
  if (used.size() > 1) std::printf(" %8s OB", ref_name);
  std::printf(" %11s %11s %7s %7s", "ours T=1", "ours T=all", "T1/ref",
              "all/ref");
  if (used.size() > 1) std::printf(" %7s", "OB/ref");
  std::printf(" %4s %9s %7s %s\n", "reps", "rel.err", "preempt", "check");
  if (out)
    std::fprintf(out,
                 "# one block per n (gnuplot index): n hb ref_%s "
                 "openblas_%s ours_T1 ours_Tall (median seconds; -1 = "
                 "not run); ours_Tall with T=%d\n",
                 ref_name, ref_name, all);
  for (int n : o.sweep_n) {
    // blocks apart by two blank lines, none after the last
    if (out && n != o.sweep_n.front()) std::fprintf(out, "\n\n");
    for (int hb : o.sweep_hb) {
      const double b0 = now_seconds();
      BandSystem<T> s = sweep_system<T>(n, hb);
      const double build = now_seconds() - b0;
      std::vector<Measurement> lapack;
      for (const LapackProvider* p : used) {
        lapack.push_back(measure<T>(s, plan, [&] {
          return run_pbsv(pbsv_of<T>(*p), s.a(), n, hb, s.b());
        }));
      }
      Measurement mine[2];
      const int sizes[2] = {1, all};
      for (int k = 0; k < 2; ++k)
        mine[k] = measure<T>(s, plan, [&] {
          return solve(n, hb, 1, s.a(), hb + 1, s.b(), n, sizes[k]);
        });
      const double ref = lapack[0].time.median;
      const double tol = tolerance<T>(lapack[0].max_error);
      bool ok = true;
      double err = 0, preempt = 0;
      int reps = mine[0].time.count;
      for (const Measurement* m : {&lapack[0], &mine[0], &mine[1]}) {
        ok = ok && m->status == 0 && m->max_error <= tol;
        err = std::max(err, m->max_error);
        preempt = std::max(preempt, m->preemptions);
        reps = std::min(reps, m->time.count);
      }
      if (lapack.size() > 1)
        ok = ok && lapack[1].status == 0 && lapack[1].max_error <= tol;
      if (!ok) ++failures;
      std::printf("%3d %8d %6.2f %11.3f", hb, n, build, ref * 1e3);
      if (lapack.size() > 1) std::printf(" %11.3f", lapack[1].time.median * 1e3);
      std::printf(" %11.3f %11.3f %7.3f %7.3f", mine[0].time.median * 1e3,
                  mine[1].time.median * 1e3, mine[0].time.median / ref,
                  mine[1].time.median / ref);
      if (lapack.size() > 1)
        std::printf(" %7.3f", lapack[1].time.median / ref);
      std::printf(" %4d %9.2e %7.1f %s\n", reps, err, preempt,
                  ok ? "ok" : "FAIL");
      std::fflush(stdout);
      if (out)
        std::fprintf(out, "%d %d %.6e %.6e %.6e %.6e\n", n, hb, ref,
                     lapack.size() > 1 ? lapack[1].time.median : -1.0,
                     mine[0].time.median, mine[1].time.median);
    }
  }
}

FILE* open_data(const Options& o, const char* name) {
  if (o.data_dir.empty()) return nullptr;
  const std::string path = o.data_dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return f;
}

int run(const Options& o) {
  const double start = now_seconds();
  std::int32_t processors = 0;
  count_processors(processors);
  const int largest =
      std::min<int>(o.max_team > 0 ? o.max_team : processors, MAX_TEAM_SIZE);
  std::vector<int> teams;
  for (int t = 1; t <= largest; ++t) teams.push_back(t);

  std::printf("pband_compare: processors %d, team sizes 1..%d, load average "
              "%s\n",
              processors, largest, load_average().c_str());
  std::printf("compiler %s; times are wall clock (steady_clock) around one "
              "call; A and B are restored from a pristine copy before every "
              "repetition, untimed\n",
              __VERSION__);

  // LAPACK providers, each in its own namespace.
  const std::string& d = o.libdir;
  std::vector<LapackProvider> providers;
  providers.push_back(load_lapack_provider(
      "reference", {d + "/blas/libblas.so.3", d + "/lapack/liblapack.so.3"},
      0));
  providers.push_back(load_lapack_provider(
      "OpenBLAS",
      {d + "/openblas-pthread/libopenblas.so.0",
       d + "/openblas-pthread/liblapack.so.3"},
      1));
  std::printf("\n== LAPACK providers ==\n");
  for (const LapackProvider& p : providers) {
    if (!p.usable()) {
      std::printf("%-10s NOT AVAILABLE: %s\n", p.name.c_str(),
                  p.error.c_str());
      continue;
    }
    std::printf("%-10s %s\n", p.name.c_str(), p.loader.c_str());
    std::printf("           spbsv_ in %s\n", p.spbsv_file.c_str());
    std::printf("           dpbsv_ in %s\n", p.dpbsv_file.c_str());
    std::printf("           namespace holds:");
    for (const std::string& f : p.loaded) std::printf(" %s", f.c_str());
    std::printf("\n           threads: %s%s%s\n", p.threads.c_str(),
                p.config.empty() ? "" : "; ", p.config.c_str());
  }
  if (!providers[0].usable()) {
    std::printf("reference LAPACK is needed as the yardstick\n");
    return 1;
  }
  std::vector<LapackProvider> usable;
  for (const LapackProvider& p : providers)
    if (p.usable()) usable.push_back(p);

  if (o.overhead) measure_overhead(o, teams);
  if (o.residual) failures += time_residual(providers[0], teams, o.reps);
  if (o.mixed)
    failures += time_mixed(providers[0], teams, std::min(o.reps, 3),
                           o.mixed_budget);
  if (o.factor) failures += time_factor(providers[0], teams, o.reps);

  const std::int32_t n = 2000000, hb = 8;
  TeamData data;
  int nb = o.nb;
  if (o.main_table || o.nb_sweep) {
    const double b0 = now_seconds();
    BandSystem<float> s = make_float_system(n, hb);
    s.allocate_workspace();
    std::printf("\nbenchmark system n=%d hb=%d built by make_test_problem "
                "in %.2f s\n",
                n, hb, now_seconds() - b0);
    if (o.nb_sweep && nb == 0) {
      // one reference solve gives the error the sweep is judged by
      s.restore();
      if (run_pbsv(providers[0].spbsv, s.a(), n, hb, s.b()) != 0) ++failures;
      const double ref_error = max_relative_error(s.B, s.X, n);
      FILE* f = open_data(o, "nb.dat");
      nb = sweep_block_width(o, s, teams, ref_error, f);
      if (f) std::fclose(f);
    }
    // Neither given nor swept: the width the library picks for this band.
    const bool swept = nb != 0 && o.nb == 0;
    if (nb == 0) nb = band_block_width(hb);
    if (o.main_table) {
      RunPlan plan;
      plan.warmups = 1;
      plan.min_reps = plan.max_reps = plan.long_min_reps = o.reps;
      plan.long_run_seconds = INFINITY;  // the warm-up never counts here
      std::printf("\n== Benchmark system n=%d hb=%d, one right-hand side: "
                  "median of %d after 1 warm-up ==\n",
                  n, hb, o.reps);
      std::printf("t/ref: median / median of reference LAPACK in the same "
                  "precision; rel.err: max|x-X|/max|X| over all repetitions;"
                  " ok=T1: same bits as T=1; preempt: involuntary context "
                  "switches per repetition (other work on the processors); "
                  "load average now %s\n",
                  load_average().c_str());
      std::printf("band_factor_solve nb = %d (%s)\n", nb,
                  o.nb > 0  ? "given"
                  : swept   ? "fastest of the sweep above"
                            : "the library's choice for this band");
      print_row_header();
      team_rows<float>(s, "r4", &solve_band_system_r4, "solve_band_system_r4",
                       &band_factor_solve_r4, "band_factor_solve_r4",
                       &pband_solve_s, "pband_solve_s", nb, usable, teams,
                       plan, data);
      {
        // Double system: the float matrix and X widened, B formed in
        // double precision.
        BandSystem<double> s8 = widen_system(s);
        s.W.clear();
        s.W.shrink_to_fit();
        s8.allocate_workspace();
        team_rows<double>(s8, "r8", &solve_band_system_r8,
                          "solve_band_system_r8", &band_factor_solve_r8,
                          "band_factor_solve_r8", &pband_solve_d,
                          "pband_solve_d", nb, usable, teams, plan, data);
      }
      if (FILE* f = open_data(o, "teams.dat")) {
        // median seconds; LAPACK columns repeat their single-thread time
        std::fprintf(f, "T");
        for (auto& [name, _] : data.median)
          std::fprintf(f, " \"%s\"", name.c_str());
        std::fprintf(f, "\n");
        for (int t : teams) {
          std::fprintf(f, "%d", t);
          for (auto& [name, by_team] : data.median) {
            const auto it = by_team.find(t);
            const double v =
                it != by_team.end() ? it->second : by_team.begin()->second;
            std::fprintf(f, " %.6e", v);
          }
          std::fprintf(f, "\n");
        }
        std::fclose(f);
      }
    }
  }

  if (o.sweep) {
    FILE* f = open_data(o, "sweep.dat");
    run_sweep<float>(o, usable, largest, f);
    if (f) std::fclose(f);
    f = open_data(o, "sweep_double.dat");
    run_sweep<double>(o, usable, largest, f);
    if (f) std::fclose(f);
  }

  std::printf("\ntotal run time %.1f s, load average %s\n",
              now_seconds() - start, load_average().c_str());
  if (failures > 0) {
    std::printf("%d CHECK(S) FAILED: the times above are not to be trusted\n",
                failures);
    return 1;
  }
  std::printf("all checks passed (status 0, error within bounds, same bits "
              "for every team size)\n");
  return 0;
}

}  // namespace
}  // namespace pband::bench

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      pband::bench::usage();
      return 0;
    }
  const auto options = pband::bench::parse(argc, argv);
  if (!options) {
    pband::bench::usage();
    return 2;
  }
  const int rc = pband::bench::run(*options);
  pband::shutdown_runtime();
  return rc;
}
