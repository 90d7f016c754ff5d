// Scrambling a loop (its segments copied into a new order, the original kept to undo it) and
// segmenting it for the ostinato functions (the engine plays the segments in a new order), with
// the declicking of the joints both leave.
#include <cstdlib>

#include "core/console.h"
#include "core/lock.h"
#include "engine/editing.h"
#include "engine/editing_support.h"
#include "engine/frame_runs.h"
#include "engine/ostinato.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "engine/undo.h"

namespace {

constexpr int32_t min_segments = 2;
constexpr int declick_start_shift = 24;  // full scale: the joint starts silent
constexpr int declick_shift_step = 4;    // 24 dB less attenuation at each zero crossing
constexpr int64_t sixty_fourths = 64;    // segment lengths are kept in 1/64 frame

bool opposite_signs(int32_t a, int32_t b) { return (a > 0 && b < 0) || (a < 0 && b > 0); }

// Segment length in 1/64 frame, and the frame where segment j starts.
int64_t segment_length_64(int64_t length, int32_t n) { return length * sixty_fourths / n; }
int64_t segment_frame(int64_t s64, int64_t j) { return j * s64 / sixty_fourths; }

// Each of the n segments rises from silence at its start and falls to silence at its end.
void declick_segments(int32_t* const* table, int64_t length, int64_t s64, int32_t n) {
  for (int32_t j = 0; j < n; j++) {
    declick(table, length, segment_frame(s64, j), 1);
    declick(table, length, segment_frame(s64, j + 1) - 1, -1);
  }
}

bool newest_level_is_scramble(int32_t t) {
  const UndoArea& area = undo_areas[t];
  const int32_t newest = area.header.newest_level;
  return newest >= 0 && newest < undo_levels && area.levels[newest].kind == undo_scramble;
}

// The first `count` references of track t's table and its scramble-restore table change places,
// one reference per hold of the engine lock: every entry always names a live block, so a voice
// reading the table meanwhile reads either version.
void swap_with_restore_table(int32_t t, int32_t count) {
  for (int32_t i = 0; i < count; i++) {
    EngineLockGuard lock;
    swap_block_refs(track_blocks[t][i], unscramble_blocks[t][i]);
  }
}

// Mutes t with a fade when it plays, exchanges the tables and plays it.
void exchange_audible(int32_t t, int32_t count) {
  bool playing;
  {
    EngineLockGuard lock;
    playing = on_list(engine_state.play_list, t);
  }
  if (playing) mute_track(t);
  swap_with_restore_table(t, count);
  tracks[t].audio_changed = 1;
  play_track(t);
}

}  // namespace

void declick(int32_t* const* table, int64_t limit, int64_t f, int direction) {
  int shift[2] = {declick_start_shift, declick_start_shift};
  int32_t previous[2] = {0, 0};
  bool tested[2] = {false, false};  // the first frame is not tested
  for (int64_t p = f; p >= 0 && p < limit; p += direction) {
    if (shift[0] == 0 && shift[1] == 0) return;
    int32_t* frame = frame_at(table, p);
    if (frame == nullptr) return;
    for (int c = 0; c < 2; c++) {
      const int32_t v = frame[c];
      if (tested[c] && shift[c] > 0 && (v == 0 || opposite_signs(v, previous[c]))) {
        shift[c] -= declick_shift_step;
        tested[c] = false;  // nor is the frame after a step
      } else {
        tested[c] = true;
      }
      frame[c] = v >> shift[c];
      previous[c] = v;
    }
  }
}

int scramble_track(int32_t t, int32_t n) {
  if (!valid_track_index(t) || n < min_segments || n > max_segments) return status_refused;
  Track& v = tracks[t];
  int64_t length;
  bool busy;
  {
    EngineLockGuard lock;
    length = v.length;
    busy = track_in_role(t);
  }
  if (length == 0 || busy) return status_refused;
  // Pressed again right after a scramble: the scramble is undone.
  if (newest_level_is_scramble(t)) return undo(t);
  const int32_t count = blocks_for_frames(length);
  if (v.scrambled) {
    // The scramble could not become an undo level: its restore table brings the loop back.
    for (int32_t i = 0; i < count; i++) {
      if (unscramble_blocks[t][i] == nullptr) return status_refused;
    }
    exchange_audible(t, count);
    release_unscramble_blocks(t);
    v.scrambled = 0;
    return status_ok;
  }
  const int64_t s64 = segment_length_64(length, n);
  const int64_t tiled = segment_frame(s64, n);
  if (tiled != length) {
    console_printf("Scramble error %d, %d\n", int(tiled), int(length));
    return status_busy;
  }
  int32_t order[max_segments];
  for (int32_t j = 0; j < n; j++) order[j] = j;
  for (int32_t m = n; m >= 2; m--) {
    const int32_t a = n - m;
    const int32_t b = a + rand() % m;
    const int32_t held = order[a];
    order[a] = order[b];
    order[b] = held;
  }
  // Zeroed blocks: where a segment boundary falls between frames, one frame of each segment is
  // not covered by its copy and stays silent.
  release_unscramble_blocks(t);
  for (int32_t i = 0; i < count; i++) {
    int32_t* block = take_zeroed_block();
    if (block == nullptr) {
      release_unscramble_blocks(t);
      return status_refused;
    }
    EngineLockGuard lock;
    set_block_ref(unscramble_blocks[t][i], block);
  }
  const int64_t frames = s64 / sixty_fourths;
  for (int32_t j = 0; j < n; j++) {
    copy_frames(track_blocks[t], segment_frame(s64, j), unscramble_blocks[t],
                segment_frame(s64, order[j]), frames);
  }
  declick_segments(unscramble_blocks[t], length, s64, n);
  v.scrambled = 1;
  exchange_audible(t, count);
  // The unscrambled loop moves into an undo level; pressing a scramble again restores it.
  undo_save(v, t, undo_scramble);
  return status_ok;
}

int segment_track(int32_t t, int32_t n) {
  console_printf("Segment %d by %d\n", int(t + 1), int(n));
  if (!valid_track_index(t) || n < min_segments || n > max_segments) {
    console_printf("Track index or nsegments invalid\n");
    return status_refused;
  }
  Track& v = tracks[t];
  int64_t length;
  bool busy;
  {
    EngineLockGuard lock;
    length = v.length;
    busy = track_in_role(t);
  }
  if (length == 0 || busy) {
    console_printf("Track length %d, is_recording %d\n", int(length), busy ? 1 : 0);
    return status_refused;
  }
  if (undo_save(v, t, undo_full_copy) != status_ok)
    console_printf("Failed to save undo before segmentation.\n");

  const int64_t s64 = segment_length_64(length, n);
  int32_t start[max_segments] = {};
  int32_t source[max_segments] = {};
  int32_t silent[max_segments] = {};
  for (int32_t j = 0; j < n; j++) start[j] = int32_t(segment_frame(s64, j));
  declick_segments(track_blocks[t], length, s64, n);
  for (int32_t j = 0; j < n; j++) source[j] = j;
  for (int32_t j = 0; j + 1 < n; j++) {
    const int32_t k = j + rand() % (n - j);
    const int32_t held = source[j];
    source[j] = source[k];
    source[k] = held;
  }
  int32_t rhythms = 0;
  if (const OstinatoRhythm* set = ostinato_set(n, &rhythms)) {
    // Each gap of the rhythm plays, each hit after it is a silent segment.
    const OstinatoRhythm& r = set[rand() % rhythms];
    int32_t at = 0;
    for (int g = 0; g < r.gap_count; g++) {
      at += r.gaps[g];
      if (at < max_segments) silent[at] = 1;
      at++;
    }
  }
  EngineLockGuard lock;
  for (int32_t j = 0; j < max_segments; j++) {
    v.segment_start[j] = start[j];
    v.segment_source[j] = source[j];
    v.segment_silent[j] = silent[j];
  }
  v.segment_count = n;
  v.audio_changed = 1;
  return status_ok;
}
