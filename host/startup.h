// Start-up of the looper, in its fixed order. Main thread.
#pragma once

#include "host/main_loop.h"

// Opens the client, loads and initialises every subsystem, activates, and prints the
// start-up lines. Returns with main_loop_lock.mutex held, ready for main_loop_run().
void startup();
