// The playback voices of the per-sample engine: reading a track's stored frame (through its
// segments), the destructive fade, level approach and ramp, mixing, and the advance of the main
// and fading voices. Audio thread only (engine mutex held).
#pragma once

#include <cstdint>

#include "engine/engine.h"

// Where a voice reads: the stored frame (two words, null when the block is missing or the
// position lies outside the block table) and whether its segment is silent.
struct ReadPoint {
  int32_t* frame;
  bool silent;
};

// Frame r of track n, or null.
inline int32_t* track_frame(int n, int32_t r) {
  if (uint32_t(r) >= uint32_t(max_track_frames)) return nullptr;
  int32_t* block = track_blocks[n][r / block_frames];
  if (block == nullptr) return nullptr;
  return block + 2 * (r % block_frames);
}

// The frame the main voice of track n plays at its position, with the segment mapping.
ReadPoint main_read_point(const Track& t, int n);

// Destructive fade of one stored frame: while fade_gain is below 512 the frame is scaled in place.
// fade_gain moves one step toward fade_target every frame.
void apply_fade(Track& t, int32_t* frame);

// Level approach and ramp on a voice's new samples; records them as its last samples.
void shape_voice(Track& v, int32_t& left, int32_t& right);

// Main voice of a track in play_list, fading or second fading voice V of track n: mixes into
// pair, and into sums when the voice is a bounce source.
void play_main_voice(Track& t, int n, int32_t pair[2], int32_t sums[2]);
void play_aux_voice(Track& v, int n, int32_t pair[2], int32_t sums[2]);
