#include "panel/input.h"

#include "config/config.h"
#include "core/console.h"
#include "midi/midi_map.h"
#include "midi/midi_codes.h"
#include "panel/display.h"
#include "panel/function_table.h"
#include "panel/handlers.h"
#include "panel/menu.h"
#include "panel/menus.h"
#include "panel/midi_mapping.h"
#include "panel/value_entry.h"

PanelInput panel_input;

namespace {

constexpr int32_t column_mask = 0xF0;   // bits 4-7: the key column
constexpr int32_t third_column = 0x10;  // exchanged with the fourth on panel version 1
constexpr int32_t fourth_column = 0x20;

// 1..8 for a track key's first or second action, else 0.
int track_key(int32_t code, int32_t action) {
  for (int t = 0; t < 8; ++t) {
    if (code == (track_keys[t] | action)) return t + 1;
  }
  return 0;
}

// Back leaves the current screen; on the main menu it returns to the first item.
void back_key() {
  MenuStack& m = menu_stack;
  if (m.depth > 0) {
    pop_menu(nullptr, 0);
  } else {
    m.levels[0].cursor = 0;
    draw_menu();
  }
}

void route(int32_t code) {
  const KeyCallback callback = top_level().key_callback;
  if (callback != nullptr) {
    callback(code);  // the callback owns redrawing
    return;
  }
  if (!is_encoder_step(code)) {
    dispatch_key(code);
    age_bounce_destination();
  } else if (value_entry_on_top()) {
    value_entry_step(code);
  } else {
    move_cursor(code);
  }
  draw_menu();
}

}  // namespace

int32_t swap_key_columns(int32_t code) {
  const int32_t column = code & column_mask;
  if (column == third_column) return code + third_column;
  if (column == fourth_column) return code - third_column;
  return code;
}

bool is_midi_code(int32_t code) {
  const int32_t kind = code & kind_mask;
  return kind == code_note_on || kind == code_note_off || kind == code_control_change ||
         kind == code_program_change;
}

bool is_encoder_step(int32_t code) { return code == code_encoder_up || code == code_encoder_down; }

int track_key_number(int32_t code) { return track_key(code, 0); }

int user_key_number(int32_t code) {
  for (int b = 0; b < 4; ++b) {
    if (code == user_keys[b]) return b;
  }
  return -1;
}

void panel_key_event(uint16_t scan_code) { panel_input.key_mailbox.store(scan_code); }

void panel_encoder_steps(int32_t steps) { panel_input.encoder_count.fetch_add(steps); }

int32_t take_input_code() {
  const int32_t midi = midi_poll();
  if (midi != 0) return midi;
  const uint16_t key = panel_input.key_mailbox.exchange(0);
  if (key != 0) return config.panel_version > 0 ? swap_key_columns(key) : key;
  const int32_t steps = panel_input.encoder_count.exchange(0);
  if (steps > 0) return code_encoder_up;
  if (steps < 0) return code_encoder_down;
  return 0;
}

void ui_poll() {
  PanelInput& in = panel_input;
  if (in.poll_busy) return;
  in.poll_busy = 1;
  display.line_changed[0] = 0;
  display.line_changed[1] = 0;
  const int32_t code = take_input_code();
  if (code != 0) route(code);
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
  if (const int t = track_key(code, key_second_action)) {
    start_temporary_group(t);
    return;
  }
  switch (code) {
    case key_none: return;
    case key_user_1: run_function_list(config.user_button_lists[0]); return;
    case key_user_2: run_function_list(config.user_button_lists[1]); return;
    case key_user_3: run_function_list(config.user_button_lists[2]); return;
    case key_user_4: run_function_list(config.user_button_lists[3]); return;
    case key_rec_dub: cmd_rec_dub(0); return;
    case key_erase: cmd_track_erase(0); return;
    case key_play_stop: cmd_play_stop(0); return;
    case key_stop_now: cmd_stop(1); return;
    case key_back: back_key(); return;
    case key_select: activate_item(); return;
    case key_all_tracks: cmd_select_track(0); return;
    case key_drum_menu:
      reset_menus();
      push_menu(&drum_machine_menu, 0, nullptr);
      return;
    default: console_printf("SCANCODE %h\n", code); return;
  }
}

void panel_input_reset() {
  panel_input.key_mailbox.store(0);
  panel_input.encoder_count.store(0);
  panel_input.poll_busy = 0;
}
