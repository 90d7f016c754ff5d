#include "midi/midi_map.h"

#include "config/config.h"
#include "midi/midi_queue.h"

MidiMapState midi_map_state;

namespace {

constexpr uint8_t status_note_off = 0x80;
constexpr uint8_t status_note_on = 0x90;
constexpr uint8_t status_control_change = 0xB0;
constexpr uint8_t status_program_change = 0xC0;
constexpr uint8_t status_system = 0xF0;
constexpr uint8_t end_of_exclusive = 0xF7;
constexpr uint8_t status_kind_mask = 0xF0;
constexpr uint8_t channel_mask = 0x0F;
constexpr int data_mask = 0x7F;
constexpr int switch_threshold = 64;  // bit 6 of the value: the switch is "on" from 64 up

// F0 00 3F 6A: the host SysEx header that opens every host reply.
constexpr uint8_t host_header[] = {0xF0, 0x00, 0x3F, 0x6A};
constexpr int host_header_length = sizeof(host_header);
// Header, reply code, type, at most two data bytes, 0xF7.
constexpr int echo_max_length = host_header_length + 5;

// Data bytes a message of this kind carries, or -1 for kinds that are not reported.
int echo_data_bytes(uint8_t kind) {
  switch (kind) {
    case status_program_change: return 1;
    case status_control_change: return 2;
    case status_note_on: return 2;
    default: return -1;
  }
}

uint8_t echo_type(uint8_t kind) {
  if (kind == status_program_change) return echo_type_program;
  if (kind == status_control_change) return echo_type_control;
  return echo_type_note_on;
}

// The de-jitter filter: a controller value within cc_dejitter of the last accepted value is
// dropped, except on the quantise and bounce-destination controllers and the first value.
bool dejitter_accepts(MidiMapState& m, int controller, int value) {
  const int last = m.cc_filter_value[size_t(controller)];
  if (controller == config.quant_cc || controller == bounce_destination_cc ||
      last == cc_filter_none) {
    return true;
  }
  const int width = config.cc_dejitter;
  return value < last - width || value > last + width;
}

}  // namespace

void midi_echo(const uint8_t* message, int length) {
  const uint8_t kind = message[0] & status_kind_mask;
  const int data_bytes = echo_data_bytes(kind);
  if (data_bytes < 0 || length < 1 + data_bytes) return;
  uint8_t reply[echo_max_length];
  int n = 0;
  for (uint8_t b : host_header) reply[n++] = b;
  reply[n++] = echo_reply_code;
  reply[n++] = echo_type(kind);
  for (int i = 1; i <= data_bytes; ++i) reply[n++] = message[i];
  reply[n++] = end_of_exclusive;
  if (midi_map_state.echo_peer != nullptr) midi_map_state.echo_peer(reply, n);
  midi_enqueue(reply, n);
}

int32_t midi_map(const uint8_t* message, int length) {
  if (length < 1) return 0;
  const uint8_t status = message[0];
  if (status >= status_system || (status & channel_mask) != config.midi_channel) return 0;
  midi_echo(message, length);

  const uint8_t kind = status & status_kind_mask;
  if (kind == status_program_change) {
    if (length < 2) return 0;
    return code_program_change + (message[1] & data_mask);
  }
  if (length < 3) return 0;
  const int first = message[1] & data_mask;
  const int second = message[2] & data_mask;
  switch (kind) {
    case status_note_off: return code_note_off + first;
    case status_note_on: return (second == 0 ? code_note_off : code_note_on) + first;
    case status_control_change: {
      MidiMapState& m = midi_map_state;
      if (!dejitter_accepts(m, first, second)) return 0;
      m.cc_filter_value[size_t(first)] = uint16_t(second);
      return code_control_change + second + (int32_t(first) << code_controller_shift);
    }
    default: return 0;
  }
}

bool midi_switch_fires(int controller, int value) {
  if (controller < 0 || controller >= midi_controller_count) return false;
  int16_t& last = config_live.cc_switch_value[controller];
  const bool fires = last <= switch_threshold && value >= switch_threshold;
  last = int16_t(value);
  return fires;
}

void midi_set_echo_peer(MidiMessageSink sink) { midi_map_state.echo_peer = sink; }

void midi_map_reset() { midi_map_state = MidiMapState{}; }
