#include "engine/transport.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/fixtures/test_names.h"
#include "tests/fixtures/looper_test_fixture.h"
#include "engine/timing.h"

namespace {

class TransportTest : public LooperTest {
 protected:
  // Records a free loop on track t of about frames frames and closes and ends it: PLAY.
  void record_free_loop(int32_t t, int32_t frames) {
    ASSERT_EQ(start_record(t, sync_free, 0), 0);
    ASSERT_TRUE(run_until([&] { return tracks[t].length >= frames; }));
    ASSERT_EQ(close_loop(t), 0);
    ASSERT_EQ(end_overdub(t), 0);
  }
  // Track 0: a 100000-frame clock source playing at position.
  void clock_source_at(int32_t position) {
    make_loop(0, 100000, true, position);
    engine_state.clock_source_track = 0;
  }
};

TEST_F(TransportTest, RecDubThreeTimesRecordsOverdubsAndPlays) {
  ASSERT_EQ(start_record(0, sync_free, 0), 0);
  EXPECT_EQ(state_of(0), track_recording);
  EXPECT_EQ(engine_state.clock_source_track, 0);  // the first loop becomes the clock source
  run_frames(30000);
  const int32_t recorded = tracks[0].length;
  EXPECT_GE(recorded, 30000);

  ASSERT_EQ(close_loop(0), 0);
  EXPECT_EQ(state_of(0), track_overdubbing);
  EXPECT_EQ(tracks[0].position, 0);
  EXPECT_EQ(tracks[0].length, recorded);
  EXPECT_EQ(tracks[0].loop_end, recorded);

  ASSERT_EQ(end_overdub(0), 0);
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(engine_state.overdub_track, -1);
  EXPECT_EQ(engine_state.record_gain, 0);  // punched out
  EXPECT_EQ(track_block_count(0), (recorded + block_frames - 1) / block_frames);
  EXPECT_EQ(engine.clock_pulse_count[0], 96);  // one 4-beat measure of pulses
}

TEST_F(TransportTest, RecordStartersRefuseWhileARoleIsActiveOrTheTrackPlays) {
  make_loop(1, 20000, true);
  EXPECT_EQ(start_record(1, sync_free, 0), -22);  // playing
  EXPECT_EQ(start_record(8, sync_free, 0), -22);
  EXPECT_EQ(start_record(0, 9, 0), -22);
  ASSERT_EQ(start_record(0, sync_free, 0), 0);
  EXPECT_EQ(start_record(2, sync_free, 0), -22);  // track 0 records
  EXPECT_EQ(engine_state.record_track, 0);
}

// Synchronised recording started at 70 % of a 100000-frame clock source, closed at various
// recorded lengths: the loop is rounded to the next multiple more than 2 frames ahead.
struct SyncCloseCase {
  int32_t recorded;
  int32_t length;
};

class SyncCloseTest : public TransportTest, public testing::WithParamInterface<SyncCloseCase> {};

TEST_P(SyncCloseTest, RoundsToTheNextMultipleAndOverdubsTheRest) {
  const SyncCloseCase c = GetParam();
  clock_source_at(70000);
  ASSERT_EQ(start_record(1, 0, 0), 0);
  Track& v = tracks[1];
  EXPECT_EQ(v.multiple, 100000);
  EXPECT_EQ(v.vsp, 30000);  // the loop counts from the source's next loop start
  EXPECT_EQ(v.clock_source, 0);
  ASSERT_TRUE(run_until([&] { return v.length >= c.recorded; }));
  ASSERT_EQ(v.length, c.recorded);

  ASSERT_EQ(close_loop(1), 0);
  EXPECT_EQ(v.length, c.length);
  EXPECT_EQ(v.loop_end, c.length);
  EXPECT_EQ(v.position, c.recorded);  // overdubbing on from where the recording stopped
  EXPECT_EQ(engine_state.overdub_track, 1);
  EXPECT_EQ(engine_state.record_track, -1);
  EXPECT_EQ(v.vsp, 30000);
  for (int32_t b = 0; b <= (c.length - 1) / block_frames; b++)
    EXPECT_NE(track_blocks[1][b], nullptr) << "block " << b;

  // The overdub runs up to the new end and wraps to the loop start.
  ASSERT_TRUE(run_until([&] { return v.position < c.recorded; }));
  EXPECT_EQ(engine_state.overdub_track, 1);
  EXPECT_EQ(v.position, 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SyncCloseTest,
                         testing::Values(SyncCloseCase{150000, 200000},
                                         SyncCloseCase{99997, 100000}, SyncCloseCase{99998, 200000},
                                         SyncCloseCase{99999, 200000}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("recorded", c.recorded, "length", c.length);
                         });

TEST_F(TransportTest, SyncRecordingInTheFirstHalfCountsFromTheLastLoopStart) {
  clock_source_at(20000);
  ASSERT_EQ(start_record(1, 0, 0), 0);
  EXPECT_EQ(tracks[1].vsp, -20000);
  ASSERT_TRUE(run_until([&] { return tracks[1].length >= 50000; }));
  ASSERT_EQ(close_loop(1), 0);
  EXPECT_EQ(tracks[1].vsp, 80000);  // normalised into the loop
}

TEST_F(TransportTest, SyncRecordingAgainstItselfIsFreeAndKeepsTheClockSource) {
  make_loop(0, 50000);
  engine_state.clock_source_track = 0;
  ASSERT_EQ(start_record(0, 0, 0), 0);
  EXPECT_EQ(tracks[0].clock_source, sync_free);
  EXPECT_EQ(tracks[0].multiple, 0);
  EXPECT_EQ(engine_state.clock_source_track, 0);
  EXPECT_EQ(track_block_count(0), 1);  // the old audio is gone; the new take has begun
}

TEST_F(TransportTest, MidiRecordingWithoutClockLeavesTheTrackEmpty) {
  make_loop(2, 30000);
  const int available = pool_available();
  EXPECT_EQ(start_record(2, sync_midi, 0), -22);
  EXPECT_EQ(state_of(2), track_empty);
  EXPECT_EQ(engine_state.record_track, -1);
  EXPECT_EQ(engine_state.clock_source_track, -1);
  EXPECT_EQ(tracks[2].clock_source, sync_free);
  EXPECT_EQ(track_block_count(2), 0);
  EXPECT_EQ(pool_available(), available + 4);  // the old take's blocks are back
}

TEST_F(TransportTest, MidiRecordingTakesItsUnitFromTheClockOrAnotherMidiTrack) {
  clock_follower.clock_period = 1000;
  clock_follower.clock_lock = -1;  // no ticks follow; keep the period as set
  clock_follower.beat_position = 300;
  clock_follower.measure_frames = 1234;
  ASSERT_EQ(start_record(0, sync_midi, 0), 0);
  EXPECT_EQ(tracks[0].multiple, 95999);  // 4 beats × 24 pulses × 1000 frames, less one
  EXPECT_EQ(tracks[0].clock_period, 1000);
  EXPECT_EQ(tracks[0].vsp, -300);
  EXPECT_EQ(tracks[0].measure_offset, 1234);
  ASSERT_EQ(close_loop(0), 0);
  ASSERT_EQ(end_overdub(0), 0);
  EXPECT_EQ(engine.clock_pulse_count[0], 0);  // MIDI-clocked loops send no pulses

  clock_follower.clock_period = 1100;  // the other track's period wins for an open recording
  ASSERT_EQ(start_record(1, sync_midi, 0), 0);
  EXPECT_EQ(tracks[1].clock_period, 1000);
  EXPECT_EQ(tracks[1].multiple, 95999);
}

TEST_F(TransportTest, FixedLengthMidiRecordingPlaysWhenItWraps) {
  clock_follower.clock_period = 1000;
  clock_follower.clock_lock = -1;
  ASSERT_EQ(start_record(0, sync_midi, 4), 0);
  Track& v = tracks[0];
  EXPECT_EQ(v.length, 95999);
  EXPECT_EQ(state_of(0), track_overdubbing);
  EXPECT_EQ(v.trigger_action, action_play);
  EXPECT_EQ(v.trigger_position, 0);
  ASSERT_TRUE(run_until([&] { return v.trigger_hit != 0; }));
  transport_update();
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(v.trigger_action, action_none);
  EXPECT_EQ(v.trigger_position, -1);
}

TEST_F(TransportTest, PoolExhaustionWhileRecordingLeavesTheTrackEmpty) {
  held.hold_all_but(0);
  const int available = pool_available();
  ASSERT_EQ(start_record(0, sync_free, 0), 0);
  EXPECT_EQ(engine_state.record_track, -1);
  EXPECT_EQ(tracks[0].length, 0);
  EXPECT_EQ(close_loop(0), -22);
  EXPECT_EQ(pool_available(), available);
}

// A synchronised close that runs out of blocks under the lock (1 spare block) or after it (4):
// every block goes back and the track is empty.
class CloseExhaustionTest : public TransportTest, public testing::WithParamInterface<int> {};

TEST_P(CloseExhaustionTest, ReturnsAllBlocksAndEmptiesTheTrack) {
  clock_source_at(0);
  held.hold_all_but(3 + GetParam());  // three for the recording itself
  const int available = pool_available();
  ASSERT_EQ(start_record(1, 0, 0), 0);
  ASSERT_TRUE(run_until([&] { return tracks[1].length >= 20000; }));
  EXPECT_EQ(pool_available(), available - 3);

  EXPECT_EQ(close_loop(1), -12);
  EXPECT_EQ(pool_available(), available);
  EXPECT_EQ(track_block_count(1), 0);
  EXPECT_EQ(tracks[1].length, 0);
  EXPECT_EQ(engine_state.record_track, -1);
  EXPECT_EQ(engine_state.overdub_track, -1);
  EXPECT_EQ(state_of(1), track_empty);
  EXPECT_EQ(state_of(0), track_playing);
  run_frames(10000);  // the engine finds nothing left of it
  EXPECT_EQ(pool_available(), available);
}

INSTANTIATE_TEST_SUITE_P(SpareBlocks, CloseExhaustionTest, testing::Values(1, 4),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("spare", c);
                         });

struct PlayRefusal {
  const char* name;
  bool has_audio;
  bool playing;
  bool muted;
  const char* message;
};

class PlayRefusalTest : public TransportTest, public testing::WithParamInterface<PlayRefusal> {};

TEST_P(PlayRefusalTest, RefusesWithItsMessage) {
  const PlayRefusal c = GetParam();
  if (c.has_audio) make_loop(3, 10000, c.playing);
  if (c.has_audio && !c.muted) list_remove(engine_state.muted_list, 3);
  EXPECT_EQ(play_track(3), -22);
  EXPECT_EQ(console_text(), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    States, PlayRefusalTest,
    testing::Values(PlayRefusal{"Empty", false, false, false,
                                "Attempt to play empty track. Track 4\n"},
                    PlayRefusal{"Playing", true, true, false,
                                "Attempt to play track that is already playing.  Track 4\n"},
                    PlayRefusal{"Unlisted", true, false, false,
                                "Attempt to play track not on muted list.  Track 4\n"}),
    [](const testing::TestParamInfo<PlayRefusal>& info) { return info.param.name; });

TEST_F(TransportTest, PlayOnARecordingTrackClosesItAndPlays) {
  ASSERT_EQ(start_record(2, sync_free, 0), 0);
  run_frames(5000);
  EXPECT_EQ(play_track(2), 0);
  EXPECT_EQ(console_text(), "Attempt to play recording track. Track 3\n");
  EXPECT_EQ(state_of(2), track_playing);
  EXPECT_FALSE(any_role_active());
}

TEST_F(TransportTest, PlayFromSilenceReanchorsEveryTrackAtItsLoopStart) {
  make_loop(0, 100000, false, 1234);
  make_loop(1, 50000, false, 777);
  tracks[1].vsp = 10000;
  ASSERT_EQ(quantised_play(1), 0);  // nothing plays: at once
  EXPECT_EQ(state_of(1), track_playing);
  EXPECT_EQ(state_of(0), track_stopped);
  // Re-anchored at the loop starts, then moved on by the 512-frame fade-in.
  EXPECT_EQ(tracks[0].position, 512);
  EXPECT_EQ(tracks[1].position, 10000 + 512);
  EXPECT_EQ(tracks[1].ramp_gain, ramp_unity);
}

TEST_F(TransportTest, QuantisedPlayWaitsForTheTracksOwnLoopStart) {
  make_loop(0, 100000, true);
  make_loop(1, 50000, false, 20000);
  tracks[1].vsp = 10000;
  ASSERT_EQ(quantised_play(1), 0);
  EXPECT_EQ(state_of(1), track_stopped);
  EXPECT_EQ(tracks[1].trigger_action, action_play);
  EXPECT_EQ(tracks[1].trigger_position, 10000);
  // The muted track runs on to its loop start, 40000 frames away.
  ASSERT_TRUE(run_until([&] { return tracks[1].trigger_hit != 0; }));
  EXPECT_EQ(tracks[1].position, 10000);
  EXPECT_EQ(state_of(1), track_stopped);
  transport_update();
  EXPECT_EQ(state_of(1), track_playing);
  EXPECT_EQ(tracks[1].trigger_position, -1);
}

TEST_F(TransportTest, SyncTrackJoiningRunningLoopsFollowsTheClockSourcePhase) {
  clock_source_at(0);
  make_loop(1, 200000, false, 5);
  tracks[1].multiple = 100000;
  tracks[1].clock_source = 0;
  tracks[1].vsp = 30000;
  tracks[0].position = 70000;
  tracks[0].vsp = 10000;  // phase 60000
  ASSERT_EQ(play_track(1), 0);
  // (60000 mod 100000) + 30000, then 512 frames of fade-in.
  EXPECT_EQ(tracks[1].position, 90000 + 512);
}

TEST_F(TransportTest, PlayOfAVoiceOnAMissingBlockDoesNotHang) {
  make_loop(0, 20000);
  pool_free(track_blocks[0][0]);
  set_block_ref(track_blocks[0][0], nullptr);  // the voice stands still on it and never ramps
  ASSERT_EQ(play_track(0), 0);
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(console_text(), "");
}

TEST_F(TransportTest, MuteFadesOutThenMovesTheTrackToTheMutedList) {
  make_loop(0, 30000, true);
  ASSERT_EQ(mute_track(0), 0);
  EXPECT_EQ(state_of(0), track_stopped);
  EXPECT_TRUE(on_list(engine_state.muted_list, 0));
  EXPECT_EQ(tracks[0].ramp_gain, 0);
  EXPECT_EQ(mute_track(0), -22);
}

TEST_F(TransportTest, MuteOfAFrozenVoiceTimesOutAndMutesAnyway) {
  make_loop(0, 30000, true);
  tracks[0].start_delay = 100000;  // the voice neither sounds nor ramps meanwhile
  ASSERT_EQ(mute_track(0), 0);
  EXPECT_EQ(console_text(), "play_fade_wait: timeout\n");
  EXPECT_TRUE(on_list(engine_state.muted_list, 0));
}

TEST_F(TransportTest, StopWithACuedEmptyTrackRecordsItAtTheLoopEnd) {
  make_loop(0, 100000, true, 40000);
  ASSERT_EQ(cue_track(2), 0);
  ASSERT_EQ(stop_at_loop_end(0, 1), 0);
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(tracks[0].trigger_action, action_stop);
  EXPECT_EQ(tracks[0].trigger_position, 0);
  ASSERT_TRUE(run_until([&] { return tracks[0].trigger_hit != 0; }));
  run_frames(37);  // the idle tick comes a little after the loop start
  transport_update();
  EXPECT_EQ(state_of(2), track_recording);
  EXPECT_EQ(state_of(0), track_stopped);
  EXPECT_EQ(engine_state.cue_mask, 0);
  EXPECT_EQ(console_text(), "CUE: 37\n");
}

TEST_F(TransportTest, CueReleaseStartsCuedTracksAtTheOffset) {
  make_loop(0, 100000, true);
  make_loop(1, 50000);
  tracks[1].vsp = 1000;
  ASSERT_EQ(cue_track(1), 0);
  EXPECT_EQ(cue_track(0), -22);  // playing
  EXPECT_EQ(cue_track(8), -22);
  release_cues(250);
  EXPECT_EQ(state_of(1), track_playing);
  EXPECT_EQ(tracks[1].position, 1250 + 512);
  EXPECT_EQ(console_text(), "");
}

TEST_F(TransportTest, StopNowEndsEveryRoleAndMutes) {
  ASSERT_EQ(start_record(0, sync_free, 0), 0);
  run_frames(3000);
  ASSERT_EQ(stop_track(0, 0), 0);
  EXPECT_EQ(state_of(0), track_stopped);
  EXPECT_FALSE(any_role_active());

  ASSERT_EQ(play_track(0), 0);
  ASSERT_EQ(start_overdub(0), 0);
  ASSERT_EQ(stop_track(0, 1), 0);  // keep playing
  EXPECT_EQ(state_of(0), track_playing);
}

// A track found on the muted list while active: every conflict is reported, the highest track
// is taken off the muted list, one per update.
TEST_F(TransportTest, UpdateRepairsMutedTracksThatAreActive) {
  make_loop(1, 10000, true);
  make_loop(4, 10000, true);
  make_loop(6, 10000);
  list_add(engine_state.muted_list, 1);
  list_add(engine_state.muted_list, 4);
  engine_state.replace_track = 6;
  transport_update();
  EXPECT_EQ(console_text(),
            "Track on muted list and playing, 2\n"
            "Track on muted list and playing, 5\n"
            "Track on muted list and replacing, 7\n");
  EXPECT_EQ(engine_state.muted_list, track_bit(1) | track_bit(4));
  transport_update();
  transport_update();
  EXPECT_EQ(engine_state.muted_list, 0);
  EXPECT_EQ(engine_state.play_list, track_bit(1) | track_bit(4));
  console_text();
  transport_update();
  EXPECT_EQ(console_text(), "");
}

TEST_F(TransportTest, UpdateRetiresFinishedFadingVoicesAndFollowsWetOnly) {
  make_loop(2, 10000, true);
  begin_crossfade(tracks[2], fading_voices[2]);
  list_add(engine_state.fading_list, 2);
  transport_update();
  EXPECT_TRUE(on_list(engine_state.fading_list, 2));  // still fading out
  run_frames(512);
  transport_update();
  EXPECT_FALSE(on_list(engine_state.fading_list, 2));

  config.wet_only = 1;
  transport_update();
  EXPECT_EQ(engine_state.dry_mask, 0);
  config.wet_only = 0;
  transport_update();
  EXPECT_EQ(engine_state.dry_mask, -1);
}

TEST_F(TransportTest, MidiStartActionSendsStartOnlyWhilePlaying) {
  make_loop(0, 10000, true);
  make_loop(1, 10000);
  for (int32_t t : {0, 1}) {
    tracks[t].trigger_action = action_midi_start;
    tracks[t].trigger_position = 1;
  }
  ASSERT_TRUE(run_until([&] { return tracks[0].trigger_hit && tracks[1].trigger_hit; }));
  transport_update();
  ASSERT_EQ(midi_out_pending(), 1);
  EXPECT_EQ(midi_out_length(), 1);
  EXPECT_EQ(midi_out_take()[0], 0xFA);
}

TEST_F(TransportTest, OverdubAndReplaceRoundTrips) {
  make_loop(0, 40000, true);
  EXPECT_EQ(start_overdub(1), -22);  // not playing
  ASSERT_EQ(start_overdub(0), 0);
  EXPECT_EQ(state_of(0), track_overdubbing);
  EXPECT_EQ(engine_state.record_gain, ramp_unity);
  EXPECT_EQ(end_replace(0), -22);
  ASSERT_EQ(end_overdub(0), 0);
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(undo_level_count(0), 1);

  ASSERT_EQ(start_replace(0, 1), 0);
  EXPECT_EQ(state_of(0), track_replacing);
  EXPECT_EQ(tracks[0].keep_original, 1);
  EXPECT_EQ(tracks[0].ramp_gain, 0);  // the old audio faded out of the written signal
  EXPECT_EQ(end_overdub(0), -22);
  ASSERT_EQ(end_replace(0), 0);
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(tracks[0].ramp_gain, ramp_unity);
  EXPECT_EQ(engine_state.record_gain, 0);
}

TEST_F(TransportTest, OverdubAddsTheInputAndUndoTakesItAway) {
  make_loop(0, 20000, true);
  run_frames(2000);  // the noise gate opens on the first loud samples
  inline_input = {1 << 20, 1 << 20, true};
  ASSERT_EQ(start_overdub(0), 0);
  run_frames(30000);
  ASSERT_EQ(end_overdub(0), 0);
  inline_input = {};
  int32_t changed = 0;
  for (int32_t i = 0; i < 20000; i++) changed += left_sample(0, i) != i + 1;
  EXPECT_EQ(changed, 20000);  // a whole pass was overdubbed
  ASSERT_EQ(undo(0), 0);
  for (int32_t i : {0, 5000, 19999}) EXPECT_EQ(left_sample(0, i), i + 1) << i;
  EXPECT_EQ(console_text(), "");
}

TEST_F(TransportTest, QuantisedReplacePunchesInAndOutAtStepBoundaries) {
  make_loop(0, 100000, true, 30000);
  ASSERT_EQ(start_q_replace(0, 4, 0), 0);
  EXPECT_EQ(state_of(0), track_replacing);
  EXPECT_EQ(tracks[0].q_replace_steps, 4);
  // Fired at 50000; the punch-in ramp has run since.
  EXPECT_EQ(tracks[0].position, 50000 + 512);
  ASSERT_EQ(end_replace(0), 0);
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(tracks[0].q_replace_steps, 0);
  EXPECT_EQ(tracks[0].position, 75000 + 512);  // after the 512-frame punch-out crossfade
  EXPECT_EQ(console_text(), "");
}

// A voice that cannot reach the next step (it stands on a missing block) does not hold the
// quantised replace's waits for ever.
TEST_F(TransportTest, QuantisedReplaceGivesUpOnAStepTheVoiceCannotReach) {
  make_loop(0, 4 * block_frames, true, 100);
  tracks[0].ramp_gain = ramp_unity;
  held.blocks.push_back(track_blocks[0][0]);
  set_block_ref(track_blocks[0][0], nullptr);  // the voice stands still at 100; the step is at 8192
  ASSERT_EQ(start_q_replace(0, 4, 0), 0);
  EXPECT_EQ(console_text(), "Q Replace error: replace track 0 not equal to 1\n");
  EXPECT_EQ(tracks[0].trigger_position, -1);
  EXPECT_EQ(tracks[0].trigger_action, action_none);
  EXPECT_EQ(tracks[0].q_replace_steps, 0);
  EXPECT_EQ(state_of(0), track_playing);
}

TEST_F(TransportTest, QuantisedReplaceEndGivesUpOnAStepTheVoiceCannotReach) {
  make_loop(0, 4 * block_frames, true, 100);
  tracks[0].ramp_gain = ramp_unity;
  ASSERT_EQ(start_q_replace(0, 4, 0), 0);  // replacing from 8192
  ASSERT_EQ(engine_state.replace_track, 0);
  held.blocks.push_back(track_blocks[0][1]);
  set_block_ref(track_blocks[0][1], nullptr);  // the engine ends the replace there; the voice stops
  ASSERT_EQ(end_replace(0), 0);
  EXPECT_EQ(tracks[0].trigger_position, -1);
  EXPECT_EQ(tracks[0].trigger_action, action_none);
  EXPECT_EQ(tracks[0].q_replace_steps, 0);
  EXPECT_EQ(engine_state.replace_track, -1);
}

TEST_F(TransportTest, QuantisedReplaceRefusals) {
  make_loop(0, 100000, true);
  EXPECT_EQ(start_q_replace(0, 1, 0), -22);
  EXPECT_EQ(start_q_replace(1, 4, 0), -22);  // not playing
  tracks[0].length = max_quantised_length;
  EXPECT_EQ(start_q_replace(0, 4, 0), -22);
  EXPECT_EQ(undo_level_count(0), 0);
  EXPECT_FALSE(any_role_active());
}

TEST_F(TransportTest, EraseReturnsEverythingAndForgetsTheClockSource) {
  const int available = pool_available();
  record_free_loop(0, 20000);
  ASSERT_EQ(start_overdub(0), 0);
  ASSERT_EQ(end_overdub(0), 0);
  tracks[0].trigger_position = 5;
  engine.clock_out_track = 0;
  set_block_ref(unscramble_blocks[0][0], take_zeroed_block());
  ASSERT_EQ(erase_track(0), 0);
  EXPECT_EQ(state_of(0), track_empty);
  EXPECT_EQ(engine_state.clock_source_track, -1);
  EXPECT_EQ(engine_state.play_list, 0);
  EXPECT_EQ(tracks[0].trigger_position, -1);
  EXPECT_EQ(tracks[0].rate, 256);
  EXPECT_EQ(undo_level_count(0), 0);
  EXPECT_EQ(pool_available(), available);
  EXPECT_EQ(erase_track(-1), -22);
}

TEST_F(TransportTest, LoaderAppendsFramesAndMutesTheTrack) {
  std::vector<int32_t> frames(2 * 10000);
  for (size_t i = 0; i < frames.size(); i++) frames[i] = int32_t(i);
  begin_track_load(2);
  EXPECT_EQ(append_track_audio(frames.data(), 7), -5);
  EXPECT_EQ(append_track_audio(frames.data(), 10000 * 8), 10000);
  EXPECT_EQ(append_track_audio(frames.data(), 10000 * 8), 10000);
  Track& v = tracks[2];
  EXPECT_EQ(v.length, 20000);
  EXPECT_EQ(v.position, 19000);
  EXPECT_EQ(v.loop_end, 20000);
  EXPECT_EQ(state_of(2), track_stopped);
  EXPECT_EQ(v.audio_changed, 1);
  EXPECT_EQ(left_sample(2, 10000), 0);        // the second chunk starts over
  EXPECT_EQ(left_sample(2, 8191), 2 * 8191);  // across the block boundary
  EXPECT_EQ(engine.clock_pulse_count[2], 96);

  begin_track_load(8);
  EXPECT_EQ(append_track_audio(frames.data(), 8), -5);
}

TEST_F(TransportTest, LoaderStopsCopyingWhenThePoolRunsOut) {
  std::vector<int32_t> frames(2 * 20000, 5);
  held.hold_all_but(2);
  begin_track_load(0);
  EXPECT_EQ(append_track_audio(frames.data(), 20000 * 8), 2 * block_frames);
  EXPECT_EQ(tracks[0].length, 2 * block_frames);
}

TEST_F(TransportTest, LoaderTakesWholeBlocks) {
  int32_t* first = take_zeroed_block();
  int32_t* second = take_zeroed_block();
  int32_t* third = take_zeroed_block();
  EXPECT_EQ(append_track_block(1, first, block_bytes), block_frames);
  EXPECT_EQ(append_track_block(1, second, 800), 100);
  EXPECT_EQ(tracks[1].length, block_frames + 100);
  EXPECT_EQ(tracks[1].multiple, block_frames + 100);
  EXPECT_EQ(tracks[1].word_1, block_frames + 100);
  EXPECT_EQ(track_blocks[1][1], second);
  EXPECT_EQ(append_track_block(1, third, block_bytes), -5);  // after a partial block
  EXPECT_EQ(append_track_block(9, third, block_bytes), -5);
  pool_free(third);
}

TEST_F(TransportTest, StatusSnapshotReportsEveryTrack) {
  make_loop(0, 96000, true, 1000);
  tracks[0].vsp = 3000;
  tracks[0].multiple = 96000;
  tracks[0].clock_period = 1000;
  tracks[0].rate = -128;
  tracks[0].audio_saved = 1;
  make_loop(1, 5000);
  tracks[1].audio_changed = 1;
  engine_state.clock_source_track = 0;
  ASSERT_EQ(start_record(2, sync_free, 0), 0);
  TrackStatus status;
  track_status_snapshot(status);
  EXPECT_EQ(status.state, 0x321u);
  EXPECT_EQ(status.clock_source, 1);
  EXPECT_EQ(status.phase[0], 94000 + tracks[0].position - 1000);
  EXPECT_EQ(status.phase[2], tracks[2].length);
  EXPECT_EQ(status.length[1], 5000);
  EXPECT_EQ(status.speed[0], 200);
  EXPECT_EQ(status.speed[1], 400);
  EXPECT_EQ(status.tempo[0], 120);
  EXPECT_EQ(status.tempo[1], 0);
  EXPECT_EQ(status.unsynchronised_mask, 0xFE);
  EXPECT_EQ(status.saved_mask, 0xF9);  // track 1 changed, track 2 recording
}

// The snapshot is one consistent copy: it waits while another thread holds the engine lock in
// the middle of a change, as the audio thread does for a whole frame.
TEST_F(TransportTest, StatusSnapshotIsTakenUnderTheEngineLock) {
  make_loop(0, 96000, true, 1000);
  std::atomic<bool> taken{false};
  TrackStatus status{};
  std::thread reader;
  {
    EngineLockGuard lock;
    reader = std::thread([&] {
      track_status_snapshot(status);
      taken = true;
    });
    tracks[0].clock_period = 1000;  // the first half of the change
    // The reader counts itself among the lock's waiters before it blocks on the mutex.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (engine_lock_waiters.load() == 0 && !taken && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(engine_lock_waiters.load(), 1) << "the snapshot did not ask for the lock";
    EXPECT_FALSE(taken) << "the snapshot did not wait for the lock";
    tracks[0].length = 48000;  // the second half
  }
  reader.join();
  EXPECT_EQ(status.length[0], 48000);
  EXPECT_EQ(status.tempo[0], 120);
}

TEST_F(TransportTest, ClockSourceSetterTakesTrackIndexesAndMinusOneClears) {
  EXPECT_EQ(set_clock_source_track(2), 0);
  EXPECT_EQ(engine_state.clock_source_track, 2);
  EXPECT_EQ(set_clock_source_track(8), status_refused);
  EXPECT_EQ(engine_state.clock_source_track, 2);
  EXPECT_EQ(set_clock_source_track(-1), 0);
  EXPECT_EQ(engine_state.clock_source_track, -1);
}

// The engine on a thread of its own, in periods as the process callback runs it, until the
// object goes (so a failed assertion still stops it).
class AudioThread {
 public:
  AudioThread()
      : thread_([this] {
          constexpr int period_frames = 64;
          while (!stop_) {
            for (int i = 0; i < period_frames; i++) run_inline_frame();
            std::this_thread::sleep_for(std::chrono::microseconds(100));
          }
        }) {}
  ~AudioThread() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The program's way of waiting: the engine runs on its own thread, while the operations sleep
// between polls with the lock released.
TEST_F(TransportTest, OperationsWaitForARealAudioThread) {
  engine_wait.run_frame = nullptr;
  {
    AudioThread audio;
    EXPECT_EQ(start_record(0, sync_free, 0), 0);
    EXPECT_EQ(engine_state.record_gain, ramp_unity);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (tracks[0].length < 2000 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(tracks[0].length, 2000) << "the audio thread recorded nothing for 10 s";
    EXPECT_EQ(close_loop(0), 0);
    EXPECT_EQ(end_overdub(0), 0);
    EXPECT_EQ(mute_track(0), 0);
    EXPECT_EQ(play_track(0), 0);
    EXPECT_EQ(tracks[0].ramp_gain, ramp_unity);
  }
  EXPECT_EQ(state_of(0), track_playing);
  EXPECT_EQ(console_text(), "");
}

}  // namespace
