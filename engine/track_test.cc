#include "engine/track.h"

#include <gtest/gtest.h>

#include "tests/fixtures/test_names.h"
#include "host/looper.h"

namespace {

class TrackTest : public ::testing::Test {
 protected:
  void SetUp() override { looper_reset(); }
};

TEST_F(TrackTest, ResetGivesEmptyForwardTracks) {
  tracks[2].length = 5;
  tracks[2].rate = -256;
  track_blocks[2][7] = pool.memory[3];
  undo_areas[2].header.newest_level = 4;
  engine_state.play_list = 0xFF;
  tracks_reset();
  for (int n = 0; n < track_count; n++) {
    const Track& t = tracks[n];
    EXPECT_EQ(t.length, 0);
    EXPECT_EQ(t.rate, 256);
    EXPECT_EQ(t.clock_source, -1);
    EXPECT_EQ(t.fade_gain, 512);
    EXPECT_EQ(t.fade_target, 512);
    EXPECT_EQ(fading_voices[n].rate, 256);
    for (int k = 0; k < pool_blocks; k++) ASSERT_EQ(track_blocks[n][k], nullptr);
    const UndoHeader& h = undo_areas[n].header;
    EXPECT_EQ(h.saving_level, -1);
    EXPECT_EQ(h.newest_level, -1);
    EXPECT_EQ(h.oldest_level, -1);
    EXPECT_EQ(undo_areas[n].levels[31].saved_segment_count, 1);
  }
  EXPECT_EQ(engine_state.record_track, -1);
  EXPECT_EQ(engine_state.overdub_track, -1);
  EXPECT_EQ(engine_state.replace_track, -1);
  EXPECT_EQ(engine_state.play_list, 0);
  EXPECT_EQ(engine_state.dry_mask, -1);
  EXPECT_EQ(engine_state.gate_level, 4096);
  EXPECT_EQ(engine_state.gate_delay, 1000);
  EXPECT_EQ(engine_state.record_gain_full, 512);
  EXPECT_EQ(engine_state.redo_track, -1);
  EXPECT_EQ(track_state_snapshot(), 0u);
}

TEST(GainTable, StepsAreOneDecibel) {
  struct Case {
    int index, multiplier, shift;
  } cases[] = {{0, 256, 4},   {1, 228, 4}, {5, 143, 4}, {6, 256, 5},
               {89, 143, 18}, {90, 0, 0},  {511, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(gain_table[c.index].multiplier, c.multiplier) << c.index;
    EXPECT_EQ(gain_table[c.index].shift, c.shift) << c.index;
  }
}

struct SnapshotCase {
  int32_t record, overdub, replace;
  uint16_t play;
  uint8_t with_audio;  // tracks whose length is nonzero
  uint32_t expected;
};

class StateSnapshotTest : public TrackTest, public testing::WithParamInterface<SnapshotCase> {};

TEST_P(StateSnapshotTest, FollowsRolesAndLists) {
  const SnapshotCase c = GetParam();
  engine_state.record_track = c.record;
  engine_state.overdub_track = c.overdub;
  engine_state.replace_track = c.replace;
  engine_state.play_list = c.play;
  for (int n = 0; n < track_count; n++) tracks[n].length = (c.with_audio >> n) & 1 ? 1000 : 0;
  const uint32_t s = track_state_snapshot();
  EXPECT_EQ(s, c.expected) << std::hex << s;
}

INSTANTIATE_TEST_SUITE_P(
    Roles, StateSnapshotTest,
    testing::Values(SnapshotCase{-1, -1, -1, 0, 0, 0x00000000},
                    SnapshotCase{2, -1, -1, 0, 0, 0x00000300},  // recording, not in the play list
                    SnapshotCase{-1, 1, -1, 0, 0x02, 0x00000040},
                    SnapshotCase{-1, -1, 7, 0, 0x80, 0x50000000},
                    // record wins; 3 and 5 stopped with audio
                    SnapshotCase{0, 3, 5, 0, 0x29, 0x00202003},
                    SnapshotCase{-1, -1, -1, 0x05, 0x07, 0x00000121},  // playing 0 and 2, 1 stopped
                    SnapshotCase{-1, -1, -1, 0, 0xFF, 0x22222222}),
    [](const auto& info) {
      const auto& c = info.param;
      return param_case_name("rec", c.record, "dub", c.overdub, "replace", c.replace, "play",
                             c.play, "audio", c.with_audio);
    });

TEST(TrackStateWord, NamesTheCodes) {
  EXPECT_STREQ(track_state_word(track_stopped), "stopped");
  EXPECT_STREQ(track_state_word(track_replacing), "replacing");
}

TEST_F(TrackTest, CrossfadeCopiesTheVoiceAndSwapsRamps) {
  Track& t = tracks[4];
  t.length = 48000;
  t.position = 1234;
  t.rate = -256;
  t.current_level[0] = 7;
  begin_crossfade(t, fading_voices[4]);
  const Track& f = fading_voices[4];
  EXPECT_EQ(f.length, 48000);
  EXPECT_EQ(f.position, 1234);
  EXPECT_EQ(f.rate, -256);
  EXPECT_EQ(f.current_level[0], 7);
  EXPECT_EQ(f.ramp_gain, 512);
  EXPECT_EQ(f.ramp_end, 0);
  EXPECT_EQ(f.ramp_step, -1);
  EXPECT_EQ(t.ramp_gain, 0);
  EXPECT_EQ(t.ramp_end, 512);
  EXPECT_EQ(t.ramp_step, 1);
}

}  // namespace
