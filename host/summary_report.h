// The head of the "s" report, for the player: is the audio dropping out, how much of the machine
// the looper uses, how much loop memory and disk is left, and whether every track is saved. Main
// thread: a once-a-second tick keeps the xrun counts of the last minute; the report reads only
// counters and takes the engine lock for O(1) copies.
#pragma once

#include <cstdint>

constexpr int summary_window_s = 60;  // "in the last minute"

struct SummaryHistory {
  uint32_t xruns[summary_window_s] = {};  // the xrun count at each of the last ticks
  int32_t next = 0;                       // slot of the next tick
  int32_t ticks = 0;                      // ticks so far, at most summary_window_s
};
extern SummaryHistory summary_history;

// What the summary shows, gathered by report_summary().
struct SummaryFigures {
  uint32_t xruns = 0;  // since start-up
  uint32_t xruns_last_minute = 0;
  int64_t busy_ns = 0;         // process callbacks' time since the last report
  uint64_t frames = 0;         // audio frames they covered
  int32_t free_blocks = 0;     // zeroed and dirty blocks of the pool
  uint8_t unsaved_mask = 0;    // bit t: track t holds changes not yet saved
  int64_t free_megabytes = 0;  // for takes; INT64_MAX when unknown
};

void summary_reset();

// Main loop, once a second: notes the xrun count.
void summary_second_tick();

// The xruns of the last minute (since start-up while it ran for less) against `xruns` now.
uint32_t xruns_in_last_minute(const SummaryHistory& h, uint32_t xruns);

// Prints the summary lines, "Looper health:" to "Disk: ...".
void print_summary(const SummaryFigures& f);

// Gathers the figures and prints them.
void report_summary();
