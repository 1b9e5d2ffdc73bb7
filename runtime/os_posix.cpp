// The OS layer over POSIX: kernel-style mutexes, events, threads and
// process queries named by small integer handles. Objects live in a fixed
// pool (handle = index + 1) so that creating one never allocates memory.
// An event object holds a futex event, which keeps its own file.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "runtime/futex_event.hpp"
#include "runtime/os_layer.hpp"
#include "runtime/runtime_detail.hpp"
#include "runtime/runtime_testing.hpp"
#include "runtime/thread_scratch.hpp"

namespace pband {
namespace {

constexpr std::int32_t POOL_SIZE = 4096;
// Like the kernel's, the current process's pseudo-handle is -1.
constexpr Handle CURRENT_PROCESS = -1;

enum class Kind : int { free, mutex, event, thread, process };

// One cache line or more each, so that the hot words of different objects
// (the solver's claim mutex, the barrier events) share none.
struct alignas(64) Object {
  // Read without the pool lock by every operation, hence atomic.
  std::atomic<Kind> kind{Kind::free};
  detail::FutexEvent event;  // event
  // The mutex itself for a mutex object; guards the state otherwise.
  pthread_mutex_t lock;
  pthread_cond_t cond;
  // Mutex: the owning thread (read by others to refuse them), its depth.
  std::atomic<const void*> owner{nullptr};
  std::int32_t depth = 0;
  pthread_t tid{};  // thread
  ThreadStart start = nullptr;
  void* parameter = nullptr;
  bool finished = false;    // thread: start routine has returned
  bool detached = false;    // thread: handle closed while it still ran
  std::int32_t stack = -1;  // thread: its kept stack, -1 the library's
  std::int32_t next_free = -1;
};

constinit Object pool[POOL_SIZE];
pthread_mutex_t pool_lock = PTHREAD_MUTEX_INITIALIZER;
std::int32_t free_head = -1;  // freed objects, linked by next_free
std::int32_t high_water = 0;  // objects below it have been used before

std::atomic<std::int32_t> open_count{0};
std::atomic<std::uint32_t> next_thread_id{1};
// Per kind (mutex, event, thread): creations left before failing; < 0 never.
std::atomic<std::int32_t> successes_left[3] = {-1, -1, -1};
std::atomic<std::int64_t> thread_requests{0};  // for tests

// True when an injected fault makes this creation of `kind` fail.
bool injected_failure(testing::OsObject kind) {
  auto& left = successes_left[static_cast<int>(kind)];
  std::int32_t n = left.load(std::memory_order_relaxed);
  while (n > 0 && !left.compare_exchange_weak(n, n - 1)) {}
  return n == 0;
}

Object* claim_object() {
  Object* o = nullptr;
  pthread_mutex_lock(&pool_lock);
  if (free_head >= 0) {
    o = &pool[free_head];
    free_head = o->next_free;
  } else if (high_water < POOL_SIZE) {
    o = &pool[high_water++];
  }
  pthread_mutex_unlock(&pool_lock);
  return o;
}

void release_object(Object* o) {
  o->kind.store(Kind::free, std::memory_order_release);
  pthread_mutex_lock(&pool_lock);
  o->next_free = free_head;
  free_head = static_cast<std::int32_t>(o - pool);
  pthread_mutex_unlock(&pool_lock);
}

// Makes a claimed object visible under its handle.
Handle publish(Object* o, Kind kind) {
  o->kind.store(kind, std::memory_order_release);
  open_count.fetch_add(1, std::memory_order_relaxed);
  return static_cast<Handle>(o - pool) + 1;
}

Object* find(Handle h) {
  if (h < 1 || h > POOL_SIZE) return nullptr;
  Object* o = &pool[h - 1];
  return o->kind.load(std::memory_order_acquire) == Kind::free ? nullptr : o;
}

Object* find(Handle h, Kind kind) {
  Object* o = find(h);
  return o != nullptr && o->kind.load(std::memory_order_relaxed) == kind
             ? o
             : nullptr;
}

bool is_process(Handle h) {
  return h == CURRENT_PROCESS || find(h, Kind::process) != nullptr;
}

void init_state_lock(Object* o) {
  pthread_mutex_init(&o->lock, nullptr);
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&o->cond, &attr);
  pthread_condattr_destroy(&attr);
}

void destroy_state_lock(Object* o) {
  pthread_cond_destroy(&o->cond);
  pthread_mutex_destroy(&o->lock);
}

timespec deadline_after(clockid_t clock, std::uint32_t ms) {
  timespec t;
  clock_gettime(clock, &t);
  t.tv_sec += ms / 1000;
  t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

// Waits on the object's condition variable; false once the deadline passed.
bool wait_cond(Object* o, const timespec* deadline) {
  if (deadline == nullptr) {
    pthread_cond_wait(&o->cond, &o->lock);
    return true;
  }
  return pthread_cond_timedwait(&o->cond, &o->lock, deadline) != ETIMEDOUT;
}

// Waits for an event (futex word) or a thread (condition variable) until
// the monotonic `deadline` (nullptr = without limit).
WaitResult wait_signalled(Object* o, const timespec* deadline,
                          bool poll_only = false) {
  if (o->kind.load(std::memory_order_relaxed) == Kind::event)
    return o->event.wait(deadline, poll_only);
  pthread_mutex_lock(&o->lock);
  while (!o->finished && wait_cond(o, deadline)) {}
  const bool through = o->finished;
  pthread_mutex_unlock(&o->lock);
  return through ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

// Names the calling thread for mutex ownership.
const void* this_thread() {
  static thread_local const char token = 0;
  return &token;
}

// Kernel mutexes nest: the owner locks again without waiting.
WaitResult lock_mutex(Object* o, std::uint32_t timeout_ms) {
  if (o->owner.load(std::memory_order_relaxed) == this_thread()) {
    o->depth += 1;
    return WAIT_OBJECT_0;
  }
  int rc;
  if (timeout_ms == INFINITE) {
    rc = pthread_mutex_lock(&o->lock);
  } else if (timeout_ms == 0) {
    rc = pthread_mutex_trylock(&o->lock);
  } else {
    // Mutex time-outs are measured on the realtime clock, as POSIX offers.
    timespec t = deadline_after(CLOCK_REALTIME, timeout_ms);
    rc = pthread_mutex_timedlock(&o->lock, &t);
  }
  if (rc == 0) {
    o->owner.store(this_thread(), std::memory_order_relaxed);
    o->depth = 1;
    return WAIT_OBJECT_0;
  }
  return rc == EBUSY || rc == ETIMEDOUT ? WAIT_TIMEOUT : WAIT_FAILED;
}

// Every thread starts here, so that its end can be waited for any number
// of times and its object freed even when its handle was closed early.
void* thread_trampoline(void* p) {
  Object* o = static_cast<Object*>(p);
  detail::lend_thread_scratch(detail::kept_stack_scratch(o->stack),
                              kKeptScratchBytes);
  o->start(o->parameter);
  pthread_mutex_lock(&o->lock);
  o->finished = true;
  bool orphan = o->detached;
  pthread_cond_broadcast(&o->cond);
  pthread_mutex_unlock(&o->lock);
  // Nobody holds the handle any more: the object is this thread's to free.
  if (orphan) {
    destroy_state_lock(o);
    release_object(o);
  }
  return nullptr;
}

void close_thread(Object* o) {
  pthread_mutex_lock(&o->lock);
  if (o->finished) {
    pthread_mutex_unlock(&o->lock);
    pthread_join(o->tid, nullptr);
    detail::give_thread_stack(o->stack);
    o->stack = -1;
    destroy_state_lock(o);
    release_object(o);
  } else {
    // Its stack stays taken: nobody learns when the thread has left it.
    o->detached = true;
    pthread_detach(o->tid);
    pthread_mutex_unlock(&o->lock);
  }
}

std::uint32_t low_bits(long n) {
  if (n <= 0) return 0;
  return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1u;
}

void to_file_time(const timeval& tv, FileTime* out) {
  if (out == nullptr) return;
  std::uint64_t units = static_cast<std::uint64_t>(tv.tv_sec) * 10000000u +
                        static_cast<std::uint64_t>(tv.tv_usec) * 10u;
  out->low = static_cast<std::uint32_t>(units);
  out->high = static_cast<std::uint32_t>(units >> 32);
}

}  // namespace

int os_get_process_affinity_mask(Handle process, std::uint32_t* process_mask,
                                 std::uint32_t* system_mask) {
  if (!is_process(process)) return 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
  // The allowed processors are numbered densely, so that any 32 of them
  // fit the mask whatever their system numbers.
  std::uint32_t allowed = low_bits(CPU_COUNT(&set));
  std::uint32_t online = low_bits(sysconf(_SC_NPROCESSORS_ONLN));
  if (process_mask != nullptr) *process_mask = allowed;
  if (system_mask != nullptr) *system_mask = online | allowed;
  return 1;
}

Handle os_get_current_process() { return CURRENT_PROCESS; }

Handle os_create_mutex(bool initial_owner) {
  if (injected_failure(testing::OsObject::mutex)) return 0;
  Object* o = claim_object();
  if (o == nullptr) return 0;
  // Adaptive: a contended lock spins a little before it sleeps, since the
  // solver's claims hold it for a few instructions.
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
  pthread_mutex_init(&o->lock, &attr);
  pthread_mutexattr_destroy(&attr);
  o->owner.store(nullptr, std::memory_order_relaxed);
  o->depth = 0;
  if (initial_owner) lock_mutex(o, INFINITE);
  return publish(o, Kind::mutex);
}

Handle os_create_event(bool manual_reset, bool initial_state) {
  if (injected_failure(testing::OsObject::event)) return 0;
  Object* o = claim_object();
  if (o == nullptr) return 0;
  o->event.init(manual_reset, initial_state);
  return publish(o, Kind::event);
}

WaitResult os_wait_for_single_object(Handle object, std::uint32_t timeout_ms) {
  Object* o = find(object);
  if (o == nullptr) return WAIT_FAILED;
  switch (o->kind.load(std::memory_order_relaxed)) {
    case Kind::mutex:
      return lock_mutex(o, timeout_ms);
    case Kind::event:
    case Kind::thread: {
      if (timeout_ms == INFINITE) return wait_signalled(o, nullptr);
      timespec t = deadline_after(CLOCK_MONOTONIC, timeout_ms);
      return wait_signalled(o, &t, timeout_ms == 0);
    }
    default:
      // A process does not end while it waits for itself.
      return WAIT_FAILED;
  }
}

int os_release_mutex(Handle mutex) {
  Object* o = find(mutex, Kind::mutex);
  // Only the owner may release, once per lock.
  if (o == nullptr ||
      o->owner.load(std::memory_order_relaxed) != this_thread()) {
    return 0;
  }
  if (--o->depth == 0) {
    o->owner.store(nullptr, std::memory_order_relaxed);
    pthread_mutex_unlock(&o->lock);
  }
  return 1;
}

int os_reset_event(Handle event) {
  Object* o = find(event, Kind::event);
  if (o == nullptr) return 0;
  o->event.reset();
  return 1;
}

int os_set_event(Handle event) {
  Object* o = find(event, Kind::event);
  if (o == nullptr) return 0;
  o->event.set();
  return 1;
}

void os_sleep(std::uint32_t milliseconds) {
  timespec t{static_cast<time_t>(milliseconds / 1000),
             static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {}
}

int os_close_handle(Handle object) {
  if (object == CURRENT_PROCESS) return 1;
  Object* o = find(object);
  if (o == nullptr) return 0;
  open_count.fetch_sub(1, std::memory_order_relaxed);
  switch (o->kind.load(std::memory_order_relaxed)) {
    case Kind::mutex:
      pthread_mutex_destroy(&o->lock);
      release_object(o);
      break;
    case Kind::event:
      release_object(o);
      break;
    case Kind::thread:
      close_thread(o);
      break;
    default:
      release_object(o);
      break;
  }
  return 1;
}

Handle os_create_thread(std::size_t stack_size, ThreadStart start,
                        void* parameter, std::uint32_t creation_flags,
                        std::uint32_t* thread_id) {
  if (creation_flags != 0 || start == nullptr) return 0;
  thread_requests.fetch_add(1, std::memory_order_relaxed);
  if (injected_failure(testing::OsObject::thread)) return 0;
  Object* o = claim_object();
  if (o == nullptr) return 0;
  init_state_lock(o);
  o->start = start;
  o->parameter = parameter;
  o->finished = false;
  o->detached = false;
  // The size is a commitment hint: a thread never gets less than the
  // platform's default stack.
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  std::size_t default_size = 0;
  pthread_attr_getstacksize(&attr, &default_size);
  void* stack = nullptr;
  std::size_t usable = 0;
  o->stack = detail::take_thread_stack(std::max(stack_size, default_size),
                                       &stack, &usable);
  if (o->stack >= 0)
    pthread_attr_setstack(&attr, stack, usable);
  else if (stack_size > default_size)
    pthread_attr_setstacksize(&attr, stack_size);
  int rc = pthread_create(&o->tid, &attr, thread_trampoline, o);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    detail::give_thread_stack(o->stack);
    o->stack = -1;
    destroy_state_lock(o);
    release_object(o);
    return 0;
  }
  if (thread_id != nullptr) *thread_id = next_thread_id.fetch_add(1);
  return publish(o, Kind::thread);
}

WaitResult os_wait_for_multiple_objects(std::uint32_t count,
                                        const Handle* handles, bool wait_all,
                                        std::uint32_t timeout_ms) {
  if (!wait_all || count == 0 || count > MAXIMUM_WAIT_OBJECTS ||
      handles == nullptr) {
    return WAIT_FAILED;
  }
  // One by one is a wait-all only for objects that a wait does not
  // consume: threads and manual-reset events.
  Object* objects[MAXIMUM_WAIT_OBJECTS];
  for (std::uint32_t k = 0; k < count; ++k) {
    objects[k] = find(handles[k]);
    if (objects[k] == nullptr) return WAIT_FAILED;
    Kind kind = objects[k]->kind.load(std::memory_order_relaxed);
    if (kind != Kind::thread &&
        !(kind == Kind::event && objects[k]->event.manual())) {
      return WAIT_FAILED;
    }
  }
  timespec t{};
  if (timeout_ms != INFINITE) t = deadline_after(CLOCK_MONOTONIC, timeout_ms);
  for (std::uint32_t k = 0; k < count; ++k) {
    WaitResult r =
        wait_signalled(objects[k], timeout_ms == INFINITE ? nullptr : &t);
    if (r != WAIT_OBJECT_0) return r;
  }
  return WAIT_OBJECT_0;
}

std::uint32_t os_get_tick_count() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  std::uint64_t ms = static_cast<std::uint64_t>(t.tv_sec) * 1000u +
                     static_cast<std::uint64_t>(t.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

Handle os_open_process(std::uint32_t desired_access, bool inherit_handle,
                       std::uint32_t process_id) {
  (void)desired_access;
  (void)inherit_handle;
  // Only this process's own times can be read.
  if (process_id != os_get_current_process_id()) return 0;
  Object* o = claim_object();
  if (o == nullptr) return 0;
  return publish(o, Kind::process);
}

std::uint32_t os_get_current_process_id() {
  return static_cast<std::uint32_t>(getpid());
}

int os_get_process_times(Handle process, FileTime* creation, FileTime* exit,
                         FileTime* kernel, FileTime* user) {
  if (!is_process(process)) return 0;
  rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  if (creation != nullptr) *creation = FileTime{};
  if (exit != nullptr) *exit = FileTime{};
  to_file_time(usage.ru_stime, kernel);
  to_file_time(usage.ru_utime, user);
  return 1;
}

std::int32_t os_open_handle_count() {
  return open_count.load(std::memory_order_relaxed);
}

void mutex_create(Handle& mutex) { mutex = os_create_mutex(false); }

// The variable is cleared so that a second close cannot reach an object
// that has since reused the handle.
void mutex_close(Handle& mutex) {
  Handle h = mutex;
  os_close_handle(h);
  mutex = 0;
}

void mutex_lock(Handle mutex) { os_wait_for_single_object(mutex, INFINITE); }

void mutex_unlock(Handle mutex) { os_release_mutex(mutex); }

namespace testing {

void os_fail_creation(OsObject kind, std::int32_t successes) {
  successes_left[static_cast<int>(kind)].store(successes < 0 ? -1 : successes);
}

void os_clear_faults() {
  for (auto& left : successes_left) left.store(-1);
}

std::int64_t os_thread_requests() {
  return thread_requests.load(std::memory_order_relaxed);
}

}  // namespace testing

}  // namespace pband
