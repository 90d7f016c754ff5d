// The idle tick's track service, pending actions, erasing and loading tracks, and the status
// snapshot.
#include <algorithm>
#include <climits>
#include <cstring>

#include "config/config.h"
#include "core/console.h"
#include "engine/engine.h"
#include "engine/fades.h"
#include "engine/timing.h"
#include "engine/track_load.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "engine/transport_commands.h"
#include "engine/undo.h"
#include "core/lock.h"
#include "midi/clock.h"
#include "midi/midi_queue.h"

TrackLoader track_loader;

namespace {

constexpr int32_t bytes_per_frame = 8;  // two 32-bit samples
constexpr int32_t load_preroll = 1000;  // a loaded loop starts this many frames before its end
constexpr uint8_t midi_start = 0xFA;
constexpr int32_t frames_per_minute = 2880000;  // 60 × 48000
constexpr int32_t speed_scale_num = 25;         // |rate| × 25 / 16: 400 at normal speed
constexpr int32_t speed_scale_den = 16;

// A muted track that is also active: the message naming the first conflict, or null.
const char* muted_conflict(int32_t t) {
  const EngineState& s = engine_state;
  if (!on_list(s.muted_list, t)) return nullptr;
  if (s.record_track == t) return "Track on muted list and recording, %d\n";
  if (s.overdub_track == t) return "Track on muted list and overdubbing, %d\n";
  if (s.replace_track == t) return "Track on muted list and replacing, %d\n";
  if (on_list(s.play_list, t)) return "Track on muted list and playing, %d\n";
  return nullptr;
}

// Reports every muted track that is also active and takes the highest one off the muted list.
void repair_muted_list() {
  const char* found[track_count] = {};
  int32_t highest = -1;
  {
    EngineLockGuard lock;
    for (int32_t t = 0; t < track_count; t++) {
      found[t] = muted_conflict(t);
      if (found[t] != nullptr) highest = t;
    }
    if (highest >= 0) list_remove(engine_state.muted_list, highest);
  }
  for (int32_t t = 0; t < track_count; t++)
    if (found[t] != nullptr) console_printf(found[t], t + 1);
}

void retire_fading_voices() {
  EngineState& s = engine_state;
  EngineLockGuard lock;
  for (int32_t t = 0; t < track_count; t++) {
    if (on_list(s.fading_list, t) && fading_voices[t].ramp_step == 0) list_remove(s.fading_list, t);
    if (on_list(s.fading_list_2, t) && fading_voices_2[t].ramp_step == 0)
      list_remove(s.fading_list_2, t);
  }
}

void apply_wet_dry() {
  const int32_t mask = config.wet_only != 0 ? 0 : -1;
  EngineLockGuard lock;
  if (engine_state.dry_mask != mask) engine_state.dry_mask = mask;
}

void execute_action(int32_t t, int32_t action, int32_t argument, int32_t overshoot) {
  EngineState& s = engine_state;
  switch (action) {
    case action_play: play_track(t); break;
    case action_stop:
      release_cues(overshoot);
      mute_track(t);
      break;
    case action_switch_play:
    case action_switch_record:
    case action_switch_solo:
    case action_switch_free: switch_step(t, action, argument); break;
    case action_replace: begin_replace(t, argument); break;
    case action_end_replace: {
      bool replacing;
      {
        EngineLockGuard lock;
        replacing = s.replace_track == t;
      }
      if (replacing) play_fade_wait(t);
      break;
    }
    case action_midi_start: {
      bool playing;
      {
        EngineLockGuard lock;
        playing = on_list(s.play_list, t);
      }
      if (playing) midi_enqueue(&midi_start, 1);
      break;
    }
    default: break;
  }
}

// Executes the action of every track whose trigger position the engine reported.
void run_pending_actions() {
  for (int32_t t = 0; t < track_count; t++) {
    Track& v = tracks[t];
    int32_t action, argument, overshoot;
    {
      EngineLockGuard lock;
      if (!v.trigger_hit) continue;
      const int32_t armed_at = v.trigger_position;
      v.trigger_position = -1;
      v.trigger_hit = 0;
      overshoot = v.position - armed_at;
      if (overshoot < 0) overshoot += v.length;
      action = v.trigger_action;
      argument = v.trigger_argument;
      // Cleared before the action runs, so an action that arms the track again keeps its code.
      v.trigger_action = action_none;
      if (armed_at < 0) continue;
    }
    execute_action(t, action, argument, overshoot);
  }
}

}  // namespace

void transport_reset() { track_loader = TrackLoader{}; }

void transport_update() {
  repair_muted_list();
  retire_fading_voices();
  apply_wet_dry();
  run_pending_actions();
  for (int32_t n = 0; n < track_count; n++) undo_save_step(n);
  undo_memory_reserve();
}

int erase_track(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  {
    EngineLockGuard lock;
    if (s.clock_source_track == t) s.clock_source_track = -1;
    if (s.record_track == t) s.record_track = -1;
    if (s.overdub_track == t) s.overdub_track = -1;
    if (s.replace_track == t) s.replace_track = -1;
    list_remove(s.play_list, t);
    list_remove(s.muted_list, t);
    if (engine.clock_out_track == t) engine.clock_out_track = 0;
    s.bounce_active = 0;
    reset_loop(v, 0);
    v.midi_error = 0;
  }
  release_track_blocks(t);
  release_unscramble_blocks(t);
  undo_clear(t);
  build_clock_pulses(t, 0);
  if (track_file_hooks.forget != nullptr) track_file_hooks.forget(t);
  return 0;
}

void begin_track_load(int32_t t) {
  track_loader.track = t;
  track_loader.offset = 0;
}

int append_track_audio(const int32_t* frames, int32_t byte_count) {
  TrackLoader& loader = track_loader;
  const int32_t t = loader.track;
  if (!valid_track_index(t) || byte_count < 0 || byte_count % bytes_per_frame != 0) return -5;
  if (byte_count > 0 && frames == nullptr) return -5;
  {
    EngineLockGuard lock;
    if (track_in_role(t)) return -5;
  }
  if (loader.offset == 0) {
    mute_track(t);
    erase_track(t);
  }
  Track& v = tracks[t];
  const int32_t total = byte_count / bytes_per_frame;
  int32_t written = 0;
  while (written < total && loader.offset < max_track_frames) {
    const int32_t at = loader.offset;
    const int32_t in_block = at % block_frames;
    const int32_t run = std::min(total - written, block_frames - in_block);
    int32_t* block = track_blocks[t][at / block_frames];
    if (block == nullptr) {
      block = take_zeroed_block();
      if (block == nullptr) break;
      EngineLockGuard lock;
      set_block_ref(track_blocks[t][at / block_frames], block);
    }
    std::memcpy(block + 2 * in_block, frames + 2 * written, size_t(run) * bytes_per_frame);
    written += run;
    loader.offset = at + run;
    EngineLockGuard lock;
    v.length = loader.offset;
    v.audio_changed = 1;
  }
  EngineState& s = engine_state;
  int32_t length;
  {
    EngineLockGuard lock;
    length = v.length;
    v.position = length >= load_preroll ? length - load_preroll : 0;
    v.position_fraction = 0;
    v.rate = normal_rate;
    v.half_speed = 0;
    set_play_window(v);
    v.segment_count = 1;
    if (length > 0 && !on_list(s.play_list, t)) list_add(s.muted_list, t);
  }
  build_clock_pulses(t, length);
  return written;
}

int append_track_block(int32_t t, int32_t* block, int32_t byte_count) {
  if (!valid_track_index(t) || block == nullptr || byte_count <= 0 ||
      byte_count % bytes_per_frame != 0 || byte_count > block_bytes)
    return -5;
  Track& v = tracks[t];
  bool erase;
  {
    EngineLockGuard lock;
    if (track_in_role(t)) return -5;
    erase = v.length < block_frames;
  }
  if (erase) erase_track(t);
  EngineLockGuard lock;
  const int32_t old_length = v.length;
  const int32_t index = old_length / block_frames;
  // The block must start a new slot: a partly filled last block cannot take another after it.
  if (index >= pool_blocks || old_length % block_frames != 0 || track_blocks[t][index] != nullptr)
    return -5;
  set_block_ref(track_blocks[t][index], block);
  const int32_t length = old_length + byte_count / bytes_per_frame;
  v.length = length;
  v.word_1 = length;
  v.multiple = length;
  return byte_count / bytes_per_frame;
}

int32_t track_phase(const Track& track) {
  return wrap_into_loop(int64_t(track.position) - track.vsp, track.length);
}

void track_status_snapshot(TrackStatus& out) {
  // The words the report needs, copied under the engine lock so that they belong to one moment
  // (a double such as clock_period is two stores on a 32-bit board); the arithmetic runs after.
  struct TrackWords {
    int32_t length, position, vsp, rate, multiple, audio_changed, audio_saved;
    double clock_period;
  };
  TrackWords words[track_count];
  int32_t source, recording;
  {
    const EngineState& s = engine_state;
    EngineLockGuard lock;
    out.state = track_state_snapshot();
    source = s.clock_source_track;
    recording = s.record_track;
    out.input_peak = s.input_peak_shown;
    out.output_peak = s.output_peak_shown;
    for (int32_t t = 0; t < track_count; t++) {
      const Track& v = tracks[t];
      words[t] = {v.length,   v.position,      v.vsp,         v.rate,
                  v.multiple, v.audio_changed, v.audio_saved, v.clock_period};
    }
  }
  const bool source_has_audio = valid_track_index(source) && words[source].length != 0;
  out.clock_source = int16_t(source_has_audio ? source + 1 : 0);
  out.unsynchronised_mask = 0;
  out.saved_mask = 0;
  for (int32_t t = 0; t < track_count; t++) {
    const TrackWords& v = words[t];
    const int32_t length = v.length;
    out.length[t] = length;
    out.phase[t] = recording == t ? length : wrap_into_loop(int64_t(v.position) - v.vsp, length);
    const int32_t rate = v.rate < 0 ? -v.rate : v.rate;
    out.speed[t] = int16_t(rate * speed_scale_num / speed_scale_den);
    int32_t tempo = 0;
    if (length != 0 && v.clock_period > 0) {
      const double bpm = frames_per_minute / (v.clock_period * clock_pulses_per_beat);
      tempo = bpm > INT16_MAX ? INT16_MAX : int32_t(bpm);
    }
    out.tempo[t] = int16_t(tempo);
    if (v.multiple == 0) out.unsynchronised_mask |= uint8_t(1u << t);
    if (length == 0 || (v.audio_changed == 0 && v.audio_saved != 0))
      out.saved_mask |= uint8_t(1u << t);
  }
}

int set_clock_source_track(int32_t t) {
  if (t < -1 || t >= track_count) return status_refused;
  EngineLockGuard lock;
  engine_state.clock_source_track = t;
  return 0;
}

int32_t get_track_length(int32_t t) { return valid_track_index(t) ? tracks[t].length.load() : 0; }
