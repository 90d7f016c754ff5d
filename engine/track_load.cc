#include "engine/track_load.h"

#include <cmath>

#include "core/lock.h"
#include "engine/fades.h"
#include "engine/timing.h"
#include "engine/track_ops.h"
#include "engine/transport.h"

TrackFileHooks track_file_hooks;

namespace {

constexpr int32_t max_loaded_rate = 4 * normal_rate;  // four times normal speed, either direction
constexpr int32_t max_atten = 200;
constexpr int32_t max_pan = 128;
constexpr int32_t lowest_clock_source = sync_midi;

int32_t clamp(int32_t v, int32_t low, int32_t high) { return v < low ? low : v > high ? high : v; }

// The words as the engine can play them on a loop of length frames.
TrackFileWords playable(TrackFileWords w, int32_t length) {
  const int64_t speed = w.rate < 0 ? -int64_t(w.rate) : int64_t(w.rate);
  if (speed == 0 || speed > max_loaded_rate) w.rate = normal_rate;
  if (w.half_speed != 0 && w.half_speed != 1) w.half_speed = 0;
  if (w.multiple < 0) w.multiple = 0;
  w.atten = clamp(w.atten, 0, max_atten);
  w.pan = clamp(w.pan, -max_pan, max_pan);
  if (w.clock_source < lowest_clock_source || w.clock_source >= track_count)
    w.clock_source = sync_free;
  if (!std::isfinite(w.clock_period) || w.clock_period < 0) w.clock_period = 0;
  // A loop start offset further than one loop away means the same phase one loop nearer.
  if (w.vsp > length || w.vsp <= -length) w.vsp = wrap_into_loop(w.vsp, length);
  // The play window is the whole loop in the track's direction; anything else is replaced by it.
  const bool forward = w.rate >= 0;
  const bool window_fits = forward ? w.loop_start == 0 && w.loop_end == length
                                   : w.loop_start == length - 1 && w.loop_end == -1;
  if (!window_fits) {
    w.loop_start = forward ? 0 : length - 1;
    w.loop_end = forward ? length : -1;
  }
  return w;
}

}  // namespace

TrackFileWords track_file_words(const Track& v) {
  return {v.word_1, v.multiple, v.rate, v.half_speed,   v.loop_end,    v.loop_start,
          v.atten,  v.pan,      v.vsp,  v.clock_source, v.clock_period};
}

TrackFileWords take_file_words(int32_t length) {
  TrackFileWords w{};
  w.rate = normal_rate;
  w.loop_end = length;
  w.clock_source = sync_free;
  return w;
}

int finish_track_load(int32_t t, const TrackFileWords& words, bool changed) {
  if (!valid_track_index(t)) return loader_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  int32_t length;
  {
    EngineLockGuard lock;
    length = v.length;
    if (length <= 0 || track_in_role(t)) return loader_refused;
    const TrackFileWords w = playable(words, length);
    reset_loop(v, length);
    v.word_1 = w.word_1;
    v.multiple = w.multiple;
    v.rate = w.rate;
    v.half_speed = w.half_speed;
    v.loop_end = w.loop_end;
    v.loop_start = w.loop_start;
    v.atten = w.atten;
    v.pan = w.pan;
    v.vsp = w.vsp;
    v.clock_source = w.clock_source;
    v.clock_period = w.clock_period;
    v.fade_target = ramp_unity;
    v.fade_gain = ramp_unity;
    set_levels_at_once(v);
    fades.track_level[t] = int16_t(-v.atten);
    fades.track_pan[t] = int16_t(v.pan);
    v.audio_changed = changed ? 1 : 0;
    v.audio_saved = changed ? 0 : 1;
    if (!on_list(s.play_list, t)) list_add(s.muted_list, t);
  }
  build_clock_pulses(t, length);
  return 0;
}
