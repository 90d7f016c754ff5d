// The capture ring: the conditioned input of the last minute (the length is a start-up option),
// kept in pool blocks taken at start-up, so that a phrase played before anyone pressed Record can
// still become a loop. The audio thread writes one frame per frame (engine mutex held); the main
// thread starts and stops the ring and reads frames out of it without the lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/constants.h"
#include "pool/pool.h"

constexpr int32_t capture_seconds_default = 60;
constexpr int32_t capture_seconds_max = 600;  // ten minutes: 3516 blocks, 43 % of the pool
constexpr int32_t capture_ring_max_blocks =
    (capture_seconds_max * frames_per_second + block_frames - 1) / block_frames;
// A reader keeps this many frames away from the oldest one, which the audio thread overwrites
// next: a copy out of the ring that ends before the writer came round this far read only frames
// that stood still.
constexpr int32_t capture_ring_margin = block_frames;

struct ListenRing {
  int32_t* blocks[capture_ring_max_blocks];
  int32_t block_count;  // 0: the ring is off
  int32_t block;        // the block being written
  int32_t offset;       // the next frame in it
  int32_t* cursor;      // that frame's first word; null while off
  // Frames written since the ring started. Frame a of that count is frame a % block_frames of
  // block (a / block_frames) % block_count while it is among the last block_count × 8192.
  std::atomic<uint64_t> written;
};

extern ListenRing listen_ring;

// Every field to "off", the block references dropped (not released): tests, looper_reset().
void listen_ring_reset();

// Start-up: takes the blocks for `seconds` of input (0: none) and prints what it holds. Returns
// false when the pool could not give them (the ring stays off).
bool listen_ring_start(int32_t seconds);
// Gives the ring's blocks back to the pool; the ring is off afterwards.
void listen_ring_stop();

// Frames the ring holds when full (0 when off).
inline int64_t listen_ring_capacity(const ListenRing& r) {
  return int64_t(r.block_count) * block_frames;
}

// The words of frame a (absolute); the caller checks that it is still in the ring.
inline const int32_t* listen_ring_frame(const ListenRing& r, uint64_t a) {
  return r.blocks[(a / block_frames) % uint64_t(r.block_count)] + 2 * (a % block_frames);
}

// Copies frames [from, from + count) into dest, a block table (dest[k] holds frames k × 8192 …),
// starting at frame at of it; the blocks must be there. Any thread; no lock.
void listen_ring_copy(const ListenRing& r, uint64_t from, int64_t count, int32_t* const* dest,
                      int64_t at);

// Audio thread: appends one frame. A few stores and one compare while the ring is on.
inline void listen_ring_write(ListenRing& r, const int32_t in[2]) {
  int32_t* p = r.cursor;
  if (p == nullptr) return;
  p[0] = in[0];
  p[1] = in[1];
  p += 2;
  if (++r.offset == block_frames) {
    r.offset = 0;
    if (++r.block == r.block_count) r.block = 0;
    p = r.blocks[r.block];
  }
  r.cursor = p;
  r.written.store(r.written.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}
