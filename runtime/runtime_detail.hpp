// Pieces shared by the runtime's own sources and nobody else: the guard
// mutexes of the two tables, created on first use and closed at shutdown.
#pragma once

#include <atomic>
#include <cstddef>

#include "runtime/os_layer.hpp"

namespace pband::detail {

// The guard held in `guard`, created first if it is 0; 0 when it cannot
// be created. Creation is serialized so that two first uses cannot race.
Handle table_guard(std::atomic<Handle>& guard);
// Closes the guard if there is one and sets it back to 0.
void close_table_guard(std::atomic<Handle>& guard);
// The synchronization slots' guard, for shutdown_runtime.
void close_sync_table_guard();

// A kept stack of at least `size` bytes for a new thread (a guard page
// below it): its index, with its lowest usable address and size; -1 when
// none is free or none can be mapped (the thread then takes the C
// library's). give_thread_stack returns it once its thread has been
// joined.
int take_thread_stack(std::size_t size, void** stack, std::size_t* usable);
void give_thread_stack(int index);
// The scratch kept beside kept stack `index` (kKeptScratchBytes), for
// the thread that holds it.
void* kept_stack_scratch(int index);
// Makes `block` (size bytes; nullptr: none) this thread's scratch.
void lend_thread_scratch(void* block, std::size_t size);

}  // namespace pband::detail
