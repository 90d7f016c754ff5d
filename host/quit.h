// Quitting on SIGTERM or SIGINT: the signal asks the main loop to leave at its next pass; the
// main thread then closes any take in progress as a loop, lets the storage thread write every
// changed track (a few seconds at most) and ends. A second signal meanwhile ends the program at
// once. The handler runs on the main thread only: every other thread blocks both signals.
#pragma once

#include <signal.h>

#include <atomic>
#include <cstdint>

constexpr double quit_save_seconds = 3;  // how long quitting waits for the storage thread

struct QuitState {
  std::atomic<int32_t> signal_number{0};  // the first quit signal; 0 while running
  // What a second signal does: by default the signal's own action (the program ends at once).
  void (*second_signal)(int signal_number) = nullptr;
};

extern QuitState quit_state;

// The handler of both signals (async-signal-safe: one atomic exchange, or the second-signal
// action).
void quit_signal_handler(int signal_number);

// Start-up, before any thread is created: blocks SIGTERM and SIGINT (threads created from now on
// inherit the mask) and installs the handler. Ignores SIGPIPE: output into a closed pipe fails
// instead of ending the looper.
void quit_signals_install();
// After start-up: the main thread alone takes the two signals from now on.
void quit_signals_accept();

bool quit_requested();

// Main thread, after the main loop has ended: ends every record, overdub and replace as
// "Play/Stop" would (a recording closes as a loop and plays), hands a changed configuration to
// the storage thread and waits until it has written every changed track (a track whose save
// failed earlier is tried again at once), or until `seconds` have passed; then names each track
// whose save still fails, with the reason. Returns true when everything was written.
bool quit_save_everything(double seconds);

// Tests: running, default second-signal action.
void quit_reset();
