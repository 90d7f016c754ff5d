// Controller functions: continuous controls bound to a MIDI controller (general use, volume,
// feedback, pan, speed). Each gets the whole controller input code.
#include "config/config.h"
#include "console/console.h"
#include "midi/midi_map.h"
#include "midi/midi_mapping.h"
#include "panel/handlers.h"
#include "panel/selection.h"

namespace {

constexpr int32_t data_mask = 0x7F;

int code_controller(int32_t code) { return (code >> code_controller_shift) & data_mask; }
int code_value(int32_t code) { return code & data_mask; }

}  // namespace

int32_t cc_general_use(int32_t code) {
  const int c = code_controller(code);
  const int v = code_value(code);
  if (c == config.quant_cc && v != 0) {
    for (int t = 0; t < panel_track_count; ++t) {
      config.q_steps[t] = int16_t(v);
      console_printf("CC: Q steps for %d set to %d\n", t + 1, v);
    }
    config_dirty = 1;
  } else if (c == bounce_destination_cc && v >= 1 && v <= panel_track_count) {
    midi_mapping.bounce_destination = v + bounce_destination_fresh;
  }
  return 0;
}
