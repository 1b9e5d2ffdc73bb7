// The parallel runtime: team size, a thin OS layer over POSIX threads,
// counted barriers ("synchronization slots") and a worker table that runs
// a routine on a new thread with its arguments shared by reference.
// Everything is a fixed process-wide table numbered from 1; 0 means none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

namespace pband {

// ---------------------------------------------------------------------------
// OS layer, tier 1: one routine per kernel service.
//
// Objects (mutex, event, thread, process) are named by integer handles,
// 0 meaning none. A mutex belongs to the thread that locked it (and may be
// locked again by it). An auto-reset event lets exactly one waiting thread
// through per setting and stays set while nobody waits. A thread can be
// waited for any number of times, singly or up to 64 at once (wait-all).
// Results are returned unchanged; callers decide what to test.
// ---------------------------------------------------------------------------

using Handle = std::intptr_t;
using WaitResult = std::uint32_t;

inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;
inline constexpr WaitResult WAIT_OBJECT_0 = 0;
inline constexpr WaitResult WAIT_TIMEOUT = 0x102;
inline constexpr WaitResult WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr std::uint32_t MAXIMUM_WAIT_OBJECTS = 64;
inline constexpr std::uint32_t PROCESS_QUERY_INFORMATION = 0x400;

// A 64-bit count of 100-nanosecond units, as two 32-bit words.
struct FileTime {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
};

// Start routine of a thread; its result is the thread's exit code.
using ThreadStart = std::uint32_t (*)(void* parameter);

// Process and system masks of the processors this process may run on:
// the first 32 allowed processors map to bits 0 … 31. 1 on success.
int os_get_process_affinity_mask(Handle process, std::uint32_t* process_mask,
                                 std::uint32_t* system_mask);
// Pseudo-handle of the current process; it needs no closing.
Handle os_get_current_process();
Handle os_create_mutex(bool initial_owner);
Handle os_create_event(bool manual_reset, bool initial_state);
// Waits for a mutex (locks it), an event or a thread. WAIT_OBJECT_0,
// WAIT_TIMEOUT, or WAIT_FAILED for a bad handle.
WaitResult os_wait_for_single_object(Handle object, std::uint32_t timeout_ms);
int os_release_mutex(Handle mutex);
int os_reset_event(Handle event);
int os_set_event(Handle event);
void os_sleep(std::uint32_t milliseconds);
int os_close_handle(Handle object);
// Starts `start(parameter)` at once (creation flags must be 0). The
// stack size is a hint. Returns 0 when the thread cannot be created.
Handle os_create_thread(std::size_t stack_size, ThreadStart start,
                        void* parameter, std::uint32_t creation_flags,
                        std::uint32_t* thread_id);
// Only wait-all is offered: WAIT_FAILED when wait_all is false, when the
// count is 0 or above MAXIMUM_WAIT_OBJECTS, or for a bad handle. Only
// objects that a wait does not consume (threads, manual-reset events)
// may be listed; a mutex or an auto-reset event gives WAIT_FAILED.
WaitResult os_wait_for_multiple_objects(std::uint32_t count,
                                        const Handle* handles, bool wait_all,
                                        std::uint32_t timeout_ms);
// Milliseconds from a monotonic clock; wraps every 2^32 ms.
std::uint32_t os_get_tick_count();
Handle os_open_process(std::uint32_t desired_access, bool inherit_handle,
                       std::uint32_t process_id);
std::uint32_t os_get_current_process_id();
// User and kernel time of every thread of the process. Creation and exit
// are filled with zeros. 1 on success.
int os_get_process_times(Handle process, FileTime* creation, FileTime* exit,
                         FileTime* kernel, FileTime* user);

// Objects created and not yet closed (threads count until closed).
std::int32_t os_open_handle_count();

// OS layer, tier 2: a mutex held in one of the caller's variables.
void mutex_create(Handle& mutex);
void mutex_close(Handle& mutex);
void mutex_lock(Handle mutex);
void mutex_unlock(Handle mutex);

// ---------------------------------------------------------------------------
// Team size: the number of threads the next parallel solve uses, the
// calling thread included. Process-wide; any thread may set or read it at
// any time, and a solve uses the value it reads when it starts.
// ---------------------------------------------------------------------------

inline constexpr std::int32_t MAX_TEAM_SIZE = 32;

// Set bits of the process affinity mask (of the system mask when the
// process mask is empty; 1 when the query fails).
void count_processors(std::int32_t& count);
// Team size; when unset it becomes the processor count.
void get_team_size(std::int32_t& size);
// Team size = min(requested, MAX_TEAM_SIZE, processor count). A request
// below 1 leaves the team size unset (it reads as the processor count).
void set_team_size(std::int32_t requested);
// Team size = processor count.
void reset_team_size();

// ---------------------------------------------------------------------------
// Synchronization slots: 64 counted barriers whose release passes from
// thread to thread, with an optional leader that runs a serial step.
// Every operation on a slot number that is not allocated does nothing.
// ---------------------------------------------------------------------------

inline constexpr std::int32_t SYNC_SLOT_COUNT = 64;

// Writes a free slot number, or 0 when all 64 are in use (or its kernel
// objects cannot be created).
void sync_slot_allocate(std::int32_t& slot);
// Prepares one cycle of `participants` arrivals. Not locked: no
// participant may be inside an operation on the slot.
void sync_slot_arm(std::int32_t slot, std::int32_t participants);
void sync_slot_arrive(std::int32_t slot);
void sync_slot_wait(std::int32_t slot);
// follower = 0 for the leader, who must call sync_slot_post once after
// its serial step; 1 for everybody else.
void sync_slot_wait_leader(std::int32_t slot, std::int32_t& follower);
void sync_slot_post(std::int32_t slot);
void sync_slot_free(std::int32_t slot);
std::int32_t sync_slots_in_use();

// ---------------------------------------------------------------------------
// Worker table: 1024 workers, each a thread that calls one routine with up
// to 52 arguments. The routine receives the addresses of the launcher's
// own variables, so caller and worker share them; keep them alive until
// the join.
// ---------------------------------------------------------------------------

inline constexpr std::int32_t WORKER_SLOT_COUNT = 1024;
inline constexpr std::int32_t MAX_WORKER_ARGS = 52;

using GenericRoutine = void (*)();
using RoutineInvoker = void (*)(GenericRoutine routine, void* const* args);

// The call a worker thread makes: read by worker_entry.
struct WorkerCall {
  GenericRoutine routine = nullptr;
  RoutineInvoker invoker = nullptr;
  std::int32_t arg_count = 0;
  void* args[MAX_WORKER_ARGS] = {};
};

namespace detail {

void launch_worker_call(std::int32_t& worker, GenericRoutine routine,
                        RoutineInvoker invoker, std::int32_t arg_count,
                        void* const* args);

template <class R, class... P, std::size_t... I>
void invoke_stored(GenericRoutine routine, void* const* args,
                   std::index_sequence<I...>) {
  auto f = reinterpret_cast<R (*)(P...)>(routine);
  (void)args;
  f(*static_cast<std::remove_reference_t<P>*>(args[I])...);
}

template <class R, class... P>
void invoke_stored(GenericRoutine routine, void* const* args) {
  invoke_stored<R, P...>(routine, args, std::index_sequence_for<P...>{});
}

}  // namespace detail

// Starts `routine(args...)` on a new thread, passing the addresses of
// `args` unchanged. Writes the worker number, or 0 when the table is full
// or the thread cannot be created (then nothing runs).
template <class R, class... P, class... A>
void launch_worker(std::int32_t& worker, R (*routine)(P...), A&... args) {
  static_assert(sizeof...(P) == sizeof...(A), "argument count mismatch");
  static_assert(sizeof...(P) <= MAX_WORKER_ARGS, "at most 52 arguments");
  static_assert((std::is_lvalue_reference_v<P> && ...),
                "worker routines take every argument by reference");
  static_assert(
      (std::is_same_v<std::remove_cvref_t<P>, std::remove_cvref_t<A>> && ...),
      "argument types must match the routine's parameters");
  void* addresses[sizeof...(A) + 1] = {
      const_cast<void*>(static_cast<const volatile void*>(
          std::addressof(args)))...};
  detail::launch_worker_call(worker, reinterpret_cast<GenericRoutine>(routine),
                             &detail::invoke_stored<R, P...>,
                             static_cast<std::int32_t>(sizeof...(A)),
                             addresses);
}

// Thread start routine of every worker: calls the stored routine with the
// stored addresses; a count outside 0 … 52 calls nothing.
std::uint32_t worker_entry(void* call_record);

void join_worker(std::int32_t worker);
void wait_worker(std::int32_t worker);
void close_worker(std::int32_t worker);
void wait_all_workers();
void close_waited_workers();
void join_all_workers();
std::int32_t workers_in_use();

// Closes the two table guards. The runtime may be used again afterwards:
// the guards are created anew on next use.
void shutdown_runtime();

// ---------------------------------------------------------------------------
// Hooks for tests: fault injection and resettable process-wide state.
// ---------------------------------------------------------------------------
namespace testing {

enum class OsObject { mutex, event, thread };
// The creation of an object of `kind` fails after `successes` more
// successful creations, and so does every later one until
// os_clear_faults; a negative count never fails.
void os_fail_creation(OsObject kind, std::int32_t successes);
void os_clear_faults();

using AffinityQuery = int (*)(Handle process, std::uint32_t* process_mask,
                              std::uint32_t* system_mask);
// Replaces the affinity query of count_processors; nullptr restores it.
void set_affinity_query(AffinityQuery query);
// Forgets the cached processor count and the team size.
void reset_team_size_state();

// The release event of an allocated slot (0 for any other number), so
// that a test can see whether a cycle left it signalled.
Handle sync_slot_event(std::int32_t slot);

}  // namespace testing

}  // namespace pband
