// Feeds arbitrary byte streams through the MIDI input ring, the parser and the mapper, checking
// that every input code, SysEx message and host report they produce is well formed.
#include <cstddef>
#include <cstdint>

#include "config/config.h"
#include "host/looper.h"
#include "midi/midi_map.h"
#include "midi/midi_codes.h"
#include "midi/midi_parser.h"
#include "midi/midi_queue.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint8_t end_of_exclusive = 0xF7;

void check_sysex(const uint8_t* bytes, int length) {
  require(length >= 2 && length <= midi_message_max);
  require(bytes[0] == 0xF0 && bytes[length - 1] == end_of_exclusive);
  for (int i = 1; i < length - 1; ++i) require(bytes[i] < 0x80);
}

void check_code(int32_t code) {
  const int32_t kind = code & 0xF000;
  require(kind == code_note_on || kind == code_note_off || kind == code_control_change ||
          kind == code_program_change);
  require((code & 0x0F80) == 0);  // the note, program or value is 7 bits
  const int32_t controller = code >> code_controller_shift;
  require(controller == 0 || (kind == code_control_change && controller < midi_controller_count));
  if (kind == code_control_change) midi_switch_fires(controller, code & 0x7F);
}

// Host reports: F0 00 3F 6A 18, type 0-2, one or two data bytes, F7.
void drain_reports() {
  while (midi_out_pending() > 0) {
    int length;
    const uint8_t* bytes = midi_out_take(&length);
    require(bytes != nullptr && (length == 8 || length == 9));
    require(bytes[4] == echo_reply_code && bytes[5] <= echo_type_note_on);
    require(bytes[length - 1] == end_of_exclusive);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  looper_reset();
  // The first two bytes choose the channel, the de-jitter width and the quantise controller.
  config.midi_channel = int16_t(data[0] & 0x0F);
  config.cc_dejitter = int16_t((data[0] >> 4) % 5);
  config.quant_cc = int16_t(data[1] & 0x7F);
  midi_set_sysex_handler(check_sysex);

  // The rest arrives in bursts of 64 bytes, as JACK periods would deliver it; after each burst
  // the idle tick polls until the ring is empty.
  size_t i = 2;
  while (i < size) {
    const size_t burst_end = i + 64 < size ? i + 64 : size;
    for (; i < burst_end; ++i) midi_in_put(data[i]);
    for (int32_t code = midi_poll(); code != 0; code = midi_poll()) {
      check_code(code);
      drain_reports();
    }
    drain_reports();
    require(midi_in_get() == -1);
  }
  return 0;
}
