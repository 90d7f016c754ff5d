#include "engine/undo.h"

#include <cstring>

#include "core/console.h"
#include "engine/latency.h"
#include "engine/timing.h"
#include "engine/track_load.h"
#include "engine/track_ops.h"
#include "core/lock.h"
#include "pool/pool.h"

namespace {

constexpr int32_t reserve_blocks = undo_level_blocks;  // room for one full level

void release_level_blocks(UndoLevel& level, int32_t first = 0) {
  if (first < 0) first = 0;
  if (first >= undo_level_blocks) return;
  release_block_refs(std::span<int32_t*>(level.blocks + first, size_t(undo_level_blocks - first)));
}

void clear_level(UndoLevel& level) {
  release_level_blocks(level);
  level.kind = 0;
  level.block_count = 0;
  level.saved_length = 0;
  level.saved_segment_count = 1;
}

void release_redo_slot() {
  release_block_refs(redo_blocks);
  EngineState& s = engine_state;
  s.redo_length = 0;
  s.redo_track = -1;
}

// An incremental save that will not complete gives its blocks back; its level is outside the
// ring, so nothing else refers to them.
void abandon_save(int32_t n) {
  UndoArea& area = undo_areas[n];
  const int32_t level = area.header.saving_level;
  if (level < 0) return;
  area.header.saving_level = -1;
  clear_level(area.levels[level]);
}

// The level a new save goes into; moves oldest_level on when the ring is full.
int32_t choose_level(UndoHeader& h) {
  const int32_t c = h.newest_level;
  if (c == undo_levels - 1) {
    if (h.oldest_level == 0) h.oldest_level = 1;
    return 0;
  }
  const int32_t level = c + 1;
  if (level == h.oldest_level) h.oldest_level = c == undo_levels - 2 ? 0 : c + 2;
  return level;
}

void make_newest(UndoHeader& h, int32_t level) {
  h.newest_level = level;
  if (h.oldest_level < 0) h.oldest_level = level;
  h.saving_level = -1;
}

// Copies track block b of track n into dst; a missing block copies as silence.
void copy_block(int32_t* dst, int32_t n, int32_t b) {
  const int32_t* src = track_blocks[n][b];
  if (src != nullptr) {
    std::memcpy(dst, src, block_bytes);
  } else {
    std::memset(dst, 0, block_bytes);
  }
}

// Undoing: the level's blocks go into the track and the track's into the redo slot (emptied
// before), up to the first index where neither the level nor the track holds a block.
void restore_level_blocks(UndoLevel& level, int32_t n) REQUIRES(engine_capability) {
  int32_t** track = track_blocks[n];
  for (int32_t i = 0; i < undo_level_blocks; i++) {
    if (level.blocks[i] == nullptr && track[i] == nullptr) break;
    set_block_ref(redo_blocks[i], track[i]);
    set_block_ref(track[i], level.blocks[i]);
    set_block_ref(level.blocks[i], nullptr);
  }
}

// Redoing exchanges the slot with the track until both hold no block at an index, so a second
// redo exchanges them back.
void exchange_redo_blocks(int32_t n) REQUIRES(engine_capability) {
  int32_t** track = track_blocks[n];
  for (int32_t i = 0; i < undo_level_blocks; i++) {
    if (redo_blocks[i] == nullptr && track[i] == nullptr) break;
    swap_block_refs(redo_blocks[i], track[i]);
  }
}

int32_t blocks_for(int32_t length) {
  return int32_t((int64_t(length) + block_frames - 1) / block_frames);
}

}  // namespace

void undo_clear(int32_t n) {
  if (!valid_track_index(n)) return;
  UndoArea& area = undo_areas[n];
  for (UndoLevel& level : area.levels) clear_level(level);
  // A redo of the track's old audio must not come back over a new take of the same length.
  if (engine_state.redo_track == n) release_redo_slot();
  EngineLockGuard lock;
  area.header.saving_level = -1;
  area.header.newest_level = -1;
  area.header.oldest_level = -1;
}

int undo_save(Track& track, int32_t n, int32_t kind) {
  if (!valid_track_index(n) || kind < undo_incremental || kind > undo_full_copy)
    return status_refused;
  UndoArea& area = undo_areas[n];
  UndoHeader& h = area.header;
  int32_t length;
  int32_t level_index;
  int32_t previous_newest;
  int32_t previous_oldest;
  {
    EngineLockGuard lock;
    length = track.length;
    if (kind != undo_length_only && length >= undo_max_length) return status_refused;
    if (kind == undo_incremental && length <= 0) return status_refused;
    previous_newest = h.newest_level;
    previous_oldest = h.oldest_level;
    level_index = choose_level(h);
  }
  UndoLevel& level = area.levels[level_index];
  const int32_t count = blocks_for(length);
  level.kind = kind;
  level.saved_length = length;
  level.saved_segment_count = track.segment_count;
  level.block_count = kind == undo_length_only ? 0 : count;

  switch (kind) {
    case undo_incremental: {
      release_level_blocks(level, count);
      // From the block the role's write head starts in: the copy keeps ahead of the writes.
      int32_t w = track_write_head(track) / block_frames;
      if (w < 0) w = 0;
      if (w >= count) w = count - 1;
      h.save_next_block = w;
      if (track.rate < 0) {
        h.save_direction = -1;
        h.save_last_block = w + 1 == count ? 0 : w + 1;
      } else {
        h.save_direction = 1;
        h.save_last_block = w == 0 ? count - 1 : w - 1;
      }
      h.saving_level = level_index;
      constexpr int first_steps = 5;  // the blocks nearest the play head are copied at once
      for (int i = 0; i < first_steps; i++) undo_save_step(n);
      return 0;
    }
    case undo_scramble: {
      release_level_blocks(level);
      EngineLockGuard lock;  // at most undo_level_blocks moves of a reference
      for (int32_t i = 0; i < count; i++) {
        set_block_ref(level.blocks[i], unscramble_blocks[n][i]);
        set_block_ref(unscramble_blocks[n][i], nullptr);
      }
      track.scrambled = 0;
      break;
    }
    case undo_length_only:
    case undo_first_take: release_level_blocks(level); break;
    case undo_full_copy: {
      if (!fill_block_refs(std::span<int32_t*>(level.blocks, size_t(count)))) {
        clear_level(level);
        {
          EngineLockGuard lock;
          // The level never joins the ring; one the save overwrote stays dropped.
          h.newest_level = previous_newest;
          if (previous_newest < 0) {
            h.oldest_level = -1;
          } else if (previous_oldest != level_index) {
            h.oldest_level = previous_oldest;
          }
        }
        return status_no_blocks;
      }
      release_level_blocks(level, count);
      for (int32_t i = 0; i < count; i++) copy_block(level.blocks[i], n, i);
      break;
    }
  }
  EngineLockGuard lock;
  make_newest(h, level_index);
  return 0;
}

void undo_save_step(int32_t n) {
  if (!valid_track_index(n)) return;
  UndoArea& area = undo_areas[n];
  UndoHeader& h = area.header;
  const int32_t level_index = h.saving_level;
  if (level_index < 0) return;
  if (level_index >= undo_levels) {
    h.saving_level = -1;
    return;
  }
  UndoLevel& level = area.levels[level_index];
  const int32_t b = h.save_next_block;
  if (b < 0 || b >= level.block_count) {
    // Not a save this code started (the undo area was never reset): nothing to copy.
    abandon_save(n);
    return;
  }
  if (level.blocks[b] == nullptr) {
    int32_t* block = pool_alloc_any();
    if (block == nullptr) {
      console_printf("Undo save failed.\n");
      abandon_save(n);
      return;
    }
    EngineLockGuard lock;
    set_block_ref(level.blocks[b], block);
  }
  // The copy runs ahead of the play head, so the engine does not write this block meanwhile.
  copy_block(level.blocks[b], n, b);
  EngineLockGuard lock;
  if (b == h.save_last_block) {
    make_newest(h, level_index);
    return;
  }
  int32_t next = b + h.save_direction;
  if (next < 0) next = level.block_count - 1;
  if (next >= level.block_count) next = 0;
  h.save_next_block = next;
}

int undo(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  UndoArea& area = undo_areas[t];
  UndoHeader& h = area.header;
  {
    EngineLockGuard lock;
    if (v.length == 0 || track_in_role(t) || h.newest_level < 0) return status_refused;
  }
  release_redo_slot();
  abandon_save(t);
  const int32_t newest = h.newest_level;
  UndoLevel& level = area.levels[newest];
  EngineState& s = engine_state;
  if (level.kind == undo_length_only) {
    {
      EngineLockGuard lock;
      const int32_t saved = level.saved_length;
      v.position = saved > 0 ? wrap_into_loop(v.position, saved) : 0;
      v.length = saved;
      set_play_window(v);
      v.segment_count = 1;
    }
    fit_clock_pulses(t, v.length);  // the multiplied loop's pulses would never come round
  } else {
    {
      EngineLockGuard lock;
      restore_level_blocks(level, t);
      if (level.kind == undo_first_take) {
        const int32_t old_length = v.length;
        const int32_t new_length = level.saved_length;
        level.saved_length = old_length;
        v.length = new_length;
        v.position = int32_t(float(v.position) / float(old_length) * float(new_length));
        set_play_window(v);
        if (new_length == 0) {
          // Back to no audio at all: an empty track plays nowhere.
          list_remove(s.play_list, t);
          list_remove(s.muted_list, t);
        }
      }
      const int32_t segments = v.segment_count;
      v.segment_count = level.saved_segment_count;
      level.saved_segment_count = segments;
      s.redo_length = v.length;
      s.redo_track = t;
      v.audio_changed = 1;
    }
    if (level.kind == undo_first_take) {
      release_redo_slot();
      build_clock_pulses(t, v.length);
      // Back to no audio: the take's saved file goes as well, or it would come back at the
      // next start.
      if (v.length == 0 && track_file_hooks.forget != nullptr) track_file_hooks.forget(t);
    }
  }
  {
    EngineLockGuard lock;
    if (h.newest_level == h.oldest_level) {
      h.newest_level = -1;
      h.oldest_level = -1;
    } else {
      h.newest_level = newest == 0 ? undo_levels - 1 : newest - 1;
    }
  }
  clear_level(level);
  return 0;
}

int redo() {
  EngineState& s = engine_state;
  int32_t t;
  {
    EngineLockGuard lock;
    t = s.redo_track;
    if (!valid_track_index(t) || tracks[t].length != s.redo_length || track_in_role(t))
      return status_refused;
  }
  abandon_save(t);
  EngineLockGuard lock;
  bool empty = true;
  for (const int32_t* entry : redo_blocks) empty = empty && entry == nullptr;
  if (empty) return 0;
  exchange_redo_blocks(t);
  tracks[t].audio_changed = 1;
  return 0;
}

int32_t undo_level_count(int32_t n) {
  const UndoHeader& h = undo_areas[n].header;
  if (h.newest_level < 0 || h.oldest_level < 0) return 0;
  int32_t d = h.newest_level - h.oldest_level;
  if (d < 0) d += undo_levels;
  return d + 1;
}

void undo_drop_oldest(int32_t n) {
  if (!valid_track_index(n)) return;
  UndoArea& area = undo_areas[n];
  UndoHeader& h = area.header;
  int32_t oldest;
  {
    EngineLockGuard lock;
    oldest = h.oldest_level;
    if (oldest < 0) return;
    if (oldest == h.newest_level) {
      h.newest_level = -1;
      h.oldest_level = -1;
    } else {
      h.oldest_level = oldest == undo_levels - 1 ? 0 : oldest + 1;
    }
  }
  clear_level(area.levels[oldest]);
}

void undo_memory_reserve() {
  if (pool_available() >= reserve_blocks) return;
  int32_t best = -1;
  int32_t most = 0;
  for (int32_t n = 0; n < track_count; n++) {
    const int32_t count = undo_level_count(n);
    if (count > most) {
      most = count;
      best = n;
    }
  }
  if (best >= 0) undo_drop_oldest(best);
}
