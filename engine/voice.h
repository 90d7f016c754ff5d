// The playback voices of the per-sample engine: reading a track's stored frame (through its
// segments), the destructive fade, level approach and ramp, mixing, and the advance of the main
// and fading voices. Audio thread only (engine mutex held). The small steps are inline for the
// recording roles; the rare MIDI-clock and clock-out work is out of line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/engine.h"
#include "core/lock.h"

// Where a voice reads: the stored frame (two words, null when the block is missing or the
// position lies outside the block table) and whether its segment is silent.
struct ReadPoint {
  int32_t* frame;
  bool silent;
};

// Frame r of track n, or null.
inline int32_t* track_frame(int n, int32_t r) {
  const uint32_t frame = uint32_t(r);  // negative positions fail the bound as large ones
  if (frame >= uint32_t(max_track_frames)) return nullptr;
  int32_t* block = track_blocks[n][frame / block_frames];
  if (block == nullptr) return nullptr;
  return block + 2 * (frame % block_frames);
}

// Segment j holding position: the last segment, or the first whose successor starts after it.
ReadPoint segment_read_point(const Track& t, int n, int32_t position);

// The frame the main voice of track n plays at its position, with the segment mapping.
inline ReadPoint main_read_point(const Track& t, int n) {
  if (t.segment_count >= 2) return segment_read_point(t, n, t.position);
  return {track_frame(n, t.position), false};
}

// Destructive fade of one stored frame: while fade_gain is below 512 the frame is scaled in place.
// fade_gain moves one step toward fade_target every frame. A write into the block a save is
// writing out is counted (EngineState::saving_block).
inline void apply_fade(Track& t, int32_t* frame) {
  // No fade (target and gain both unity, the usual case) in one comparison of the two words.
  static_assert(offsetof(Track, fade_gain) == offsetof(Track, fade_target) + 4);
  const auto* words = reinterpret_cast<const unsigned char*>(&t) + offsetof(Track, fade_target);
  uint64_t target_and_gain;
  std::memcpy(&target_and_gain, words, sizeof target_and_gain);
  if (target_and_gain == (uint64_t(ramp_unity) << 32 | ramp_unity)) return;
  const int32_t g = t.fade_gain;
  const int32_t target = t.fade_target;
  if (g >= ramp_unity) {
    if (g == target) return;
  } else {
    frame[0] = scale_512(frame[0], g);
    frame[1] = scale_512(frame[1], g);
    t.audio_changed = 1;
    const int32_t* saving = engine_state.saving_block;
    if (saving != nullptr && uintptr_t(frame) - uintptr_t(saving) < uintptr_t(block_bytes))
        [[unlikely]]
      ++engine_state.saving_block_writes;
  }
  t.fade_gain = g < target ? g + 1 : g > target ? g - 1 : g;
}

// Both current levels equal their targets: one comparison of the two pairs as 64-bit words.
inline bool levels_settled(const Track& v) {
  uint64_t current;
  uint64_t target;
  std::memcpy(&current, v.current_level, sizeof current);
  std::memcpy(&target, v.target_level, sizeof target);
  return current == target;
}

// Level approach and ramp on a voice's new samples; records them as its last samples.
inline void shape_voice(Track& v, int32_t& left, int32_t& right) {
  if (!levels_settled(v)) {
    v.current_level[0] =
        approach_level(v.current_level[0], v.target_level[0], left, v.last_sample[0]);
    v.current_level[1] =
        approach_level(v.current_level[1], v.target_level[1], right, v.last_sample[1]);
  }
  int32_t g = v.ramp_gain;
  if (g != ramp_unity) {
    left = scale_512(left, g);
    right = scale_512(right, g);
  }
  const int32_t step = v.ramp_step;
  if (step != 0) {  // a stopped ramp changes nothing
    g += step;
    v.ramp_gain = g;
    if (g == v.ramp_end) v.ramp_step = 0;
  }
  v.last_sample[0] = left;
  v.last_sample[1] = right;
}

// Adds a voice's samples at its levels into its pair, and into the bounce sums when it is a
// bounce source. One channel after the other: the tests between them keep the compiler from
// packing the two adds into vector registers, which costs more than it saves here.
inline void mix_voice(int32_t pair[2], int32_t sums[2], const Track& v, int32_t left,
                      int32_t right) {
  const bool bounce = v.bounce_source != 0;
  const int32_t l = apply_gain(left, v.current_level[0]);
  pair[0] = wrap_add(pair[0], l);
  if (bounce) sums[0] = wrap_add(sums[0], l);
  const int32_t r = apply_gain(right, v.current_level[1]);
  pair[1] = wrap_add(pair[1], r);
  if (bounce) sums[1] = wrap_add(sums[1], r);
}

// The MIDI-clock restart countdown and drift check of a track that follows MIDI clock.
void clock_track_step(Track& t, int mode, int n) REQUIRES(engine_capability);
// The clock-out pulse of the clock-out track at position.
void clock_out_step(int n, int32_t position);

inline void advance_main_voice(Track& t, int mode, int n) REQUIRES(engine_capability) {
  const int32_t step = t.position_fraction + t.rate;
  int32_t position = t.position + (step >> 8);
  t.position_fraction = step & 255;
  if (position < 0 || position >= t.length) {
    position = t.loop_start;
    t.peak_last_pass = t.peak;
    t.loop_count++;
    t.peak = 0;
  }
  t.position = position;
  if (t.clock_source == -2) [[unlikely]] {
    clock_track_step(t, mode, n);
    position = t.position;
  }
  if (n == engine.clock_out_track) clock_out_step(n, position);
  if (position == t.trigger_position) [[unlikely]] {
    t.trigger_hit = 1;
    wake_main_loop();
  }
}

// Main voice of a track in play_list, and fading or second fading voice V of track n: mix into
// pair, and into sums when the voice is a bounce source. Out of line: one compact routine per
// voice keeps the track record's address in a register.
void play_main_voice(Track& t, int n, int32_t pair[2], int32_t sums[2]) REQUIRES(engine_capability);
void play_aux_voice(Track& v, int n, int32_t pair[2], int32_t sums[2]) REQUIRES(engine_capability);

// The output pair (0 main, 1 aux 1, 2 aux 2) a track's output setting names: anything else main.
inline int output_pair_index(int32_t output) {
  const uint32_t k = uint32_t(output);
  return k < uint32_t(output_pairs) ? int(k) : 0;
}

// Of the playing tracks in `voices`, takes the main voices that play straight for the next count
// frames (engine_run_frames at most) and mixes them block by block into e.run_mix and
// e.run_sums (cleared first when it takes any), leaving each voice as count frames of
// play_main_voice would. Returns the tracks it took; the others play frame by frame.
uint32_t mix_straight_voices(Engine& e, uint32_t voices, int count) REQUIRES(engine_capability);
