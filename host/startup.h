// Start-up of the looper, in its fixed order. Main thread.
#pragma once

#include "core/lock.h"
#include "host/command_line.h"
#include "host/main_loop.h"

// Enters the data directory (exits 1 with one line when it cannot be written), opens the client,
// loads and initialises every subsystem, activates, and prints the start-up lines and the ready
// line. Returns with main_loop_lock.mutex held, ready for main_loop_run().
void startup(const CommandLine& line) ACQUIRE(main_loop_lock);
