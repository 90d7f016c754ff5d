#include "engine/fades.h"

#include <algorithm>

#include "config/config.h"
#include "core/console.h"
#include "engine/engine_wait.h"
#include "engine/track_ops.h"
#include "core/lock.h"

Fades fades;

namespace {

constexpr int32_t max_atten = 200;
constexpr int32_t max_pan = 128;
constexpr int32_t max_target = 96;  // quietest target; 90 and above are silent anyway
// A step period is total / distance in units of 20 ms, counted in runs of the 10 ms service:
// the walk takes about half the configured fade time.
constexpr int32_t fade_period_unit = 20;
constexpr int32_t ms_per_fade_time_unit = 1000;  // "Fade Time" counts seconds

void apply_targets(Track& v) {
  int32_t targets[2];
  level_targets(v.atten, v.pan, targets);
  EngineLockGuard lock;
  v.target_level[0] = targets[0];
  v.target_level[1] = targets[1];
}

// Total duration of a fade in milliseconds.
int32_t fade_total_ms() {
  int32_t time = config.fade_time;
  return time <= 0 ? ms_per_fade_time_unit : ms_per_fade_time_unit * time;
}

// 10 ms runs per 1 dB step for a walk of distance dB (at least one run per step).
int16_t period_for(int32_t distance) {
  if (distance == 0) return 1;
  return int16_t(std::max(fade_total_ms() / distance, fade_period_unit) / fade_period_unit);
}

void start_fade(int i) {
  Fades& f = fades;
  const int32_t m = config.volume_minimum;
  const int32_t q = m - m / 10;  // fades from below this level swell back to unity
  const int32_t level = f.track_level[i];
  f.fade_saved_level[i] = int16_t(level > q ? level : 0);
  f.fade_counter[i] = 0;
  f.fade_target_level[i] = int16_t(m);
  f.fade_direction[i] = -1;
  f.fade_period[i] = period_for(level - m);
}

void start_swell(int i) {
  Fades& f = fades;
  const int32_t level = f.track_level[i];
  const int32_t saved = f.fade_saved_level[i];
  if (saved < level) return;
  f.fade_counter[i] = 0;
  f.fade_target_level[i] = int16_t(saved);
  f.fade_direction[i] = 1;
  f.fade_period[i] = period_for(saved - level);
}

void toggle(int i) {
  Fades& f = fades;
  if (f.fade_direction[i] < 0) {
    f.fade_direction[i] = 1;
    f.fade_target_level[i] = f.fade_saved_level[i];
  } else if (f.fade_direction[i] > 0) {
    f.fade_direction[i] = -1;
    f.fade_target_level[i] = int16_t(config.volume_minimum);
  } else {
    const int32_t m = config.volume_minimum;
    if (f.track_level[i] >= m - m / 10) {
      start_fade(i);
    } else {
      start_swell(i);
    }
  }
}

}  // namespace

void fades_reset() { fades = Fades{}; }

void level_targets(int32_t atten, int32_t pan, int32_t targets[2]) {
  targets[0] = std::min(atten + std::max(pan, 0), max_target);
  targets[1] = std::min(atten + std::max(-pan, 0), max_target);
}

void set_levels_at_once(Track& v) {
  expect_engine_lock(__func__);
  int32_t targets[2];
  level_targets(v.atten, v.pan, targets);
  for (int c = 0; c < 2; c++) v.target_level[c] = v.current_level[c] = targets[c];
  v.ramp_gain = ramp_unity;
  v.ramp_end = ramp_unity;
  v.ramp_step = 0;
}

int set_track_atten(int32_t t, int32_t atten) {
  if (!valid_track_index(t) || uint32_t(atten) > uint32_t(max_atten)) return status_refused;
  Track& v = tracks[t];
  v.atten = atten;
  fades.track_level[t] = int16_t(-atten);
  apply_targets(v);
  return 0;
}

int set_track_pan(int32_t t, int32_t pan) {
  if (!valid_track_index(t) || pan < -max_pan || pan > max_pan) return status_refused;
  Track& v = tracks[t];
  // Through the centre first when the pan crosses it.
  if ((v.pan < 0 && pan > 0) || (v.pan > 0 && pan < 0)) {
    v.pan = 0;
    apply_targets(v);
  }
  v.pan = pan;
  fades.track_pan[t] = int16_t(pan);
  apply_targets(v);
  return 0;
}

void fade_swell(int32_t kind, uint32_t track_mask) {
  for (int i = 0; i < track_count; i++) {
    if (!(track_mask & (1u << i))) continue;
    if (kind == fade_down) {
      start_fade(i);
    } else if (kind == fade_up) {
      start_swell(i);
    } else if (kind == fade_toggle) {
      toggle(i);
    }
  }
}

void fade_cancel(int32_t t) {
  if (valid_track_index(t)) fades.fade_direction[t] = 0;
}

void fade_service() {
  Fades& f = fades;
  for (int i = 0; i < track_count; i++) {
    if (f.fade_direction[i] == 0) continue;
    if (++f.fade_counter[i] < f.fade_period[i]) continue;
    f.fade_counter[i] = 0;
    int32_t level = f.track_level[i];
    if (f.fade_direction[i] < 0) {
      // One step below the minimum for one period, then settle on it.
      if (level < f.fade_target_level[i]) {
        level = f.fade_target_level[i];
        f.fade_direction[i] = 0;
      } else {
        level -= 1;
      }
    } else if (level >= f.fade_target_level[i]) {
      f.fade_direction[i] = 0;
    } else {
      level += 1;
    }
    f.track_level[i] = int16_t(level);
    set_track_atten(i, -level);
  }
}

void play_fade_wait(int32_t t) {
  if (!valid_track_index(t)) return;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  int32_t ramp_end;
  {
    EngineLockGuard lock;
    ramp_end = v.ramp_end;
  }
  if (!wait_for_engine([&] { return v.ramp_gain == ramp_end; }, fade_timeout_frames))
    console_printf("play_fade_wait: timeout\n");
  {
    // The signal written into the track fades out while its stored audio fades back in.
    EngineLockGuard lock;
    s.record_gain = s.record_gain_full;
    s.record_gain_step = -1;
    s.record_gain_end = 0;
    start_fade_in(v);
  }
  wait_for_engine([&] { return s.record_gain == 0; });
  if (!wait_for_engine([&] { return v.ramp_gain == ramp_unity; }, fade_timeout_frames))
    console_printf("play_fade_wait: timeout\n");
  EngineLockGuard lock;
  list_add(s.play_list, t);
  if (s.replace_track == t) s.replace_track = -1;
}
