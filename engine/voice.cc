#include "engine/voice.h"

#include "config/config.h"
#include "host/lock.h"
#include "midi/clock.h"

namespace {

constexpr int drift_check_position = 1024;  // frames into the loop where MIDI-clock drift is measured
constexpr int32_t drift_tolerance = 20;     // phase errors up to this many frames are left alone
constexpr int32_t drift_limit = 2000;       // the largest correction applied at one restart

void mix(int32_t pair[2], int32_t sums[2], const Track& v, int32_t left, int32_t right) {
  int32_t l = apply_gain(left, v.current_level[0]);
  int32_t r = apply_gain(right, v.current_level[1]);
  pair[0] = wrap_add(pair[0], l);
  pair[1] = wrap_add(pair[1], r);
  if (v.bounce_source) {
    sums[0] = wrap_add(sums[0], l);
    sums[1] = wrap_add(sums[1], r);
  }
}

// Restart of a MIDI-clock track at the end of its stop countdown: the old pass fades out in the
// second fading voice while the track starts again from frame 0 after start_after frames.
void restart_clock_track(Track& t, int n) {
  t.start_delay = t.start_after;
  begin_crossfade(t, fading_voices_2[n]);
  engine_state.fading_list_2 |= uint16_t(1u << n);
  t.position = 0;
}

// Compares a MIDI-clock track's position with the clock's beat and schedules a restart that
// removes the error, or for a muted track moves it directly.
void drift_check(Track& t, int mode, int n) {
  double beat = t.clock_period * clock_pulses_per_beat;
  int32_t q = 0;  // frames per beat
  if (beat > 0 && beat < 2147483647.0) q = int32_t(beat);
  int64_t m = int64_t(clock_follower.beat_position) -
              (int64_t(t.length) + drift_check_position - t.vsp);
  if (m < -(q / 2)) {
    m += q;
  } else if (m > q / 2) {
    m -= q;
  }
  t.midi_error = int32_t(t.midi_error + (16 * m - t.midi_error) / 8);
  if (t.drift_count >= 0 && t.drift_count < drift_history_length) {
    engine.drift_history[n][t.drift_count] = int32_t(m);
    t.drift_count++;
  }
  const int32_t length = t.length;
  const int32_t position = t.position;
  if (mode == 0) {
    int64_t p = position + m;
    if (p < 0) {
      p += length;
    } else if (p >= length) {
      p -= length;
    }
    t.position = int32_t(p);
    return;
  }
  if (m < -drift_tolerance) {
    int32_t k = m > -drift_limit ? int32_t(m) : -drift_limit;
    t.start_after = -2 * k;
    t.stop_countdown = length - position + k;
  } else if (m > drift_tolerance) {
    int32_t k = m < drift_limit ? int32_t(m) : drift_limit;
    t.stop_countdown = length - position - k;
    t.start_after = 0;
  }
}

}  // namespace

ReadPoint main_read_point(const Track& t, int n) {
  int32_t r = t.position;
  bool silent = false;
  int32_t count = t.segment_count;
  if (count >= 2) {
    if (count > max_segments) count = max_segments;
    int j = 0;
    while (j < count - 1 && r >= t.segment_start[j + 1]) j++;
    int32_t source = t.segment_source[j];
    if (uint32_t(source) >= uint32_t(max_segments)) source = j;
    r = int32_t(int64_t(r) - t.segment_start[j] + t.segment_start[source]);
    silent = t.segment_silent[j] != 0;
  }
  return {track_frame(n, r), silent};
}

void apply_fade(Track& t, int32_t* frame) {
  int32_t g = t.fade_gain;
  if (g < ramp_unity) {
    frame[0] = scale_512(frame[0], g);
    frame[1] = scale_512(frame[1], g);
    t.audio_changed = 1;
  }
  if (g < t.fade_target) {
    t.fade_gain = g + 1;
  } else if (g > t.fade_target) {
    t.fade_gain = g - 1;
  }
}

void shape_voice(Track& v, int32_t& left, int32_t& right) {
  v.current_level[0] = approach_level(v.current_level[0], v.target_level[0], left, v.last_sample[0]);
  v.current_level[1] = approach_level(v.current_level[1], v.target_level[1], right, v.last_sample[1]);
  int32_t g = v.ramp_gain;
  if (g != ramp_unity) {
    left = scale_512(left, g);
    right = scale_512(right, g);
  }
  g += v.ramp_step;
  v.ramp_gain = g;
  if (g == v.ramp_end) v.ramp_step = 0;
  v.last_sample[0] = left;
  v.last_sample[1] = right;
}

void play_main_voice(Track& t, int n, int32_t pair[2], int32_t sums[2]) {
  if (t.start_delay > 0) {
    t.start_delay--;
    return;
  }
  ReadPoint point = main_read_point(t, n);
  if (point.frame == nullptr) return;  // missing block: silent and frozen
  int32_t left = point.frame[0];
  int32_t right = point.frame[1];
  if (left > t.peak) t.peak = left;
  if (right > t.peak) t.peak = right;
  if (point.silent) left = right = 0;
  apply_fade(t, point.frame);  // heard on the next pass
  shape_voice(t, left, right);
  mix(pair, sums, t, left, right);
  advance_voice(t, 1, n);
}

void play_aux_voice(Track& v, int n, int32_t pair[2], int32_t sums[2]) {
  int32_t position = v.position;
  int32_t* frame = track_frame(n, position);
  if (frame == nullptr) return;
  int32_t left = frame[0];
  int32_t right = frame[1];
  shape_voice(v, left, right);
  mix(pair, sums, v, left, right);
  int32_t t = v.position_fraction + v.rate;
  position += t >> 8;
  v.position_fraction = t & 255;
  if (position < 0 || position >= v.length) {
    position = v.loop_start;
    v.loop_count++;
  }
  v.position = position;
}

void advance_voice(Track& t, int mode, int n) {
  int32_t step = t.position_fraction + t.rate;
  int32_t position = t.position + (step >> 8);
  t.position_fraction = step & 255;
  if (position < 0 || position >= t.length) {
    position = t.loop_start;
    t.peak_last_pass = t.peak;
    t.loop_count++;
    t.peak = 0;
  }
  t.position = position;

  if (t.clock_source == -2) {
    if (t.stop_countdown > 0) {
      if (--t.stop_countdown == 0) restart_clock_track(t, n);
    } else if (position == drift_check_position && t.ramp_step == 0 && t.start_delay == 0 &&
               t.stop_countdown == 0 && mode != -1 && t.trigger_position < 0) {
      drift_check(t, mode, n);
    }
    position = t.position;
  }

  Engine& e = engine;
  if (n == e.clock_out_track && n != engine_state.record_track) {
    int32_t count = e.clock_pulse_count[n];
    int32_t index = e.clock_pulse_index[n];
    if (count > 0 && count <= clock_pulse_slots && uint32_t(index) < uint32_t(count) &&
        position == e.clock_pulse_table[n][index]) {
      e.clock_pulse_index[n] = index + 1 == count ? 0 : index + 1;
      if (config.midi_clock_out != 0 && config.drums_clock_out != 1) clock_send_pulse();
    }
  }

  if (position == t.trigger_position) {
    t.trigger_hit = 1;
    wake_main_loop();
  }
}
