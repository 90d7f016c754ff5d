// The main loop and its idle tick: every non-real-time service of the looper runs here, on the
// main thread. The audio thread only wakes the loop (wake_main_loop, by try-lock).
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "core/lock.h"

struct MainLoop {
  std::atomic<int32_t> idle_enabled{0};    // the idle tick runs only when set
  std::atomic<int32_t> more_idle_work{0};  // dirty blocks remain: skip the next wait once
  int32_t idle_depth = 0;                  // nesting of idle_tick (idle_service from a handler)
  int32_t last_idle_ms = 0;
  uint32_t last_quarter = 0;      // wall-clock ms / 250 at the last 250 ms service
  uint32_t last_second = 0;       // wall-clock seconds at the last 1 s service
  int32_t restart_countdown = 0;  // seconds until exit(0); 0 = not armed
  int32_t ten_ms_countdown = 0;
};

extern MainLoop main_loop;

// What the main loop calls in the JACK client, installed at start-up (null: skipped).
struct MainLoopHooks {
  void (*midi_autoconnect)();    // connects raw-MIDI ports that appeared since the last tick
  void (*connections_second)();  // once a second: saves the port connections after a change
};
extern MainLoopHooks main_loop_hooks;

// Restores the start-of-program values (tests).
void main_loop_reset();

// Wall-clock milliseconds from CLOCK_REALTIME in wrapping 32-bit arithmetic.
int32_t now_ms();

// One idle tick: the periodic services. Refused with "IDLE CHECKS ERROR" past two nested ticks.
void idle_tick() REQUIRES(main_loop_lock);
// Runs idle_tick when idle_enabled; for handlers that wait inside the main thread.
void idle_service() REQUIRES(main_loop_lock);

// Handles one console byte: "m" MIDI statistics, "s" pool line and looper statistics.
void console_command(int c);

// One pass of the main loop (the caller holds main_loop_lock.mutex); waits up to 50 ms unless more
// idle work is pending.
void main_loop_pass() REQUIRES(main_loop_lock);
// Runs passes until a quit signal arrives (the main thread holds main_loop_lock.mutex).
void main_loop_run() REQUIRES(main_loop_lock);
