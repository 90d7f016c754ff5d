// What the MIDI input codes do: the function lists of program changes, notes and switch
// controllers, controllers bound to continuous controller functions, and the bounce destination
// named by controller 119. Main thread only (the input poll's dispatch).
#pragma once

#include <cstdint>

constexpr int32_t bounce_destination_fresh = 0x100;  // set by CC 119, cleared by the next code

struct MidiMapping {
  // Destination track of the next Bounce (1..8) plus bounce_destination_fresh while it has not
  // yet been followed by another input code; 0 when none was named.
  int32_t bounce_destination = 0;
};

extern MidiMapping midi_mapping;

// Runs the work of one MIDI input code (note on, note off, controller or program change).
void midi_dispatch(int32_t code);

// The list of a program change (0..127), switch controller (128 + c) or note (256 + n): true when
// it holds at least one function.
bool midi_list_in_use(int list);

// After a dispatched code: a fresh destination loses its freshness, an old one is forgotten.
void age_bounce_destination();
// The destination track named for the next Bounce, 1..8, or 0.
int bounce_destination_track();

// Tests: no destination named.
void midi_mapping_reset();
