#include <gtest/gtest.h>

#include "tests/fixtures/looper_test_fixture.h"
#include "engine/transport_commands.h"
#include "panel/handlers.h"
#include "panel/midi_mapping.h"
#include "panel/selection.h"

namespace {

// The switch and bounce handlers on the current track or selection.
class SwitchHandlersTest : public LooperTest {
 protected:
  static bool playing(int32_t t) { return on_list(engine_state.play_list, t); }
};

TEST_F(SwitchHandlersTest, BounceRecordsTheSelectionOntoTheHighestEmptyTrack) {
  make_loop(0, 48000, true);
  make_loop(1, 48000, true);
  make_loop(2, 48000, true);
  for (int t = 3; t < 6; ++t) make_loop(t, 48000);
  config.groups[0] = 0x03;
  selection.current_track = -1;  // group 1: tracks 1 and 2
  console_text();
  ASSERT_EQ(cmd_bounce(0), 0);
  EXPECT_EQ(console_text(), "bounce dest = 8\n");
  EXPECT_EQ(engine_state.record_track, 7);
  EXPECT_EQ(engine_state.bounce_active, 1);
  EXPECT_EQ(tracks[0].bounce_source, 1);
  EXPECT_EQ(tracks[2].bounce_source, 0);
  EXPECT_EQ(selection.bounce_in_progress, 8);
  run_frames(20000);
  ASSERT_EQ(cmd_bounce(0), 0);  // closes the bounce: the sources stop
  EXPECT_EQ(state_of(7), track_playing);
  EXPECT_EQ(state_of(0), track_stopped);
  EXPECT_EQ(state_of(1), track_stopped);
  EXPECT_EQ(state_of(2), track_playing);
  EXPECT_EQ(engine_state.bounce_active, 0);
  EXPECT_EQ(selection.bounce_in_progress, 0);
}

TEST_F(SwitchHandlersTest, BounceUsesTheNamedDestinationOnce) {
  make_loop(0, 48000, true);
  midi_mapping.bounce_destination = 3;  // named by controller 119
  console_text();
  ASSERT_EQ(cmd_bounce(0), 0);
  EXPECT_EQ(console_text(), "bounce dest = 3\n");
  EXPECT_EQ(engine_state.record_track, 2);
}

TEST_F(SwitchHandlersTest, BounceWithoutAnEmptyTrackDoesNothing) {
  for (int t = 0; t < 8; ++t) make_loop(t, 20000, t == 0);
  console_text();
  EXPECT_EQ(cmd_bounce(1), -22);
  EXPECT_EQ(console_text(), "bounce dest = 0\n");
  EXPECT_EQ(engine_state.record_track, -1);
}

TEST_F(SwitchHandlersTest, SwitchPlayWaitsForTheSwitchedTracksLoopStart) {
  // Tracks 4-7 are switched by default; "Prefer switch:" is "Switch Track".
  make_loop(3, 20000, true, 5000);
  tracks[3].ramp_gain = ramp_unity;
  make_loop(4, 30000);
  selection.current_track = 5;
  ASSERT_EQ(cmd_switch(switch_play_solo), 0);
  EXPECT_EQ(tracks[3].trigger_action, action_switch_solo);
  EXPECT_EQ(tracks[3].trigger_argument, 4);
  run_frames(10000);
  transport_update();
  EXPECT_TRUE(playing(3));  // nothing before the loop start
  EXPECT_FALSE(playing(4));
  ASSERT_TRUE(run_ticks_until([] { return playing(4); }));
  EXPECT_FALSE(playing(3));
  EXPECT_EQ(state_of(3), track_stopped);
}

TEST_F(SwitchHandlersTest, SwitchRecordWithNothingPlayingRecordsAtOnce) {
  selection.current_track = 2;
  ASSERT_EQ(cmd_switch(switch_record_sync), 0);
  EXPECT_EQ(engine_state.record_track, 1);
  EXPECT_EQ(tracks[1].clock_source, sync_free);
}

TEST_F(SwitchHandlersTest, SwitchPlayWithClockSourceRestartsAMutedUnswitchedSource) {
  make_loop(0, 40000);  // clock source, not switched, muted
  engine_state.clock_source_track = 0;
  make_loop(3, 20000, true, 100);  // switched, playing: the carrier
  tracks[3].ramp_gain = ramp_unity;
  make_loop(4, 20000);  // the target
  selection.current_track = 5;
  ASSERT_EQ(cmd_switch(switch_play_clock), 0);
  EXPECT_EQ(tracks[3].trigger_action, action_switch_play);
  ASSERT_TRUE(run_ticks_until([] { return playing(4); }));
  EXPECT_TRUE(playing(0));
  EXPECT_FALSE(playing(3));
}

}  // namespace
