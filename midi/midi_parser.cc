#include "midi/midi_parser.h"

#include "midi/midi_map.h"

MidiParser midi_parser;

namespace {

constexpr int status_bit = 0x80;
constexpr int start_of_exclusive = 0xF0;
constexpr int end_of_exclusive = 0xF7;
constexpr int first_real_time = 0xF8;

// Ready for the next message under running status: a data byte now is its first data byte.
void restart(MidiParser& p) {
  p.count = 1;
  p.message[0] = uint8_t(p.running_status);
  p.expected = uint16_t(midi_message_length(p.running_status));
  p.sysex = SysexState::none;
}

// Returns code_sysex when the end byte completes an open message, which is then held whole.
int32_t end_sysex(MidiParser& p, uint8_t byte) {
  if (p.sysex != SysexState::open) {
    restart(p);
    return 0;
  }
  // count < expected = 255 while open, so the end byte still fits.
  p.message[p.count++] = byte;
  p.sysex = SysexState::complete;
  return code_sysex;
}

}  // namespace

int midi_message_length(int status) {
  if (status < status_bit) return 2;
  switch (status & 0xF0) {
    case 0xC0:  // program change
    case 0xD0:  // channel pressure
      return 2;
    case 0xF0: break;
    default: return 3;
  }
  switch (status) {
    case start_of_exclusive: return midi_message_max;
    case 0xF1:  // time code quarter frame
    case 0xF3:  // song select
      return 2;
    case 0xF2:  // song position
      return 3;
    default: return 1;
  }
}

int32_t midi_parse_byte(uint8_t byte) {
  MidiParser& p = midi_parser;
  if (p.sysex == SysexState::complete) restart(p);

  if (byte == end_of_exclusive) return end_sysex(p, byte);
  if (byte >= first_real_time) {
    // Real-time bytes may sit anywhere, even inside a SysEx, which they leave intact. Inside a
    // channel message they restart it under running status: collected data bytes are lost.
    if (p.sysex == SysexState::none) restart(p);
    return 0;
  }
  if (byte >= start_of_exclusive) {
    // System common: changes no running status; ends any SysEx in progress.
    p.count = 1;
    p.message[0] = byte;
    p.expected = uint16_t(midi_message_length(byte));
    p.sysex = byte == start_of_exclusive ? SysexState::open : SysexState::none;
    if (p.expected == 1) restart(p);  // 0xF4-0xF6: complete at once, nothing to map
    return 0;
  }
  if (byte & status_bit) {
    p.running_status = byte;
    restart(p);
    return 0;
  }

  if (p.sysex == SysexState::overflow) return 0;
  p.message[p.count++] = byte;
  if (p.count < p.expected) return 0;
  if (p.sysex == SysexState::open) {
    // 255 bytes without an end: never handed on; its remaining bytes are dropped.
    restart(p);
    p.sysex = SysexState::overflow;
    return 0;
  }
  const int32_t code = midi_map(p.message, p.count);
  restart(p);
  return code;
}

const uint8_t* midi_parsed_sysex(int* length) {
  const MidiParser& p = midi_parser;
  *length = p.sysex == SysexState::complete ? p.count : 0;
  return p.message;
}

void midi_parser_reset() { midi_parser = MidiParser{}; }
