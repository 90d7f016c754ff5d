#include "core/lock.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/lock_statistics.h"

MainLoopLock main_loop_lock;
std::atomic<int32_t> engine_lock_waiters{0};
std::atomic<int32_t> engine_hand_over_budget{hand_over_budget_default};
std::atomic<uint32_t> engine_hand_over_turn{0};

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
// The hand-over in which the calling thread last had its turn (odd), else an even number.
thread_local uint32_t last_turn = 0;

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
    // One turn per hand-over: after its turn a thread waits for the audio thread to hold the
    // mutex again (a short wait: the audio thread runs at a higher priority).
    while (engine_hand_over_turn.load(std::memory_order_acquire) == last_turn && (last_turn & 1))
      sched_yield();
    engine_lock_waiters.fetch_add(1);  // asks the audio thread to let go at its next frame
    pthread_mutex_lock(&engine_mutex_storage);
    engine_lock_waiters.fetch_sub(1);
    last_turn = engine_hand_over_turn.load(std::memory_order_acquire);
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

const char* engine_hand_over_budget_set(const char* text) {
  if (text == nullptr) return "no value";
  if (strcmp(text, "unbounded") == 0) {
    engine_hand_over_budget.store(hand_over_unbounded);
    return nullptr;
  }
  char* end = nullptr;
  errno = 0;
  const long percent = strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || percent < 0 || percent > 100)
    return "a percentage of the period from 0 to 100, or unbounded";
  engine_hand_over_budget.store(int32_t(percent));
  return nullptr;
}

int64_t engine_hand_over_until(int64_t began_ns, int64_t period_ns) {
  const int32_t budget = engine_hand_over_budget.load(std::memory_order_relaxed);
  if (budget < 0) return INT64_MAX;
  return began_ns + period_ns * budget / 100;
}

void engine_hand_over(pthread_mutex_t* mutex, int64_t& until_ns) {
  if (until_ns == INT64_MAX) {  // unbounded: no clock, no turns
    pthread_mutex_unlock(mutex);
    pthread_mutex_lock(mutex);
    return;
  }
  if (lock_clock_ns() >= until_ns) {
    until_ns = 0;  // the budget is spent: the mutex stays held to the end of the period
    return;
  }
  engine_hand_over_turn.fetch_add(1, std::memory_order_release);  // odd: letting go
  pthread_mutex_unlock(mutex);
  pthread_mutex_lock(mutex);
  engine_hand_over_turn.fetch_add(1, std::memory_order_release);  // even: held again
}

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
