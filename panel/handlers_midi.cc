// Functions that talk to the MIDI output or change how the panel reports to a ZT6 display.
#include "config/config.h"
#include "core/console.h"
#include "midi/midi_queue.h"
#include "panel/handlers.h"

namespace {
constexpr uint8_t midi_stop_byte = 0xFC;
}  // namespace

int32_t cmd_midi_stop(int32_t) {
  const uint8_t message[] = {midi_stop_byte};
  midi_enqueue(message, 1);
  return 0;
}

int32_t cmd_midi_bypass(int32_t value) {
  if (value < 0 || value > 1) return status_refused;
  config.zt6_display = uint16_t(value);
  config_dirty = 1;
  console_printf("ZT6 display set to %d\n", value);
  return 0;
}
