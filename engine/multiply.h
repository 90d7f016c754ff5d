// Multiplying a loop: its audio repeated behind itself, its clock-out pulses with it, undoable as
// a change of length. Main thread.
#pragma once

#include <cstdint>

// Appends factor - 1 copies of track t's loop: 0, status_refused (bad or busy track),
// status_no_blocks (no blocks).
int multiply_track(int32_t t, int32_t factor);
