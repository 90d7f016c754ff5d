// The drum machine: a 24-pulses-per-quarter-note step sequencer with eight voices. Its per-frame
// step runs on the audio thread inside the engine step (engine mutex held).
#pragma once

#include <cstdint>

// Adds the drum machine's frame into the output pair (left, right). Empty until the drum
// machine is built.
inline void drum_step_frame(int32_t pair[2]) { (void)pair; }
