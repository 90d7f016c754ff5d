// Undo and redo: per track a ring of up to 32 levels (copies of the track's blocks, or only its
// length), filled incrementally ahead of the play head, and one redo slot shared by all tracks.
// Main thread (transport, editing, the idle tick); state changes under the engine lock.
#pragma once

#include <cstdint>

#include "engine/track.h"

// How a level was saved.
enum UndoKind : int32_t {
  undo_incremental = 0,  // audio copied block by block from the play head (overdub, replace)
  undo_scramble = 1,     // the scramble-restore blocks moved into the level
  undo_length_only = 2,  // length and segment count only
  undo_first_take = 3,   // no audio worth keeping: length and segment count
  undo_full_copy = 4,    // audio copied at once
};

// Tracks at least this long cannot keep an audio level.
constexpr int32_t undo_max_length = undo_level_blocks * block_frames;  // 1482752 frames

// Releases every block of every level of track n (0-7) and empties its ring; the redo slot too
// when it holds track n's audio.
void undo_clear(int32_t n);
// Saves a level of track n (0-7, track = tracks[n]) before an operation changes it: 0,
// status_refused for a track too long for an audio level, status_no_blocks when a full copy finds
// no blocks.
int undo_save(Track& track, int32_t n, int32_t kind);
// Copies one block of the incremental save of track n, if one is running.
void undo_save_step(int32_t n);
// Undoes the newest level of track t: 0 or status_refused.
int undo(int32_t t);
// Swaps the redo slot back into its track: 0 or status_refused.
int redo();
void undo_drop_oldest(int32_t n);
// When the pool runs low, drops the oldest level of the track with the most levels.
void undo_memory_reserve();
// Levels in the ring of track n.
int32_t undo_level_count(int32_t n);
