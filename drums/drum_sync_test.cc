// The drum machine as the looper's clock, through the whole engine frame: the follower locks to
// its steps, MIDI-synchronised recordings take their unit from it, and its clock bytes replace
// the clock-out track's.
#include <gtest/gtest.h>

#include "drums/drum_machine.h"
#include "tests/fixtures/looper_test_fixture.h"
#include "engine/timing.h"
#include "engine/transport_commands.h"

namespace {

class DrumSyncTest : public LooperTest {
 protected:
  // Timing-clock bytes waiting in the output queue, taken out.
  static int take_clock_bytes() {
    int n = 0;
    while (midi_out_pending() > 0) {
      const int length = midi_out_length();
      const uint8_t* bytes = midi_out_take();
      if (length == 1 && bytes[0] == 0xF8) n++;
    }
    return n;
  }
  // Runs frames in pieces short enough for the output queue, counting clock bytes.
  static int run_counting_clock(int64_t frames) {
    int n = 0;
    for (int64_t done = 0; done < frames; done += 1000) {
      run_frames(frames - done < 1000 ? frames - done : 1000);
      n += take_clock_bytes();
    }
    return n;
  }
};

TEST_F(DrumSyncTest, FollowerLocksToTheDrumsAndLosesThemAfterTheyStop) {
  drum_set_tempo(100);
  drums_start(0);
  // The first step sounds in the first frame, so step 72 (a beat) in frame 3 × 28800 + 1.
  run_frames(3 * 28800 + 1 + 16);
  const ClockFollower& c = clock_follower;
  EXPECT_EQ(c.clock_lock, 0) << "followed from the drum ticks";
  EXPECT_EQ(c.clock_period, 1200.0);
  EXPECT_EQ(c.beat_position, 16) << "beats fall on the drum's beats";
  EXPECT_EQ(c.measure_errors, 0);
  EXPECT_EQ(c.missed_clocks, 0);
  drums_stop(0);
  const uint32_t last_tick = c.last_clock_time;
  run_until([&] { return c.clock_lock < 0; }, 40000);
  EXPECT_EQ(c.lock_lost_count, 1);
  EXPECT_EQ(uint32_t(engine_state.frame_counter) - last_tick, 24u * 1200 + 1);
}

TEST_F(DrumSyncTest, MidiSyncRecordingIsWholeMeasuresOfTheDrumTempo) {
  drum_set_tempo(120);
  drums_start(0);
  run_frames(30000);
  inline_input = {1 << 20, 1 << 20, true};
  const uint32_t before = engine_state.frame_counter;
  ASSERT_EQ(start_record(3, sync_midi, 0), 0);
  const uint32_t after = engine_state.frame_counter;
  EXPECT_EQ(tracks[3].multiple, 95999);  // four beats of 24 ticks of 1000 frames, less one
  // The loop starts where the current drum beat began (beats begin in frames 1, 24001, ...).
  EXPECT_LE(uint32_t((before - 1) % 24000 + tracks[3].vsp), after - before);
  run_frames(150000);
  ASSERT_EQ(close_loop(3), 0);
  EXPECT_EQ(tracks[3].length, 2 * 95999);
  EXPECT_EQ(tracks[3].clock_period, 1000.0);
}

TEST_F(DrumSyncTest, QuantisedMidiRecordingIsItsStepsInBeats) {
  drum_set_tempo(100);
  drums_start(0);
  run_frames(5000);
  ASSERT_EQ(start_record(0, sync_midi, 3), 0);
  EXPECT_EQ(tracks[0].length, 3 * 28800 - 1);
  ASSERT_TRUE(run_until([&] { return tracks[0].trigger_hit != 0; }));
  transport_update();
  EXPECT_EQ(state_of(0), track_playing);
}

TEST_F(DrumSyncTest, MidiSyncBounceTakesTheDrumMeasure) {
  make_loop(0, 50000, true);
  drum_set_tempo(150);  // 800 frames a tick
  drums_start(0);
  run_frames(20000);
  ASSERT_EQ(start_bounce(5, 1u << 0, bounce_midi_sync), 0);
  EXPECT_EQ(tracks[5].clock_source, sync_midi);
  EXPECT_EQ(tracks[5].multiple, 4 * 24 * 800 - 1);
  run_frames(100000);
  ASSERT_EQ(close_loop(5), 0);
  EXPECT_EQ(tracks[5].length % (4 * 24 * 800 - 1), 0);
}

TEST_F(DrumSyncTest, DrumClockBytesReplaceTheTrackPulses) {
  make_loop(0, 96000, true);
  build_clock_pulses(0, 96000);  // 96 pulses a loop
  engine.clock_out_track = 0;
  drum_set_tempo(120);
  config.midi_clock_out = 1;

  config.drums_clock_out = 1;
  drums_start(0);
  EXPECT_EQ(run_counting_clock(192000), 192) << "one per drum step, none from the track";

  config.drums_clock_out = 0;
  EXPECT_EQ(run_counting_clock(192000), 192) << "two passes of the track's 96 pulses";

  config.midi_clock_out = 0;
  EXPECT_EQ(run_counting_clock(192000), 0);
}

}  // namespace
