// The channel filter and code mapper: a complete MIDI message on the configured channel becomes
// an input code (note, controller, program change), is reported to the host, and noisy
// controllers are smoothed. Also the controller-as-switch test. Main thread only.
#pragma once

#include <array>
#include <cstdint>

// Input codes of the four MIDI kinds; the low 16 bits carry the kind.
constexpr int32_t code_note_on = 0x9000;         // + note
constexpr int32_t code_note_off = 0xA000;        // + note (also note on with velocity 0)
constexpr int32_t code_control_change = 0xB000;  // + value + (controller << 16)
constexpr int32_t code_program_change = 0xC000;  // + program
constexpr int32_t kind_mask = 0xFF00;            // code & kind_mask: one of the four kinds above
constexpr int code_controller_shift = 16;

constexpr int midi_controller_count = 128;
constexpr int bounce_destination_cc = 119;   // never filtered; names the next Bounce's destination
constexpr uint16_t cc_filter_none = 0xFFFF;  // no value accepted yet

// Host SysEx reply 0x18 (MIDI echo): header, reply code, type byte, data bytes, 0xF7.
constexpr uint8_t echo_reply_code = 0x18;
constexpr uint8_t echo_type_program = 0;
constexpr uint8_t echo_type_control = 1;
constexpr uint8_t echo_type_note_on = 2;

// Receives a copy of every outgoing host report (the network peer, when one is wired in).
using MidiMessageSink = void (*)(const uint8_t* bytes, int length);

struct MidiMapState {
  // Last value accepted per controller by the de-jitter filter. Set only at program load.
  std::array<uint16_t, midi_controller_count> cc_filter_value = [] {
    std::array<uint16_t, midi_controller_count> values{};
    values.fill(cc_filter_none);
    return values;
  }();
  MidiMessageSink echo_peer = nullptr;
};

extern MidiMapState midi_map_state;

// Maps one complete message (message[0] is the status byte) to an input code, or 0. Reports
// program changes, control changes and notes on of the configured channel to the host first.
int32_t midi_map(const uint8_t* message, int length);

// Sends host reply 0x18 for a program change, control change or note on (to the MIDI output
// queue and the echo peer); other messages send nothing.
void midi_echo(const uint8_t* message, int length);

// The controller-as-switch test for controller c (0-127) with value v: stores v as the
// controller's last value and returns true when the controller's switch list should run, i.e.
// when v is 64 or more and the previous value was 64 or less (or none since the last load).
bool midi_switch_fires(int controller, int value);

// Wires the network peer's copy of the host reports (null: MIDI output only).
void midi_set_echo_peer(MidiMessageSink sink);

// Tests: the de-jitter filter as at program load, no echo peer.
void midi_map_reset();
