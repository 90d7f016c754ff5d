#include "engine/timing.h"
#include "engine/multiply.h"

#include <vector>

#include "tests/fixtures/test_names.h"
#include "tests/fixtures/looper_test_fixture.h"

namespace {

class TimingTest : public LooperTest {};

struct PulseCase {
  int32_t length;
  int32_t beats;
  int32_t count;
  int32_t spacing;  // frames between the first two pulses
};

class PulseTableTest : public TimingTest, public testing::WithParamInterface<PulseCase> {};

TEST_P(PulseTableTest, OneMeasureOrPowersOfTwoOfIt) {
  const PulseCase c = GetParam();
  config.beats_per_measure = int16_t(c.beats);
  build_clock_pulses(3, c.length);
  EXPECT_EQ(engine.clock_pulse_count[3], c.count);
  if (c.count == 0) {
    EXPECT_EQ(engine.clock_pulse_index[3], 0);
    EXPECT_EQ(engine.clock_pulse_table[3][0], -1);  // no position ever meets it
    return;
  }
  EXPECT_EQ(engine.clock_pulse_index[3], 1);
  EXPECT_EQ(engine.clock_pulse_table[3][0], 0);
  EXPECT_EQ(engine.clock_pulse_table[3][1], c.spacing);
  const double spacing = double(c.length) / c.count;
  EXPECT_EQ(engine.clock_pulse_table[3][c.count - 1], int32_t(spacing * (c.count - 1)));
}

INSTANTIATE_TEST_SUITE_P(Loops, PulseTableTest,
                         testing::Values(PulseCase{96000, 4, 96, 1000},
                                         PulseCase{480000, 4, 384, 1250},
                                         PulseCase{100000, 3, 72, 1388},
                                         PulseCase{4000000, 4, 0, 0}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("length", c.length, "beats", c.beats);
                         });

TEST_F(TimingTest, MidiClockedLoopsHaveNoPulses) {
  tracks[2].clock_source = sync_midi;
  build_clock_pulses(2, 96000);
  EXPECT_EQ(engine.clock_pulse_count[2], 0);
  EXPECT_EQ(engine.clock_pulse_index[2], 0);
  EXPECT_EQ(engine.clock_pulse_table[2][0], -1);
}

TEST_F(TimingTest, MultiplyByThreeRepeatsTheLoop) {
  make_loop(0, 10000, true, 9000);
  build_clock_pulses(0, 10000);
  ASSERT_EQ(multiply_track(0, 3), 0);
  EXPECT_EQ(tracks[0].length, 30000);
  EXPECT_EQ(tracks[0].loop_end, 30000);
  for (int32_t i : {0, 1, 8191, 8192, 9999}) {
    EXPECT_EQ(left_sample(0, i + 10000), i + 1) << i;
    EXPECT_EQ(left_sample(0, i + 20000), i + 1) << i;
  }
  EXPECT_EQ(engine.clock_pulse_count[0], 288);
  EXPECT_EQ(engine.clock_pulse_table[0][96], 10000);
  EXPECT_EQ(engine.clock_pulse_table[0][97], engine.clock_pulse_table[0][1] + 10000);
  EXPECT_EQ(console_text(), "New clock pulse count 288\n");
  EXPECT_EQ(undo_level_count(0), 1);
  ASSERT_EQ(undo(0), 0);  // back to one pass
  EXPECT_EQ(tracks[0].length, 10000);
}

// Undoing a multiply gives the clock output the pulses of the loop it restores, and the clock
// goes on from the play head.
TEST_F(TimingTest, UndoingAMultiplyRestoresThePulsesOfTheShorterLoop) {
  make_loop(0, 96000, true, 50000);
  tracks[0].ramp_gain = ramp_unity;
  build_clock_pulses(0, 96000);  // 96 pulses, 1000 frames apart
  const int32_t* table = engine.clock_pulse_table[0];
  const std::vector<int32_t> one_pass(table, table + 96);
  ASSERT_EQ(multiply_track(0, 2), 0);
  const std::vector<int32_t> two_passes(table, table + 192);
  ASSERT_EQ(multiply_track(0, 2), 0);
  ASSERT_EQ(engine.clock_pulse_count[0], 384);
  run_frames(300000);  // the play head in the fourth pass
  ASSERT_EQ(undo(0), 0);
  ASSERT_EQ(engine.clock_pulse_count[0], 192);
  EXPECT_EQ(std::vector<int32_t>(table, table + 192), two_passes);
  ASSERT_EQ(undo(0), 0);
  ASSERT_EQ(engine.clock_pulse_count[0], 96);
  EXPECT_EQ(std::vector<int32_t>(table, table + 96), one_pass);
  // One pass of the loop sends every pulse once.
  int pulses = 0;
  for (int32_t i = 0; i < 96000; i++) {
    const int32_t index = engine.clock_pulse_index[0];
    run_frames(1);
    pulses += engine.clock_pulse_index[0] != index;
  }
  EXPECT_EQ(pulses, 96);
}

struct MultiplyPulseCase {
  int32_t count;
  int32_t factor;
  int32_t result;
};

class MultiplyPulseTest : public TimingTest,
                          public testing::WithParamInterface<MultiplyPulseCase> {};

TEST_P(MultiplyPulseTest, ScalesOrDisablesThePulses) {
  const MultiplyPulseCase c = GetParam();
  make_loop(1, 1000);
  engine.clock_pulse_count[1] = c.count;
  ASSERT_EQ(multiply_track(1, c.factor), 0);
  EXPECT_EQ(engine.clock_pulse_count[1], c.result);
}

INSTANTIATE_TEST_SUITE_P(Counts, MultiplyPulseTest,
                         testing::Values(MultiplyPulseCase{384, 2, 768},
                                         MultiplyPulseCase{700, 4, 0},
                                         MultiplyPulseCase{600, 4, 2400},
                                         MultiplyPulseCase{0, 2, 0}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("count", c.count, "factor", c.factor);
                         });

TEST_F(TimingTest, MultiplyOfAReversedLoopKeepsItsDirection) {
  make_loop(0, 1000);
  tracks[0].rate = -256;
  ASSERT_EQ(multiply_track(0, 2), 0);
  EXPECT_EQ(tracks[0].loop_start, 1999);
  EXPECT_EQ(tracks[0].loop_end, -1);
}

TEST_F(TimingTest, MultiplyRefusesBadAndBusyTracks) {
  make_loop(0, 1000);
  EXPECT_EQ(multiply_track(-1, 2), -22);
  EXPECT_EQ(multiply_track(8, 2), -22);
  EXPECT_EQ(multiply_track(1, 2), -22);  // empty
  engine_state.replace_track = 0;
  EXPECT_EQ(multiply_track(0, 2), -22);
  EXPECT_EQ(tracks[0].length, 1000);
}

TEST_F(TimingTest, MultiplyOutOfBlocksLeavesTheLoopAndThePoolAsTheyWere) {
  make_loop(0, 3 * block_frames - 100);
  held.hold_all_but(2);
  const int available = pool_available();
  EXPECT_EQ(multiply_track(0, 3), -12);
  EXPECT_EQ(pool_available(), available);
  EXPECT_EQ(tracks[0].length, 3 * block_frames - 100);
  EXPECT_EQ(track_block_count(0), 3);
  EXPECT_EQ(undo_level_count(0), 0);
  EXPECT_EQ(console_text(), "");
}

struct BoundaryCase {
  int32_t length;
  int32_t steps;
  int32_t position;
  int32_t rate;
  int32_t boundary;
};

class BoundaryTest : public TimingTest, public testing::WithParamInterface<BoundaryCase> {};

TEST_P(BoundaryTest, NextStepAfterThePosition) {
  const BoundaryCase c = GetParam();
  tracks[0].length = c.length;
  tracks[0].position = c.position;
  tracks[0].rate = c.rate;
  EXPECT_EQ(quant_step_boundary(0, c.steps), c.boundary);
}

INSTANTIATE_TEST_SUITE_P(Steps, BoundaryTest,
                         testing::Values(BoundaryCase{100000, 4, 30000, 256, 50000},
                                         BoundaryCase{100000, 4, 99990, 256, 99999},
                                         BoundaryCase{100000, 4, 0, 256, 25000},
                                         BoundaryCase{100000, 4, 30000, -256, 25000},
                                         BoundaryCase{100000, 3, 70000, 256, 99999},
                                         BoundaryCase{8388607, 2, 0, 256, 4194303},
                                         BoundaryCase{8388608, 2, 0, 256, -22},
                                         BoundaryCase{0, 2, 0, 256, -22},
                                         BoundaryCase{1000, 0, 0, 256, -22}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("length", c.length, "steps", c.steps, "at",
                                                  c.position, "rate", c.rate);
                         });

TEST_F(TimingTest, SynchronisedLengthIsTheNextMultipleMoreThanTwoFramesAhead) {
  EXPECT_EQ(synchronised_length(99997, 100000), 100000);
  EXPECT_EQ(synchronised_length(99998, 100000), 200000);
  EXPECT_EQ(synchronised_length(99999, 100000), 200000);
  EXPECT_EQ(synchronised_length(150000, 100000), 200000);
  EXPECT_EQ(synchronised_length(1, 95999), 95999);
}

}  // namespace
