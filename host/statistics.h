// The console's statistics reports: "s" prints the looper statistics (after the pool line) and
// "m" the MIDI statistics. Main thread only; each takes the engine lock briefly for its snapshots.
#pragma once

// Block usage per track, positions, undo state, levels, the captured input's range, the noise
// gate and the DC estimates.
void report_looper_statistics();

// The longest holds of the engine lock by threads other than the audio thread, with their call
// sites, the longest process callback and the xrun count; then clears the figures, so that each
// report covers the time since the previous one.
void report_lock_statistics();

// Phase and drift of the MIDI-clock tracks, the clock follower's figures and its interval ring;
// then resets the follower's min/max interval.
void report_midi_statistics();
