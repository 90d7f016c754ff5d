#include "drums/drum_machine.h"

#include <gtest/gtest.h>

#include <vector>

#include "config/config.h"
#include "core/gain_table.h"
#include "tests/fixtures/test_names.h"
#include "drums/drum_edit.h"
#include "host/looper.h"
#include "midi/clock.h"
#include "midi/midi_queue.h"
#include "pool/pool.h"

namespace {

// Frame f of every test sample: distinct, nonzero, a multiple of 16 so unity gain keeps it.
int32_t sample_left(int32_t f) { return (f + 1) * 16; }
int32_t sample_right(int32_t f) { return -(f + 1) * 32; }
// A released sample at unity gain: scaled by left / 512, then its four low bits dropped.
int32_t released(int32_t x, int32_t left) { return int32_t(int64_t(x) * left / 512) >> 4 << 4; }

class DrumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }

  static void give_sample(int drum, int32_t length) {
    int32_t* blocks[drum_voice_blocks] = {};
    for (int b = 0; b * block_frames < length; b++) {
      blocks[b] = pool_alloc_any();
      ASSERT_NE(blocks[b], nullptr);
      for (int i = 0; i < block_frames; i++) {
        blocks[b][2 * i] = sample_left(b * block_frames + i);
        blocks[b][2 * i + 1] = sample_right(b * block_frames + i);
      }
    }
    drum_voice_install(drum, blocks, length);
  }

  static DrumPattern& pattern() { return drums.bank.patterns[drums.bank.current_pattern]; }

  // One sample of the drum machine alone.
  static std::pair<int32_t, int32_t> step() {
    int32_t out[2] = {0, 0};
    drum_step_frame(out);
    return {out[0], out[1]};
  }
  static void steps(int64_t n) {
    for (int64_t i = 0; i < n; i++) step();
  }

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
};

TEST_F(DrumTest, TimingAt120Bpm) {
  ASSERT_EQ(drum_set_tempo(120), 0);
  const DrumTiming& t = drum_timing();
  EXPECT_EQ(t.loop_length, 192000);
  EXPECT_EQ(t.samples_per_step, 1000.0f);
  EXPECT_EQ(t.step_start[96], 96000);
  EXPECT_EQ(t.release_start[190], 191000 - 512);
  EXPECT_EQ(t.release_start[191], 191488);
  EXPECT_EQ(drum_set_tempo(59), status_refused);
  EXPECT_EQ(drum_set_tempo(201), status_refused);
}

TEST_F(DrumTest, HalvingTheTempoWhileRunningDoublesTheCounter) {
  drum_set_tempo(120);
  drums_start(0);
  steps(12345);
  EXPECT_EQ(drums.transport.counter, 12345);
  drum_set_tempo(60);
  EXPECT_EQ(drums.transport.counter, 24690);
  EXPECT_EQ(drum_timing().loop_length, 384000);
}

struct TempoChange {
  int32_t from;
  int32_t to;
  int32_t at;  // samples run before the change
};

class DrumTempoChangeTest : public DrumTest, public testing::WithParamInterface<TempoChange> {};

// Every step of the pass in which the tempo changes starts exactly once: none twice, none lost.
TEST_P(DrumTempoChangeTest, ThePassKeepsEveryStepOnce) {
  const TempoChange c = GetParam();
  config.drums_clock_out = 0;
  drum_set_tempo(c.from);
  drums_start(0);
  steps(c.at);
  drum_set_tempo(c.to);
  int64_t guard = 0;
  do {
    step();
  } while (drums.transport.counter != 0 && ++guard < 1000000);
  EXPECT_EQ(clock_follower.pending_ticks, drum_steps);
  steps(drum_timing().loop_length);
  EXPECT_EQ(clock_follower.pending_ticks, 2 * drum_steps);
}

INSTANTIATE_TEST_SUITE_P(Changes, DrumTempoChangeTest,
                         testing::Values(TempoChange{120, 60, 12345},
                                         TempoChange{120, 60, 10000},   // a step start due
                                         TempoChange{120, 121, 10001},  // just after one
                                         TempoChange{121, 120, 9919}, TempoChange{97, 133, 150001},
                                         TempoChange{120, 137, 191700},  // after the last release
                                         TempoChange{200, 60, 57599}, TempoChange{60, 200, 383999}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("bpm", c.from, "to", c.to, "at", c.at);
                         });

TEST_F(DrumTest, DrumOnConsecutiveStepsFadesOutAndRestarts) {
  drum_set_tempo(120);
  give_sample(0, 5000);
  pattern().steps[10] = 1;
  pattern().steps[11] = 1;
  drums_start(0);
  steps(10000);
  EXPECT_EQ(step().first, sample_left(0)) << "step 10 starts the sample";
  steps(487);
  EXPECT_EQ(step().first, sample_left(488)) << "release begins at its full level";
  const auto faded = step();
  EXPECT_EQ(faded.first, released(sample_left(489), 511));
  EXPECT_EQ(faded.second, released(sample_right(489), 511));
  steps(509);
  EXPECT_EQ(step().first, released(sample_left(999), 1));
  EXPECT_EQ(step(), std::make_pair(sample_left(0), sample_right(0))) << "step 11 restarts it";
}

TEST_F(DrumTest, DrumNotOnTheNextStepPlaysToItsEnd) {
  drum_set_tempo(120);
  give_sample(1, 2500);
  pattern().steps[10] = 2;
  drums_start(0);
  steps(10000);
  for (int32_t f = 0; f < 2500; f++) ASSERT_EQ(step().first, sample_left(f)) << f;
  EXPECT_EQ(step().first, 0);
  EXPECT_EQ(drums.sounding, 0u);
}

TEST_F(DrumTest, VoiceWithoutASampleNeverSounds) {
  drum_set_tempo(200);
  for (uint16_t& mask : pattern().steps) mask = 0xFFFF;
  drums_start(0);
  for (int i = 0; i < 120000; i++) ASSERT_EQ(step(), std::make_pair(0, 0));
}

struct MixCase {
  int16_t all_gain;
  int16_t gain;
  int16_t pan;
  int32_t left_index;
  int32_t right_index;
};

class DrumMixTest : public DrumTest, public testing::WithParamInterface<MixCase> {};

TEST_P(DrumMixTest, GainAndPanPickGainTableEntries) {
  const MixCase c = GetParam();
  drum_set_tempo(120);
  give_sample(2, 100);
  pattern().steps[0] = 4;
  pattern().all_gain = c.all_gain;
  pattern().gain[2] = c.gain;
  pattern().pan[2] = c.pan;
  drums_start(0);
  steps(50);
  const auto out = step();
  const GainEntry& l = gain_table[c.left_index];
  const GainEntry& r = gain_table[c.right_index];
  EXPECT_EQ(out.first, int32_t((int64_t(sample_left(50) >> 4) * l.multiplier) >> l.shift));
  EXPECT_EQ(out.second, int32_t((int64_t(sample_right(50) >> 4) * r.multiplier) >> r.shift));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, DrumMixTest,
    testing::Values(MixCase{0, 0, 0, 0, 0}, MixCase{-6, -3, 10, 19, 9}, MixCase{-6, -3, -10, 9, 19},
                    MixCase{-96, -96, 96, 288, 192}, MixCase{-96, -96, -96, 192, 288}),
    [](const auto& info) {
      const auto& c = info.param;
      return param_case_name("all_gain", c.all_gain, "gain", c.gain, "pan", c.pan);
    });

struct ClockCase {
  int16_t drums_clock_out;
  int bytes_per_pass;
  int ticks_per_pass;
};

class DrumClockOutTest : public DrumTest, public testing::WithParamInterface<ClockCase> {};

TEST_P(DrumClockOutTest, OnePassOfThePattern) {
  const ClockCase c = GetParam();
  config.drums_clock_out = c.drums_clock_out;
  drum_set_tempo(120);
  drums_start(0);
  int bytes = 0;
  for (int chunk = 0; chunk < 192; chunk++) {
    steps(1000);  // one step; the queue holds 255 messages
    bytes += take_clock_bytes();
  }
  EXPECT_EQ(bytes, c.bytes_per_pass);
  EXPECT_EQ(clock_follower.pending_ticks, c.ticks_per_pass);
  if (c.ticks_per_pass > 0) {
    // Measure starts at steps 0 and 96: each measure counted 96 ticks.
    EXPECT_EQ(clock_follower.measure_errors, 0);
    EXPECT_EQ(clock_follower.clocks_last_measure, 96);
    EXPECT_EQ(clock_follower.clocks_in_measure, 96);
  } else {
    EXPECT_EQ(clock_follower.clock_lock, -1) << "not primed";
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, DrumClockOutTest,
                         testing::Values(ClockCase{0, 0, 192}, ClockCase{1, 192, 192},
                                         ClockCase{2, 0, 0}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("mode", c.drums_clock_out);
                         });

TEST_F(DrumTest, StartPrimesTheFollowerUnlessItsClockIsOffOrAnOutsideClockLeads) {
  drum_set_tempo(100);
  drums_start(0);
  EXPECT_EQ(clock_follower.clock_lock, 1);
  EXPECT_EQ(clock_follower.clock_period, 1200.0);
  drums_stop(0);

  clock_reset();
  config.midi_clock_in = 1;
  drums_start(0);
  steps(5000);
  EXPECT_EQ(clock_follower.clock_lock, -1);
  EXPECT_EQ(clock_follower.pending_ticks, 0) << "the outside clock owns the follower";
}

TEST_F(DrumTest, StopRewindsAndLetsVoicesRingOut) {
  drum_set_tempo(120);
  give_sample(0, 3000);
  pattern().steps[0] = 1;
  drums_start(0);
  steps(100);
  drums_stop(0);
  EXPECT_EQ(drums.transport.counter, 0);
  EXPECT_EQ(drums.transport.step, 0);
  EXPECT_EQ(step().first, sample_left(100)) << "the voice plays on";
  drums_start(0);
  EXPECT_EQ(step().first, sample_left(0)) << "a new start begins at step 0";
}

TEST_F(DrumTest, PatternNumberAbove63SilencesEverything) {
  drum_set_tempo(120);
  give_sample(0, 3000);
  pattern().steps[0] = 1;
  drums_start(0);
  steps(10);
  drums.bank.current_pattern = 64;
  EXPECT_EQ(step(), std::make_pair(0, 0));
  EXPECT_EQ(drums.transport.counter, 10);
}

TEST_F(DrumTest, SelectingAPatternWithoutTempoGivesIt120) {
  drums.bank.patterns[4].bpm = 90;
  EXPECT_EQ(drum_select_pattern(5), 0);
  EXPECT_EQ(drum_timing().loop_length, 23040000 / 90);
  EXPECT_EQ(drum_select_pattern(9), 0);
  EXPECT_EQ(drums.bank.current_pattern, 8);
  EXPECT_EQ(drums.bank.patterns[8].bpm, 120);
  EXPECT_EQ(drum_timing().loop_length, 192000);
  EXPECT_EQ(drum_select_pattern(0), status_refused);
  EXPECT_EQ(drum_select_pattern(65), status_refused);
}

TEST_F(DrumTest, ReplacingASampleReturnsTheOldBlocks) {
  const int before = pool_available();
  give_sample(5, 3 * block_frames);
  EXPECT_EQ(pool_available(), before - 3);
  give_sample(5, 100);
  EXPECT_EQ(pool_available(), before - 1);
  EXPECT_EQ(drums.voices[5].length, 100);
  EXPECT_EQ(drums.voices[5].slot, 5);
}

}  // namespace
