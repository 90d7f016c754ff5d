// The MIDI/user-button learn editor, which assigns function lists to triggers, and the pedal
// assignment editor, which binds a controller's travel to a controller function.
#include "config/config.h"
#include "core/console.h"
#include "midi/midi_map.h"
#include "panel/editors.h"
#include "panel/function_table.h"
#include "panel/input.h"

namespace {

constexpr int32_t number_mask = 0x7F;
constexpr int32_t value_mask = 0xFF;
constexpr int pedal_steps = 4;
constexpr int16_t controller_value_top = 127;

int code_controller(int32_t code) { return (code >> code_controller_shift) & number_mask; }

// The list being learnt: a MIDI trigger's or a user button's, or null before one is chosen.
int16_t* learn_list() {
  const Editors& e = editors;
  if (e.learn_source >= 0) return config.midi_lists[e.learn_source];
  if (e.learn_button >= 0) return config.user_button_lists[e.learn_button];
  return nullptr;
}

int row_of_id(int id) {
  for (int row = 0; function_table[row].first_id != -1; ++row) {
    if (function_table[row].first_id == id) return row;
  }
  return -1;
}

// The selected row from the stored id at the current position.
void load_learn_entry() {
  const int16_t* list = learn_list();
  editors.learn_row = int16_t(list != nullptr && list[editors.learn_position] >= 0
                                  ? row_of_id(list[editors.learn_position])
                                  : -1);
}

void store_learn_entry() {
  int16_t* list = learn_list();
  if (list == nullptr) return;
  const int row = editors.learn_row;
  list[editors.learn_position] = int16_t(row < 0 ? -1 : function_table[row].first_id);
  config_dirty = 1;
}

void fill_learn() {
  Editors& e = editors;
  const int position = e.learn_position + 1;
  const int source = e.learn_source;
  if (source >= list_note_base) {
    format_to(e.first_line, "Note %d: %d", source - list_note_base, position);
  } else if (source >= list_switch_base) {
    format_to(e.first_line, "CC %d: %d", source - list_switch_base, position);
  } else if (source >= 0) {
    format_to(e.first_line, "Pgm Chg %d: %d", source, position);
  } else if (e.learn_button >= 0) {
    format_to(e.first_line, "User %d: %d", int(e.learn_button), position);
  } else {
    format_to(e.first_line, "Press button");
  }
  if (learn_list() == nullptr) {
    e.second_line[0] = '\0';
  } else if (e.learn_row < 0) {
    format_to(e.second_line, "end sequence");
  } else {
    // Names are formats: "Shrink to 50%%" shows one percent sign.
    format_to(e.second_line, function_name(e.learn_row));
  }
}

void choose_source(int source) {
  Editors& e = editors;
  e.learn_source = int16_t(source);
  e.learn_button = -1;
  e.learn_position = 0;
  load_learn_entry();
  if (e.learn_armed_row < 0) return;
  // Armed from the web panel: the trigger runs that function alone, and the editor closes.
  int16_t* list = learn_list();
  list[0] = int16_t(function_table[e.learn_armed_row].first_id);
  for (int i = 1; i < config_list_length; ++i) list[i] = -1;
  config_dirty = 1;
  e.learn_armed_row = -1;
  dispatch_key(key_back);
}

// Returns false for the codes the global key map handles.
bool learn_code(int32_t code) {
  Editors& e = editors;
  const int number = code & number_mask;
  switch (code & kind_mask) {
    case code_program_change: choose_source(list_program_base + number); return true;
    case code_note_on: choose_source(list_note_base + number); return true;
    case code_note_off: store_learn_entry(); return true;
    case code_control_change: {
      const int c = code_controller(code);
      choose_source(list_switch_base + c);
      config.cc_controller[c] = -1;  // a learnt controller acts as a switch
      config_dirty = 1;
      return true;
    }
    default: break;
  }
  if (const int b = user_key_number(code); b >= 0) {
    e.learn_source = learn_source_none;
    e.learn_button = int16_t(b);
    e.learn_position = 0;
    load_learn_entry();
    return true;
  }
  if (const int t = track_key_number(code)) {
    e.learn_position = int16_t(t - 1);
    load_learn_entry();
    return true;
  }
  if (code == code_encoder_up || code == code_encoder_down) {
    if (code == code_encoder_up && e.learn_row < function_row_count() - 1) e.learn_row++;
    if (code == code_encoder_down && e.learn_row > -1) e.learn_row--;
    store_learn_entry();
    return true;
  }
  return false;
}

void learn_key(int32_t code) {
  if (code == key_select) {
    dispatch_key(key_back);
  } else if (learn_code(code)) {
    fill_learn();
    draw_menu();
  } else {
    dispatch_key(code);
  }
}

// Chooses controller c: no button functions, and a usable travel.
void choose_controller(int c) {
  ConfigRecord& k = config;
  editors.pedal_controller = int16_t(c);
  k.midi_lists[list_switch_base + c][0] = -1;
  if (k.cc_min[c] < 0) k.cc_min[c] = 0;
  if (k.cc_max[c] < k.cc_min[c]) k.cc_max[c] = controller_value_top;
  if (editors.pedal_step == pedal_steps && k.cc_controller[c] < 0) k.cc_controller[c] = 0;
  config_dirty = 1;
}

void fill_pedal() {
  Editors& e = editors;
  const int c = e.pedal_controller;
  switch (e.pedal_step) {
    case 1:
      format_to(e.first_line, "Move Controller");
      if (c < 0) {
        format_to(e.second_line, "none selected");
      } else {
        format_to(e.second_line, " CC %d", c);
      }
      break;
    case 2:
      format_to(e.first_line, "Move %d To Min", c);
      format_to(e.second_line, "%d", int(config.cc_min[c]));
      break;
    case 3:
      format_to(e.first_line, "Move %d To Max", c);
      format_to(e.second_line, "%d", int(config.cc_max[c]));
      break;
    default: {
      format_to(e.first_line, "Controller %d", c);
      const FunctionEntry* row = controller_function(config.cc_controller[c]);
      format_to(e.second_line, "%s", row != nullptr ? row->name : "");
      break;
    }
  }
}

// Returns false for the codes the global key map handles.
bool pedal_code(int32_t code) {
  Editors& e = editors;
  ConfigRecord& k = config;
  if ((code & kind_mask) == code_control_change) {
    const int c = code_controller(code);
    const int16_t v = int16_t(code & value_mask);
    if (e.pedal_armed_id >= 0) {
      // Armed from the web panel: this controller drives that function, and the editor closes.
      choose_controller(c);
      k.cc_controller[c] = e.pedal_armed_id;
      e.pedal_armed_id = -1;
      dispatch_key(key_back);
      return false;
    }
    if (e.pedal_step == 1 || c != e.pedal_controller) {
      choose_controller(c);
    } else if (e.pedal_step == 2) {
      k.cc_min[c] = v;
      config_dirty = 1;
    } else if (e.pedal_step == 3) {
      k.cc_max[c] = v;
      config_dirty = 1;
    }
    return true;
  }
  if (code == key_select) {
    // Without a controller there is nothing to set in the later steps.
    if (e.pedal_controller < 0) return true;
    if (e.pedal_step == pedal_steps) {
      dispatch_key(key_back);
      return false;
    }
    e.pedal_step++;
    const int c = e.pedal_controller;
    if (e.pedal_step == pedal_steps && k.cc_controller[c] < 0) {
      k.cc_controller[c] = 0;
      config_dirty = 1;
    }
    return true;
  }
  if ((code == code_encoder_up || code == code_encoder_down) && e.pedal_step == pedal_steps) {
    const int c = e.pedal_controller;
    int id = k.cc_controller[c];
    if (id < 0 || id >= controller_function_count) id = 0;
    if (code == code_encoder_up && id < controller_function_count - 1) id++;
    if (code == code_encoder_down && id > 0) id--;
    k.cc_controller[c] = int16_t(id);
    config_dirty = 1;
    return true;
  }
  dispatch_key(code);
  return false;
}

void pedal_key(int32_t code) {
  if (pedal_code(code)) {
    fill_pedal();
    draw_menu();
  }
}

}  // namespace

int32_t open_learn_editor(int32_t) {
  Editors& e = editors;
  e.learn_source = learn_source_none;
  e.learn_button = -1;
  e.learn_position = 0;
  e.learn_row = -1;
  e.learn_armed_row = -1;
  fill_learn();
  push_menu(&editor_screen, 0, learn_key);
  return 0;
}

int32_t learn_next_trigger(int32_t row) {
  if (row < 0 || row >= function_row_count()) return status_refused;
  open_learn_editor(0);
  if (menu_stack.levels[menu_stack.depth].key_callback == learn_key) {
    editors.learn_armed_row = int16_t(row);
  }
  return 0;
}

int32_t learn_next_controller(int32_t id) {
  if (controller_function(id) == nullptr) return status_refused;
  open_pedal_editor(0);
  if (menu_stack.levels[menu_stack.depth].key_callback == pedal_key) {
    editors.pedal_armed_id = int16_t(id);
  }
  return 0;
}

int32_t open_pedal_editor(int32_t) {
  Editors& e = editors;
  e.pedal_step = 1;
  e.pedal_controller = -1;
  e.pedal_armed_id = -1;
  fill_pedal();
  push_menu(&editor_screen, 0, pedal_key);
  return 0;
}
