// Recording and playing functions: Rec/Dub and its synchronised forms, Play/Stop, Play, Stop and
// their all-track and replay forms, erase, cue, replace, the clock source, MIDI Start.
#include "config/config.h"
#include "core/console.h"
#include "engine/count_in.h"
#include "engine/multiply.h"
#include "engine/timing.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "engine/transport_commands.h"
#include "engine/undo.h"
#include "core/lock.h"
#include "midi/transport_clock.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/selection.h"
#include "panel/value_entry.h"

namespace {

constexpr int32_t rec_dub_free = 0;
constexpr int32_t rec_dub_midi = 1;
constexpr int32_t rec_dub_sync = 2;
constexpr int32_t play_plain = 0;
constexpr int32_t play_retrigger_random = 3;
constexpr int32_t play_retrigger_once = 4;
constexpr int32_t max_quant_steps = 64;
constexpr int32_t multiply_entry_min = 2;
constexpr int32_t multiply_entry_max = 6;

int state_of(uint32_t snapshot, int k) { return track_state_code(snapshot, k - 1); }
uint8_t bit_of(int k) { return uint8_t(1u << (k - 1)); }

// Remembers which tracks were active before a stop function, when any were.
void store_replay_set(uint32_t snapshot) {
  const uint8_t active = active_tracks(snapshot);
  if (active != 0) selection.replay_set = active;
}

void clear_random_restart(int k) { selection.random_restart_mask &= uint8_t(~bit_of(k)); }

// The track the record functions act on: the lowest-numbered track recording or overdubbing,
// else the current single track; when neither and every track is empty, track 1, selected.
int record_function_track() {
  const uint32_t snapshot = transport_state_snapshot();
  for (int k = 1; k <= track_count; ++k) {
    const int code = state_of(snapshot, k);
    if (code == track_recording || code == track_overdubbing) return k;
  }
  if (const int k = single_track()) return k;
  if (snapshot == 0) {
    cmd_select_track(1);
    return 1;
  }
  return 0;
}

// The record starters refuse while any track is in a role or when the track plays.
int start_record_function(int k, int32_t mode, int32_t beats) {
  if (!valid_track_number(k) || any_role_active() || on_list(engine_state.play_list, k - 1)) {
    return status_refused;
  }
  return start_record(k - 1, mode, beats);
}

// A fixed-length MIDI recording whose automatic play has not fired yet.
bool cancel_pending_midi_play(int k) {
  EngineLockGuard lock;
  Track& v = tracks[k - 1];
  if (v.trigger_action != action_play || v.trigger_position < 0 || v.trigger_hit ||
      v.clock_source != sync_midi) {
    return false;
  }
  v.trigger_position = -1;
  return true;
}

// The record functions by the state of track k.
int record_function(int k, int32_t mode, int32_t beats, bool quantised_midi) {
  switch (state_of(transport_state_snapshot(), k)) {
    case track_empty:
    case track_stopped: return start_record_function(k, mode, beats);
    case track_playing: return start_overdub(k - 1);
    case track_recording: return close_loop(k - 1);
    case track_overdubbing:
      if (quantised_midi && cancel_pending_midi_play(k)) return 0;
      return end_overdub(k - 1);
    case track_replacing: return end_replace(k - 1);
    default: return status_refused;
  }
}

// Ends whatever role track k is in, leaving it playing.
void end_role(int k, int code) {
  if (code == track_recording) {
    close_loop(k - 1);
    end_overdub(k - 1);
  } else if (code == track_overdubbing) {
    end_overdub(k - 1);
  } else if (code == track_replacing) {
    end_replace(k - 1);
  }
}

void multiply_entered(int32_t factor) { multiply_track(selection.entry_track - 1, factor); }

}  // namespace

int32_t cmd_rec_dub(int32_t kind) {
  if (kind < rec_dub_free || kind > rec_dub_sync) return status_refused;
  const int k = record_function_track();
  if (k == 0) return status_refused;
  const CountInPress press = count_in_press(k - 1);
  if (press == CountInPress::taken) {
    report(display_mode_loop_time, "COUNT", Redraw::title);
    return 0;
  }
  int32_t mode = sync_free;
  if (kind == rec_dub_midi) mode = sync_midi;
  if (kind == rec_dub_sync) mode = engine_state.clock_source_track;
  const int result = record_function(k, mode, 0, false);
  if (press == CountInPress::no_clock) {
    report(display_mode_tag, "NO CLOCK", Redraw::title);  // the console line says why
  } else if (kind == rec_dub_midi) {
    report(display_mode_tempo, nullptr, Redraw::title);
  } else {
    report(display_mode_loop_time, kind == rec_dub_free ? "REC/D" : "SYN R", Redraw::title);
  }
  return result;
}

int32_t cmd_q_midi_sync_rec(int32_t) {
  const int k = record_function_track();
  if (k == 0) return status_refused;
  const int result = record_function(k, sync_midi, config.q_steps[k - 1], true);
  report(display_mode_tempo, nullptr, Redraw::title);
  return result;
}

int32_t cmd_play_stop(int32_t now) {
  const uint8_t mask = selected_mask();
  const uint32_t snapshot = transport_state_snapshot();
  if (active_tracks(snapshot) == 0) {
    group_start(mask, 1, 1, 0);
  } else {
    store_replay_set(snapshot);
    for (int k = 1; k <= track_count; ++k) {
      if (!(mask & bit_of(k))) continue;
      const int code = state_of(transport_state_snapshot(), k);
      switch (code) {
        case track_empty:
          if (k == single_track()) fill_silent_loop(k - 1);
          break;
        case track_stopped:
          if (now) {
            play_track(k - 1);
          } else {
            quantised_play(k - 1);
          }
          break;
        case track_playing:
          clear_random_restart(k);
          stop_at_loop_end(k - 1, now ? 0 : 1);
          break;
        default: end_role(k, code); break;
      }
    }
  }
  report(display_mode_tag, "P/S", Redraw::title);
  return 0;
}

int32_t cmd_transport_mode(int32_t mode) {
  if (mode < 0) mode = (int32_t(transport_mode()) + 1) % transport_mode_count;
  return transport_set_mode(mode, false);
}

int32_t cmd_play(int32_t kind) {
  if (kind < play_plain || kind > play_retrigger_once) return status_refused;
  const uint8_t mask = selected_mask();
  const uint32_t snapshot = transport_state_snapshot();
  const int k = single_track();
  if (k != 0 && (mask & bit_of(k)) && state_of(snapshot, k) == track_empty) {
    fill_silent_loop(k - 1);
  } else {
    const bool idle = active_tracks(snapshot) == 0;
    if (idle || kind != play_plain) {
      group_start(mask, 1, idle || kind > 1, kind == play_retrigger_random);
    } else {
      for (int t = 1; t <= track_count; ++t) {
        if (mask & bit_of(t)) quantised_play(t - 1);
      }
    }
    if (kind == play_retrigger_once) cmd_stop(0);
  }
  report(display_mode_tag, "PLAY", Redraw::title);
  return 0;
}

int32_t cmd_all_play(int32_t now) {
  const bool idle = active_tracks(transport_state_snapshot()) == 0;
  group_start(all_tracks_mask, now ? 1 : 0, idle ? 1 : 0, 0);
  report(display_mode_tag, "PLAY", Redraw::title);
  return 0;
}

int32_t cmd_stop(int32_t now) {
  store_replay_set(transport_state_snapshot());
  const uint8_t mask = selected_mask();
  for (int k = 1; k <= track_count; ++k) {
    if (!(mask & bit_of(k))) continue;
    clear_random_restart(k);
    stop_at_loop_end(k - 1, now ? 0 : 1);
  }
  report(display_mode_tag, "STOP", Redraw::title);
  return 0;
}

int32_t cmd_all_stop(int32_t now) {
  store_replay_set(transport_state_snapshot());
  for (int k = 1; k <= track_count; ++k) stop_at_loop_end(k - 1, now ? 0 : 1);
  report(display_mode_tag, "STOP", Redraw::title);
  return 0;
}

int32_t cmd_replay_all_stop(int32_t) {
  const uint32_t snapshot = transport_state_snapshot();
  if (active_tracks(snapshot) != 0) {
    store_replay_set(snapshot);
    for (int k = 1; k <= track_count; ++k) stop_at_loop_end(k - 1, 0);
    report(display_mode_tag, "STOP", Redraw::title);
  } else {
    group_start(selection.replay_set, 1, 1, 0);
    report(display_mode_tag, "RP/SA", Redraw::title);
  }
  return 0;
}

int32_t cmd_track_erase(int32_t) {
  const uint8_t mask = selected_mask();
  for (int k = 1; k <= track_count; ++k) {
    if (!(mask & bit_of(k))) continue;
    clear_random_restart(k);
    stop_track(k - 1, 0);
    erase_track(k - 1);
    if (selection.bounce_in_progress == k) selection.bounce_in_progress = 0;
  }
  if (selection.current_track == 0) {
    set_clock_source_track(-1);
    selection.clock_source_shown = 0;
  }
  report(display_mode_tag, "ERASE", Redraw::full);
  return 0;
}

int32_t cmd_set_clock_src(int32_t) {
  const int k = single_track();
  if (k == 0) return status_refused;
  const int result = set_clock_source_track(k - 1);
  selection.clock_source_shown = int16_t(k);
  report(display_mode_tag, "CKSR", Redraw::title);
  return result;
}

int32_t cmd_multiply(int32_t factor) {
  const int k = single_track();
  if (k == 0) return status_refused;
  int result = 0;
  if (factor != 0) {
    result = multiply_track(k - 1, factor);
    report(display_mode_tag, "MULT", Redraw::title);
  } else {
    // The factor is asked for and applied on confirmation.
    if (value_entry.active == nullptr) {
      selection.entry_track = k;
      selection.entry_scratch = multiply_entry_min;
    }
    char title[value_title_max + 1];
    format_to(title, "Track %d Multiply", k);
    get_integer_generic(title, 0, multiply_entry_min, multiply_entry_max, 0,
                        &selection.entry_scratch, int16_t(sizeof selection.entry_scratch),
                        multiply_entered);
    report(display_mode_tag, nullptr, Redraw::title);
  }
  return result;
}

int32_t cmd_cue(int32_t) {
  const uint8_t mask = selected_mask();
  for (int k = 1; k <= track_count; ++k) {
    if (mask & bit_of(k)) cue_track(k - 1);
  }
  report(display_mode_tag, "CUE", Redraw::title);
  return 0;
}

namespace {

int replace_function(int32_t keep, bool quantised) {
  if (keep < 0 || keep > 1) return status_refused;
  const int k = single_track();
  if (k == 0) return status_refused;
  const int steps = config.q_steps[k - 1];
  int result = 0;
  switch (state_of(transport_state_snapshot(), k)) {
    case track_stopped: play_track(k - 1); [[fallthrough]];
    case track_playing:
      result = quantised ? start_q_replace(k - 1, steps, keep) : start_replace(k - 1, keep);
      break;
    case track_replacing: result = end_replace(k - 1); break;
    default: break;
  }
  report(display_mode_tag, keep ? "REPL+" : "REPL ", Redraw::title);
  return result;
}

}  // namespace

int32_t cmd_replace(int32_t keep) { return replace_function(keep, false); }

int32_t cmd_q_replace(int32_t keep) { return replace_function(keep, true); }

int32_t cmd_midi_start(int32_t) {
  int k = single_track();
  if (k == 0) k = 1;
  EngineLockGuard lock;
  Track& v = tracks[k - 1];
  clear_trigger(v);
  v.trigger_action = action_midi_start;
  v.trigger_position = 1;
  return 0;
}

int set_quant_steps(int32_t steps) {
  if (steps < 1 || steps > max_quant_steps) return status_refused;
  const uint8_t mask = selected_mask();
  for (int k = 1; k <= track_count; ++k) {
    if (!(mask & bit_of(k))) continue;
    config.q_steps[k - 1] = int16_t(steps);
    console_printf("KEY: Q steps for %d set to %d\n", k, steps);
  }
  config_dirty = 1;
  return 0;
}

int32_t cmd_quant_value(int32_t steps) { return set_quant_steps(steps); }

int32_t cmd_undo(int32_t) {
  const int result = undo(selection.current_track - 1);
  report(display_mode_tag, result == 0 ? "UNDO" : "NO UN", Redraw::title);
  return result;
}

int32_t cmd_redo(int32_t) {
  const int result = redo();
  report(display_mode_tag, result == 0 ? "REDO" : "NO RE", Redraw::title);
  return result;
}
