// What the fuzz targets share: a check that stops the run on a broken rule, and one engine frame
// run inline on the fuzzing thread (the audio thread's lock taken as the process callback would).
#pragma once

#include <pthread.h>

#include <cstdint>

#include "core/lock.h"
#include "engine/engine.h"

inline void require(bool condition) {
  if (!condition) __builtin_trap();
}

// One frame of the engine with a changing input, so recordings hold something.
inline void run_inline_frame() {
  int32_t in[2] = {int32_t(engine_state.frame_counter.load() * 2654435761u) >> 8, 0};
  int32_t out_main[2], out_aux1[2], out_aux2[2];
  pthread_mutex_lock(engine_mutex());
  engine_process_sample(in, out_main, out_aux1, out_aux2);
  pthread_mutex_unlock(engine_mutex());
}
