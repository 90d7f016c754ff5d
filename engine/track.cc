#include "engine/track.h"

#include <cstddef>
#include <cstdint>

Track tracks[track_count];
Track fading_voices[track_count];
Track fading_voices_2[track_count];
EngineState engine_state;
int32_t* track_blocks[track_count][pool_blocks];
int32_t* unscramble_blocks[track_count][pool_blocks];
UndoArea undo_areas[track_count];
int32_t* redo_blocks[undo_level_blocks];
BlockCounts block_counts;

namespace {

void reset_voice(Track& t) {
  t = Track{};
  t.rate = normal_rate;
  t.clock_source = -1;
  t.fade_target = ramp_unity;
  t.fade_gain = ramp_unity;
}

bool within(int32_t* const* entry, const void* table, size_t bytes) {
  const auto at = reinterpret_cast<uintptr_t>(entry);
  const auto first = reinterpret_cast<uintptr_t>(table);
  return at >= first && at < first + bytes;
}

// The counter of the table that holds entry, or null for a table that is not counted.
int32_t* counter_of(int32_t* const* entry) {
  if (within(entry, track_blocks, sizeof track_blocks))
    return &block_counts.track[(entry - &track_blocks[0][0]) / pool_blocks];
  if (within(entry, unscramble_blocks, sizeof unscramble_blocks))
    return &block_counts.unscramble[(entry - &unscramble_blocks[0][0]) / pool_blocks];
  if (within(entry, undo_areas, sizeof undo_areas))
    return &block_counts.undo[(reinterpret_cast<uintptr_t>(entry) -
                               reinterpret_cast<uintptr_t>(undo_areas)) /
                              sizeof(UndoArea)];
  if (within(entry, redo_blocks, sizeof redo_blocks)) return &block_counts.redo;
  return nullptr;
}

int32_t count_refs(const int32_t* const* refs, int count) {
  int32_t used = 0;
  for (int i = 0; i < count; i++) used += refs[i] != nullptr ? 1 : 0;
  return used;
}

}  // namespace

void set_block_ref(int32_t*& entry, int32_t* value) {
  int32_t* counter = counter_of(&entry);
  if (counter != nullptr) *counter += int32_t(value != nullptr) - int32_t(entry != nullptr);
  entry = value;
}

void swap_block_refs(int32_t*& a, int32_t*& b) {
  int32_t* held = a;
  set_block_ref(a, b);
  set_block_ref(b, held);
}

BlockCounts recount_blocks() {
  BlockCounts c{};
  for (int n = 0; n < track_count; n++) {
    c.track[n] = count_refs(track_blocks[n], pool_blocks);
    c.unscramble[n] = count_refs(unscramble_blocks[n], pool_blocks);
    for (const UndoLevel& level : undo_areas[n].levels)
      c.undo[n] += count_refs(level.blocks, undo_level_blocks);
  }
  c.redo = count_refs(redo_blocks, undo_level_blocks);
  return c;
}

bool operator==(const BlockCounts& a, const BlockCounts& b) {
  for (int n = 0; n < track_count; n++)
    if (a.track[n] != b.track[n] || a.undo[n] != b.undo[n] || a.unscramble[n] != b.unscramble[n])
      return false;
  return a.redo == b.redo;
}

void tracks_reset() {
  for (int n = 0; n < track_count; n++) {
    reset_voice(tracks[n]);
    reset_voice(fading_voices[n]);
    reset_voice(fading_voices_2[n]);
    for (int k = 0; k < pool_blocks; k++) {
      track_blocks[n][k] = nullptr;
      unscramble_blocks[n][k] = nullptr;
    }
    UndoArea& undo = undo_areas[n];
    undo.header = UndoHeader{-1, 0, 0, 0, -1, -1};
    for (UndoLevel& level : undo.levels) {
      level = UndoLevel{};
      level.saved_segment_count = 1;
    }
  }
  for (int32_t*& ref : redo_blocks) ref = nullptr;
  block_counts = BlockCounts{};
  engine_state = EngineState{};
}

void begin_crossfade(Track& voice, Track& fading) {
  fading = voice;
  fading.ramp_gain = ramp_unity;
  fading.ramp_end = 0;
  fading.ramp_step = -1;
  voice.ramp_gain = 0;
  voice.ramp_end = ramp_unity;
  voice.ramp_step = 1;
}

uint32_t track_state_snapshot() {
  const EngineState& s = engine_state;
  uint32_t snapshot = 0;
  auto set_role = [&](int32_t n, uint32_t code) {
    if (n >= 0 && n < track_count) snapshot |= code << (4 * n);
    return n >= 0;
  };
  if (!set_role(s.record_track, track_recording) && !set_role(s.overdub_track, track_overdubbing))
    set_role(s.replace_track, track_replacing);
  uint32_t playing = s.play_list;
  for (int n = 0; n < track_count; n++) {
    if (playing & (1u << n)) snapshot |= uint32_t(track_playing) << (4 * n);
    if (track_state_code(snapshot, n) == track_empty && tracks[n].length != 0)
      snapshot |= uint32_t(track_stopped) << (4 * n);
  }
  return snapshot;
}

const char* track_state_word(int code) {
  static constexpr const char* words[] = {"empty",     "playing",     "stopped",
                                          "recording", "overdubbing", "replacing"};
  if (code < 0 || code >= int(sizeof words / sizeof words[0])) return "";
  return words[code];
}
