#include "engine/track_params.h"

#include <gtest/gtest.h>

#include "engine/track.h"
#include "host/looper.h"

namespace {

class TrackParamsTest : public ::testing::Test {
 protected:
  void SetUp() override { looper_reset(); }
};

TEST_F(TrackParamsTest, FeedbackSetsTheFadeTarget) {
  EXPECT_EQ(set_track_feedback(0, 100), 0);
  EXPECT_EQ(tracks[0].fade_target, 512);
  EXPECT_EQ(set_track_feedback(7, 33), 0);
  EXPECT_EQ(tracks[7].fade_target, 168);  // 33 × 512 / 100, truncated
  EXPECT_EQ(set_track_feedback(1, 0), 0);
  EXPECT_EQ(tracks[1].fade_target, 0);
  EXPECT_EQ(set_track_feedback(-1, 50), -22);
  EXPECT_EQ(set_track_feedback(8, 50), -22);
  EXPECT_EQ(set_track_feedback(2, 101), -22);
  EXPECT_EQ(tracks[2].fade_target, 512);
}

TEST_F(TrackParamsTest, AssignOutputRoutesTheMaskedTracks) {
  assign_output(0x05, 1);
  assign_output(0x80, 2);
  EXPECT_EQ(engine_state.track_output[0], 1);
  EXPECT_EQ(engine_state.track_output[1], 0);
  EXPECT_EQ(engine_state.track_output[2], 1);
  EXPECT_EQ(engine_state.track_output[7], 2);
  assign_output(0x01, 0);
  EXPECT_EQ(engine_state.track_output[0], 0);
}

TEST_F(TrackParamsTest, SpeedKeepsDirectionAndHalfSpeed) {
  EXPECT_EQ(set_track_speed(0, 64), 0);
  EXPECT_EQ(tracks[0].rate, 256);
  EXPECT_EQ(set_track_speed(0, 0), 0);
  EXPECT_EQ(tracks[0].rate, 128);
  tracks[1].rate = -256;
  EXPECT_EQ(set_track_speed(1, 16), 0);  // "Major 3rd": 26 × 64 / 100
  EXPECT_EQ(tracks[1].rate, -160);
  tracks[2].half_speed = 1;
  EXPECT_EQ(set_track_speed(2, 64), 0);
  EXPECT_EQ(tracks[2].rate, 128);
  EXPECT_EQ(set_track_speed(2, 65), -22);
  EXPECT_EQ(set_track_speed(8, 10), -22);
}

}  // namespace
