// The MIDI clock: the follower that measures the clock period from the drum machine's ticks and
// keeps a beat position running between them, and the timing-clock output. The per-frame parts
// run on the audio thread inside the engine step (engine mutex held); reports read under the lock.
#pragma once

#include <cstdint>

constexpr int clock_pulses_per_beat = 24;

struct ClockFollower {
  double clock_period;     // frames per clock; 0 = no clock
  int32_t beat_position;   // frames since the current beat began
  double flywheel_drift;
  double last_adjust;
  uint32_t last_clock_time;  // frame_counter at the last tick; 0 = none yet
  int32_t min_diff;
  int32_t max_diff;
  int32_t clock_lock;      // -1 lost, 0 following, 1 primed by the drum machine
  int32_t pending_ticks;
  int32_t received_clocks;
  int32_t missed_clocks;
  int32_t clocks_in_measure;
  int32_t clocks_last_measure;
  int32_t measure_errors;
  int32_t measure_start_time;
  int32_t measure_frames;  // frames since the last measure start; counted by the engine
  int32_t lock_lost_count;
  int32_t intervals[clock_pulses_per_beat];
  int32_t beat_length;
  int32_t interval_index;
};

extern ClockFollower clock_follower;

// Start-of-program values (tests).
void clock_reset();

// Per-frame step of the follower, run by the engine after the outputs are formed. Empty until
// the clock follower is built.
inline void clock_follow_frame() {}

// Queues one MIDI timing-clock byte (0xF8) from the audio thread. Empty until the clock output
// is built.
inline void clock_send_pulse() {}
