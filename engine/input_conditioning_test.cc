#include "engine/input_conditioning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/fixtures/engine_test_fixture.h"

namespace {

TEST(DcRemoval, ConstantInputDecaysAsTheEstimateRises) {
  int64_t state = 0;
  int32_t previous = dc_remove(state, 1000);
  EXPECT_EQ(previous, 1000);  // the estimate starts at 0
  for (int i = 2; i <= 32768; i++) {
    int32_t out = dc_remove(state, 1000);
    ASSERT_LE(out, previous) << i;
    previous = out;
  }
  // One time constant: about 1000 / e left.
  EXPECT_NEAR(previous, 1000 * std::exp(-1.0), 10);
  for (int i = 0; i < 20 * 32768; i++) previous = dc_remove(state, 1000);
  // The truncating shifts leave the estimate one below the mean.
  EXPECT_EQ(previous, 1);
  EXPECT_EQ(state, 1000 * 65536 - 32767);
}

TEST(DcRemoval, NegativeOffsetSettlesToo) {
  int64_t state = 0;
  int32_t out = 0;
  for (int i = 0; i < 20 * 32768; i++) out = dc_remove(state, -5000 + (i & 1 ? 300 : -300));
  EXPECT_GE(out, 290);  // the ±300 square wave survives, centred on 0
  EXPECT_LE(out, 310);
}

// A gate run: feed samples, compare the outputs.
struct GateRun {
  Engine e{};
  EngineState s{};
  std::vector<int32_t> feed(int32_t x, int count) {
    std::vector<int32_t> out;
    for (int i = 0; i < count; i++) out.push_back(noise_gate(e, s, x, 0));
    return out;
  }
};

TEST(NoiseGate, FirstLoudSamplesAfterStartAreSilenced) {
  GateRun g;
  const int32_t loud = 1 << 24;
  std::vector<int32_t> out = g.feed(loud, 126);
  for (int32_t v : out) ASSERT_EQ(v, 0);
  EXPECT_EQ(g.feed(loud, 1)[0], 1);  // 2^24 >> 24
  EXPECT_EQ(g.s.input_peak, loud);
}

TEST(NoiseGate, ClosesAfterDelayAndReopensWithShiftSteps) {
  GateRun g;
  g.e.gate_loud_count[0] = 126;  // open, no shift
  std::vector<int32_t> quiet = g.feed(100, 1002);
  for (int i = 0; i < 1001; i++) ASSERT_EQ(quiet[i], 100) << i;
  EXPECT_EQ(quiet[1001], 0);         // closed
  EXPECT_EQ(g.feed(-100, 5)[4], 0);  // stays closed while quiet

  const int32_t loud = 1 << 24;
  std::vector<int32_t> opening = g.feed(loud, 127);
  for (int i = 0; i < 126; i++) ASSERT_EQ(opening[i], 0) << i;
  EXPECT_EQ(opening[126], 1);  // passes with a shift of 24
  // Each zero crossing takes 8 bits off the shift.
  struct Step {
    int32_t x, expected, shift;
  } steps[] = {{loud, 1, 24},    {-loud, -256, 16}, {-loud, -256, 16},
               {loud, 65536, 8}, {0, 0, 0},         {-loud, -loud, 0}};
  for (const Step& st : steps) {
    EXPECT_EQ(noise_gate(g.e, g.s, st.x, 0), st.expected) << st.x;
    EXPECT_EQ(g.e.gate_shift[0], st.shift) << st.x;
  }
}

TEST(NoiseGate, ZeroIsNotQuietAndThresholdIsExclusive) {
  struct Case {
    int32_t x;
    bool quiet;
  } cases[] = {{0, false}, {1, true}, {4095, true}, {4096, false}, {-4095, true}, {-4096, false}};
  for (const Case& c : cases) {
    GateRun g;
    g.e.gate_loud_count[0] = 126;
    g.e.gate_quiet_count[0] = 1001;  // one more quiet sample closes it
    int32_t out = noise_gate(g.e, g.s, c.x, 0);
    EXPECT_EQ(out == 0 && c.x != 0, c.quiet) << c.x;
    EXPECT_EQ(g.e.gate_quiet_count[0], c.quiet ? 1001 : 0) << c.x;
  }
}

TEST(NoiseGate, ChannelsAreIndependentAndFollowTheSettings) {
  GateRun g;
  g.s.gate_level = 1 << 10;
  g.s.gate_delay = 80;  // opens after more than 10 loud samples
  for (int i = 0; i < 11; i++) ASSERT_EQ(noise_gate(g.e, g.s, 1 << 25, 1), 0);
  EXPECT_EQ(noise_gate(g.e, g.s, 1 << 25, 1), 2);  // passed with a shift of 24
  EXPECT_EQ(g.e.gate_loud_count[0], 0);
  EXPECT_EQ(g.e.gate_shift[0], 0);
}

class InputTest : public EngineTest {};

TEST_F(InputTest, CaptureRingWrapsAndStops) {
  for (int i = 0; i < 2048; i++) run(i, -i);
  EXPECT_EQ(engine_state.capture_index, 0);
  EXPECT_EQ(engine.capture_ring[0], 0);
  EXPECT_EQ(engine.capture_ring[4094], 2047);
  EXPECT_EQ(engine.capture_ring[4095], -2047);
  run(7, 8);
  EXPECT_EQ(engine.capture_ring[0], 7);
  engine_state.capture_index = -1;
  run(9, 9);
  EXPECT_EQ(engine.capture_ring[2], 1);  // still frame 1 of the first pass
  EXPECT_EQ(engine_state.capture_index, -1);
}

TEST_F(InputTest, MeterLatchesPeaksEveryWindow) {
  open_gate();
  run(5000, 100);  // the first frame closes a window that holds its own input peak
  EXPECT_EQ(engine_state.input_peak_shown, 5000);
  EXPECT_EQ(engine_state.output_peak_shown, 0);  // the output peak is taken after the window
  EXPECT_EQ(engine_state.meter_countdown, meter_window_frames);
  for (int i = 0; i < meter_window_frames; i++) run(0, 0);
  EXPECT_EQ(engine_state.input_peak_shown, 5000);
  run(0, 0);
  EXPECT_EQ(engine_state.input_peak_shown, 0);
  EXPECT_EQ(engine_state.output_peak_shown, 5000);
  EXPECT_EQ(engine_state.input_peak, 0);
  EXPECT_EQ(engine_state.output_peak, 0);
}

TEST_F(InputTest, DryPathCarriesTheInputToMainOnly) {
  open_gate();
  EngineFrame f = run(10000, 20000);  // DC estimate 0 on the first frame
  EXPECT_EQ(f.main[0], 10000);
  EXPECT_EQ(f.main[1], 20000);
  EXPECT_EQ(f.aux1[0], 0);
  EXPECT_EQ(f.aux2[1], 0);
  EXPECT_EQ(engine.last_input[0], 10000);
  EXPECT_EQ(f.in[0], 0);  // record gain 0 until a role ramps it up
}

TEST_F(InputTest, MonoModeSumsTheInputsAndWetOnlyMutesTheDryPath) {
  open_gate();
  config.mono_input_mode = 1;
  EngineFrame f = run(10000, 20000);
  EXPECT_EQ(f.main[0], 30000);
  EXPECT_EQ(f.main[1], 30000);

  engine_state.dry_mask = 0;
  f = run(10000, 20000);
  EXPECT_EQ(f.main[0], 0);
  EXPECT_EQ(f.main[1], 0);
  EXPECT_NE(engine.last_input[0], 0);  // still offered to the recording role
}

}  // namespace
