// Pieces shared by the editing operations: the tests a source and an empty destination must
// pass, the busy mark of a destination under construction and its block table. Main thread.
#pragma once

#include <cstdint>

#include "engine/editing.h"
#include "pool/pool.h"

// The texts an operation prints for each refusal of check_source_and_destination.
struct EditMessages {
  const char* numbers;           // a track outside 0-7
  const char* destination_used;  // d holds audio, records or plays
  const char* source_unusable;   // s is empty, records, overdubs or replaces
};

// status_ok, or status_refused after printing the message of the first failed test.
int check_source_and_destination(int32_t s, int32_t d, const EditMessages& messages);

// Marks track d busy for the remote status while it lives.
class BusyTrack {
 public:
  explicit BusyTrack(int32_t d);
  ~BusyTrack();
  BusyTrack(const BusyTrack&) = delete;
  BusyTrack& operator=(const BusyTrack&) = delete;
};

// Makes sure track t's table holds blocks for frames 0 .. frames - 1, taking missing ones with
// pool_alloc_any (their old contents stay: the caller overwrites them). Each reference is stored
// under the engine lock on its own. False when the pool ran out.
bool take_blocks_for(int32_t t, int64_t frames);
// Gives back every block of track t from block index `first` on.
void release_blocks_from(int32_t t, int32_t first);
// Blocks that hold frames 0 .. frames - 1.
inline int32_t blocks_for_frames(int64_t frames) {
  return int32_t((frames + block_frames - 1) / block_frames);
}

// Destination d of a stretch or pitch change, `length` frames long, as a fresh unsynchronised
// loop with s's level and pan, on the muted list. Takes the engine lock.
void settle_stretched_track(int32_t s, int32_t d, int32_t length);
