#include "core/lock.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>

MainLoopLock main_loop_lock;

namespace {
pthread_mutex_t engine_mutex_storage = PTHREAD_MUTEX_INITIALIZER;
thread_local int lock_depth = 0;

struct HoldProbe {
  bool active = false;
  int64_t taken_at = 0;  // ns, monotonic
  int64_t longest = 0;
};
thread_local HoldProbe hold_probe;

int64_t monotonic_ns() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}
}  // namespace

pthread_mutex_t* engine_mutex() { return &engine_mutex_storage; }

void engine_lock() {
  if (lock_depth++ == 0) {
    pthread_mutex_lock(&engine_mutex_storage);
    if (hold_probe.active) hold_probe.taken_at = monotonic_ns();
  }
}

void engine_unlock() {
  if (lock_depth == 0) {
    fputs("BUG: jack_release_lock\n", stdout);
    fflush(stdout);
    exit(1);
  }
  if (--lock_depth == 0) {
    if (hold_probe.active) {
      const int64_t held = monotonic_ns() - hold_probe.taken_at;
      if (held > hold_probe.longest) hold_probe.longest = held;
    }
    pthread_mutex_unlock(&engine_mutex_storage);
  }
}

int engine_lock_depth() { return lock_depth; }

void lock_hold_probe_start() {
  hold_probe.active = true;
  hold_probe.longest = 0;
  // A hold already running counts from now.
  if (lock_depth > 0) hold_probe.taken_at = monotonic_ns();
}

int64_t lock_hold_probe_stop() {
  hold_probe.active = false;
  return hold_probe.longest;
}

void wake_main_loop() {
  MainLoopLock& m = main_loop_lock;
  if (pthread_mutex_trylock(&m.mutex) == 0) {
    pthread_cond_signal(&m.cond);
    pthread_mutex_unlock(&m.mutex);
  }
}
