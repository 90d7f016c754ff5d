#include "midi/clock.h"

#include "config/config.h"
#include "core/lock.h"
#include "midi/midi_queue.h"

ClockFollower clock_follower;

namespace {

constexpr int32_t flywheel_nudge = 4;   // frames the beat moves at a wrap that missed its tick
constexpr int lost_after_periods = 24;  // one beat without a tick: the clock is gone
constexpr int32_t default_measure_beats = 4;

// (int) period, kept inside the 32-bit range.
int32_t whole_period(double period) {
  if (!(period > 0)) return 0;
  if (period >= 2147483647.0) return 2147483647;
  return int32_t(period);
}

// The beat wraps: with no tick in this frame, measure how far the last tick lies from a tick
// boundary and pull the beat toward it by a few frames.
void beat_wrap(ClockFollower& c, uint32_t frame_counter) {
  c.beat_position -= c.beat_length;
  if (c.pending_ticks != 0) {
    c.flywheel_drift = 0;
    return;
  }
  const int32_t p = whole_period(c.clock_period);
  if (p == 0) return;
  // The remainder keeps the sign of the dividend, as C++ % does.
  int32_t e = int32_t(c.last_clock_time - frame_counter) % p;
  if (e < -c.clock_period / 2) e += p;
  c.flywheel_drift = e;
  if (e > flywheel_nudge) {
    c.beat_position -= flywheel_nudge;
  } else if (e < -flywheel_nudge) {
    c.beat_position += flywheel_nudge;
  }
}

void lose_clock(ClockFollower& c) {
  c.clock_period = 0;
  c.clock_lock = -1;
  c.lock_lost_count++;
  c.beat_position = 0;
  c.last_clock_time = 0;
  for (int32_t& interval : c.intervals) interval = 0;
  c.beat_length = 0;
  c.interval_index = 0;
}

// The ticks of this frame: one received clock, the interval since the last one into the ring.
void take_ticks(ClockFollower& c, uint32_t frame_counter, uint32_t d) {
  if (c.pending_ticks > 1) c.missed_clocks += c.pending_ticks - 1;
  c.received_clocks++;
  c.pending_ticks = 0;
  if (c.last_clock_time != 0) {
    const int32_t diff = d > 2147483647u ? 2147483647 : int32_t(d);
    if (diff < c.min_diff) c.min_diff = diff;
    if (diff > c.max_diff) c.max_diff = diff;
    int32_t& oldest = c.intervals[c.interval_index];
    c.beat_length += diff - oldest;
    oldest = diff;
    if (++c.interval_index >= clock_pulses_per_beat) {
      c.interval_index = 0;
      c.clock_lock = 0;
      c.beat_position = 0;
    }
    if (c.clock_lock == 0) {
      c.clock_period = c.transport_period > 0 ? c.transport_period
                                              : c.beat_length / double(clock_pulses_per_beat);
    }
  }
  if (c.start_pending != 0) {
    // The first tick after a start begins a beat: the ring wraps again 24 ticks on.
    c.start_pending = 0;
    c.beat_position = 0;
    c.interval_index = 0;
  }
  c.last_clock_time = frame_counter;
}

// Whole-frame intervals whose running sum follows the fractional period.
void fill_intervals(ClockFollower& c, double period) {
  double carry = 0;
  int32_t sum = 0;
  for (int32_t& interval : c.intervals) {
    interval = int32_t(period + carry);
    carry = period + carry - interval;
    sum += interval;
  }
  c.beat_length = sum;
}

}  // namespace

void clock_reset() {
  clock_follower = ClockFollower{};
  clock_follower.min_diff = clock_min_diff_reset;
  clock_follower.clock_lock = -1;  // no clock until one has been followed for a beat
}

void clock_follow_frame(uint32_t frame_counter) {
  ClockFollower& c = clock_follower;
  c.frame_counter = frame_counter;
  const uint32_t d = frame_counter - c.last_clock_time;
  // A period set without intervals (beat_length 0) has no beat to run.
  if (c.clock_period > 0 && c.beat_length > 0 && ++c.beat_position >= c.beat_length) {
    beat_wrap(c, frame_counter);
  }
  if (c.clock_lock >= 0 &&
      int64_t(d) > int64_t(lost_after_periods) * whole_period(c.clock_period)) {
    lose_clock(c);
  }
  if (c.pending_ticks != 0) take_ticks(c, frame_counter, d);
}

void clock_tick() {
  clock_follower.pending_ticks++;
  clock_follower.clocks_in_measure++;
}

void clock_measure_start() {
  ClockFollower& c = clock_follower;
  c.measure_start_time = c.beat_position;
  if (c.clocks_in_measure != c.clocks_last_measure) {
    c.measure_errors++;
    c.clocks_last_measure = c.clocks_in_measure;
  }
  c.clocks_in_measure = 0;
  c.measure_frames = 0;
}

void start_drum_clock(int32_t clocks, double period) {
  ClockFollower& c = clock_follower;
  EngineLockGuard lock;
  c.clocks_in_measure = clocks;
  c.clocks_last_measure = clocks;
  c.clock_period = period;
  c.clock_lock = 1;
  c.beat_position = 0;
  // The drum's first tick comes in the next frame, one period after this pretended last tick.
  c.last_clock_time = c.frame_counter + 1u - uint32_t(int64_t(period));
  c.start_pending = 1;
  fill_intervals(c, period);
  c.interval_index = 0;
}

void clock_send_pulse() { midi_enqueue(&midi_byte_clock, 1); }

void clock_input_collect(ClockInputEvents& events, uint32_t frame, const uint8_t* bytes,
                         uint32_t size) {
  // The host command that sets the flag runs in the main thread.
  if (std::atomic_ref<int16_t>(config.midi_clock_in).load(std::memory_order_relaxed) == 0) return;
  for (uint32_t i = 0; i < size; i++) {
    const uint8_t b = bytes[i];
    if (b != midi_byte_clock && b != midi_byte_start && b != midi_byte_continue &&
        b != midi_byte_stop) {
      continue;
    }
    if (events.count >= clock_input_capacity) {
      events.dropped++;
      continue;
    }
    events.frame[events.count] = frame;
    events.byte[events.count] = b;
    events.count++;
  }
}

void clock_outside_byte(uint8_t byte) {
  ClockFollower& c = clock_follower;
  switch (byte) {
    case midi_byte_clock: {
      const int32_t beats =
          config.beats_per_measure >= 1 ? config.beats_per_measure : default_measure_beats;
      if (c.outside_running != 0 &&
          (c.start_pending != 0 || c.clocks_in_measure >= beats * clock_pulses_per_beat)) {
        clock_measure_start();
      }
      clock_tick();
      break;
    }
    case midi_byte_start:
      c.outside_running = 1;
      c.start_pending = 1;
      break;
    case clock_event_tick: clock_tick(); break;
    case clock_event_bar_tick:
      if (c.outside_running != 0) clock_measure_start();
      c.start_pending = 1;  // the tick begins a beat: the beat position starts again from it
      clock_tick();
      break;
    case clock_event_beat_tick:
      c.start_pending = 1;
      clock_tick();
      break;
    case clock_event_roll: c.outside_running = 1; break;
    case midi_byte_continue: c.outside_running = 1; break;
    case midi_byte_stop:
      c.outside_running = 0;
      c.start_pending = 0;
      break;
    default: break;
  }
}

void clock_transport_period(double period) {
  ClockFollower& c = clock_follower;
  if (!(period > 0)) {
    c.transport_period = 0;
    return;
  }
  if (period == c.transport_period) return;
  c.transport_period = period;
  // A tempo change: the flywheel's beat is the new one from now on.
  if (c.clock_lock == 0) {
    c.clock_period = period;
    fill_intervals(c, period);
  }
}
