// The runtime's OS layer: tier 1 is one routine per kernel service, with
// objects named by integer handles; tier 2 is a mutex held in one of the
// caller's variables. Everything else in the runtime is built on these.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace pband
