// Controller functions: continuous controls bound to a MIDI controller (general use, volume,
// feedback, pan, speed). Each gets the whole controller input code.
#include <algorithm>
#include <bit>

#include "config/config.h"
#include "core/console.h"
#include "engine/fades.h"
#include "engine/track_params.h"
#include "midi/midi_codes.h"
#include "midi/midi_map.h"
#include "panel/midi_mapping.h"
#include "panel/display_state.h"
#include "panel/function_table.h"
#include "panel/handlers.h"
#include "panel/pedal.h"
#include "panel/selection.h"

PedalState pedal_state;

namespace {

constexpr int32_t data_mask = 0x7F;
constexpr int32_t value_mask = 0xFF;
constexpr int catch_window = 2;  // "Catch first": a value this close to the stored one catches
constexpr int percent_full = 100;
constexpr int pan_span = 256;  // pan -128..127 across the travel
constexpr int pan_offset = 128;

int code_controller(int32_t code) { return (code >> code_controller_shift) & data_mask; }
int code_value(int32_t code) { return code & value_mask; }
uint8_t bit_of(int k) { return uint8_t(1u << (k - 1)); }

enum class Control { volume, feedback, pan, speed };

// Selecting the current track again, as a track key would (without leaving a group): its menu
// opens again at level 1.
void reselect_current() {
  Selection& s = selection;
  s.except_flag = 0;
  s.temp_group = 0;
  open_selection_menu();
  report(display_mode_loop_time, nullptr, Redraw::full);
}

// Whether a controller moved for the single selected track k may act: under "Catch first" a
// controller last moved for another track waits until it comes within 2 of k's stored value.
// A code that stands for a merged sweep catches when the window lies anywhere in the range the
// sweep crossed, even where its values stepped over it.
bool catches(int c, int k, int32_t code) {
  PedalState& p = pedal_state;
  if (!p.seeded[c]) {
    for (int16_t& stored : p.stored[c]) stored = config.cc_max[c];
    p.seeded[c] = 1;
  }
  const int stored = p.stored[c][k - 1];
  const MidiValueRange crossed = midi_code_range(code);
  if (config.pedal_mode == 1 && p.last_track[c] != k &&
      (crossed.high < stored - catch_window || crossed.low > stored + catch_window)) {
    return false;
  }
  const int v = code_value(code);
  p.stored[c][k - 1] = int16_t(v);
  p.last_track[c] = int16_t(k);
  return true;
}

int16_t mode_of(Control control) {
  switch (control) {
    case Control::volume: return display_mode_level;
    case Control::feedback: return display_mode_feedback;
    case Control::pan: return display_mode_pan;
    default: return display_mode_speed;
  }
}

int32_t controller_handler(int32_t code, Control control) {
  const int c = code_controller(code);
  int v = code_value(code);
  const FunctionEntry* row = controller_function(config.cc_controller[c]);
  const int a = row != nullptr ? row->argument : 0;

  if (selection.temp_group == 0) reselect_current();
  uint8_t targets;
  if (a >= 1 && a <= track_count) {
    targets = bit_of(a);
    if (config.track_follows_cc == 1 && a != selection.current_track) cmd_select_track(a);
  } else {
    targets = selected_mask();
    const bool one_track = targets != 0 && (targets & (targets - 1)) == 0;
    if (one_track && !catches(c, std::countr_zero(targets) + 1, code)) {
      display_state.display_mode = mode_of(control);
      return 0;
    }
  }

  const int lo = config.cc_min[c];
  const int hi = config.cc_max[c];
  // A travel without extent cannot be scaled: the controller is ignored until it is set again.
  if (hi <= lo) return status_refused;
  v = std::clamp(v, lo, hi);
  int value = 0;
  switch (control) {
    case Control::volume: {
      const int minimum = config.volume_minimum;
      value = v == hi ? 0 : minimum + (v - lo) * -minimum / (hi - lo);
      break;
    }
    case Control::feedback:
      value = std::clamp((v - lo) * percent_full / (hi - lo), 0, percent_full);
      break;
    case Control::pan: value = (v - lo) * pan_span / (hi - lo + 1) - pan_offset; break;
    case Control::speed:
      // The top of the travel is normal speed whatever the division gives.
      value =
          v == hi ? speed_step_max : std::min(v * speed_step_max / (hi - lo + 1), speed_step_max);
      break;
  }
  for (int k = 1; k <= track_count; ++k) {
    if (!(targets & bit_of(k))) continue;
    switch (control) {
      case Control::volume:
        fade_cancel(k - 1);
        set_live_word(shown_level[k - 1], value);
        set_track_atten(k - 1, -value);
        break;
      case Control::feedback:
        shown_feedback[k - 1] = int16_t(value);
        set_track_feedback(k - 1, value);
        break;
      case Control::pan:
        shown_pan[k - 1] = int16_t(value);
        set_track_pan(k - 1, value);
        break;
      case Control::speed: set_track_speed(k - 1, value); break;
    }
  }
  report(mode_of(control), nullptr, Redraw::full);
  return 0;
}

}  // namespace

int32_t cc_general_use(int32_t code) {
  const int c = code_controller(code);
  const int v = code_value(code);
  if (c == config.quant_cc && v != 0) {
    for (int t = 0; t < track_count; ++t) {
      config.q_steps[t] = int16_t(v);
      console_printf("CC: Q steps for %d set to %d\n", t + 1, v);
    }
    config_dirty = 1;
  } else if (c == bounce_destination_cc && v >= 1 && v <= track_count) {
    midi_mapping.bounce_destination = v + bounce_destination_fresh;
  }
  return 0;
}

int32_t cc_track_volume(int32_t code) { return controller_handler(code, Control::volume); }
int32_t cc_feedback(int32_t code) { return controller_handler(code, Control::feedback); }
int32_t cc_track_pan(int32_t code) { return controller_handler(code, Control::pan); }
int32_t cc_speed(int32_t code) { return controller_handler(code, Control::speed); }

void pedal_state_reset() { pedal_state = PedalState{}; }
