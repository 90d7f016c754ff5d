// The console's statistics reports: "s" prints the looper statistics (after the pool line) and
// "m" the MIDI statistics. Main thread only; each takes the engine lock briefly for its snapshots.
#pragma once

// Block usage per track, positions, undo state, levels, the captured input's range, the noise
// gate and the DC estimates.
void report_looper_statistics();

// Phase and drift of the MIDI-clock tracks, the clock follower's figures and its interval ring;
// then resets the follower's min/max interval.
void report_midi_statistics();
