#include "engine/voice.h"

#include <gtest/gtest.h>

#include "tests/fixtures/test_names.h"
#include "tests/fixtures/engine_test_fixture.h"

namespace {

class VoiceTest : public EngineTest {};

TEST(SampleMath, Scale512) {
  struct Case {
    int32_t x, g, expected;
  } cases[] = {
      {1000, 512, 1000},     {1000, 256, 500},        {-1000, 256, -500},
      {-1, 1, -1},           {4194303, 511, 4186111}, {4194304, 256, 2097152},
      {-4194304, 3, -24576}, {-4194305, 3, -24579},   {2147483647, 512, 2147483136},
      {1 << 30, 0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(scale_512(c.x, c.g), c.expected) << c.x << " " << c.g;
}

TEST(SampleMath, ApplyGain) {
  struct Case {
    int32_t x, k, expected;
  } cases[] = {
      {1000, 0, 992},  // the four low bits go
      {16384, 6, 8192},   {16384, 1, 14592}, {-16384, 6, -8192},
      {1 << 24, 89, 572}, {1 << 24, 90, 0},  {1 << 24, 511, 0},
      {1 << 24, 512, 0},  {1 << 24, -1, 0},  {2147483647, 0, 2147483632},
  };
  for (const Case& c : cases) EXPECT_EQ(apply_gain(c.x, c.k), c.expected) << c.x << " " << c.k;
}

TEST(SampleMath, ApproachLevelMovesOnlyAtZeroCrossings) {
  struct Case {
    int32_t current, target, sample, last, expected;
  } cases[] = {
      {0, 20, 5, 0, 8},                      // last sample 0 counts as a crossing
      {0, 20, 5, 3, 0},                      // same side: no change
      {0, 20, -5, 3, 8}, {0, 20, 0, -3, 8},  // 0 is on the non-negative side
      {0, 20, 0, 3, 0},  {10, 4, -1, 1, 4}, {30, 4, -1, 1, 22}, {5, 5, -1, 1, 5},
  };
  for (const Case& c : cases)
    EXPECT_EQ(approach_level(c.current, c.target, c.sample, c.last), c.expected)
        << c.current << " " << c.target << " " << c.sample << " " << c.last;
}

TEST(SampleMath, OutputShiftLimits) {
  EXPECT_EQ(shift_output(1000, 3, 0), 8000);
  EXPECT_EQ(shift_output(-1000, 0, 2), -250);
  EXPECT_EQ(shift_output(1 << 24, 8, 0), 0);  // wraps in 32 bits
  EXPECT_EQ(shift_output(3 << 24, 7, 0), int32_t(0x80000000u));
  EXPECT_EQ(shift_output(1000, 32, 0), 0);
  EXPECT_EQ(shift_output(-1000, 0, 40), -1);  // right shift capped at 31
}

struct RateCase {
  int32_t rate;
  int32_t reads[6];
  int32_t position, fraction;  // after six frames
};

class RateTest : public VoiceTest, public testing::WithParamInterface<RateCase> {};

TEST_P(RateTest, AdvancesWithFractionCarry) {
  const RateCase c = GetParam();
  give_audio(0, 100);
  tracks[0].rate = c.rate;
  play(0);
  for (int i = 0; i < 6; i++) {
    EngineFrame f = run();
    EXPECT_EQ(f.main[0], test_left(c.reads[i])) << "frame " << i;
    EXPECT_EQ(f.main[1], test_right(c.reads[i])) << "frame " << i;
  }
  EXPECT_EQ(tracks[0].position, c.position);
  EXPECT_EQ(tracks[0].position_fraction, c.fraction);
}

INSTANTIATE_TEST_SUITE_P(Rates, RateTest,
                         testing::Values(RateCase{256, {0, 1, 2, 3, 4, 5}, 6, 0},
                                         RateCase{128, {0, 0, 1, 1, 2, 2}, 3, 0},
                                         RateCase{384, {0, 1, 3, 4, 6, 7}, 9, 0},
                                         RateCase{64, {0, 0, 0, 0, 1, 1}, 1, 128}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("rate", c.rate);
                         });

TEST_F(VoiceTest, StartDelayHoldsTheVoiceStill) {
  give_audio(2, 1000);
  tracks[2].start_delay = 100;
  play(2);
  for (int i = 0; i < 100; i++) {
    EngineFrame f = run();
    ASSERT_EQ(f.main[0], 0) << i;
    ASSERT_EQ(tracks[2].position, 0) << i;
  }
  EXPECT_EQ(tracks[2].start_delay, 0);
  EXPECT_EQ(run().main[0], test_left(0));
  EXPECT_EQ(tracks[2].position, 1);
}

TEST_F(VoiceTest, WrapGoesToLoopStartAndClosesThePass) {
  give_audio(1, 10);
  Track& t = tracks[1];
  t.loop_start = 3;
  t.position = 8;
  play(1);
  EXPECT_EQ(run().main[0], test_left(8));
  EXPECT_EQ(run().main[0], test_left(9));
  EXPECT_EQ(t.position, 3);
  EXPECT_EQ(t.loop_count, 1);
  EXPECT_EQ(t.peak_last_pass, test_left(9));
  EXPECT_EQ(t.peak, 0);
  EXPECT_EQ(run().main[0], test_left(3));

  t.rate = -256;  // reverse: below 0 goes to loop_start too
  t.loop_start = 9;
  t.position = 0;
  run();
  EXPECT_EQ(t.position, 9);
  EXPECT_EQ(t.loop_count, 2);
}

TEST_F(VoiceTest, SegmentsMapAndSilence) {
  give_audio(0, 30);
  Track& t = tracks[0];
  t.segment_count = 3;
  const int32_t starts[3] = {0, 10, 25};
  const int32_t sources[3] = {1, 0, 2};
  for (int j = 0; j < 3; j++) {
    t.segment_start[j] = starts[j];
    t.segment_source[j] = sources[j];
  }
  t.segment_silent[2] = 1;
  struct Case {
    int32_t position, read;  // -1: silent
  } cases[] = {{0, 10}, {9, 19}, {10, 0}, {24, 14}, {25, -1}, {29, -1}};
  play(0);
  for (const Case& c : cases) {
    t.position = c.position;
    EngineFrame f = run();
    EXPECT_EQ(f.main[0], c.read < 0 ? 0 : test_left(c.read)) << c.position;
    EXPECT_EQ(t.position, c.position + 1 == 30 ? 0 : c.position + 1) << "silent segments advance";
  }
}

TEST_F(VoiceTest, TwoSegmentsSwapHalves) {
  give_audio(0, 20);
  Track& t = tracks[0];
  t.segment_count = 2;
  t.segment_start[1] = 10;
  t.segment_source[0] = 1;
  t.segment_source[1] = 0;
  play(0);
  for (int p = 0; p < 20; p++) ASSERT_EQ(run().main[0], test_left((p + 10) % 20)) << p;
}

TEST_F(VoiceTest, MissingBlockSilencesAndFreezes) {
  give_audio(3, 3 * block_frames);
  track_blocks[3][1] = nullptr;
  tracks[3].position = block_frames - 1;
  play(3);
  EXPECT_EQ(run().main[0], test_left(block_frames - 1));
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(run().main[0], 0);
    EXPECT_EQ(tracks[3].position, block_frames);
  }
}

TEST_F(VoiceTest, MutedTrackAdvancesSilently) {
  give_audio(0, 10);
  engine_state.muted_list = 1;
  for (int i = 0; i < 12; i++) EXPECT_EQ(run().main[0], 0);
  EXPECT_EQ(tracks[0].position, 2);
  EXPECT_EQ(tracks[0].loop_count, 1);
}

TEST_F(VoiceTest, LevelsMoveOnlyAtCrossings) {
  give_audio(0, 1000);
  Track& t = tracks[0];
  t.target_level[0] = 20;  // the left pattern never crosses zero: only the first frame moves it
  t.target_level[1] = 6;
  play(0);
  EngineFrame f = run();
  EXPECT_EQ(t.current_level[0], 8);
  EXPECT_EQ(t.current_level[1], 6);
  EXPECT_EQ(f.main[0], apply_gain(test_left(0), 8));
  EXPECT_EQ(f.main[1], apply_gain(test_right(0), 6));
  for (int i = 1; i < 10; i++) {
    f = run();
    EXPECT_EQ(t.current_level[0], 8);
  }
  EXPECT_EQ(f.main[0], apply_gain(test_left(9), 8));
}

TEST_F(VoiceTest, RampScalesAndStopsAtItsEnd) {
  give_audio(0, 1000);
  Track& t = tracks[0];
  t.target_level[0] = 20;
  t.ramp_gain = 0;
  t.ramp_end = 512;
  t.ramp_step = 1;
  play(0);
  EngineFrame f = run();
  EXPECT_EQ(f.main[0], 0);
  EXPECT_EQ(t.last_sample[0], 0);  // after the ramp: a silent voice keeps crossing zero
  f = run();
  EXPECT_EQ(t.current_level[0], 16);
  EXPECT_EQ(f.main[0], apply_gain(scale_512(test_left(1), 1), 16));
  for (int i = 2; i < 512; i++) run();
  EXPECT_EQ(t.current_level[0], 20);
  EXPECT_EQ(t.ramp_gain, 512);
  EXPECT_EQ(t.ramp_step, 0);
  EXPECT_EQ(run().main[0], apply_gain(test_left(512), 20));
  EXPECT_EQ(t.ramp_gain, 512);
}

TEST_F(VoiceTest, DestructiveFadeChangesStoredAudioForTheNextPass) {
  give_audio(0, 4);
  Track& t = tracks[0];
  t.fade_gain = 256;
  t.fade_target = 512;
  play(0);
  EXPECT_EQ(run().main[0], test_left(0));  // heard before the fade
  EXPECT_EQ(stored(0, 0)[0], test_left(0) / 2);
  EXPECT_EQ(stored(0, 0)[1], test_right(0) / 2);
  EXPECT_EQ(t.fade_gain, 257);
  EXPECT_EQ(t.audio_changed, 1);
  run();
  EXPECT_EQ(stored(0, 1)[0], scale_512(test_left(1), 257));
}

TEST_F(VoiceTest, DestructiveFadeFromUnityStepsBelowItFirst) {
  give_audio(0, 4);
  tracks[0].fade_target = 0;
  play(0);
  run();
  EXPECT_EQ(stored(0, 0)[0], test_left(0));
  EXPECT_EQ(tracks[0].fade_gain, 511);
  EXPECT_EQ(tracks[0].audio_changed, 0);
  run();
  EXPECT_EQ(stored(0, 1)[0], scale_512(test_left(1), 511));
}

TEST_F(VoiceTest, FadingVoicesPlayTheirOwnPositionAndRamp) {
  give_audio(4, 100);
  Track& t = tracks[4];
  t.position = 50;
  play(4);
  begin_crossfade(t, fading_voices[4]);
  engine_state.fading_list = 1u << 4;
  t.position = 0;
  fading_voices[4].segment_count = 2;  // segments do not apply to fading voices
  fading_voices[4].segment_start[1] = 1;
  fading_voices[4].segment_source[0] = 1;
  EngineFrame f = run();
  // Main voice at ramp 0, fading voice at 512.
  EXPECT_EQ(f.main[0], test_left(50));
  f = run();
  EXPECT_EQ(f.main[0], apply_gain(scale_512(test_left(1), 1), 0) +
                           apply_gain(scale_512(test_left(51), 511), 0));
  EXPECT_EQ(fading_voices[4].ramp_gain, 510);
  EXPECT_EQ(fading_voices[4].peak, 0);
  for (int i = 2; i < 512; i++) run();
  EXPECT_EQ(fading_voices[4].ramp_gain, 0);
  EXPECT_EQ(fading_voices[4].ramp_step, 0);
  EXPECT_EQ(engine_state.fading_list, 1u << 4);  // the engine never clears it

  // Second fading voice, reverse, wrapping to its loop start.
  Track& v = fading_voices_2[4];
  v = t;
  v.rate = -256;
  v.position = 0;
  v.loop_start = 99;
  v.loop_count = 0;
  v.ramp_gain = 512;
  v.ramp_step = 0;
  engine_state.fading_list_2 = 1u << 4;
  engine_state.fading_list = 0;
  engine_state.play_list = 0;
  EXPECT_EQ(run().main[0], test_left(0));
  EXPECT_EQ(v.position, 99);
  EXPECT_EQ(v.loop_count, 1);
  EXPECT_EQ(run().main[0], test_left(99));
}

TEST_F(VoiceTest, OutputRoutingAndBounceSums) {
  give_audio(0, 100);
  give_audio(1, 100);
  give_audio(2, 100);
  engine_state.track_output[1] = 1;
  engine_state.track_output[2] = 2;
  engine_state.play_list = 0x7;
  tracks[0].bounce_source = 1;
  tracks[2].bounce_source = 1;
  engine_state.bounce_active = 1;
  engine_state.record_gain = 512;
  EngineFrame f = run();
  EXPECT_EQ(f.main[0], test_left(0));
  EXPECT_EQ(f.aux1[0], test_left(0));
  EXPECT_EQ(f.aux2[1], test_right(0));
  EXPECT_EQ(engine.last_input[0], 2 * test_left(0));  // input 0 + tracks 0 and 2
  EXPECT_EQ(f.in[1], 2 * test_right(0));
}

TEST_F(VoiceTest, ClockOutPulsesAndTrigger) {
  give_audio(0, 20);
  Engine& e = engine;
  e.clock_pulse_table[0][0] = 2;
  e.clock_pulse_table[0][1] = 5;
  e.clock_pulse_count[0] = 2;
  tracks[0].trigger_position = 4;
  play(0);
  int32_t indexes[6];
  for (int i = 0; i < 6; i++) {
    run();
    indexes[i] = e.clock_pulse_index[0];
    EXPECT_EQ(tracks[0].trigger_hit, i >= 3 ? 1 : 0) << i;  // position 4 after the 4th frame
  }
  const int32_t expected[6] = {0, 1, 1, 1, 0, 0};  // positions 1 2 3 4 5 6
  for (int i = 0; i < 6; i++) EXPECT_EQ(indexes[i], expected[i]) << i;

  // Not while the track records, nor on another track than the clock-out track.
  e.clock_pulse_index[0] = 0;
  tracks[0].position = 1;
  engine_state.record_track = 0;
  engine_state.play_list = 0;
  engine_state.muted_list = 0;
  advance_voice(tracks[0], 1, 0);
  EXPECT_EQ(e.clock_pulse_index[0], 0);
  engine_state.record_track = -1;
  e.clock_out_track = 1;
  tracks[0].position = 1;
  advance_voice(tracks[0], 1, 0);
  EXPECT_EQ(e.clock_pulse_index[0], 0);
}

constexpr int32_t drift_length = 48000;

// MIDI-clock tracks measure their phase error at position 1024 and schedule a restart.
class DriftTest : public EngineTest {
 protected:
  static constexpr int32_t length = drift_length;
  void prepare(int32_t m, int32_t beat_frames = 0) {
    give_audio(5, length);
    Track& t = tracks[5];
    t.clock_source = -2;
    t.trigger_position = -1;
    t.position = 1023;
    t.clock_period = beat_frames / 24.0;
    // m = beat_position - (length + 1024 - vsp) with beat_position 0.
    t.vsp = length + 1024 + m;
    play(5);
  }
};

struct DriftCase {
  int32_t m;
  int32_t beat_frames;
  int32_t stop_countdown, start_after, measured;
};

class DriftErrorTest : public DriftTest, public testing::WithParamInterface<DriftCase> {};

TEST_P(DriftErrorTest, PhaseErrorSchedulesRestart) {
  const DriftCase c = GetParam();
  prepare(c.m, c.beat_frames);
  run();
  const Track& t = tracks[5];
  EXPECT_EQ(t.position, 1024);
  EXPECT_EQ(t.stop_countdown, c.stop_countdown);
  EXPECT_EQ(t.start_after, c.start_after);
  EXPECT_EQ(t.midi_error, 16 * c.measured / 8);
  EXPECT_EQ(t.drift_count, 1);
  EXPECT_EQ(engine.drift_history[5][0], c.measured);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, DriftErrorTest,
    testing::Values(DriftCase{30, 0, drift_length - 1024 - 30, 0, 30},
                    DriftCase{-30, 0, drift_length - 1024 - 30, 60, -30},
                    DriftCase{20, 0, 0, 0, 20}, DriftCase{-20, 0, 0, 0, -20},
                    DriftCase{21, 0, drift_length - 1024 - 21, 0, 21},
                    DriftCase{5000, 0, drift_length - 1024 - 2000, 0, 5000},
                    DriftCase{-5000, 0, drift_length - 1024 - 2000, 4000, -5000},
                    // wrapped by one beat
                    DriftCase{1500, 2400, drift_length - 1024 - 900, 1800, -900},
                    DriftCase{-1500, 2400, drift_length - 1024 - 900, 0, 900}),
    [](const auto& info) {
      const auto& c = info.param;
      return param_case_name("error", c.m, "beat", c.beat_frames);
    });

TEST_F(DriftTest, RestartCrossfadesAtTheEnd) {
  prepare(30);
  run();
  Track& t = tracks[5];
  int32_t countdown = t.stop_countdown;
  for (int i = 1; i < countdown; i++) run();
  EXPECT_EQ(t.position, length - 31);
  EXPECT_EQ(t.stop_countdown, 1);
  // This frame plays length - 31; the advance to length - 30 restarts the track.
  EngineFrame f = run();
  EXPECT_EQ(t.stop_countdown, 0);
  EXPECT_EQ(t.position, 0);
  EXPECT_EQ(t.start_delay, 0);
  EXPECT_EQ(t.ramp_gain, 0);
  EXPECT_EQ(t.ramp_end, 512);
  EXPECT_EQ(t.ramp_step, 1);
  EXPECT_EQ(engine_state.fading_list_2, 1u << 5);
  const Track& v = fading_voices_2[5];
  EXPECT_EQ(v.ramp_end, 0);
  EXPECT_EQ(v.ramp_step, -1);
  // The old pass goes on in the fading voice within the same frame.
  EXPECT_EQ(f.main[0], test_left(length - 31) + test_left(length - 30));
  EXPECT_EQ(v.ramp_gain, 511);
  EXPECT_EQ(run().main[0], apply_gain(scale_512(test_left(length - 29), 511), 0));
}

TEST_F(DriftTest, EarlyRestartWaitsStartAfter) {
  prepare(-30);
  run();
  Track& t = tracks[5];
  int32_t countdown = t.stop_countdown;
  for (int i = 0; i < countdown; i++) run();
  EXPECT_EQ(t.position, 0);
  EXPECT_EQ(t.start_delay, 60);
  for (int i = 0; i < 60; i++) run();
  EXPECT_EQ(t.position, 0);
  run();
  EXPECT_EQ(t.position, 1);
}

TEST_F(DriftTest, MutedTrackIsMovedDirectly) {
  prepare(30);
  engine_state.play_list = 0;
  engine_state.muted_list = 1u << 5;
  run();
  EXPECT_EQ(tracks[5].position, 1054);
  EXPECT_EQ(tracks[5].stop_countdown, 0);
}

TEST_F(DriftTest, MutedTrackMovedBackWrapsIntoTheLoop) {
  prepare(-1500);
  engine_state.play_list = 0;
  engine_state.muted_list = 1u << 5;
  tracks[5].position = 1023;
  run();
  EXPECT_EQ(tracks[5].position, 1024 - 1500 + length);  // wrapped once
}

struct NoCheckCase {
  const char* what;
  void (*change)(Track&);
};

class NoDriftCheckTest : public DriftTest, public testing::WithParamInterface<NoCheckCase> {};

TEST_P(NoDriftCheckTest, WhileRampingTriggeredOrFreeRunning) {
  prepare(30);
  GetParam().change(tracks[5]);
  run();
  EXPECT_EQ(tracks[5].drift_count, 0);
  EXPECT_EQ(tracks[5].stop_countdown, 0);
}

INSTANTIATE_TEST_SUITE_P(
    States, NoDriftCheckTest,
    testing::Values(NoCheckCase{"ramp", [](Track& t) { t.ramp_step = 1; }},
                    NoCheckCase{"trigger", [](Track& t) { t.trigger_position = 5; }},
                    NoCheckCase{"free_running", [](Track& t) { t.clock_source = -1; }}),
    [](const testing::TestParamInfo<NoCheckCase>& info) { return std::string(info.param.what); });

}  // namespace
