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
#include "core/deadline.h"
#include "core/thread_safety.h"

// The engine lock as the compiler's thread-safety analysis sees it: functions that need it say
// REQUIRES(engine_capability); engine_lock and EngineLockGuard acquire it. An object the analysis
// names only, never defined.
struct CAPABILITY("engine lock") EngineCapability {};
extern EngineCapability engine_capability;

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
// Their bodies are outside the analysis: they take and let go of the mutex only at the outermost
// level of the thread's depth count, which the analysis cannot follow; to every caller they
// acquire and release the engine lock.
void engine_lock(CallSite where = CallSite::current())
    ACQUIRE(engine_capability) NO_THREAD_SAFETY_ANALYSIS;
// Prints "BUG: jack_release_lock" and exits with status 1 when the thread holds no lock.
void engine_unlock() RELEASE(engine_capability) NO_THREAD_SAFETY_ANALYSIS;
// Depth of the engine lock held by the calling thread.
int engine_lock_depth();

// Hold-time probe of the calling thread: between start and stop, every hold of the engine lock by
// this thread (outermost lock to its unlock) is timed. stop returns the longest hold in
// nanoseconds. Other threads are not counted.
void lock_hold_probe_start();
int64_t lock_hold_probe_stop();

// Debug and test builds: a function that needs the engine lock stops the program, naming itself,
// when its thread holds none (the audio thread, which holds the mutex without counting it, never
// calls one of these). Nothing in release builds.
#ifdef NDEBUG
inline void expect_engine_lock(const char*) {}
#else
void expect_engine_lock(const char* function);
#endif

// Scoped engine_lock / engine_unlock.
struct SCOPED_CAPABILITY EngineLockGuard {
  explicit EngineLockGuard(CallSite where = CallSite::current()) ACQUIRE(engine_capability) {
    engine_lock(where);
  }
  ~EngineLockGuard() RELEASE() { engine_unlock(); }
  EngineLockGuard(const EngineLockGuard&) = delete;
  EngineLockGuard& operator=(const EngineLockGuard&) = delete;
};

// The main loop's lock and condition. The main loop holds the mutex except during its timed wait
// on cond; the network thread takes it to run host SysEx beside, never inside, the loop's work.
// cond times its waits on the monotonic clock (core/deadline.h). Taken before the engine lock,
// never while holding it.
struct CAPABILITY("main loop lock") MainLoopLock {
  MainLoopLock() { cond_init_monotonic(cond); }
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond;
  // A console byte posted by the network thread, taken by the next pass; 0 = none.
  std::atomic<uint32_t> console_mailbox{0};
};
extern MainLoopLock main_loop_lock;

// The main loop's lock, taken and let go where the analysis can see it (the pthread calls inside
// carry no annotations of their own).
inline void main_loop_lock_take() ACQUIRE(main_loop_lock)
    EXCLUDES(engine_capability) NO_THREAD_SAFETY_ANALYSIS {
  pthread_mutex_lock(&main_loop_lock.mutex);
}
inline void main_loop_lock_give() RELEASE(main_loop_lock) NO_THREAD_SAFETY_ANALYSIS {
  pthread_mutex_unlock(&main_loop_lock.mutex);
}

// Wakes the main loop without ever blocking: try-lock, signal, unlock. Safe from the audio thread.
void wake_main_loop();
