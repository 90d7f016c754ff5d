#include "panel/midi_mapping.h"

#include "config/config.h"
#include "midi/midi_map.h"
#include "panel/function_table.h"

MidiMapping midi_mapping;

namespace {

constexpr int32_t number_mask = 0x7F;
constexpr int32_t track_mask = 0xFF;

}  // namespace

bool midi_list_in_use(int list) {
  if (list < 0 || list >= config_list_count) return false;
  return config.midi_lists[list][0] >= 0;
}

void midi_dispatch(int32_t code) {
  const int number = code & number_mask;
  switch (code & kind_mask) {
    case code_program_change:
      run_function_list(config.midi_lists[list_program_base + number]);
      return;
    case code_note_on:
      if (midi_list_in_use(list_note_base + number)) {
        run_function_list(config.midi_lists[list_note_base + number]);
      }
      return;
    case code_control_change: {
      const int controller = (code >> code_controller_shift) & number_mask;
      const int list = list_switch_base + controller;
      if (midi_list_in_use(list)) {
        if (midi_switch_fires(controller, number)) run_function_list(config.midi_lists[list]);
        return;
      }
      const FunctionEntry* row = controller_function(config.cc_controller[controller]);
      if (row != nullptr) row->handler(code);
      return;
    }
    default: return;  // note off and anything else
  }
}

void age_bounce_destination() {
  int32_t& d = midi_mapping.bounce_destination;
  if (d & bounce_destination_fresh) {
    d &= ~bounce_destination_fresh;
  } else {
    d = 0;
  }
}

int bounce_destination_track() { return midi_mapping.bounce_destination & track_mask; }

void midi_mapping_reset() { midi_mapping = MidiMapping{}; }
