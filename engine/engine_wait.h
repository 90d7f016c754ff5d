// Waiting for the per-sample engine: the one place where main-thread operations give the audio
// thread time to act (ramps, punches, triggers). Main thread and workers; never the audio thread.
#pragma once

#include <cstdint>

#include "engine/track.h"
#include "core/lock.h"

struct EngineWait {
  // Null in the program: the audio thread runs the engine while a waiter sleeps. Tests point it
  // at a function that runs one engine frame, so every wait steps the engine inline.
  void (*run_frame)();
  // Inline frames after which a single wait gives up (0 = never); give-ups are counted, so a
  // test of a wait that never ends fails instead of hanging.
  int32_t inline_frame_limit;
  int32_t abandoned_waits;
};

extern EngineWait engine_wait;

// The program's behaviour: no inline frames, no limit.
void engine_wait_reset();

// Lets the engine run once: releases every level of the engine lock the calling thread holds,
// sleeps briefly (or runs one inline frame), and takes the lock back to the same depth.
void engine_wait_pause();

// Frames of frame_counter within which a fade must settle before an operation goes on anyway.
constexpr int32_t fade_timeout_frames = 48000;  // one second

// Polls done() under the engine lock, letting the engine run between polls, until it holds.
// With timeout_frames > 0 it gives up once that many frames of frame_counter have passed.
// Returns false when it gave up.
// Holding the engine lock here would stop the engine it waits for.
template <typename Done>
bool wait_for_engine(Done done, int32_t timeout_frames = 0) EXCLUDES(engine_capability) {
  uint32_t start;
  {
    EngineLockGuard lock;
    if (done()) return true;
    start = engine_state.frame_counter;
  }
  int32_t inline_frames = 0;
  for (;;) {
    if (engine_wait.run_frame != nullptr && engine_wait.inline_frame_limit > 0 &&
        ++inline_frames > engine_wait.inline_frame_limit) {
      engine_wait.abandoned_waits++;
      return false;
    }
    engine_wait_pause();
    EngineLockGuard lock;
    if (done()) return true;
    uint32_t elapsed = uint32_t(engine_state.frame_counter) - start;  // wraps with the counter
    if (timeout_frames > 0 && elapsed > uint32_t(timeout_frames)) return false;
  }
}
