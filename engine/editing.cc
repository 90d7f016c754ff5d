#include "engine/editing.h"

#include <array>
#include <cstring>

#include "core/console.h"
#include "core/lock.h"
#include "engine/editing_support.h"
#include "engine/engine_wait.h"
#include "engine/fade_out_copy.h"
#include "engine/frame_runs.h"
#include "engine/timing.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "pool/pool.h"

EditingState editing_state;

namespace {

// One period of the test tone on the 2^24 full scale: a quarter wave rising to 8388598, mirrored
// down to 0 at entry 22, then the negative half.
constexpr std::array<int32_t, test_tone_period> build_test_tone() {
  constexpr int32_t quarter[12] = {0,       1193822, 2363341, 3484750, 4535218, 5493363,
                                   6339679, 7056938, 7630537, 8048801, 8303214, 8388598};
  constexpr int half = test_tone_period / 2;  // 22
  std::array<int32_t, test_tone_period> table{};
  for (int i = 0; i < 12; i++) table[i] = quarter[i];
  for (int i = 12; i <= half; i++) table[i] = quarter[half - i];
  for (int i = half + 1; i < test_tone_period; i++) table[i] = -table[i - half];
  return table;
}
constexpr std::array<int32_t, test_tone_period> test_tone = build_test_tone();
static_assert(test_tone[22] == 0 && test_tone[23] == -1193822 && test_tone[33] == -8388598);
constexpr int test_tone_shift = 2;  // about -18 dB of the table's full scale

constexpr EditMessages copy_messages = {"Copy track nums out of range.\n",
                                        "Destination track is not empty.\n",
                                        "Source track is empty or recording.\n"};

}  // namespace

void editing_reset() {
  EditingState& e = editing_state;
  e.busy_track = -1;
  e.progress = 0;
  e.progress_hook = nullptr;
}

int check_source_and_destination(int32_t s, int32_t d, const EditMessages& messages) {
  if (!valid_track_index(s) || !valid_track_index(d)) {
    console_printf(messages.numbers);
    return status_refused;
  }
  const EngineState& e = engine_state;
  bool destination_used, source_unusable;
  {
    EngineLockGuard lock;
    destination_used = tracks[d].length != 0 || track_in_role(d) || on_list(e.play_list, d);
    source_unusable = tracks[s].length == 0 || track_in_role(s);
  }
  if (destination_used) {
    console_printf(messages.destination_used);
    return status_refused;
  }
  if (source_unusable) {
    console_printf(messages.source_unusable);
    return status_refused;
  }
  return status_ok;
}

BusyTrack::BusyTrack(int32_t d) {
  editing_state.progress = 0;
  editing_state.busy_track = d;
}

BusyTrack::~BusyTrack() { editing_state.busy_track = -1; }

bool take_blocks_for(int32_t t, int64_t frames) {
  const int32_t count = blocks_for_frames(frames);
  if (count > pool_blocks) return false;
  return fill_block_refs(std::span<int32_t*>(track_blocks[t], size_t(count)));
}

void release_blocks_from(int32_t t, int32_t first) {
  if (first < 0) first = 0;
  if (first >= pool_blocks) return;
  release_block_refs(std::span<int32_t*>(track_blocks[t] + first, size_t(pool_blocks - first)));
}

void settle_stretched_track(int32_t s, int32_t d, int32_t length) {
  EngineLockGuard lock;
  const Track& source = tracks[s];
  Track& v = tracks[d];
  reset_loop(v, length);
  v.word_1 = length;
  v.atten = source.atten;
  v.pan = source.pan;
  for (int c = 0; c < 2; c++) {
    v.target_level[c] = source.target_level[c];
    v.current_level[c] = source.current_level[c];
  }
  v.fade_target = ramp_unity;
  v.fade_gain = ramp_unity;
  v.bounce_source = 0;
  v.word_34 = 0;
  v.audio_changed = 1;
  v.audio_saved = 0;
  list_add(engine_state.muted_list, d);
}

int copy_track(int32_t s, int32_t d) {
  if (check_source_and_destination(s, d, copy_messages) != status_ok) return status_refused;
  BusyTrack busy(d);
  // An empty track holds no blocks; anything left behind would be overwritten, so it goes back.
  release_track_blocks(d);
  release_unscramble_blocks(d);
  const int32_t length = tracks[s].length;
  const int32_t count = blocks_for_frames(length);
  // d is on no list: the engine does not read its table while the blocks are filled.
  for (int32_t i = 0; i < count; i++) {
    int32_t* block = pool_alloc_any();
    if (block == nullptr) {
      release_track_blocks(d);
      console_printf("Copy audio failed.\n");
      return status_refused;
    }
    const int32_t* from = track_blocks[s][i];
    if (from != nullptr) {
      std::memcpy(block, from, block_bytes);
    } else {
      std::memset(block, 0, block_bytes);
    }
    EngineLockGuard lock;
    set_block_ref(track_blocks[d][i], block);
  }
  EngineState& e = engine_state;
  bool destination_plays;
  {
    EngineLockGuard lock;
    Track& v = tracks[d];
    v = tracks[s];
    // A pending action belongs to the source; the copy has no scramble-restore table.
    clear_trigger(v);
    v.scrambled = 0;
    v.audio_changed = 1;
    v.audio_saved = 0;
    if (on_list(e.play_list, s)) {
      // The copy plays on from the same frame in the source's place.
      list_remove(e.play_list, s);
      list_add(e.muted_list, s);
      list_add(e.play_list, d);
    } else {
      list_add(e.muted_list, d);
    }
    destination_plays = on_list(e.play_list, d);
  }
  build_clock_pulses(d, length);
  if (!destination_plays) play_track(d);
  return status_ok;
}

int reverse_track(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  const EngineState& e = engine_state;
  bool replacing, recording, overdubbing, fading;
  {
    EngineLockGuard lock;
    replacing = e.replace_track == t;
    recording = e.record_track == t;
    overdubbing = e.overdub_track == t;
    fading = on_list(e.fading_list, t);
  }
  if (replacing) return status_refused;
  if (fading) {
    report_fading_refusal(t);
    return status_refused;
  }
  if (recording) {
    close_loop(t);
    end_overdub(t);
  } else if (overdubbing) {
    end_overdub(t);
  }
  int result;
  {
    EngineLockGuard lock;
    result = start_fade_out_copy(t);
    if (result == status_ok) {
      v.rate = -v.rate;
      set_play_window(v);
    }
  }
  if (result != status_ok) {
    report_fading_refusal(t);
    return result;
  }
  if (overdubbing) {
    // The overdub resumes in the new direction once the voice has faded in.
    wait_for_engine([&] { return v.ramp_gain == v.ramp_end; }, fade_timeout_frames);
    start_overdub(t);
  }
  return status_ok;
}

int toggle_half_speed(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  EngineLockGuard lock;
  if (v.half_speed == 0) {
    v.half_speed = 1;
    v.rate = v.rate >> 1;  // arithmetic: a reversed track stays reversed
  } else {
    v.half_speed = 0;
    v.rate = v.rate * 2;
  }
  return status_ok;
}

int is_reversed(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  EngineLockGuard lock;
  return tracks[t].rate < 0 ? 1 : 0;
}

int fill_test_tone(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  EngineState& e = engine_state;
  {
    EngineLockGuard lock;
    if (track_in_role(t) || on_list(e.play_list, t)) return status_refused;
  }
  if (track_blocks[t][0] == nullptr) {
    int32_t* block = take_zeroed_block();
    if (block == nullptr) return status_refused;
    EngineLockGuard lock;
    set_block_ref(track_blocks[t][0], block);
  }
  Track& v = tracks[t];
  {
    EngineLockGuard lock;
    list_remove(e.muted_list, t);
    reset_loop(v, test_tone_frames);
  }
  // The track is on no list now, so the engine does not read the block while it is written.
  int32_t* block = track_blocks[t][0];
  for (int32_t i = 0; i < test_tone_frames; i++) {
    const int32_t sample = test_tone[size_t(i % test_tone_period)] >> test_tone_shift;
    block[frame_words * i] = sample;
    block[frame_words * i + 1] = sample;
  }
  build_clock_pulses(t, test_tone_frames);
  {
    EngineLockGuard lock;
    v.audio_changed = 1;
    v.position = 0;
    list_add(e.muted_list, t);
  }
  return play_track(t);
}
