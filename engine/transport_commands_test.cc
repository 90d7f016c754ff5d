#include "engine/transport_commands.h"

#include <cstdlib>

#include "engine/looper_test_fixture.h"
#include "panel/midi_mapping.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/input.h"
#include "panel/random_restart.h"
#include "panel/selection.h"

namespace {

class TransportCommandsTest : public LooperTest {
 protected:
  void SetUp() override {
    LooperTest::SetUp();
    selection_reset();
    display_state_reset();
    midi_mapping_reset();
    random_restart_reset();
  }
  static bool playing(int32_t t) { return on_list(engine_state.play_list, t); }
  // Runs the engine and the idle tick's track work until done() holds.
  template <typename Done>
  static bool run_ticks_until(Done done, int64_t frames = 2000000) {
    for (int64_t i = 0; i < frames; i += 64) {
      if (done()) return true;
      run_frames(64);
      transport_update();
    }
    return done();
  }
};

TEST_F(TransportCommandsTest, RetriggerCrossfadesAndRefusesWhileTheFadeRuns) {
  make_loop(0, 48000, true, 30000);
  tracks[0].ramp_gain = ramp_unity;
  ASSERT_EQ(retrigger_track(0, 0), 0);
  EXPECT_EQ(tracks[0].position, 0);                // back at the loop start
  EXPECT_EQ(fading_voices[0].position, 30000);     // the old pass keeps sounding
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
  EXPECT_EQ(console_text(), "Attempt to play empty track. Track idx 2\n");
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

TEST_F(TransportCommandsTest, BounceRecordsTheSelectionOntoTheHighestEmptyTrack) {
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

TEST_F(TransportCommandsTest, BounceUsesTheNamedDestinationOnce) {
  make_loop(0, 48000, true);
  midi_mapping.bounce_destination = 3;  // named by controller 119
  console_text();
  ASSERT_EQ(cmd_bounce(0), 0);
  EXPECT_EQ(console_text(), "bounce dest = 3\n");
  EXPECT_EQ(engine_state.record_track, 2);
}

TEST_F(TransportCommandsTest, BounceWithoutAnEmptyTrackDoesNothing) {
  for (int t = 0; t < 8; ++t) make_loop(t, 20000, t == 0);
  console_text();
  EXPECT_EQ(cmd_bounce(1), -22);
  EXPECT_EQ(console_text(), "bounce dest = 0\n");
  EXPECT_EQ(engine_state.record_track, -1);
}

TEST_F(TransportCommandsTest, SwitchPlayWaitsForTheSwitchedTracksLoopStart) {
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

TEST_F(TransportCommandsTest, SwitchRecordWithNothingPlayingRecordsAtOnce) {
  selection.current_track = 2;
  ASSERT_EQ(cmd_switch(switch_record_sync), 0);
  EXPECT_EQ(engine_state.record_track, 1);
  EXPECT_EQ(tracks[1].clock_source, sync_free);
}

TEST_F(TransportCommandsTest, SwitchPlayWithClockSourceRestartsAMutedUnswitchedSource) {
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

TEST_F(TransportCommandsTest, PlayStopOnAnEmptyCurrentTrackMakesASilentLoop) {
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

TEST_F(TransportCommandsTest, PlayStopClosesARecordingIntoPlay) {
  selection.current_track = 1;
  ASSERT_EQ(cmd_rec_dub(0), 0);
  EXPECT_EQ(state_of(0), track_recording);
  run_frames(10000);
  cmd_play_stop(0);
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(engine_state.overdub_track, -1);
}

TEST_F(TransportCommandsTest, RecDubCyclesRecordOverdubPlay) {
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

TEST_F(TransportCommandsTest, RecDubWithNoTrackChosenStartsOnTrackOne) {
  selection.current_track = 0;
  cmd_rec_dub(0);
  EXPECT_EQ(selection.current_track, 1);
  EXPECT_EQ(state_of(0), track_recording);
}

TEST_F(TransportCommandsTest, PanelTransportKeys) {
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

TEST_F(TransportCommandsTest, RetriggerOncePlaysOnePass) {
  make_loop(0, 30000, false);
  selection.current_track = 1;
  cmd_play(4);
  EXPECT_TRUE(playing(0));
  EXPECT_EQ(tracks[0].trigger_action, action_stop);
  ASSERT_TRUE(run_ticks_until([] { return !playing(0); }));
  EXPECT_EQ(state_of(0), track_stopped);
}

TEST_F(TransportCommandsTest, StopStoresTheReplaySetForReplayAllStop) {
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

TEST_F(TransportCommandsTest, MidiStartArmsTheCurrentTrack) {
  selection.current_track = -2;  // no single track: track 1
  cmd_midi_start(0);
  EXPECT_EQ(tracks[0].trigger_action, action_midi_start);
  EXPECT_EQ(tracks[0].trigger_position, 1);
}

TEST_F(TransportCommandsTest, RandomRestartPlaysOnePassAndComesBack) {
  make_loop(0, 4800, false);
  config.rnd_restart_min = 1;
  config.rnd_restart_max = 1;
  selection.current_track = 1;
  cmd_random_restart(0);
  EXPECT_EQ(selection.random_restart_mask, 0x01);
  EXPECT_TRUE(playing(0));
  ASSERT_TRUE(run_ticks_until([] { return !playing(0); }));
  // Restart time: counter + min 1 + 4800 / 480 + 1 runs of the 10 ms service.
  int restarted_after = 0;
  while (!playing(0) && restarted_after < 100) {
    random_restart_service();
    ++restarted_after;
  }
  EXPECT_TRUE(playing(0));
  EXPECT_EQ(restarted_after, 12);
  cmd_stop(1);  // a stop clears the mark
  EXPECT_EQ(selection.random_restart_mask, 0);
}

}  // namespace
