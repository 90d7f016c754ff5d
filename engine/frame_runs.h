// Frames of a block table read, written and copied run by run: each run stays inside one block
// of the source and one of the destination, so a copy costs one memcpy per run. Main thread;
// the caller decides whether the engine may be reading the same table meanwhile.
#pragma once

#include <cstdint>

#include "pool/pool.h"

using BlockTable = int32_t* const*;  // pool_blocks references, null where there is no block

constexpr int frame_words = 2;  // left, right

// Frame f of the table, or null when its block is missing or f lies outside the table.
inline int32_t* frame_at(BlockTable table, int64_t f) {
  if (f < 0 || f >= int64_t(pool_blocks) * block_frames) return nullptr;
  int32_t* block = table[f / block_frames];
  if (block == nullptr) return nullptr;
  return block + frame_words * (f % block_frames);
}

// count frames from `from` into out (interleaved); a missing block reads as silence.
void read_frames(BlockTable table, int64_t from, int64_t count, int32_t* out);
// count interleaved frames from in to `to`; frames whose block is missing are dropped.
void write_frames(BlockTable table, int64_t to, const int32_t* in, int64_t count);
// count frames of silence from `to`.
void zero_frames(BlockTable table, int64_t to, int64_t count);
// count frames from src at `from` to dst at `to` (different tables, or ranges that do not
// overlap).
void copy_frames(BlockTable src, int64_t from, BlockTable dst, int64_t to, int64_t count);
