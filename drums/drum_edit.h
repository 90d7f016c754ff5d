// Edits of the pattern bank and the tempo: the operations behind the "Drum Machine" menu and
// the pattern editor. Main thread; each store is made under the engine lock (the audio thread
// reads the bank every sample) and marks the bank for saving.
#pragma once

#include <cstdint>

#include "drums/drum_machine.h"

// Makes pattern `number` (1..64) current; a pattern whose tempo was never set gets 120 BPM; then
// its tempo is applied. status_refused for a number out of range.
int32_t drum_select_pattern(int32_t number);
// The current pattern's tempo (60..200), applied at once.
int32_t drum_set_bpm(int32_t bpm);
// Gain of all drums and of drum 0-7 in dB (-96..0); pan of drum 0-7 (-96..96).
int32_t drum_set_all_gain(int32_t db);
int32_t drum_set_gain(int32_t drum, int32_t db);
int32_t drum_set_pan(int32_t drum, int32_t pan);
// Flips drum 0-7 on step 0-191 of the current pattern.
int32_t drum_toggle_step(int32_t step, int32_t drum);

// The current pattern (null when the current pattern number is out of range).
const DrumPattern* drum_current_pattern();
