// The parallel runtime, one header for its users: team size, a thin OS
// layer over POSIX threads, counted barriers ("synchronization slots"), a
// worker table that runs a routine on a new thread with its arguments
// shared by reference, the team runner built on them, each thread's kept
// scratch, and hooks for tests.
// Everything is a fixed process-wide table numbered from 1; 0 means none.
#pragma once

#include "runtime/os_layer.hpp"
#include "runtime/runtime_testing.hpp"
#include "runtime/sync_slots.hpp"
#include "runtime/team.hpp"
#include "runtime/team_size.hpp"
#include "runtime/thread_scratch.hpp"
#include "runtime/workers.hpp"
