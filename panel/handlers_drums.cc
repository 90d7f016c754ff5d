#include "panel/handlers_drums.h"

#include <iterator>

#include "config/config.h"
#include "core/constants.h"
#include "drums/drum_edit.h"
#include "drums/drum_machine.h"
#include "panel/display_state.h"
#include "panel/input.h"

DrumEditor drum_editor;

namespace {

// The eight track keys flip drums 1-8 in the editor.
static_assert(std::size(track_keys) == drum_count);
constexpr int32_t choice_count = 3;

int drum_of_key(int32_t code) {
  for (int i = 0; i < drum_count; i++) {
    if (track_keys[i] == code) return i;
  }
  return -1;
}

void show(int32_t step) {
  const DrumPattern* p = drum_current_pattern();
  if (p == nullptr) return;
  drum_editor.step = drum_show_step(*p, step, drum_editor.line1, drum_editor.line2);
}

int32_t set_choice(int16_t& field, int32_t choice) {
  if (choice < 0 || choice >= choice_count) return status_refused;
  field = int16_t(choice);
  config_dirty = 1;
  dispatch_key(key_back);
  return status_ok;
}

}  // namespace

int32_t drum_menu_pattern_number() { return drums.bank.current_pattern + 1; }

int32_t drum_menu_select_pattern(int32_t number) { return drum_select_pattern(number); }

int32_t drum_menu_bpm() {
  const DrumPattern* p = drum_current_pattern();
  return p != nullptr && p->bpm != 0 ? p->bpm : drum_bpm_default;
}

int32_t drum_menu_set_bpm(int32_t bpm) { return drum_set_bpm(bpm); }

int32_t drum_menu_gain(int32_t drum) {
  const DrumPattern* p = drum_current_pattern();
  if (p == nullptr || drum < 0 || drum > drum_count) return 0;
  return drum == 0 ? p->all_gain : p->gain[drum - 1];
}

int32_t drum_menu_set_gain(int32_t drum, int32_t db) {
  if (drum == 0) return drum_set_all_gain(db);
  return drum_set_gain(drum - 1, db);
}

int32_t drum_menu_pan(int32_t drum) {
  const DrumPattern* p = drum_current_pattern();
  if (p == nullptr || drum < 1 || drum > drum_count) return 0;
  return p->pan[drum - 1];
}

int32_t drum_menu_set_pan(int32_t drum, int32_t pan) { return drum_set_pan(drum - 1, pan); }

int32_t drum_menu_set_clock_out(int32_t choice) {
  return set_choice(config.drums_clock_out, choice);
}

int32_t drum_menu_set_audio_port(int32_t choice) {
  return set_choice(config.drum_audio_port, choice);
}

int32_t drum_editor_open(int32_t) {
  drum_editor.line2[0] = '\0';
  show(1);
  return status_ok;
}

void drum_editor_key(int32_t code) {
  const int drum = drum_of_key(code);
  if (code == code_encoder_up) {
    show(drum_editor.step + 1);
  } else if (code == code_encoder_down) {
    show(drum_editor.step - 1);
  } else if (code == key_select) {
    dispatch_key(key_back);
    return;
  } else if (drum >= 0) {
    drum_toggle_step(drum_editor.step - 1, drum);
    show(drum_editor.step);
  } else {
    dispatch_key(code);
    return;
  }
  request_redraw(Redraw::full);
}

void drum_editor_reset() { drum_editor = DrumEditor{1, {}, {}}; }
