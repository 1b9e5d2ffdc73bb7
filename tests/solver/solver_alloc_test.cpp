// A solve allocates no memory: the runtime's tables are static, the
// kernels' scratch lives on the stack, the threads' stacks are kept from
// one solve to the next. The C allocator is interposed in this binary and
// counts calls while a solve runs, the team's thread starts included,
// except those the C library makes inside pthread_create for the new
// thread's own TLS vector. The counted solves follow a first round that
// maps the runtime's kept stacks. (Sanitizer builds bring their own
// allocator: skipped.)
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>

#include "tests/solver/solver_test_support.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PBAND_ALLOC_COUNTING 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PBAND_ALLOC_COUNTING 0
#endif
#endif
#ifndef PBAND_ALLOC_COUNTING
#define PBAND_ALLOC_COUNTING 1
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
// Inside pthread_create on this thread: the C library's own allocation.
thread_local bool creating_thread = false;
[[maybe_unused]] void count() {
  if (counting.load(std::memory_order_relaxed) && !creating_thread)
    allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

#if PBAND_ALLOC_COUNTING
// glibc's own entry points, which the interposers forward to.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t size) {
  count();
  return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
  count();
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
  count();
  return __libc_realloc(p, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  count();
  return __libc_memalign(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  count();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  count();
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
int pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                   void* (*start)(void*), void* arg) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*),
                         void*);
  static const Create create =
      reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  creating_thread = true;
  const int rc = create(thread, attr, start, arg);
  creating_thread = false;
  return rc;
}
}  // extern "C"
#endif

namespace pband::test {
namespace {

template <class T>
class SolverAllocation : public SolverFixture {};
TYPED_TEST_SUITE(SolverAllocation, ElementTypes);

// The interposer sees the allocations of this binary: a check that it
// counts at all, so that a zero below means something.
TEST(SolverAllocationProbe, InterposerCounts) {
  if (!PBAND_ALLOC_COUNTING) GTEST_SKIP() << "sanitizer allocator";
  allocations = 0;
  counting = true;
  void* volatile p = std::malloc(100);
  counting = false;
  std::free(p);
  EXPECT_EQ(allocations.load(), 1);
}

// Teams of one, two and three, each on a system with many blocks and
// levels, after a first round that warms the runtime's tables and the C
// library's stack cache.
TYPED_TEST(SolverAllocation, NoneDuringASolve) {
  using T = TypeParam;
  if (!PBAND_ALLOC_COUNTING) GTEST_SKIP() << "sanitizer allocator";
  const std::int32_t n = 20000, hb = 8, nrhs = 1;
  SolveRun<T> run = make_run<T>(n, hb, nrhs, 77);
  std::vector<T> w(2 * std::size_t(n) * hb);
  for (int round = 0; round < 2; ++round) {
    for (std::int32_t team : {1, 2, 3}) {
      SCOPED_TRACE(::testing::Message() << "team " << team);
      set_team_size(team);
      run.a = run.a0;
      run.b = run.b0;
      std::int32_t status = -100;
      Watchdog guard(kHangLimit);
      allocations = 0;
      counting = true;
      Solver<T>::solve(run.a.data(), n, hb, run.b.data(), nrhs, w.data(),
                       status);
      counting = false;
      ASSERT_EQ(status, 0);
      if (round == 1) {
        EXPECT_EQ(allocations.load(), 0) << "allocations during the solve";
      }
    }
  }
}

}  // namespace
}  // namespace pband::test
