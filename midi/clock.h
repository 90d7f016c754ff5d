// The MIDI clock: the follower that measures the clock period from ticks (the drum machine's, or
// an outside clock's 0xF8 bytes) and keeps a beat position running between them, and the
// timing-clock output. The per-frame parts run on the audio thread inside the engine step (engine
// mutex held); the drum start primes it under the engine lock; reports read it under the lock.
#pragma once

#include <cstdint>

constexpr int clock_pulses_per_beat = 24;
constexpr int32_t clock_min_diff_reset = 1000000;  // min_diff after a report

// MIDI real-time bytes the clock uses.
constexpr uint8_t midi_byte_clock = 0xF8;
constexpr uint8_t midi_byte_start = 0xFA;
constexpr uint8_t midi_byte_continue = 0xFB;
constexpr uint8_t midi_byte_stop = 0xFC;
// Events of the JACK transport follower, never taken from the MIDI input (bytes MIDI leaves
// undefined, which the input filter drops): a plain tick, a tick that begins a beat, one that
// begins a bar, and the roll that starts the measure count at the next bar (a stop is 0xFC).
constexpr uint8_t clock_event_tick = 0xF4;
constexpr uint8_t clock_event_beat_tick = 0xF9;
constexpr uint8_t clock_event_bar_tick = 0xFD;
constexpr uint8_t clock_event_roll = 0xF5;

struct ClockFollower {
  double clock_period;    // frames per clock; 0 = no clock
  int32_t beat_position;  // frames since the current beat began; wraps at beat_length
  double flywheel_drift;  // phase error at the last beat wrap without a tick
  double last_adjust;
  uint32_t last_clock_time;  // frame_counter at the last tick; 0 = none yet
  int32_t min_diff;
  int32_t max_diff;
  int32_t clock_lock;       // -1 lost (or none yet), 0 following, 1 primed by the drum machine
  int32_t pending_ticks;    // ticks signalled since the last frame
  int32_t received_clocks;  // frames at which one or more ticks were taken
  int32_t missed_clocks;    // extra ticks that arrived within one frame
  int32_t clocks_in_measure;
  int32_t clocks_last_measure;
  int32_t measure_errors;
  int32_t measure_start_time;  // beat_position at the last measure start
  int32_t measure_frames;      // frames since the last measure start; counted by the engine
  int32_t lock_lost_count;
  int32_t intervals[clock_pulses_per_beat];  // the last 24 tick intervals, a ring
  int32_t beat_length;                       // sum of intervals
  int32_t interval_index;                    // next ring slot
  uint32_t frame_counter;                    // the engine's frame counter at the last frame run
  int32_t start_pending;  // a start (drums, or an outside 0xFA): the next tick begins a beat
  // The outside clock (0xF8 on the MIDI input while midi_clock_in is on).
  int32_t outside_running;  // between 0xFA (or 0xFB) and 0xFC: measures are counted
  int32_t outside_dropped;  // real-time bytes beyond what one period can hold
  // The JACK transport master's tempo as frames per tick (0 = none): while set, a locked
  // follower takes it as its period instead of the average of the last beat's ticks.
  double transport_period;
};

extern ClockFollower clock_follower;

// Start-of-program values: no clock (lock -1), min_diff at its report value.
void clock_reset();

// Per-frame step of the follower, run by the engine after the outputs are formed, with the
// frame counter the engine advanced at the start of the frame: the flywheel, loss detection and
// the ticks signalled during the frame.
void clock_follow_frame(uint32_t frame_counter);

// A tick of the clock source (the drum machine at each step start): taken by the next
// clock_follow_frame.
void clock_tick();
// A measure start, called before the tick that begins the measure.
void clock_measure_start();

// Primes the follower as if locked to a clock of `clocks` ticks per measure and `period` frames
// per tick: the drum machine's start, whose first tick comes in the next frame and begins a
// beat. Takes the engine lock.
void start_drum_clock(int32_t clocks, double period);

// Queues one MIDI timing-clock byte (0xF8); on the audio thread it takes the queue's own lane.
void clock_send_pulse();

// The outside clock: the real-time bytes of one process period with their frame offsets,
// collected before the period's frames run. Lives on the process thread's stack.
constexpr int clock_input_capacity = 64;
struct ClockInputEvents {
  uint32_t frame[clock_input_capacity];
  uint8_t byte[clock_input_capacity];
  int32_t count;
  int32_t next;
  int32_t dropped;  // bytes beyond the capacity, counted into the follower when applied
  double period;    // the transport master's frames per tick for this period; 0 = none
  bool has_period;  // period is to be applied before the period's first frame
};

// Process thread, before the frames: keeps the 0xF8, 0xFA, 0xFB and 0xFC bytes of one received
// event at its frame offset, only while the configuration's midi_clock_in is set. Events must
// come in time order (JACK delivers them so).
void clock_input_collect(ClockInputEvents& events, uint32_t frame, const uint8_t* bytes,
                         uint32_t size);
// One real-time byte of the outside clock (engine mutex held): 0xF8 ticks (counting measures of
// "Beats / Measure" beats while running), 0xFA starts, 0xFB continues, 0xFC stops the count.
void clock_outside_byte(uint8_t byte);
// The transport master's period (frames per tick, 0 = none), engine mutex held: a locked
// follower takes a new tempo at once, its beat ring refilled at the new period.
void clock_transport_period(double period);

// Process thread, engine mutex held, just before the frame `frame` of the period runs: feeds the
// bytes collected up to that frame to the follower. A cheap comparison when none is due.
inline void clock_input_apply(ClockInputEvents& events, uint32_t frame) {
  if (events.dropped != 0) {
    clock_follower.outside_dropped += events.dropped;
    events.dropped = 0;
  }
  if (events.has_period) {
    clock_transport_period(events.period);
    events.has_period = false;
  }
  while (events.next < events.count && events.frame[events.next] <= frame) {
    clock_outside_byte(events.byte[events.next++]);
  }
}
