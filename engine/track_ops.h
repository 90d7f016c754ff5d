// Small operations on the track model shared by the transport, undo, timing and fade code: list
// bits, voice ramps, wrapping a position into a loop and releasing a track's blocks. Main thread;
// the list and ramp helpers expect the caller to hold the engine lock.
#pragma once

#include <cstdint>
#include <span>

#include "core/lock.h"
#include "engine/track.h"

inline uint16_t track_bit(int32_t t) { return uint16_t(1u << t); }
inline bool on_list(const EngineWord<uint16_t>& list, int32_t t) {
  return (list.load() & track_bit(t)) != 0;
}
inline void list_add(EngineWord<uint16_t>& list, int32_t t) { list |= track_bit(t); }
inline void list_remove(EngineWord<uint16_t>& list, int32_t t) { list &= uint16_t(~track_bit(t)); }

inline bool valid_track_index(int32_t t) { return t >= 0 && t < track_count; }
inline bool valid_track_number(int32_t k) { return k >= 1 && k <= track_count; }

// t records, overdubs or replaces.
bool track_in_role(int32_t t);
// Any track records, overdubs or replaces.
bool any_role_active();

// 512-frame linear ramps of a voice: in from silence, out to silence.
inline void start_fade_in(Track& v) {
  v.ramp_gain = 0;
  v.ramp_end = ramp_unity;
  v.ramp_step = 1;
}
inline void start_fade_out(Track& v) {
  v.ramp_gain = ramp_unity;
  v.ramp_end = 0;
  v.ramp_step = -1;
}

inline void clear_trigger(Track& v) {
  v.trigger_position = -1;
  v.trigger_hit = 0;
  v.trigger_action = 0;
  v.trigger_argument = 0;
}

// The fields every new loop starts with: length frames played from the start at normal speed as
// one segment, free of any clock, with no start delay, stop countdown, trigger, scramble or
// quantised replace pending. Callers then set what their loop differs in. Caller holds the engine
// lock, and the track is on neither list.
void reset_loop(Track& v, int32_t length) REQUIRES(engine_capability);

// The whole loop as play window, in the track's direction.
inline void set_play_window(Track& v) {
  if (v.rate < 0) {
    v.loop_start = v.length - 1;
    v.loop_end = -1;
  } else {
    v.loop_start = 0;
    v.loop_end = v.length;
  }
}

// p wrapped into 0..length-1; 0 for an empty loop.
inline int32_t wrap_into_loop(int64_t p, int64_t length) {
  if (length <= 0) return 0;
  int64_t r = p % length;
  if (r < 0) r += length;
  return int32_t(r);
}

// Returns every block of track t's block table to the pool; each entry is cleared under the
// engine lock before its block is released, so no voice reads a released block.
// Takes the references out of the table under the engine lock and gives their blocks back, a
// batch per hold (pool_batch_blocks).
void release_block_refs(std::span<int32_t*> table);
// Gives every empty entry of the table a block whose contents are left as they are (for callers
// that overwrite it whole), a batch per hold. False when the pool ran out; the entries filled so
// far keep their blocks.
bool fill_block_refs(std::span<int32_t*> table);
void release_track_blocks(int32_t t);
// The same for the scramble-restore table.
void release_unscramble_blocks(int32_t t);
// A block of zeros: a cleared block when one is ready, else a dirty one cleared here, so blocks
// still waiting for the idle tick's clearing do not count as exhausted. Call without the engine
// lock held (a dirty block is cleared outside it). Null when the pool is empty.
int32_t* take_zeroed_block();
// Blocks in track t's table.
int32_t track_block_count(int32_t t);
