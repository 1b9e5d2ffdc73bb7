// The worker table: a routine started on a new thread with the launcher's
// own variables passed by address, so caller and worker share them; the
// joins that end such threads, and the runtime's shutdown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

namespace pband {

// 1024 workers, each a thread that calls one routine with up to 52
// arguments. The routine receives the addresses of the launcher's own
// variables, so caller and worker share them; keep them alive until the
// join.

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
  void* addresses[sizeof...(A) + 1] = {const_cast<void*>(
      static_cast<const volatile void*>(std::addressof(args)))...};
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

// Closes the two table guards (the worker table's and the slots'). The
// runtime may be used again afterwards: the guards are created anew on
// next use.
void shutdown_runtime();

}  // namespace pband
