#include "engine/listen_ring.h"

#include <algorithm>
#include <cstring>

#include "core/console.h"
#include "core/constants.h"
#include "core/lock.h"

ListenRing listen_ring;

void listen_ring_reset() {
  ListenRing& r = listen_ring;
  for (int32_t*& b : r.blocks) b = nullptr;
  r.block_count = 0;
  r.block = 0;
  r.offset = 0;
  r.cursor = nullptr;
  r.written.store(0);
}

bool listen_ring_start(int32_t seconds) {
  listen_ring_stop();
  if (seconds <= 0) {
    console_printf("Capture ring off\n");
    return true;
  }
  if (seconds > capture_seconds_max) seconds = capture_seconds_max;
  const int64_t frames = int64_t(seconds) * frames_per_second;
  const int32_t count = int32_t((frames + block_frames - 1) / block_frames);
  ListenRing& r = listen_ring;
  int32_t taken = 0;
  int32_t* blocks[capture_ring_max_blocks];
  for (; taken < count; taken++) {
    // The audio thread writes every frame before anyone reads it: old audio does no harm.
    blocks[taken] = pool_alloc_any();
    if (blocks[taken] == nullptr) break;
  }
  if (taken < count) {
    for (int32_t i = 0; i < taken; i++) pool_free(blocks[i]);
    console_printf("Capture ring off: %d blocks for %d s are not free\n", int(count), int(seconds));
    return false;
  }
  {
    EngineLockGuard lock;
    std::copy(blocks, blocks + count, r.blocks);
    r.block_count = count;
    r.block = 0;
    r.offset = 0;
    r.written.store(0);
    r.cursor = r.blocks[0];
  }
  console_printf("Capture ring: the last %d s of input in %d blocks\n", int(seconds), int(count));
  return true;
}

void listen_ring_stop() {
  ListenRing& r = listen_ring;
  int32_t* blocks[capture_ring_max_blocks];
  int32_t count;
  {
    EngineLockGuard lock;
    count = r.block_count;
    std::copy(r.blocks, r.blocks + count, blocks);
    std::fill(r.blocks, r.blocks + count, nullptr);
    r.block_count = 0;
    r.cursor = nullptr;
  }
  for (int32_t i = 0; i < count; i++) pool_free(blocks[i]);
}

void listen_ring_copy(const ListenRing& r, uint64_t from, int64_t count, int32_t* const* dest,
                      int64_t at) {
  while (count > 0) {
    const int64_t in_source = block_frames - int64_t(from % block_frames);
    const int64_t in_dest = block_frames - at % block_frames;
    const int64_t run = std::min({count, in_source, in_dest});
    std::memcpy(dest[at / block_frames] + 2 * (at % block_frames), listen_ring_frame(r, from),
                size_t(run) * 2 * sizeof(int32_t));
    from += uint64_t(run);
    at += run;
    count -= run;
  }
}
