// The pattern editor's two display lines for one step of the current pattern. Pure formatting;
// main thread.
#pragma once

#include <cstdint>

#include "drums/drum_machine.h"

constexpr int drum_editor_line_size = 20;  // 16 characters, the line end and the NUL, with room

// Step n (1-based; below 1 wraps to 192, above 192 to 1) of `pattern`: line1 "Beat %d:%d:%02d"
// (measure, beat, tick), line2 "    %s\n" with "12345678", each digit blank where that drum is
// off. Returns the step shown.
int32_t drum_show_step(const DrumPattern& pattern, int32_t n, char* line1, char* line2);
