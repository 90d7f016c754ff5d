// Where the audio thread can be held back: the longest holds of the engine lock by the other
// threads, by call site, and the longest process callback. engine_unlock records holds (under
// the engine mutex); the process callback records its own duration; the main loop's "s" report
// takes and clears both. A fixed table: nothing is allocated.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/call_site.h"
#include "core/lock.h"

constexpr int lock_site_slots = 128;  // distinct call sites kept; more are counted as unplaced

struct LockSite {
  const char* file = nullptr;  // nullptr: a free slot
  const char* function = nullptr;
  uint32_t line = 0;
  int64_t longest_ns = 0;
  uint32_t holds = 0;
};

struct LockStatistics {
  // Guarded by the engine mutex.
  LockSite sites[lock_site_slots];
  uint32_t unplaced_holds = 0;  // holds whose site found no free slot
  int64_t unplaced_longest_ns = 0;
  // Written by the audio thread (single writer), taken by the report.
  std::atomic<int64_t> callback_longest_ns{0};
  std::atomic<uint32_t> callback_frames{0};  // the period of the longest callback
  std::atomic<uint32_t> callbacks{0};
  // The callbacks' time and the audio they covered since the last report: the share of the audio
  // time the looper used (the "s" report's CPU figure).
  std::atomic<int64_t> callback_busy_ns{0};
  std::atomic<uint64_t> callback_frames_total{0};
  // Counted by JACK's notification thread.
  std::atomic<uint32_t> xruns{0};
};
extern LockStatistics lock_statistics;

// Clears the sites and the callback figures; the xrun count stays (it counts from start-up).
// The caller holds no engine lock.
void lock_statistics_reset() EXCLUDES(engine_capability);

// Charges one outermost hold of held_ns to its site. Caller holds the engine mutex.
void lock_statistics_record(const CallSite& where, int64_t held_ns) REQUIRES(engine_capability);

// The audio thread's own figure for one process callback of `frames` frames.
void lock_statistics_callback(int64_t took_ns, uint32_t frames);

// Monotonic nanoseconds (clock_gettime through the vDSO: no system call on Linux).
int64_t lock_clock_ns();

// What the report shows: the sites with the longest holds, longest first, and the figures since
// the last report.
constexpr int lock_report_sites = 4;
struct LockReport {
  LockSite longest[lock_report_sites];
  int site_count = 0;
  uint32_t holds = 0;  // all holds since the last report
  int64_t unplaced_longest_ns = 0;
  int64_t callback_longest_ns = 0;
  uint32_t callback_frames = 0;
  uint32_t callbacks = 0;
  uint32_t xruns = 0;
};
// Fills `out` and clears the figures for the next report. Takes the engine mutex briefly (a copy
// of the table, not counted as a hold); the caller holds no engine lock.
void lock_statistics_take(LockReport& out) EXCLUDES(engine_capability);
