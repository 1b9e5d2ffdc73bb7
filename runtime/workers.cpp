// The worker table: 1024 slots, each holding the call a worker thread
// makes and the handle to wait for it. Threads are started per launch and
// read their call record in place, so no argument is ever copied.
#include "runtime/workers.hpp"

#include <atomic>
#include <cstdlib>

#include "runtime/runtime_detail.hpp"

namespace pband {
namespace {

struct WorkerSlot {
  // Checked by joins without the guard, hence atomic.
  std::atomic<std::int32_t> id{-1};
  // > 0: not yet waited for; < 0: waited for, not closed; 0: no handle.
  Handle thread = 0;
  WorkerCall call;
};

constinit WorkerSlot workers[WORKER_SLOT_COUNT];
std::atomic<Handle> worker_table_guard{0};
std::int32_t worker_cursor = 1;  // guarded by worker_table_guard

WorkerSlot* in_use(std::int32_t worker) {
  if (worker < 1 || worker > WORKER_SLOT_COUNT) return nullptr;
  WorkerSlot& w = workers[worker - 1];
  return w.id.load(std::memory_order_acquire) == worker ? &w : nullptr;
}

void free_slot(WorkerSlot& w) {
  w.thread = 0;
  w.id.store(-1, std::memory_order_release);
}

// Waits for all listed threads in groups the wait-all call accepts.
void wait_in_groups(const Handle* handles, std::int32_t n) {
  for (std::int32_t s = 0; s < n; s += MAXIMUM_WAIT_OBJECTS) {
    std::int32_t group = n - s < static_cast<std::int32_t>(MAXIMUM_WAIT_OBJECTS)
                             ? n - s
                             : static_cast<std::int32_t>(MAXIMUM_WAIT_OBJECTS);
    os_wait_for_multiple_objects(static_cast<std::uint32_t>(group), handles + s,
                                 true, INFINITE);
  }
}

}  // namespace

namespace detail {

void launch_worker_call(std::int32_t& worker, GenericRoutine routine,
                        RoutineInvoker invoker, std::int32_t arg_count,
                        void* const* args) {
  worker = 0;
  Handle guard = table_guard(worker_table_guard);
  if (guard == 0) return;
  mutex_lock(guard);
  // Search from the cursor, so freed numbers are not reused at once.
  std::int32_t start = worker_cursor;
  std::int32_t i = start;
  bool found = false;
  do {
    if (workers[i - 1].id.load(std::memory_order_acquire) <= 0) {
      found = true;
      break;
    }
    i = i == WORKER_SLOT_COUNT ? 1 : i + 1;
  } while (i != start);
  if (found) {
    WorkerSlot& w = workers[i - 1];
    w.id.store(i, std::memory_order_relaxed);
    w.call.routine = routine;
    w.call.invoker = invoker;
    w.call.arg_count = arg_count;
    if (arg_count >= 0 && arg_count <= MAX_WORKER_ARGS) {
      for (std::int32_t k = 0; k < arg_count; ++k) w.call.args[k] = args[k];
    }
    // The record is complete before the thread exists to read it.
    std::uint32_t thread_id = 0;
    w.thread = os_create_thread(4096, &worker_entry, &w.call, 0, &thread_id);
    if (w.thread != 0) {
      worker_cursor = i == WORKER_SLOT_COUNT ? 1 : i + 1;
      worker = i;
    } else {
      // No thread: give the slot back and say so, as for a full table.
      free_slot(w);
    }
  }
  mutex_unlock(guard);
}

}  // namespace detail

std::uint32_t worker_entry(void* call_record) {
  const WorkerCall* call = static_cast<const WorkerCall*>(call_record);
  std::int32_t n = call->arg_count;
  if (n >= 0 && n <= MAX_WORKER_ARGS && call->invoker != nullptr &&
      call->routine != nullptr) {
    call->invoker(call->routine, call->args);
  }
  return 0;
}

void join_worker(std::int32_t worker) {
  wait_worker(worker);
  close_worker(worker);
}

void wait_worker(std::int32_t worker) {
  WorkerSlot* w = in_use(worker);
  if (w == nullptr || w->thread <= 0) return;
  os_wait_for_single_object(w->thread, INFINITE);
  w->thread = -w->thread;
}

void close_worker(std::int32_t worker) {
  WorkerSlot* w = in_use(worker);
  if (w == nullptr || w->thread >= 0) return;
  Handle h = -w->thread;
  os_close_handle(h);
  free_slot(*w);
}

void wait_all_workers() {
  Handle handles[WORKER_SLOT_COUNT];
  std::int32_t n = 0;
  for (WorkerSlot& w : workers) {
    if (w.id.load(std::memory_order_acquire) != -1 && w.thread > 0) {
      handles[n++] = w.thread;
      w.thread = -w.thread;
    }
  }
  wait_in_groups(handles, n);
}

void close_waited_workers() {
  Handle handles[WORKER_SLOT_COUNT];
  std::int32_t n = 0;
  for (WorkerSlot& w : workers) {
    if (w.id.load(std::memory_order_acquire) != -1 && w.thread < 0) {
      handles[n++] = -w.thread;
      free_slot(w);
    }
  }
  for (std::int32_t k = 0; k < n; ++k) os_close_handle(handles[k]);
}

// The slots are freed only after their threads have ended: a running
// worker still reads its call record, which a new launch would overwrite.
void join_all_workers() {
  Handle handles[WORKER_SLOT_COUNT];
  std::int32_t n = 0;
  for (WorkerSlot& w : workers) {
    if (w.id.load(std::memory_order_acquire) != -1 && w.thread != 0) {
      handles[n++] = std::abs(w.thread);
    }
  }
  wait_in_groups(handles, n);
  for (WorkerSlot& w : workers) {
    if (w.id.load(std::memory_order_acquire) != -1) free_slot(w);
  }
  for (std::int32_t k = 0; k < n; ++k) os_close_handle(handles[k]);
}

std::int32_t workers_in_use() {
  std::int32_t n = 0;
  for (const WorkerSlot& w : workers) {
    if (w.id.load(std::memory_order_acquire) != -1) ++n;
  }
  return n;
}

void shutdown_runtime() {
  detail::close_table_guard(worker_table_guard);
  detail::close_sync_table_guard();
}

}  // namespace pband
