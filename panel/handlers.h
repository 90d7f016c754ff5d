// The handlers behind the function table and the controller function table: each takes one
// argument, acts on the selected tracks through the engine, and leaves its report for the display.
// Main thread only; they take the engine lock themselves where they change engine state.
#pragma once

#include <cstdint>

// Selection.
int32_t cmd_select_track(int32_t track);    // 0 all tracks, 1..8 one track
int32_t cmd_select_group(int32_t group);    // 1..10
int32_t cmd_next_track(int32_t step);       // +1 next, -1 previous
int32_t cmd_except_track(int32_t unused);   // toggles the Except flag
// The temporary group of one track (track key second event).
void start_temporary_group(int track);

// MIDI output and display settings.
int32_t cmd_midi_stop(int32_t unused);      // sends MIDI Stop
int32_t cmd_midi_bypass(int32_t value);     // zt6_display 0 or 1

// Controller functions: the argument is the whole controller input code.
int32_t cc_general_use(int32_t code);  // quantise steps of all tracks; CC 119 bounce destination
