// Playing, muting, stopping and cueing tracks.
#include "core/console.h"
#include "engine/engine_wait.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "core/lock.h"
#include "midi/clock.h"

namespace {

// Nothing sounds or records: the next track started re-anchors every loop.
bool transport_idle() { return engine_state.play_list == 0 && !any_role_active(); }

// Every loop back to its start; MIDI-clocked loops to the beat of the clock.
void reanchor_all(int32_t started_length) {
  for (Track& j : tracks) {
    if (j.length == 0) continue;
    if (j.clock_source == sync_midi) {
      j.position = 0;
      j.vsp = started_length - clock_follower.beat_position;
    } else {
      j.position = wrap_into_loop(j.vsp, j.length);
    }
  }
}

// A synchronised track joining running loops takes the clock source's phase.
void follow_clock_source(Track& v) {
  const int32_t src = engine_state.clock_source_track;
  if (v.clock_source < 0 || v.multiple == 0) return;
  if (!valid_track_index(src) || tracks[src].length == 0) return;
  const int64_t phase = track_phase(tracks[src]) % v.multiple;
  v.position = wrap_into_loop(phase + v.vsp, v.length);
}

// Ends whatever role t holds: a take closes as a loop (and the overdub it starts ends), an
// overdub or a replace ends.
void end_role(int32_t t, bool recording) {
  if (recording) {
    close_loop(t);
    end_overdub(t);
  }
  end_replace(t);
  end_overdub(t);
}

}  // namespace

int play_track(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  bool empty, in_role, recording, playing, muted;
  {
    EngineLockGuard lock;
    empty = v.length == 0;
    in_role = track_in_role(t);
    recording = s.record_track == t;
    playing = on_list(s.play_list, t);
    muted = on_list(s.muted_list, t);
  }
  if (empty) {
    console_printf("Attempt to play empty track. Track %d\n", t + 1);
    return status_refused;
  }
  if (in_role) {
    console_printf("Attempt to play recording track. Track %d\n", t + 1);
    end_role(t, recording);
    return 0;
  }
  if (playing) {
    console_printf("Attempt to play track that is already playing.  Track %d\n", t + 1);
    return status_refused;
  }
  if (!muted) {
    console_printf("Attempt to play track not on muted list.  Track %d\n", t + 1);
    return status_refused;
  }
  {
    EngineLockGuard lock;
    if (transport_idle()) {
      reanchor_all(v.length);
    } else {
      follow_clock_source(v);
    }
    clear_trigger(v);
    v.start_delay = 0;
    v.stop_countdown = 0;
    start_fade_in(v);
    list_remove(s.muted_list, t);
    list_add(s.play_list, t);
  }
  // A voice standing on a missing block never ramps; give up after a second rather than hang
  // the main loop (the track is already on the play list).
  wait_for_engine([&] { return v.ramp_gain == v.ramp_end; }, fade_timeout_frames);
  return 0;
}

int quantised_play(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  {
    EngineLockGuard lock;
    if (on_list(s.play_list, t)) return 0;
    // A track that cannot run muted to its loop start is played (or refused) at once.
    const bool at_once =
        s.play_list == 0 || track_in_role(t) || v.length == 0 || !on_list(s.muted_list, t);
    if (!at_once) {
      clear_trigger(v);
      v.trigger_action = action_play;
      v.trigger_position = wrap_into_loop(v.vsp, v.length);
      return 0;
    }
  }
  return play_track(t);
}

int mute_track(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  {
    EngineLockGuard lock;
    if (!on_list(s.play_list, t)) return status_refused;
    start_fade_out(v);
  }
  if (!wait_for_engine([&] { return v.ramp_gain == 0; }, fade_timeout_frames))
    console_printf("play_fade_wait: timeout\n");
  EngineLockGuard lock;
  list_remove(s.play_list, t);
  list_add(s.muted_list, t);
  return 0;
}

int stop_track(int32_t t, int32_t keep_playing) {
  if (!valid_track_index(t)) return status_refused;
  bool recording;
  {
    EngineLockGuard lock;
    recording = engine_state.record_track == t;
  }
  end_role(t, recording);
  {
    EngineLockGuard lock;
    clear_trigger(tracks[t]);
  }
  if (keep_playing) return 0;
  release_cues(0);
  mute_track(t);
  return 0;
}

int stop_at_loop_end(int32_t t, int32_t quantised) {
  const int result = stop_track(t, quantised);
  if (result < 0 || !quantised) return result;
  Track& v = tracks[t];
  EngineLockGuard lock;
  if (on_list(engine_state.play_list, t)) {
    clear_trigger(v);
    v.trigger_action = action_stop;
    v.trigger_position = wrap_into_loop(v.vsp, v.length);
  }
  return 0;
}

int cue_track(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  EngineState& s = engine_state;
  EngineLockGuard lock;
  if (track_in_role(t) || on_list(s.play_list, t)) return status_refused;
  s.cue_mask = s.cue_mask | (1 << t);
  return 0;
}

void release_cues(int32_t offset) {
  EngineState& s = engine_state;
  int32_t cued;
  {
    EngineLockGuard lock;
    cued = s.cue_mask;
    s.cue_mask = 0;
  }
  int32_t empty_cued = -1;
  for (int32_t t = 0; t < track_count; t++) {
    if (!(cued & (1 << t))) continue;
    Track& v = tracks[t];
    bool has_audio;
    {
      EngineLockGuard lock;
      if (on_list(s.play_list, t)) continue;
      has_audio = v.length > 0;
      if (has_audio) v.position = wrap_into_loop(int64_t(offset) + v.vsp, v.length);
    }
    if (has_audio) {
      play_track(t);
    } else if (empty_cued < 0) {
      empty_cued = t;
    }
  }
  if (empty_cued < 0) return;
  bool record;
  {
    EngineLockGuard lock;
    record = !any_role_active() && !on_list(s.play_list, empty_cued);
  }
  if (!record) return;
  start_record(empty_cued, sync_free, 0);
  console_printf("CUE: %d\n", offset);
}
