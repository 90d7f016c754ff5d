#include "engine/fades.h"

#include "tests/fixtures/test_names.h"
#include "tests/fixtures/looper_test_fixture.h"

namespace {

class FadesTest : public LooperTest {
 protected:
  // Runs the 10 ms service until track t's fade or swell ends; returns the runs it took.
  static int run_fade(int32_t t) {
    int runs = 0;
    while (fades.fade_direction[t] != 0 && runs < 100000) {
      fade_service();
      runs++;
    }
    return runs;
  }
};

struct TargetCase {
  int32_t atten;
  int32_t pan;
  int32_t left;
  int32_t right;
};

class TargetTest : public FadesTest, public testing::WithParamInterface<TargetCase> {};

TEST_P(TargetTest, PanAttenuatesOneSide) {
  const TargetCase c = GetParam();
  ASSERT_EQ(set_track_atten(1, c.atten), 0);
  ASSERT_EQ(set_track_pan(1, c.pan), 0);
  EXPECT_EQ(tracks[1].target_level[0], c.left);
  EXPECT_EQ(tracks[1].target_level[1], c.right);
  EXPECT_EQ(fades.track_level[1], -c.atten);
}

INSTANTIATE_TEST_SUITE_P(Levels, TargetTest,
                         testing::Values(TargetCase{0, 0, 0, 0}, TargetCase{10, 20, 30, 10},
                                         TargetCase{90, -10, 90, 96}, TargetCase{200, 128, 96, 96}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("atten", c.atten, "pan", c.pan);
                         });

TEST_F(FadesTest, SettersRefuseOutOfRangeValues) {
  EXPECT_EQ(set_track_atten(-1, 10), -22);
  EXPECT_EQ(set_track_atten(8, 10), -22);
  EXPECT_EQ(set_track_atten(0, -1), -22);
  EXPECT_EQ(set_track_atten(0, 201), -22);
  EXPECT_EQ(set_track_pan(0, 129), -22);
  EXPECT_EQ(set_track_pan(0, -129), -22);
  EXPECT_EQ(set_track_pan(8, 0), -22);
  EXPECT_EQ(tracks[0].atten, 0);
  EXPECT_EQ(tracks[0].pan, 0);
}

TEST_F(FadesTest, FadeStepsEveryThirdRunAndSettlesOnTheMinimum) {
  fade_swell(fade_down, 1u << 0);
  EXPECT_EQ(fades.fade_period[0], 3);  // max(10000 / 128, 20) / 20
  EXPECT_EQ(fades.fade_saved_level[0], 0);
  fade_service();
  fade_service();
  EXPECT_EQ(fades.track_level[0], 0);
  fade_service();
  EXPECT_EQ(fades.track_level[0], -1);
  EXPECT_EQ(tracks[0].atten, 1);
  // 128 steps down, one more below the minimum, then back on it.
  EXPECT_EQ(run_fade(0), 3 * 129);
  EXPECT_EQ(fades.track_level[0], -128);
  EXPECT_EQ(tracks[0].atten, 128);
  EXPECT_EQ(tracks[0].target_level[0], 96);
}

TEST_F(FadesTest, FadeFromBelowTheThresholdSwellsBackToUnity) {
  ASSERT_EQ(set_track_atten(0, 120), 0);
  fade_swell(fade_down, 1u << 0);
  EXPECT_EQ(fades.fade_saved_level[0], 0);
  run_fade(0);
  fade_swell(fade_up, 1u << 0);
  EXPECT_EQ(fades.fade_direction[0], 1);
  EXPECT_EQ(fades.fade_period[0], 3);
  run_fade(0);
  EXPECT_EQ(fades.track_level[0], 0);
  EXPECT_EQ(tracks[0].atten, 0);
}

TEST_F(FadesTest, SwellAboveTheSavedLevelDoesNothing) {
  ASSERT_EQ(set_track_atten(2, 20), 0);
  fade_swell(fade_down, 1u << 2);  // saves -20
  fade_cancel(2);
  ASSERT_EQ(set_track_atten(2, 10), 0);  // above the saved level
  fade_swell(fade_up, 1u << 2);
  EXPECT_EQ(fades.fade_direction[2], 0);
}

TEST_F(FadesTest, ToggleTurnsASwellIntoAFadeKeepingItsPeriod) {
  ASSERT_EQ(set_track_atten(0, 60), 0);
  fades.fade_saved_level[0] = 0;
  fade_swell(fade_toggle, 1u << 0);  // idle at or above -116: a fade
  EXPECT_EQ(fades.fade_direction[0], -1);
  fades.fade_direction[0] = 0;
  ASSERT_EQ(set_track_atten(0, 120), 0);
  fade_swell(fade_toggle, 1u << 0);  // idle below the threshold: a swell
  EXPECT_EQ(fades.fade_direction[0], 1);
  const int16_t period = fades.fade_period[0];
  fade_service();
  fade_swell(fade_toggle, 1u << 0);
  EXPECT_EQ(fades.fade_direction[0], -1);
  EXPECT_EQ(fades.fade_target_level[0], -128);
  EXPECT_EQ(fades.fade_period[0], period);
  EXPECT_EQ(fades.fade_counter[0], 1);
}

TEST_F(FadesTest, FadeSwellTouchesOnlyTheMaskedTracks) {
  fade_swell(fade_down, (1u << 1) | (1u << 4));
  for (int t = 0; t < track_count; t++)
    EXPECT_EQ(fades.fade_direction[t], t == 1 || t == 4 ? -1 : 0) << t;
  fade_cancel(1);
  EXPECT_EQ(fades.fade_direction[1], 0);
}

TEST_F(FadesTest, PlayFadeWaitCrossfadesAReplaceIntoPlay) {
  make_loop(0, 30000, true);
  ASSERT_EQ(start_replace(0, 0), 0);
  play_fade_wait(0);
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(engine_state.replace_track, -1);
  EXPECT_EQ(engine_state.record_gain, 0);
  EXPECT_EQ(tracks[0].ramp_gain, ramp_unity);
  EXPECT_EQ(console_text(), "");
}

TEST_F(FadesTest, PlayFadeWaitTimesOutOnAFrozenVoice) {
  make_loop(0, 30000);
  engine_state.replace_track = 0;
  tracks[0].ramp_gain = 0;
  tracks[0].ramp_end = ramp_unity;
  tracks[0].ramp_step = 0;  // a ramp that never moves
  play_fade_wait(0);
  EXPECT_EQ(console_text(), "play_fade_wait: timeout\n");
  EXPECT_EQ(engine_state.replace_track, -1);
  EXPECT_TRUE(on_list(engine_state.play_list, 0));
}

}  // namespace
