// The switch functions and Bounce: handing play or record from one set of tracks to another, and
// recording the selected tracks onto an empty one.
#include "core/console.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "engine/transport_commands.h"
#include "panel/midi_mapping.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/selection.h"

namespace {

int state_of(uint32_t snapshot, int k) { return track_state_code(snapshot, k - 1); }
uint8_t bit_of(int k) { return uint8_t(1u << (k - 1)); }

// A playing track stops at its loop end; a track in a role ends it and plays.
void switch_away(int k, int code) {
  switch (code) {
    case track_playing:
      selection.random_restart_mask &= uint8_t(~bit_of(k));
      stop_at_loop_end(k - 1, 1);
      break;
    case track_recording:
      close_loop(k - 1);
      end_overdub(k - 1);
      break;
    case track_overdubbing: end_overdub(k - 1); break;
    case track_replacing: end_replace(k - 1); break;
    default: break;
  }
}

}  // namespace

int32_t cmd_switch(int32_t mode) {
  if (mode < switch_record_sync || mode > switch_play_solo) return status_refused;
  const int k = single_track();
  if (k == 0) return status_refused;
  const int code = state_of(transport_state_snapshot(), k);
  int result = 0;
  if (code == track_empty || code == track_stopped) {
    if (mode == switch_record_sync) {
      result = switch_track(k - 1, switch_record_sync);
    } else if (code == track_stopped) {
      result = switch_track(k - 1, mode);
    }
  } else {
    switch_away(k, code);
  }
  report(display_mode_loop_time, "SWTCH", Redraw::title);
  return result;
}

int32_t cmd_zt6_switch(int32_t) {
  const int k = single_track();
  if (k == 0) return status_refused;
  const int partner = ((k - 1) ^ 1) + 1;  // the other track of the pair 1-2, 3-4, 5-6, 7-8
  const uint32_t snapshot = transport_state_snapshot();
  const uint8_t active = active_tracks(snapshot);
  int target;
  int code;
  if ((active & bit_of(k)) || !(active & bit_of(partner))) {
    target = partner;
    code = state_of(snapshot, k);
  } else {
    target = k;
    code = state_of(snapshot, partner);
  }
  int result = 0;
  switch (code) {
    case track_empty:
    case track_stopped: result = cmd_rec_dub(0); break;
    case track_overdubbing: result = end_overdub(k - 1); break;
    case track_replacing: result = end_replace(k - 1); break;
    case track_playing:
    case track_recording: {
      const bool target_empty = state_of(snapshot, target) == track_empty;
      result = switch_track(target - 1, target_empty ? switch_record_free : switch_play_solo);
      selection.current_track = target;
      break;
    }
    default: break;
  }
  report(display_mode_loop_time, "SWTCH", Redraw::title);
  return result;
}

int32_t cmd_bounce(int32_t type) {
  if (type < bounce_free || type > bounce_midi_sync) return status_refused;
  Selection& s = selection;
  if (s.bounce_in_progress != 0) {
    const int b = s.bounce_in_progress;
    s.bounce_in_progress = 0;
    // The destination still taking the bounce is closed; one closed some other way is forgotten.
    if (engine_state.record_track == b - 1) {
      close_loop(b - 1);
      end_overdub(b - 1);
      report(display_mode_loop_time, "BOUNC", Redraw::title);
      return 0;
    }
    if (engine_state.overdub_track == b - 1) {
      end_overdub(b - 1);
      report(display_mode_loop_time, "BOUNC", Redraw::title);
      return 0;
    }
  }
  const uint32_t snapshot = transport_state_snapshot();
  int dest = bounce_destination_track();
  if (dest < 1 || dest > track_count || (active_tracks(snapshot) & bit_of(dest))) {
    dest = 0;
    for (int k = track_count; k >= 1; --k) {
      if (state_of(snapshot, k) == track_empty) {
        dest = k;
        break;
      }
    }
  }
  console_printf("bounce dest = %d\n", dest);
  if (dest == 0) return status_refused;
  const int result = start_bounce(dest - 1, selected_mask(), type);
  if (result == 0) s.bounce_in_progress = int16_t(dest);
  report(display_mode_loop_time, "BOUNC", Redraw::title);
  return result;
}
