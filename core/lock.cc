#include "core/lock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "core/lock_statistics.h"

MainLoopLock main_loop_lock;
std::atomic<int32_t> engine_lock_waiters{0};

namespace {
// Priority inheritance: a thread that holds the engine lock while the real-time audio thread
// waits for it runs at the audio thread's priority until it lets go, so that busy programs of
// ordinary priority cannot keep it, and with it the audio thread, off the CPU.
struct EngineMutex {
  pthread_mutex_t mutex;
  EngineMutex() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    pthread_mutex_init(&mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
  }
};
EngineMutex engine_mutex_holder;
pthread_mutex_t& engine_mutex_storage = engine_mutex_holder.mutex;
thread_local int lock_depth = 0;

// The calling thread's outermost hold: when and where it was taken.
struct Hold {
  int64_t taken_at = 0;  // ns, monotonic
  CallSite where;
};
thread_local Hold hold;

struct HoldProbe {
  bool active = false;
  int64_t since = 0;  // a hold already running when the probe started counts from here
  int64_t longest = 0;
};
thread_local HoldProbe hold_probe;
}  // namespace

pthread_mutex_t* engine_mutex() { return &engine_mutex_storage; }

void engine_lock(CallSite where) {
  if (lock_depth++ == 0) {
    engine_lock_waiters.fetch_add(1);  // asks the audio thread to let go at its next frame
    pthread_mutex_lock(&engine_mutex_storage);
    engine_lock_waiters.fetch_sub(1);
    hold.taken_at = lock_clock_ns();
    hold.where = where;
  }
}

void engine_unlock() {
  if (lock_depth == 0) {
    fputs("BUG: jack_release_lock\n", stdout);
    fflush(stdout);
    exit(1);
  }
  if (--lock_depth == 0) {
    const int64_t now = lock_clock_ns();
    lock_statistics_record(hold.where, now - hold.taken_at);
    if (hold_probe.active) {
      // A hold that began before the probe started counts from the start.
      const int64_t probed = now - std::max(hold.taken_at, hold_probe.since);
      if (probed > hold_probe.longest) hold_probe.longest = probed;
    }
    pthread_mutex_unlock(&engine_mutex_storage);
  }
}

int engine_lock_depth() { return lock_depth; }

void lock_hold_probe_start() {
  hold_probe.active = true;
  hold_probe.longest = 0;
  hold_probe.since = lock_clock_ns();
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
