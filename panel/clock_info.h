// "MIDI clock info": the two-line message of the MIDI clock tempo and the follower's diagnostics,
// shown from the track menus. Main thread; reads the follower under the engine lock.
#pragma once

#include <cstdint>

constexpr int clock_info_line_size = 24;  // 17 characters of diagnostics and the NUL, with room

// Line 1 "MIDI BPM %d" (or "MIDI BPM error" at 400 BPM and above); line 2, cut to 17
// characters: from the all-tracks menu (track < 0) "%d %d %d %d %d" with the period, the lock
// lost count, the flywheel drift, min_diff and max_diff; from the track menu of track 0-7
// "%d %d" with the period and that track's smoothed MIDI error. Resets min_diff and max_diff.
void midi_clock_info(int32_t track, char* line1, char* line2);
