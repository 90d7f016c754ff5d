// What MIDIIN delivered and the looper has not acted on yet. The idle tick's MIDI poll parses
// every byte waiting in the input ring into this queue and takes it in arrival order: a whole
// SysEx message runs when its turn comes, other messages are handed out as one input code per
// tick. A run of values of one continuous controller still waiting is replaced by its newest
// value, so a swept pedal never holds up the note behind it. Main thread only.
#pragma once

#include <cstdint>

#include "midi/midi_map.h"
#include "midi/midi_parser.h"

constexpr uint32_t midi_code_queue_size = 256;  // codes; parsing pauses while the queue is full
constexpr uint32_t midi_sysex_slots = 8;  // SysEx messages; parsing pauses while all are waiting

struct MidiSysexSlot {
  uint8_t bytes[midi_message_max];
  int32_t length;
};

// The controller values one handed-out code stands for.
struct MidiValueRange {
  int low;
  int high;
};

struct MidiCodeQueue {
  int32_t codes[midi_code_queue_size] = {};  // code_sysex: the oldest waiting SysEx's turn
  uint32_t first = 0;                        // index of the oldest code
  uint32_t count = 0;                        // codes waiting
  MidiSysexSlot sysex[midi_sysex_slots] = {};
  uint32_t sysex_first = 0;  // slot of the oldest waiting SysEx message
  uint32_t sysex_count = 0;  // SysEx messages waiting
  uint32_t coalesced = 0;    // controller values passed over for a newer one of the same controller
  // The controller code midi_poll handed out last and the lowest and highest values of the run
  // it ended; 0 when the last poll handed out none.
  int32_t run_code = 0;
  MidiValueRange run_range = {0, 0};
  MidiMessageSink sysex_handler = nullptr;  // runs each whole F0 ... F7 message in its turn
};

extern MidiCodeQueue midi_code_queue;

// True for the value of a continuous controller: a control change whose controller runs no
// switch list and is neither the quantise controller nor the bounce-destination controller 119.
// Only such values may be passed over; notes, program changes, switches and SysEx never are.
bool midi_code_coalescible(int32_t code);

// The idle tick's MIDI input: parses what waits in the input ring into the queue, runs the SysEx
// messages that have reached the front, then returns the oldest code (0 when none). When that
// code is a continuous controller's value and the code after it is a newer value of the same
// controller, the newest of the run is returned instead.
int32_t midi_poll();

// The values a controller code stands for: for the code midi_poll handed out last, every value
// of the run it ended (a swept pedal crossed them all); for any other code, its own value.
MidiValueRange midi_code_range(int32_t code);

// True while codes or bytes wait: the main loop then runs its next pass at once.
bool midi_input_waiting();

// Wires the handler of whole SysEx messages (null: they are dropped).
void midi_set_sysex_handler(MidiMessageSink handler);

// Tests: an empty queue, no SysEx handler.
void midi_code_queue_reset();
