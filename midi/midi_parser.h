// The MIDI byte parser: assembles received bytes into complete messages (running status,
// System Exclusive, real-time bytes), hands channel messages to the mapper and whole SysEx
// messages to the SysEx handler. Main thread only (the idle tick's input poll).
#pragma once

#include <cstdint>

#include "midi/midi_map.h"

constexpr int midi_message_max = 255;  // bytes of one assembled message, 0xF0 and 0xF7 included

enum class SysexState : uint8_t {
  none,       // not inside a SysEx message
  open,       // 0xF0 seen, collecting data bytes
  overflow,   // too long: the rest is dropped up to the next status byte
};

struct MidiParser {
  uint8_t message[midi_message_max] = {};  // message[0] is the status byte
  uint16_t count = 1;           // bytes held in message
  uint16_t expected = 2;        // count at which the message is complete
  uint16_t running_status = 0;  // last channel status byte 0x80-0xEF; 0 before the first
  SysexState sysex = SysexState::none;
};

struct MidiInput {
  MidiParser parser;
  MidiMessageSink sysex_handler = nullptr;  // gets each complete F0 ... F7 message
};

extern MidiInput midi_input;

// Length of a message opened by this status byte: 3 for notes, poly pressure, controllers and
// pitch bend; 2 for program change and channel pressure; 255 for SysEx; 2 or 3 for the system
// common messages with data; 1 (complete at once) for the others. Data bytes that arrive before
// any status byte pair up with status 0, which maps to nothing.
int midi_message_length(int status);

// Feeds one byte; returns the input code of a message it completes, or 0.
int32_t midi_parse_byte(uint8_t byte);

// Wires the handler of complete SysEx messages (null: they are dropped).
void midi_set_sysex_handler(MidiMessageSink handler);

// Tests: the parser as at program load, no SysEx handler.
void midi_parser_reset();
