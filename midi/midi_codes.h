// The input codes parsed from MIDIIN and not yet dispatched. The idle tick's MIDI poll parses
// every byte waiting in the input ring into this queue and hands out one code per tick; a run of
// values of one continuous controller still waiting is replaced by its newest value, so a swept
// pedal never holds up the note behind it. Main thread only.
#pragma once

#include <cstdint>

constexpr uint32_t midi_code_queue_size = 256;  // codes; parsing pauses while the queue is full

struct MidiCodeQueue {
  int32_t codes[midi_code_queue_size] = {};
  uint32_t first = 0;      // index of the oldest code
  uint32_t count = 0;      // codes waiting
  uint32_t coalesced = 0;  // controller values passed over for a newer one of the same controller
};

extern MidiCodeQueue midi_code_queue;

// True for the value of a continuous controller: a control change whose controller runs no
// switch list and is neither the quantise controller nor the bounce-destination controller 119.
// Only such values may be passed over; notes, program changes and switches never are.
bool midi_code_coalescible(int32_t code);

// The idle tick's MIDI input: parses what waits in the input ring into the queue, then returns the
// oldest code (0 when none). When that code is a continuous controller's value and the code after
// it is a newer value of the same controller, the newest of the run is returned instead.
int32_t midi_poll();

// True while codes or bytes wait: the main loop then runs its next pass at once.
bool midi_input_waiting();

// Tests: an empty queue.
void midi_code_queue_reset();
