// Loop timing and synchronisation: quantisation step boundaries and the clock-out pulse tables
// (the drum machine primes the clock follower itself, midi/clock.h). Main thread.
#pragma once

#include <cstdint>

#include "core/lock.h"
#include "engine/track.h"

// Loops of this many frames or more cannot be quantised (the step arithmetic is in 1/256 frame).
constexpr int32_t max_quantised_length = 8388608;
constexpr int32_t max_clock_pulses = 2400;

// Next quantisation boundary after the position of track t (0-7) for the given steps;
// status_refused when the loop is empty or too long, or steps < 1.
int32_t quant_step_boundary(int32_t t, int32_t steps);
// The rounded length of a synchronised recording closed at recorded length l with unit s: the
// next multiple of s more than 2 frames beyond l.
int64_t synchronised_length(int64_t l, int64_t s);
// Repeats the first `length` frames' pulses of track t's table factor times, or clears the table
// when they would not fit; the new pulse count. Caller holds the engine lock.
int32_t repeat_clock_pulses(int32_t t, int32_t factor, int64_t length) REQUIRES(engine_capability);
// Rebuilds the clock-out pulse table of track t (0-7) for a loop of the given length.
void build_clock_pulses(int32_t t, int32_t length);
// Fits the pulse table of track t to its loop cut back to `length` frames (an undone multiply):
// when the table holds pulses both within and beyond the loop it keeps those within, else it is
// rebuilt; the next pulse sent is the first after the play head.
void fit_clock_pulses(int32_t t, int32_t length);
