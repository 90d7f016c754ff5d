#include "engine/engine.h"

#include <gtest/gtest.h>

#include "tests/fixtures/test_names.h"
#include "tests/fixtures/engine_test_fixture.h"

namespace {

class RoleTest : public EngineTest {
 protected:
  // Input that passes the conditioning unchanged on the first frames: open gate, and the DC
  // estimate of a fresh filter stays 0 for a few frames of small input.
  void SetUp() override {
    EngineTest::SetUp();
    open_gate();
    engine_state.record_gain = ramp_unity;
  }
  static void free_blocks(int count) {
    for (int i = 0; i < count; i++) pool_clean_one();
  }
};

TEST_F(RoleTest, RecordWritesInputAndTakesBlocksAsItGoes) {
  free_blocks(2);
  engine_state.record_track = 6;
  tracks[6].rate = 256;
  for (int i = 0; i < block_frames + 1; i++) {
    EngineFrame f = run(1000, -1000);
    ASSERT_EQ(f.main[0], f.in[0]) << "heard through the dry path only";
  }
  EXPECT_EQ(tracks[6].length, block_frames + 1);
  EXPECT_EQ(pool.free_count, 0);
  ASSERT_NE(track_blocks[6][1], nullptr);
  EXPECT_EQ(stored(6, 0)[0], 1000);
  EXPECT_EQ(stored(6, 0)[1], -999);  // the DC estimate of a negative input starts at -1
  EXPECT_EQ(stored(6, block_frames)[0], engine.last_input[0]);
  EXPECT_EQ(tracks[6].audio_changed, 1);
  EXPECT_EQ(engine_state.record_track, 6);
}

TEST_F(RoleTest, RecordingWithAnEmptyPoolEndsAtOnce) {
  engine_state.record_track = 0;
  tracks[0].rate = 256;
  run(1000, 1000);
  EXPECT_EQ(engine_state.record_track, -1);
  EXPECT_EQ(tracks[0].length, 0);
  EXPECT_EQ(tracks[0].position, 0);
  EXPECT_EQ(track_blocks[0][0], nullptr);
}

TEST_F(RoleTest, PoolExhaustionDiscardsTheTake) {
  free_blocks(2);
  engine_state.record_track = 3;
  tracks[3].rate = 256;
  for (int i = 0; i < 2 * block_frames; i++) run(100, 100);
  EXPECT_EQ(engine_state.record_track, 3);
  const int dirty_before = pool.dirty_count;
  run(100, 100);  // needs a third block
  EXPECT_EQ(engine_state.record_track, -1);
  EXPECT_EQ(tracks[3].length, 0);
  EXPECT_EQ(track_blocks[3][0], nullptr);
  EXPECT_EQ(track_blocks[3][1], nullptr);
  EXPECT_EQ(pool.dirty_count, dirty_before + 2);
  EXPECT_EQ(pool.engine_refused_frees, 0);
}

TEST_F(RoleTest, RecordAtHalfRateWritesEachFrameTwice) {
  free_blocks(1);
  engine_state.record_track = 0;
  tracks[0].rate = 128;
  for (int i = 0; i < 4; i++) run(16 * (i + 1), 0);
  EXPECT_EQ(tracks[0].length, 2);
  EXPECT_EQ(stored(0, 0)[0], 32);  // frames 1 and 2 both wrote index 0; the second stays
  EXPECT_EQ(stored(0, 1)[0], 64);
}

TEST_F(RoleTest, OverdubAddsInputAndPlaysOldAudioAtItsLevel) {
  give_audio(2, 100);
  tracks[2].position = 10;
  tracks[2].current_level[0] = tracks[2].target_level[0] = 6;
  tracks[2].current_level[1] = tracks[2].target_level[1] = 6;
  engine_state.overdub_track = 2;
  EngineFrame f = run(1600, 3200);
  EXPECT_EQ(f.main[0], 1600 + apply_gain(test_left(10), 6));
  EXPECT_EQ(f.main[1], 3200 + apply_gain(test_right(10), 6));
  EXPECT_EQ(stored(2, 10)[0], test_left(10) + 1600);  // stored at full level
  EXPECT_EQ(stored(2, 10)[1], test_right(10) + 3200);
  EXPECT_EQ(tracks[2].position, 11);
  EXPECT_EQ(tracks[2].audio_changed, 1);
}

TEST_F(RoleTest, OverdubFollowsSegmentsAndEndsAtAMissingBlock) {
  give_audio(1, 2 * block_frames);
  Track& t = tracks[1];
  t.segment_count = 2;
  t.segment_start[1] = 10;
  t.segment_source[0] = 1;
  t.segment_source[1] = 0;
  t.segment_silent[0] = 1;
  engine_state.overdub_track = 1;
  EngineFrame f = run(160, 0);
  EXPECT_EQ(f.main[0], 160);                         // silent segment: old audio not heard
  EXPECT_EQ(stored(1, 10)[0], test_left(10) + 160);  // but written through the mapping

  track_blocks[1][1] = nullptr;
  t.segment_count = 1;
  t.position = block_frames;
  run(160, 0);
  EXPECT_EQ(engine_state.overdub_track, -1);
  EXPECT_EQ(t.position, block_frames);
}

struct ReplaceCase {
  int32_t level, keep_original;
};

class ReplaceLevelTest : public RoleTest, public testing::WithParamInterface<ReplaceCase> {};

TEST_P(ReplaceLevelTest, WritesAttenuatedOldAudioPlusInput) {
  const ReplaceCase c = GetParam();
  give_audio(4, 100);
  Track& t = tracks[4];
  t.position = 20;
  t.current_level[0] = t.target_level[0] = c.level;
  t.current_level[1] = t.target_level[1] = c.level;
  t.keep_original = c.keep_original;
  engine_state.replace_track = 4;
  EngineFrame f = run(1600, -1600);
  int32_t kept = apply_gain(test_left(20), c.level);
  EXPECT_EQ(stored(4, 20)[0], kept + 1600);
  EXPECT_EQ(stored(4, 20)[1], apply_gain(test_right(20), c.level) + f.in[1]);
  // Replace+Original hears the stored frame as it was (after any fade, without the ramp).
  EXPECT_EQ(f.main[0], 1600 + kept);
  EXPECT_EQ(t.position, 21);
}

INSTANTIATE_TEST_SUITE_P(Levels, ReplaceLevelTest,
                         testing::Values(ReplaceCase{0, 0}, ReplaceCase{6, 0}, ReplaceCase{6, 1},
                                         ReplaceCase{90, 0}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("level", c.level, "keep", c.keep_original);
                         });

TEST_F(RoleTest, ReplaceOriginalIgnoresTheRamp) {
  give_audio(4, 100);
  Track& t = tracks[4];
  t.position = 63;
  t.ramp_gain = 256;
  t.keep_original = 1;
  engine_state.replace_track = 4;
  EngineFrame f = run(0, 0);
  EXPECT_EQ(f.main[0], test_left(63));
  EXPECT_EQ(stored(4, 63)[0], apply_gain(test_left(63) / 2, 0));
  t.keep_original = 0;
  t.ramp_gain = 256;
  f = run(0, 0);
  EXPECT_EQ(f.main[0], apply_gain(test_left(64) / 2, 0));
}

TEST_F(RoleTest, ReplaceEndsAtAMissingBlock) {
  give_audio(4, 100);
  tracks[4].position = 5;
  track_blocks[4][0] = nullptr;
  engine_state.replace_track = 4;
  run(0, 0);
  EXPECT_EQ(engine_state.replace_track, -1);
  EXPECT_EQ(tracks[4].position, 5);
}

TEST_F(RoleTest, OnlyOneRolePerFrameInOrder) {
  free_blocks(1);
  give_audio(1, 100);
  give_audio(2, 100);
  engine_state.record_track = 0;
  engine_state.overdub_track = 1;
  engine_state.replace_track = 2;
  run(160, 160);
  EXPECT_EQ(tracks[0].length, 1);
  EXPECT_EQ(tracks[1].position, 0);
  EXPECT_EQ(tracks[2].position, 0);
  engine_state.record_track = -1;
  run(160, 160);
  EXPECT_EQ(tracks[1].position, 1);
  EXPECT_EQ(tracks[2].position, 0);
}

TEST_F(RoleTest, RecordGainRampsTheRecordedSignalOnly) {
  free_blocks(1);
  engine_state.record_track = 0;
  tracks[0].rate = 256;
  engine_state.record_gain = 0;
  engine_state.record_gain_step = 1;
  engine_state.record_gain_end = 512;
  for (int i = 0; i < 3; i++) {
    EngineFrame f = run(1024, 1024);
    EXPECT_EQ(f.in[0], scale_512(engine.last_input[0], i)) << i;
    EXPECT_EQ(f.main[0], engine.last_input[0]) << "dry path untouched";
  }
  EXPECT_EQ(stored(0, 2)[0], scale_512(engine.last_input[0], 2));
  for (int i = 3; i < 512; i++) run(0, 0);
  EXPECT_EQ(engine_state.record_gain, 512);
  EXPECT_EQ(engine_state.record_gain_step, 0);
  run(0, 0);
  EXPECT_EQ(engine_state.record_gain, 512);
}

struct MainGainCase {
  int gain;
  int result;
  int32_t expected;  // main output for a dry 4096
};

class MainGainTest : public RoleTest, public testing::WithParamInterface<MainGainCase> {};

TEST_P(MainGainTest, ShiftsTheMainOutput) {
  const MainGainCase c = GetParam();
  EXPECT_EQ(set_main_gain(c.gain), c.result);
  EXPECT_EQ(run(4096, 4096).main[0], c.expected);
}

INSTANTIATE_TEST_SUITE_P(Gains, MainGainTest,
                         testing::Values(MainGainCase{0, 0, 4096}, MainGainCase{3, 0, 32768},
                                         MainGainCase{-2, 0, 1024}, MainGainCase{8, 0, 1048576},
                                         MainGainCase{-8, 0, 16}, MainGainCase{9, -22, 4096},
                                         MainGainCase{-9, -22, 4096}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("gain", c.gain, "result", c.result);
                         });

TEST_F(RoleTest, AuxGainShiftsTheAuxOutputsOnly) {
  give_audio(0, 10);
  engine_state.track_output[0] = 2;
  play(0);
  EXPECT_EQ(set_aux_gain(-1), 0);
  EXPECT_EQ(engine_state.aux_shift_right, 1);
  EngineFrame f = run(4096, 4096);
  EXPECT_EQ(f.aux2[0], test_left(0) / 2);
  EXPECT_EQ(f.main[0], 4096);
}

TEST_F(RoleTest, OutputPeakIsTakenBeforeTheShifts) {
  set_main_gain(-4);
  run(8000, 2000);
  EXPECT_EQ(engine_state.output_peak, 8000);
}

TEST_F(RoleTest, MonoAuxFoldsEachAuxPair) {
  give_audio(0, 10);
  give_audio(1, 10);
  engine_state.track_output[0] = 1;
  engine_state.track_output[1] = 2;
  engine_state.play_list = 0x3;
  tracks[1].position = 4;
  config.mono_aux_out = 1;
  EngineFrame f = run();
  EXPECT_EQ(f.aux1[0], (test_left(0) + test_right(0)) / 2);
  EXPECT_EQ(f.aux1[1], (test_left(4) + test_right(4)) / 2);
  EXPECT_EQ(f.aux2[0], test_left(4));
  EXPECT_EQ(f.aux2[1], test_right(4));
  // Odd negative sums round toward zero.
  tracks[0].position = 0;
  *stored(0, 0) = -16;
  stored(0, 0)[1] = 0;
  f = run();
  EXPECT_EQ(f.aux1[0], -8);
  track_blocks[0][0][0] = -3 * 16;
  tracks[0].position = 0;
  f = run();
  EXPECT_EQ(f.aux1[0], -24);
}

TEST_F(RoleTest, CountersAdvanceEveryFrame) {
  engine_state.frame_counter = 0xFFFFFFFFu;
  run();
  EXPECT_EQ(engine_state.frame_counter, 0u);
  EXPECT_EQ(clock_follower.measure_frames, 1);
}

}  // namespace
