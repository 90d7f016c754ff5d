#include "engine/track.h"

Track tracks[track_count];
Track fading_voices[track_count];
Track fading_voices_2[track_count];
EngineState engine_state;
int32_t* track_blocks[track_count][pool_blocks];
int32_t* unscramble_blocks[track_count][pool_blocks];
UndoArea undo_areas[track_count];
int32_t* redo_blocks[undo_level_blocks];

namespace {

void reset_voice(Track& t) {
  t = Track{};
  t.rate = 256;  // normal forward speed, 8.8 fixed point
  t.clock_source = -1;
  t.fade_target = ramp_unity;
  t.fade_gain = ramp_unity;
}

}  // namespace

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
