#include <gtest/gtest.h>

#include "tests/fixtures/looper_test_fixture.h"
#include "engine/transport_commands.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/input.h"
#include "panel/selection.h"

namespace {

// The transport handlers and keys on the current track.
class TransportHandlersTest : public LooperTest {
 protected:
  static bool playing(int32_t t) { return on_list(engine_state.play_list, t); }
};

TEST_F(TransportHandlersTest, PlayStopOnAnEmptyCurrentTrackMakesASilentLoop) {
  make_loop(0, 96000, true);
  tracks[0].ramp_gain = ramp_unity;
  engine_state.clock_source_track = 0;
  run_frames(12345);
  selection.current_track = 2;
  cmd_play_stop(0);
  EXPECT_TRUE(playing(1));
  EXPECT_EQ(tracks[1].length, 96000);
  EXPECT_EQ(track_phase(tracks[1]), track_phase(tracks[0]));
  EXPECT_EQ(selection.replay_set, 0x01);
}

TEST_F(TransportHandlersTest, PlayStopClosesARecordingIntoPlay) {
  selection.current_track = 1;
  ASSERT_EQ(cmd_rec_dub(0), 0);
  EXPECT_EQ(state_of(0), track_recording);
  run_frames(10000);
  cmd_play_stop(0);
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(engine_state.overdub_track, -1);
}

TEST_F(TransportHandlersTest, RecDubCyclesRecordOverdubPlay) {
  selection.current_track = 3;
  cmd_rec_dub(0);
  EXPECT_EQ(state_of(2), track_recording);
  EXPECT_STREQ(display_state.tag_text, "REC/D");
  run_frames(10000);
  selection.current_track = 5;  // the recording track wins over the current one
  cmd_rec_dub(0);
  EXPECT_EQ(state_of(2), track_overdubbing);
  cmd_rec_dub(0);
  EXPECT_EQ(state_of(2), track_playing);
  cmd_rec_dub(0);  // nothing records or overdubs now: the current track 5 records
  EXPECT_EQ(state_of(4), track_recording);
}

TEST_F(TransportHandlersTest, RecDubWithNoTrackChosenStartsOnTrackOne) {
  selection.current_track = 0;
  cmd_rec_dub(0);
  EXPECT_EQ(selection.current_track, 1);
  EXPECT_EQ(state_of(0), track_recording);
}

TEST_F(TransportHandlersTest, PanelTransportKeys) {
  selection.current_track = 2;
  dispatch_key(0x0840);  // Rec/Dub
  EXPECT_EQ(state_of(1), track_recording);
  run_frames(5000);
  dispatch_key(0x1040);  // Play/Stop: the recording closes into play
  EXPECT_EQ(state_of(1), track_playing);
  dispatch_key(0x1041);  // Stop Now
  EXPECT_EQ(state_of(1), track_stopped);
  dispatch_key(0x0841);  // Erase
  EXPECT_EQ(state_of(1), track_empty);
}

TEST_F(TransportHandlersTest, RetriggerOncePlaysOnePass) {
  make_loop(0, 30000, false);
  selection.current_track = 1;
  cmd_play(4);
  EXPECT_TRUE(playing(0));
  EXPECT_EQ(tracks[0].trigger_action, action_stop);
  ASSERT_TRUE(run_ticks_until([] { return !playing(0); }));
  EXPECT_EQ(state_of(0), track_stopped);
}

TEST_F(TransportHandlersTest, StopStoresTheReplaySetForReplayAllStop) {
  make_loop(0, 30000, true);
  make_loop(2, 30000, true);
  make_loop(4, 30000, false);
  cmd_replay_all_stop(0);  // active tracks: stopped now, remembered
  EXPECT_STREQ(display_state.tag_text, "STOP");
  EXPECT_EQ(selection.replay_set, 0x05);
  EXPECT_EQ(engine_state.play_list, 0);
  cmd_replay_all_stop(0);  // nothing active: the remembered tracks start again
  EXPECT_STREQ(display_state.tag_text, "RP/SA");
  EXPECT_EQ(engine_state.play_list, 0x05);
}

TEST_F(TransportHandlersTest, MidiStartArmsTheCurrentTrack) {
  selection.current_track = -2;  // no single track: track 1
  cmd_midi_start(0);
  EXPECT_EQ(tracks[0].trigger_action, action_midi_start);
  EXPECT_EQ(tracks[0].trigger_position, 1);
}

}  // namespace
