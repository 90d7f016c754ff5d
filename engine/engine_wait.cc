#include "engine/engine_wait.h"

#include <time.h>

EngineWait engine_wait;

namespace {
// A 512-frame ramp lasts about 10.7 ms; polling every 0.5 ms finds its end promptly without
// keeping the main thread busy.
constexpr long poll_interval_ns = 500000;
}  // namespace

void engine_wait_reset() { engine_wait = EngineWait{}; }

// Outside the analysis: it lets go of every level of the calling thread's hold and takes them all
// back, so the caller holds the engine lock afterwards exactly as before (or not at all).
void engine_wait_pause() NO_THREAD_SAFETY_ANALYSIS {
  const int depth = engine_lock_depth();
  for (int i = 0; i < depth; i++) engine_unlock();
  if (engine_wait.run_frame != nullptr) {
    engine_wait.run_frame();
  } else {
    timespec pause{0, poll_interval_ns};
    nanosleep(&pause, nullptr);
  }
  for (int i = 0; i < depth; i++) engine_lock();
}
