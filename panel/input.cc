#include "panel/input.h"

#include "config/config.h"
#include "core/console.h"
#include "midi/midi_map.h"
#include "panel/midi_mapping.h"
#include "midi/midi_codes.h"
#include "panel/function_table.h"
#include "panel/handlers.h"

PanelInput panel_input;

namespace {

constexpr int32_t kind_mask = 0xFF00;
constexpr int32_t column_mask = 0xF0;    // bits 4-7: the key column
constexpr int32_t third_column = 0x10;   // exchanged with the fourth on panel version 1
constexpr int32_t fourth_column = 0x20;

// Scan codes: a row bit in bits 8-15, a column bit in bits 4-7, bit 0 for a key's second event.
constexpr int32_t key_none = 0x0700;
constexpr int32_t key_user_1 = 0x0810;
constexpr int32_t key_user_2 = 0x0820;
constexpr int32_t key_user_3 = 0x1010;
constexpr int32_t key_user_4 = 0x1020;
constexpr int32_t key_rec_dub = 0x0840;
constexpr int32_t key_erase = 0x0841;
constexpr int32_t key_play_stop = 0x1040;
constexpr int32_t key_stop_now = 0x1041;
constexpr int32_t key_back = 0x0880;
constexpr int32_t key_select = 0x1080;
constexpr int32_t key_all_tracks = 0x8080;
constexpr int32_t key_drum_menu = 0x8081;

// The eight track keys: rows 0x20 (tracks 1-4) and 0x40 (tracks 5-8), columns 8, 4, 1, 2.
constexpr int32_t track_keys[8] = {0x2080, 0x2040, 0x2010, 0x2020,
                                   0x4080, 0x4040, 0x4010, 0x4020};
constexpr int32_t second_event = 0x0001;

bool is_midi_code(int32_t code) {
  const int32_t kind = code & kind_mask;
  return kind == code_note_on || kind == code_note_off || kind == code_control_change ||
         kind == code_program_change;
}

bool is_encoder_step(int32_t code) { return code == code_encoder_up || code == code_encoder_down; }

int32_t swap_columns(int32_t code) {
  const int32_t column = code & column_mask;
  if (column == third_column) return code + third_column;
  if (column == fourth_column) return code - third_column;
  return code;
}

// 1..8 for a track key's first or second event, else 0.
int track_key(int32_t code, int32_t event) {
  for (int t = 0; t < 8; ++t) {
    if (code == (track_keys[t] | event)) return t + 1;
  }
  return 0;
}

}  // namespace

void panel_key_event(uint16_t scan_code) { panel_input.key_mailbox.store(scan_code); }

void panel_encoder_steps(int32_t steps) { panel_input.encoder_count.fetch_add(steps); }

int32_t take_input_code() {
  const int32_t midi = midi_poll();
  if (midi != 0) return midi;
  const uint16_t key = panel_input.key_mailbox.exchange(0);
  if (key != 0) return config.panel_version > 0 ? swap_columns(key) : key;
  const int32_t steps = panel_input.encoder_count.exchange(0);
  if (steps > 0) return code_encoder_up;
  if (steps < 0) return code_encoder_down;
  return 0;
}

void ui_poll() {
  PanelInput& in = panel_input;
  if (in.poll_busy) return;
  in.poll_busy = 1;
  const int32_t code = take_input_code();
  if (code != 0 && !is_encoder_step(code)) {
    dispatch_key(code);
    age_bounce_destination();
  }
  in.poll_busy = 0;
}

void dispatch_key(int32_t code) {
  if (is_midi_code(code)) {
    midi_dispatch(code);
    return;
  }
  if (const int t = track_key(code, 0)) {
    cmd_select_track(t);
    return;
  }
  if (const int t = track_key(code, second_event)) {
    start_temporary_group(t);
    return;
  }
  switch (code) {
    case key_none:
    case key_back:      // menu navigation: the menus own these keys
    case key_select:
    case key_drum_menu:
      return;
    case key_user_1: run_function_list(config.user_button_lists[0]); return;
    case key_user_2: run_function_list(config.user_button_lists[1]); return;
    case key_user_3: run_function_list(config.user_button_lists[2]); return;
    case key_user_4: run_function_list(config.user_button_lists[3]); return;
    case key_rec_dub: cmd_rec_dub(0); return;
    case key_erase: cmd_track_erase(0); return;
    case key_play_stop: cmd_play_stop(0); return;
    case key_stop_now: cmd_stop(1); return;
    case key_all_tracks: cmd_select_track(0); return;
    default:
      console_printf("SCANCODE %h\n", code);
      return;
  }
}

void panel_input_reset() {
  panel_input.key_mailbox.store(0);
  panel_input.encoder_count.store(0);
  panel_input.poll_busy = 0;
}
