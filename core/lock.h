// The engine lock: one mutex guarding all engine, track and pool state. Non-real-time threads
// nest it freely through a thread-local depth; the audio thread locks the mutex directly for a
// period and never nests, handing it over between frames to a thread that waits for it. Every
// outermost hold by a non-real-time thread is timed against its call site (see
// core/lock_statistics.h).
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "core/call_site.h"

// The mutex itself, for the process callback (and benchmarks that time what it does).
pthread_mutex_t* engine_mutex();

// Hand-over: the audio thread holds the engine mutex across a whole period and lets go between
// two frames only when another thread has asked for it. engine_lock counts its thread here
// before it blocks on the mutex and uncounts it once it holds it. The mutex inherits priority,
// so the audio thread's unlock hands it straight to the waiter, whose O(1) work then runs at the
// audio thread's priority before the audio thread takes the lock back for the next frame.
extern std::atomic<int32_t> engine_lock_waiters;

// The hand-over is bounded: the audio thread lets waiters in only while the time spent in the
// current period is below a budget, a share of the period (a quarter by default); past it, it
// keeps the mutex to the end of the period, and the waiters get it then. A thread gets at most
// one turn per hand-over: one that takes the lock again while the audio thread is still letting
// go waits until the audio thread holds the mutex again, so back-to-back holds cannot chain.
// Unbounded (the earlier design): every frame lets every waiter in, with no limit per period.
constexpr int32_t hand_over_budget_default = 25;  // % of the period
constexpr int32_t hand_over_unbounded = -1;
extern std::atomic<int32_t> engine_hand_over_budget;  // % of the period, or hand_over_unbounded

// Sets the budget from text: a percentage 0-100 of the period, or "unbounded". Returns null, or
// why the text was refused (the budget is then left as it was).
const char* engine_hand_over_budget_set(const char* text);

// Odd while the audio thread has let go for a hand-over; each hand-over adds 2.
extern std::atomic<uint32_t> engine_hand_over_turn;

// The time (lock_clock_ns) past which a period that began at began_ns and lasts period_ns lets
// no waiter in: INT64_MAX when unbounded.
int64_t engine_hand_over_until(int64_t began_ns, int64_t period_ns);

// Lets the waiting threads in and holds the mutex again, unless the time is past until_ns, which
// then becomes 0 for the rest of the period. Audio thread, holding the mutex.
void engine_hand_over(pthread_mutex_t* mutex, int64_t& until_ns);

// Between two frames of a period: lets waiting threads in while the budget lasts.
inline void engine_hand_over_if_wanted(pthread_mutex_t* mutex, int64_t& until_ns) {
  if (engine_lock_waiters.load(std::memory_order_acquire) != 0 && until_ns != 0)
    engine_hand_over(mutex, until_ns);
}

// where: the call site the hold is charged to when this is the thread's outermost lock.
void engine_lock(CallSite where = CallSite::current());
// Prints "BUG: jack_release_lock" and exits with status 1 when the thread holds no lock.
void engine_unlock();
// Depth of the engine lock held by the calling thread.
int engine_lock_depth();

// Hold-time probe of the calling thread: between start and stop, every hold of the engine lock by
// this thread (outermost lock to its unlock) is timed. stop returns the longest hold in
// nanoseconds. Other threads are not counted.
void lock_hold_probe_start();
int64_t lock_hold_probe_stop();

// Scoped engine_lock / engine_unlock.
struct EngineLockGuard {
  explicit EngineLockGuard(CallSite where = CallSite::current()) {
    engine_lock(where);
  }
  ~EngineLockGuard() { engine_unlock(); }
  EngineLockGuard(const EngineLockGuard&) = delete;
  EngineLockGuard& operator=(const EngineLockGuard&) = delete;
};

// The main loop's lock and condition. The main loop holds the mutex except during its timed wait
// on cond; the network thread takes it to run host SysEx beside, never inside, the loop's work.
struct MainLoopLock {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
  // A console byte posted by the network thread, taken by the next pass; 0 = none.
  std::atomic<uint32_t> console_mailbox{0};
};
extern MainLoopLock main_loop_lock;

// Wakes the main loop without ever blocking: try-lock, signal, unlock. Safe from the audio thread.
void wake_main_loop();
