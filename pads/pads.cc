#include "pads/pads.h"

#include "config/config.h"
#include "core/console.h"
#include "core/lock.h"
#include "engine/track.h"
#include "engine/transport.h"
#include "midi/midi_queue.h"
#include "net/host_sysex.h"
#include "net/remote_send.h"
#include "panel/selection.h"

Pads pads;

namespace {

constexpr int16_t unknown = -1;
constexpr int16_t unknown_level = -1000;
constexpr int16_t normal_speed = 400;

int state_code(const PadView& view, int t) { return int((view.state_word >> (4 * t)) & 0xF); }

void send_static(PadKind kind, int t, int column, uint8_t colour) {
  uint8_t out[launchpad_static_length];
  const int pad = pad_address(kind, t, column);
  const int n = kind == PadKind::apc ? apc_led_message(out, pad, colour)
                                     : launchpad_static_message(out, pad, colour);
  pad_send(out, n);
}

void send_level(PadKind kind, int t, int level) {
  uint8_t out[launchpad_rgb_length];
  const int pad = pad_address(kind, t, pad_level);
  const int n = kind == PadKind::apc
                    ? apc_led_message(out, pad, apc_level_colour(level))
                    : launchpad_rgb_message(out, pad, launchpad_level_colour(level));
  pad_send(out, n);
}

void send_feedback(PadKind kind, int t, int feedback) {
  uint8_t out[launchpad_rgb_length];
  const int pad = pad_address(kind, t, pad_feedback);
  const int n = kind == PadKind::apc
                    ? apc_led_message(out, pad, apc_feedback_colour(feedback))
                    : launchpad_rgb_message(out, pad, launchpad_feedback_colour(feedback));
  pad_send(out, n);
}

// Everything but the selection, which the full refresh itself sends, is sent again after it.
void forget_pads(PadShadow& s) {
  for (int t = 0; t < track_count; ++t) {
    s.play_colour[t] = unknown;
    s.record_colour[t] = unknown;
    s.speed[t] = unknown;
    s.reverse[t] = unknown;
    s.level[t] = unknown_level;
    s.feedback[t] = unknown_level;
  }
}

void full_refresh(PadKind kind, PadShadow& s, const PadView& view) {
  forget_pads(s);
  for (int t = 0; t < track_count; ++t) {
    send_static(kind, t, pad_track_colour, track_colour(t));
    if (t + 1 != view.selected) send_static(kind, t, pad_selection, pad_off);
  }
  if (view.selected >= 1 && view.selected <= track_count) {
    send_static(kind, view.selected - 1, pad_selection, pad_on);
  }
  s.selected = view.selected;
  s.full_refresh_countdown = pad_full_refresh_every;
}

void follow_selection(PadKind kind, PadShadow& s, const PadView& view) {
  if (view.selected == s.selected) return;
  if (s.selected >= 1 && s.selected <= track_count) {
    send_static(kind, s.selected - 1, pad_selection, pad_off);
  }
  if (view.selected >= 1 && view.selected <= track_count) {
    send_static(kind, view.selected - 1, pad_selection, pad_on);
  }
  s.selected = view.selected;
}

void update_static(PadKind kind, int t, int column, int16_t& shown, uint8_t colour) {
  if (shown == colour) return;
  send_static(kind, t, column, colour);
  shown = colour;
}

}  // namespace

void pad_send(const uint8_t* bytes, int length) {
  midi_enqueue(bytes, length);
  remote_send(bytes, length);
}

void pad_shadow_reset(PadKind kind, PadShadow& s) {
  forget_pads(s);
  s.selected = unknown;
  s.blink_phase = 0;
  s.full_refresh_countdown = kind == PadKind::apc ? pad_apc_first_countdown : 0;
}

void pads_reset() {
  pads.apc_present = 0;
  pads.launchpad_present = 0;
  pads.poll_count = 0;
  pad_shadow_reset(PadKind::apc, pads.apc);
  pad_shadow_reset(PadKind::launchpad, pads.launchpad);
}

void pad_poll() {
  Pads& p = pads;
  if (++p.poll_count < pad_poll_seconds) return;
  if (p.apc_present > pad_lost_after) {
    console_printf("Akai APC lost\n");
    p.apc_present = 0;
  } else if (p.apc_present != 0) {
    ++p.apc_present;
  }
  if (p.launchpad_present > pad_lost_after) {
    console_printf("Novation LaunchPad lost\n");
    p.launchpad_present = 0;
  } else if (p.launchpad_present != 0) {
    ++p.launchpad_present;
  }
  pad_send(identity_request, identity_request_length);
  p.poll_count = 0;
}

void apc_found() {
  Pads& p = pads;
  if (p.apc_present == 0) {
    console_printf("Akai APC found\n");
    p.launchpad_present = 0;
  }
  p.apc_present = 1;
}

// A Launchpad that answers again is only marked present; a new one goes to programmer mode and
// has its 64 pads cleared, each row in eight messages of one to eight pads.
void launchpad_found() {
  Pads& p = pads;
  if (p.launchpad_present != 0) {
    p.launchpad_present = 1;
    return;
  }
  console_printf("Novation LaunchPad found\n");
  p.apc_present = 0;
  pad_send(launchpad_programmer_mode, launchpad_programmer_length);
  for (int t = 0; t < track_count; ++t) {
    const int row_base = pad_address(PadKind::launchpad, t, 0);
    for (int filled = 1; filled <= pads_per_row; ++filled) {
      uint8_t out[launchpad_clear_row_length];
      pad_send(out, launchpad_clear_row_message(out, row_base, filled));
    }
  }
  p.launchpad_present = 1;
}

void pad_refresh_device(PadKind kind, PadShadow& s, const PadView& view) {
  s.blink_phase ^= 1;
  if (s.full_refresh_countdown != 0) {
    --s.full_refresh_countdown;
    follow_selection(kind, s, view);
  } else {
    full_refresh(kind, s, view);
  }
  for (int t = 0; t < track_count; ++t) {
    const int state = state_code(view, t);
    update_static(kind, t, pad_record_side, s.record_colour[t], record_side_colour(state));
    update_static(kind, t, pad_play_side, s.play_colour[t], play_side_colour(state));
  }
  for (int t = 0; t < track_count; ++t) {
    update_static(kind, t, pad_reverse, s.reverse[t], view.reverse[t] ? pad_on : pad_off);
    update_static(kind, t, pad_speed, s.speed[t], view.speed[t] != normal_speed ? pad_on : pad_off);
    if (s.level[t] != view.level[t]) {
      send_level(kind, t, view.level[t]);
      s.level[t] = view.level[t];
    }
    if (s.feedback[t] != view.feedback[t]) {
      send_feedback(kind, t, view.feedback[t]);
      s.feedback[t] = view.feedback[t];
    }
  }
  // Record-side colours blink at 2 Hz; the play side stays steady.
  for (int t = 0; t < track_count; ++t) {
    if (s.record_colour[t] <= 0) continue;
    send_static(kind, t, pad_record_side, s.blink_phase ? uint8_t(s.record_colour[t]) : pad_off);
  }
}

void pad_view_read(PadView& view) {
  TrackStatus status;
  track_status_snapshot(status);
  view.state_word = status.state;
  const int32_t current = selection.current_track;
  view.selected = current >= 1 && current <= track_count ? current : 0;
  EngineLockGuard lock;  // the rates' signs, an O(1) read
  for (int t = 0; t < track_count; ++t) {
    view.speed[t] = status.speed[t];
    view.reverse[t] = tracks[t].rate < 0;
    view.level[t] = config_live.mix_level[t];
    view.feedback[t] = config_live.mix_feedback[t];
  }
}

void pad_refresh() {
  Pads& p = pads;
  if (p.apc_present <= 0 && p.launchpad_present <= 0) {
    pad_shadow_reset(PadKind::apc, p.apc);
    pad_shadow_reset(PadKind::launchpad, p.launchpad);
    return;
  }
  PadView view;
  pad_view_read(view);
  if (p.apc_present > 0) {
    pad_refresh_device(PadKind::apc, p.apc, view);
  } else {
    pad_shadow_reset(PadKind::apc, p.apc);
  }
  if (p.launchpad_present > 0) {
    pad_refresh_device(PadKind::launchpad, p.launchpad, view);
  } else {
    pad_shadow_reset(PadKind::launchpad, p.launchpad);
  }
}
