#include "engine/multiply.h"

#include <algorithm>
#include <bitset>
#include <climits>
#include <cstring>

#include "core/console.h"
#include "core/lock.h"
#include "engine/timing.h"
#include "engine/track_ops.h"
#include "engine/undo.h"
#include "pool/pool.h"

namespace {

// Releases the blocks a failed multiply took, clearing their table entries first.
void release_taken(int32_t t, const std::bitset<pool_blocks>& taken) {
  for (int i = 0; i < pool_blocks; i++) {
    if (!taken[i]) continue;
    int32_t* block;
    {
      EngineLockGuard lock;
      block = track_blocks[t][i];
      set_block_ref(track_blocks[t][i], nullptr);
    }
    pool_free(block);
  }
}

// Appends copies 1..factor-1 of the first length frames behind the loop. Destination blocks come
// from the pool as needed; stretches whose source block is missing are skipped. false when the
// pool ran out (taken then names every block this call installed).
bool append_copies(int32_t t, int64_t length, int32_t factor, std::bitset<pool_blocks>& taken) {
  for (int32_t c = 1; c < factor; c++) {
    int64_t src = 0;
    int64_t dst = c * length;
    while (src < length) {
      int64_t run = length - src;
      run = std::min<int64_t>(run, block_frames - src % block_frames);
      run = std::min<int64_t>(run, block_frames - dst % block_frames);
      const int32_t* from = track_blocks[t][src / block_frames];
      if (from != nullptr) {
        int32_t*& entry = track_blocks[t][dst / block_frames];
        if (entry == nullptr) {
          int32_t* block = take_zeroed_block();
          if (block == nullptr) return false;
          EngineLockGuard lock;
          set_block_ref(entry, block);
          taken.set(size_t(dst / block_frames));
        }
        // Beyond the loop's end: the engine reads none of it until the length grows.
        std::memcpy(entry + 2 * (dst % block_frames), from + 2 * (src % block_frames),
                    size_t(run) * 2 * sizeof(int32_t));
      }
      src += run;
      dst += run;
    }
  }
  return true;
}

}  // namespace

int multiply_track(int32_t t, int32_t factor) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  int64_t length;
  {
    EngineLockGuard lock;
    if (track_in_role(t)) return status_refused;
    length = v.length;
  }
  if (length <= 0 || factor < 1 || factor * length > max_track_frames ||
      factor * length > INT32_MAX)
    return status_refused;
  if (factor > 1) {
    std::bitset<pool_blocks> taken;
    if (!append_copies(t, length, factor, taken)) {
      release_taken(t, taken);
      return status_no_blocks;
    }
  }
  undo_save(v, t, undo_length_only);
  int32_t count;
  {
    EngineLockGuard lock;
    count = repeat_clock_pulses(t, factor, length);
    v.length = int32_t(factor * length);
    set_play_window(v);
  }
  console_printf("New clock pulse count %d\n", count);
  return 0;
}
