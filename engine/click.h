// The click: a short synthesised tick on every beat of the bar clock (the bar's first beat
// accented), heard on the main output only and never recorded. The engine's beat detection
// (count_in_frame) starts a tick; the process callback mixes the period's ticks once per period.
// Audio thread, but for click_reset (start-up, tests).
#pragma once

#include <cstdint>

constexpr int32_t click_frames = 1440;   // 30 ms, long enough to hear, short enough not to blur
constexpr int32_t click_gain_index = 6;  // gain-table index of a plain tick: 6 dB under the accent
constexpr int click_slots = 2;           // ticks that may sound within one period

struct Click {
  int32_t wave[2][click_frames];  // the plain and the accented tick at full gain, 2^24 scale
  uint32_t start[click_slots];    // frame_counter of each tick's first frame
  int8_t accent[click_slots];
  int8_t sounding[click_slots];  // the slot's tick has frames still to play
  int32_t next_slot;
  int32_t sounding_count;  // slots with sounding set: 0 makes the period mix a single test
};
extern Click click;

// Synthesises the two ticks and silences every slot.
void click_reset();

// A tick begins in the frame whose frame_counter is `frame` (engine step, audio thread).
void click_start(uint32_t frame, bool accent);

// Adds the ticks sounding in the period just run to the main output: `frames` float frames, the
// last of them the engine frame `last_frame`. Nothing but one test when no tick sounds.
void click_mix_period(float* left, float* right, uint32_t frames, uint32_t last_frame);
