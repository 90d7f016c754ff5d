#include "engine/transport_commands.h"

#include <cstdlib>

#include "tests/fixtures/looper_test_fixture.h"

namespace {

class TransportCommandsTest : public LooperTest {
 protected:
  static bool playing(int32_t t) { return on_list(engine_state.play_list, t); }
};

TEST_F(TransportCommandsTest, RetriggerCrossfadesAndRefusesWhileTheFadeRuns) {
  make_loop(0, 48000, true, 30000);
  tracks[0].ramp_gain = ramp_unity;
  ASSERT_EQ(retrigger_track(0, 0), 0);
  EXPECT_EQ(tracks[0].position, 0);             // back at the loop start
  EXPECT_EQ(fading_voices[0].position, 30000);  // the old pass keeps sounding
  EXPECT_EQ(fading_voices[0].ramp_step, -1);
  EXPECT_TRUE(on_list(engine_state.fading_list, 0));
  console_text();
  EXPECT_EQ(retrigger_track(0, 0), -22);
  EXPECT_EQ(console_text(), "Track 1 already on fading list\n");
  run_frames(512);
  transport_update();  // the finished copy leaves the fading list
  EXPECT_FALSE(on_list(engine_state.fading_list, 0));
  EXPECT_EQ(retrigger_track(0, 0), 0);
}

TEST_F(TransportCommandsTest, RetriggerRefusesEmptyAndBadTracks) {
  console_text();
  EXPECT_EQ(retrigger_track(2, 0), -22);
  EXPECT_EQ(console_text(), "Attempt to play empty track. Track 3\n");
  EXPECT_EQ(retrigger_track(-1, 0), -22);
  EXPECT_EQ(retrigger_track(8, 0), -22);
}

TEST_F(TransportCommandsTest, RetriggerOfAMutedTrackReanchorsWhenNothingPlays) {
  make_loop(0, 40000, false, 1234);
  make_loop(1, 30000, false, 777);
  tracks[1].vsp = 500;
  ASSERT_EQ(retrigger_track(0, 0), 0);
  EXPECT_TRUE(playing(0));
  EXPECT_FALSE(on_list(engine_state.muted_list, 0));
  EXPECT_EQ(tracks[0].position, 0);
  EXPECT_EQ(tracks[1].position, 500);  // every track back at its loop start
}

TEST_F(TransportCommandsTest, RandomRetriggerStartsInsideTheLoop) {
  make_loop(0, 40000);
  srand(7);
  ASSERT_EQ(retrigger_track(0, 1), 0);
  srand(7);
  EXPECT_EQ(tracks[0].position, rand() % 40000);
}

TEST_F(TransportCommandsTest, SilentLoopFollowsThePlayingClockSource) {
  make_loop(0, 96000, true, 0);
  engine_state.clock_source_track = 0;
  tracks[0].ramp_gain = ramp_unity;
  run_frames(30000);
  ASSERT_EQ(fill_silent_loop(2), 0);
  const Track& v = tracks[2];
  EXPECT_TRUE(playing(2));
  EXPECT_EQ(v.length, 96000);
  EXPECT_EQ(v.multiple, 96000);
  EXPECT_EQ(v.clock_source, 0);
  EXPECT_EQ(v.audio_changed, 1);
  EXPECT_EQ(track_phase(v), track_phase(tracks[0]));
  EXPECT_EQ(track_block_count(2), 96000 / block_frames + 2);  // the loop and one block beyond
  for (int32_t p : {0, 50000, 95999}) EXPECT_EQ(left_sample(2, p), 0);
}

TEST_F(TransportCommandsTest, SilentLoopRefusals) {
  EXPECT_EQ(fill_silent_loop(1), -22);  // no clock source
  make_loop(0, 96000, true);
  engine_state.clock_source_track = 0;
  EXPECT_EQ(fill_silent_loop(0), -22);  // the clock source itself
  EXPECT_EQ(fill_silent_loop(8), -22);
  held.hold_all_but(3);
  EXPECT_EQ(fill_silent_loop(1), -12);
  EXPECT_EQ(tracks[1].length, 0);
  EXPECT_EQ(track_block_count(1), 0);
  EXPECT_EQ(state_of(1), track_empty);
}

TEST_F(TransportCommandsTest, FailedBounceLeavesNoSourceForTheNextRecording) {
  make_loop(0, 48000, true);
  tracks[0].ramp_gain = ramp_unity;
  // No MIDI clock runs: a MIDI-synchronised bounce cannot start.
  EXPECT_EQ(start_bounce(2, 0x01, bounce_midi_sync), status_refused);
  EXPECT_EQ(engine_state.bounce_active, 0);
  EXPECT_EQ(tracks[0].bounce_source, 0);
  EXPECT_EQ(engine_state.record_track, -1);
  // A plain recording afterwards neither takes track 1 in nor stops it when it closes.
  ASSERT_EQ(start_record(3, sync_free, 0), 0);
  run_frames(2000);
  ASSERT_EQ(close_loop(3), 0);
  ASSERT_EQ(end_overdub(3), 0);
  EXPECT_EQ(left_sample(3, 1000), 0);  // the input is silent
  EXPECT_EQ(state_of(0), track_playing);
}

TEST_F(TransportCommandsTest, GroupStartRetriggersTheLongestLoopFirst) {
  make_loop(0, 100000, false, 1000);
  make_loop(1, 200000, false, 2000);
  make_loop(2, 50000, false, 3000);
  group_start(0x07, 1, 1, 0);
  for (int t = 0; t < 3; ++t) EXPECT_TRUE(playing(t)) << t;
  // Every track restarted at its loop start: all have run the same frames since.
  EXPECT_EQ(tracks[0].position, tracks[1].position);
  EXPECT_EQ(tracks[2].position, tracks[1].position);
  EXPECT_LT(tracks[1].position, 2000);
}

TEST_F(TransportCommandsTest, SwitchArmedOnACarrierWhoseLoopStartIsItsLengthHappens) {
  make_loop(3, 20000, true, 5000);
  tracks[3].ramp_gain = ramp_unity;
  tracks[3].vsp = 20000;  // a whole loop ahead, as re-anchoring to the MIDI beat can leave it
  make_loop(4, 30000);
  ASSERT_EQ(switch_track(4, switch_play_solo), 0);
  EXPECT_EQ(tracks[3].trigger_position, 0);
  ASSERT_TRUE(run_ticks_until([] { return playing(4); }, 3 * 20000));
  EXPECT_EQ(state_of(3), track_stopped);
}

TEST_F(TransportCommandsTest, SwitchRefusalsPrintAndChangeNothing) {
  console_text();
  EXPECT_EQ(switch_track(8, switch_play_solo), -22);
  EXPECT_EQ(console_text(), "switch: track out of range 9\n");
  EXPECT_EQ(switch_track(1, switch_play_clock), -22);
  EXPECT_EQ(console_text(), "switch: mode play on recording or empty track\n");
  EXPECT_EQ(switch_track(1, switch_play_solo), -22);
  EXPECT_EQ(console_text(), "switch: mode play solo on recording or empty track\n");
  make_loop(1, 20000, true);
  EXPECT_EQ(switch_track(1, switch_record_sync), -22);
  EXPECT_EQ(console_text(), "switch: mode record on playing, overdubbing or replacing track\n");
}

}  // namespace
