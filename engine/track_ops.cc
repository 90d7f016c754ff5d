#include "engine/track_ops.h"

#include <algorithm>
#include <cstring>

#include "core/lock.h"
#include "engine/transport.h"
#include "pool/pool.h"

void release_block_refs(std::span<int32_t*> table) {
  for (size_t i = 0; i < table.size();) {
    int32_t* blocks[pool_batch_blocks];
    int count = 0;
    {
      EngineLockGuard lock;
      const size_t end = std::min(table.size(), i + size_t(pool_batch_entries));
      for (; i < end && count < pool_batch_blocks; i++) {
        if (table[i] == nullptr) continue;
        blocks[count++] = table[i];
        set_block_ref(table[i], nullptr);
      }
    }
    pool_free_batch(blocks, count);
  }
}

bool fill_block_refs(std::span<int32_t*> table) {
  for (size_t i = 0; i < table.size();) {
    EngineLockGuard lock;
    const size_t end = std::min(table.size(), i + size_t(pool_batch_entries));
    for (int taken = 0; i < end && taken < pool_batch_blocks; i++) {
      if (table[i] != nullptr) continue;
      int32_t* block = pool_alloc_any();  // nested in this hold
      if (block == nullptr) return false;
      set_block_ref(table[i], block);
      taken++;
    }
  }
  return true;
}

bool track_in_role(int32_t t) {
  const EngineState& s = engine_state;
  return s.record_track == t || s.overdub_track == t || s.replace_track == t;
}

bool any_role_active() {
  const EngineState& s = engine_state;
  return s.record_track >= 0 || s.overdub_track >= 0 || s.replace_track >= 0;
}

void reset_loop(Track& v, int32_t length) {
  expect_engine_lock(__func__);
  v.length = length;
  v.position = 0;
  v.position_fraction = 0;
  v.rate = normal_rate;
  v.half_speed = 0;
  v.loop_start = 0;
  v.loop_end = length;
  v.multiple = 0;
  v.vsp = 0;
  v.clock_source = sync_free;
  v.clock_period = 0;
  v.start_delay = 0;
  v.stop_countdown = 0;
  v.loop_count = 0;
  v.drift_count = 0;
  v.segment_count = 1;
  v.scrambled = 0;
  v.q_replace_steps = 0;
  clear_trigger(v);
}

void release_track_blocks(int32_t t) { release_block_refs(track_blocks[t]); }

void release_unscramble_blocks(int32_t t) { release_block_refs(unscramble_blocks[t]); }

int32_t* take_zeroed_block() {
  int32_t* block = pool_alloc_zeroed();
  if (block != nullptr) return block;
  block = pool_alloc_any();
  if (block != nullptr) std::memset(block, 0, block_bytes);
  return block;
}

int32_t track_block_count(int32_t t) {
  int32_t count = 0;
  for (const int32_t* entry : track_blocks[t]) count += entry != nullptr;
  return count;
}
