// The MIDI byte parser: assembles received bytes into complete messages (running status,
// System Exclusive, real-time bytes), hands channel messages to the mapper and reports each
// whole SysEx message, which it holds until the next byte. Main thread only (the idle tick's
// input poll).
#pragma once

#include <cstdint>

constexpr int midi_message_max = 255;  // bytes of one assembled message, 0xF0 and 0xF7 included
// What midi_parse_byte returns for a complete SysEx message (no mapped code is of this kind).
constexpr int32_t code_sysex = 0xF000;

enum class SysexState : uint8_t {
  none,      // not inside a SysEx message
  open,      // 0xF0 seen, collecting data bytes
  overflow,  // too long: the rest is dropped up to the next status byte
  complete,  // 0xF7 ended it: the whole message is held until the next byte
};

struct MidiParser {
  uint8_t message[midi_message_max] = {};  // message[0] is the status byte
  uint16_t count = 1;                      // bytes held in message
  uint16_t expected = 2;                   // count at which the message is complete
  uint16_t running_status = 0;             // last channel status byte 0x80-0xEF; 0 before the first
  SysexState sysex = SysexState::none;
};

extern MidiParser midi_parser;

// Length of a message opened by this status byte: 3 for notes, poly pressure, controllers and
// pitch bend; 2 for program change and channel pressure; 255 for SysEx; 2 or 3 for the system
// common messages with data; 1 (complete at once) for the others. Data bytes that arrive before
// any status byte pair up with status 0, which maps to nothing.
int midi_message_length(int status);

// Feeds one byte; returns the input code of a message it completes, code_sysex for a whole
// SysEx message, or 0.
int32_t midi_parse_byte(uint8_t byte);

// After midi_parse_byte returned code_sysex and before the next byte: the message, F0 ... F7,
// and its length.
const uint8_t* midi_parsed_sysex(int* length);

// Tests: the parser as at program load.
void midi_parser_reset();
