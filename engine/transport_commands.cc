#include "engine/transport_commands.h"

#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "core/console.h"
#include "engine/fade_out_copy.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "core/lock.h"
#include "midi/clock.h"
#include "pool/pool.h"

namespace {

constexpr uint32_t active_code_bits = 0x0D;  // PLAY, RECORD, OVERDUB, REPLACE

bool is_switched(int32_t t) { return (config.switched[t] & 1) != 0; }

bool playing(int32_t t) { return on_list(engine_state.play_list, t); }

// Every track restarts at its loop start. Caller holds the engine lock.
void reanchor_all() REQUIRES(engine_capability) {
  expect_engine_lock(__func__);
  for (Track& v : tracks) v.position = v.vsp;
}

// Every non-empty switched track is put in phase with track ref (-1: with phase 0). Caller holds
// the engine lock.
void realign_switched(int32_t ref) REQUIRES(engine_capability) {
  expect_engine_lock(__func__);
  int64_t p = 0;
  if (valid_track_index(ref)) p = track_phase(tracks[ref]);
  for (int32_t j = 0; j < track_count; ++j) {
    Track& v = tracks[j];
    if (!is_switched(j) || v.length == 0) continue;
    const int64_t in_unit = v.multiple != 0 ? p % v.multiple : p;
    v.position = wrap_into_loop(in_unit + v.vsp, v.length);
  }
}

// Ends a recording in progress (it goes on playing); a switched track is then muted.
void end_recording_for_switch() {
  const int32_t r = engine_state.record_track;
  if (r < 0) return;
  close_loop(r);
  end_overdub(r);
  if (is_switched(r)) mute_track(r);
}

// The carrier whose loop start times a switch, or -1.
int32_t switch_carrier() {
  const int32_t s = engine_state.clock_source_track;
  const int32_t source_playing = valid_track_index(s) && playing(s) ? s : -1;
  if (engine_state.record_track >= 0) return source_playing;
  int32_t w = -1;
  for (int32_t j = 0; j < track_count; ++j) {
    if (is_switched(j) && playing(j)) {
      w = j;
      break;
    }
  }
  if (config.switch_priority == 1) return source_playing >= 0 ? source_playing : w;
  return w >= 0 ? w : source_playing;
}

constexpr int32_t switch_actions[4] = {action_switch_record, action_switch_play, action_switch_solo,
                                       action_switch_free};

}  // namespace

uint32_t transport_state_snapshot() {
  EngineLockGuard lock;
  return track_state_snapshot();
}

uint8_t active_tracks(uint32_t snapshot) {
  uint8_t mask = 0;
  for (int t = 0; t < track_count; ++t) {
    if (uint32_t(track_state_code(snapshot, t)) & active_code_bits) mask |= uint8_t(1u << t);
  }
  return mask;
}

uint8_t switched_tracks() {
  uint8_t mask = 0;
  for (int t = 0; t < track_count; ++t) {
    if (is_switched(t)) mask |= uint8_t(1u << t);
  }
  return mask;
}

int retrigger_track(int32_t t, int32_t random) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  if (v.length == 0) {
    console_printf("Attempt to play empty track. Track %d\n", t + 1);
    return status_refused;
  }
  const EngineState& s = engine_state;
  if (s.overdub_track == t) {
    end_overdub(t);
  } else if (s.replace_track == t) {
    end_replace(t);
  } else if (s.record_track == t) {
    close_loop(t);
    end_overdub(t);
    return status_ok;
  }

  {
    EngineLockGuard lock;
    // A playing track's old pass fades out in its fading voice while it restarts.
    const bool was_playing = playing(t);
    if (start_fade_out_copy(t) == status_ok) {
      const bool midi_synced = v.clock_source == sync_midi;
      const int32_t length = v.length;
      int32_t start;
      if (midi_synced) {
        v.vsp = length - clock_follower.beat_position;
        start = 0;
      } else {
        start = random ? int32_t(rand() % length) : v.vsp;
      }
      if (!was_playing) {
        if (engine_state.play_list == 0) {
          for (Track& other : tracks) other.position = midi_synced ? 0 : other.vsp;
        }
        list_remove(engine_state.muted_list, t);
        list_add(engine_state.play_list, t);
      }
      v.start_delay = 0;
      v.stop_countdown = 0;
      start_fade_in(v);
      v.position = start;
      return status_ok;
    }
  }
  report_fading_refusal(t);
  return status_refused;
}

int fill_silent_loop(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  const int32_t s = engine_state.clock_source_track;
  if (track_in_role(t) || !valid_track_index(s) || s == t || tracks[s].length == 0 || playing(t)) {
    return status_refused;
  }
  Track& v = tracks[t];
  const Track& source = tracks[s];
  int32_t length;
  {
    EngineLockGuard lock;
    list_remove(engine_state.muted_list, t);
    length = source.length;
    reset_loop(v, length);
    v.multiple = length;
    v.vsp = length - track_phase(source);
    v.clock_source = s;
  }
  // The loop's blocks and one beyond it, all silent. The track is on no list, so the engine does
  // not read them while they are cleared.
  int32_t last = (length - 1) / block_frames + 1;
  if (last >= pool_blocks) last = pool_blocks - 1;
  for (int32_t b = 0; b <= last; ++b) {
    int32_t*& entry = track_blocks[t][b];
    if (entry != nullptr) {
      memset(entry, 0, block_bytes);
      continue;
    }
    int32_t* block = take_zeroed_block();
    if (block == nullptr) {
      {
        EngineLockGuard lock;
        v.length = 0;
      }
      release_track_blocks(t);
      return status_no_blocks;
    }
    EngineLockGuard lock;
    set_block_ref(entry, block);
  }
  v.audio_changed = 1;
  {
    EngineLockGuard lock;
    v.position = source.position;
    list_add(engine_state.muted_list, t);
  }
  play_track(t);
  return status_ok;
}

int start_bounce(int32_t t, uint32_t sources, int32_t type) {
  if (any_role_active() || !valid_track_index(t) || playing(t)) return status_refused;
  int32_t mode = sync_free;
  {
    EngineLockGuard lock;
    list_remove(engine_state.muted_list, t);
    for (int32_t t = 0; t < track_count; ++t) tracks[t].bounce_source = (sources >> t) & 1;
    engine_state.bounce_active = 1;
    if (type == bounce_sync) mode = engine_state.clock_source_track;
    if (type == bounce_midi_sync) mode = sync_midi;
  }
  const int result = start_record(t, mode, 0);
  if (result != status_ok) {
    // No bounce runs: the next recording must neither take the sources in nor stop them.
    EngineLockGuard lock;
    for (Track& v : tracks) v.bounce_source = 0;
    engine_state.bounce_active = 0;
  }
  return result;
}

int switch_track(int32_t t, int32_t mode) {
  if (t > 7 || t < 0 || mode < switch_record_sync || mode > switch_record_free) {
    console_printf("switch: track out of range %d\n", t + 1);
    return status_refused;
  }
  const bool record_mode = mode == switch_record_sync || mode == switch_record_free;
  if (record_mode) {
    if (playing(t) || engine_state.overdub_track >= 0 || engine_state.replace_track >= 0) {
      console_printf("switch: mode record on playing, overdubbing or replacing track\n");
      return status_refused;
    }
  } else if (track_in_role(t) || tracks[t].length == 0) {
    console_printf(mode == switch_play_clock
                       ? "switch: mode play on recording or empty track\n"
                       : "switch: mode play solo on recording or empty track\n");
    return status_refused;
  }

  const int32_t carrier = switch_carrier();
  if (carrier >= 0) {
    EngineLockGuard lock;
    Track& c = tracks[carrier];
    clear_trigger(c);
    c.trigger_argument = t;
    c.trigger_action = switch_actions[mode];
    c.trigger_position = wrap_into_loop(c.vsp, c.length);  // vsp may lie a whole loop ahead
    return status_ok;
  }

  if (record_mode) {
    end_recording_for_switch();
    const int result = start_record(t, sync_free, 0);
    if (is_switched(t)) {
      EngineLockGuard lock;
      if (engine_state.clock_source_track == t) engine_state.clock_source_track = -1;
    }
    return result;
  }

  {
    EngineLockGuard lock;
    const EngineState& s = engine_state;
    if (s.play_list == 0 && s.record_track < 0) {
      if (s.overdub_track < 0 && s.replace_track < 0) {
        reanchor_all();
      } else {
        realign_switched(s.clock_source_track);
      }
    } else {
      realign_switched(s.clock_source_track);
    }
  }
  end_recording_for_switch();
  const int32_t s = engine_state.clock_source_track;
  if (mode == switch_play_clock && valid_track_index(s)) play_track(s);
  return play_track(t);
}

void switch_step(int32_t t, int32_t action, int32_t a) {
  (void)t;  // the carrier only timed the switch
  for (int32_t j = 0; j < track_count; ++j) {
    if (is_switched(j)) stop_track(j, 0);
  }
  {
    EngineLockGuard lock;
    const EngineState& s = engine_state;
    if (s.play_list == 0 && !any_role_active()) {
      reanchor_all();
    } else {
      realign_switched(s.clock_source_track);
    }
  }
  const int32_t s = engine_state.clock_source_track;
  if (!valid_track_index(s) || !playing(s)) {
    if (action == action_switch_solo) {
      play_track(a);
      return;
    }
    if (valid_track_index(s) && !is_switched(s)) play_track(s);
  }
  switch (action) {
    case action_switch_record: start_record(a, engine_state.clock_source_track, 0); break;
    case action_switch_free: start_record(a, sync_free, 0); break;
    case action_switch_play:
    case action_switch_solo: play_track(a); break;
    default: break;
  }
}

void group_start(uint32_t mask, int32_t now, int32_t retrigger, int32_t random) {
  auto start = [now](int32_t t) {
    if (now) {
      play_track(t);
    } else {
      quantised_play(t);
    }
  };
  if (!retrigger) {
    for (int32_t t = 0; t < track_count; ++t) {
      if (mask & (1u << t)) start(t);
    }
    return;
  }
  const uint32_t snapshot = transport_state_snapshot();
  int32_t first = -1;
  for (int32_t t = 0; t < track_count; ++t) {
    if (!(mask & (1u << t)) || track_state_code(snapshot, t) == track_empty) continue;
    if (first < 0 || tracks[t].length > tracks[first].length) first = t;
  }
  if (first < 0) {
    for (int32_t t = 0; t < track_count; ++t) {
      if (mask & (1u << t)) retrigger_track(t, random);
    }
    return;
  }
  retrigger_track(first, random);
  for (int32_t t = 0; t < track_count; ++t) {
    if ((mask & (1u << t)) && t != first) start(t);
  }
}
