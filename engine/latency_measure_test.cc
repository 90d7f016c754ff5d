// Finding the measuring burst in a capture: the delay to the frame, either polarity, through a
// sound card's smearing and noise; silence, noise alone and a delay beyond the window are refused.
#include "engine/latency_measure.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/fixtures/test_names.h"

namespace {

struct Capture {
  std::vector<int32_t> frames = std::vector<int32_t>(size_t(measure_capture_frames), 0);
};

// The burst of a started measurement.
const int32_t* burst() {
  latency_measure_reset();
  EXPECT_TRUE(latency_measure_start());
  EXPECT_FALSE(latency_measure_start());  // one at a time
  latency_measure_reset();
  return latency_measure.burst;
}

// The burst arriving `delay` frames late at `gain`, through a three-frame average when smeared,
// with white noise of `noise` (full-scale fraction) added.
Capture arriving(int32_t delay, double gain, bool smeared, double noise) {
  Capture c;
  const int32_t* b = burst();
  std::mt19937 rng(7);
  std::normal_distribution<double> white(0.0, noise * 16777216.0);
  for (int32_t i = 0; i < measure_capture_frames; i++) {
    double x = 0;
    for (int32_t k = 0; k < (smeared ? 3 : 1); k++) {
      const int32_t j = i - delay - k;
      if (j >= 0 && j < measure_burst_frames) x += gain * b[j] / (smeared ? 3 : 1);
    }
    c.frames[size_t(i)] = int32_t(x + (noise > 0 ? white(rng) : 0));
  }
  return c;
}

RoundTrip find(const Capture& c) {
  return find_round_trip(latency_measure.burst, measure_burst_frames, c.frames.data(),
                         measure_capture_frames);
}

struct DelayCase {
  int32_t delay;
  double gain;
  bool smeared;
  double noise;
};

class RoundTripFound : public testing::TestWithParam<DelayCase> {};

TEST_P(RoundTripFound, AtTheBurstsDelay) {
  const DelayCase& c = GetParam();
  const RoundTrip r = find(arriving(c.delay, c.gain, c.smeared, c.noise));
  ASSERT_EQ(r.outcome, RoundTripOutcome::found);
  // The three-frame average has its centre one frame late.
  EXPECT_NEAR(r.frames, c.delay + (c.smeared ? 1 : 0), c.smeared ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Delays, RoundTripFound,
                         testing::Values(DelayCase{0, 1.0, false, 0}, DelayCase{37, 0.5, false, 0},
                                         DelayCase{803, -0.25, false,
                                                   0},  // an inverting sound card
                                         DelayCase{2100, 0.1, true, 0.01},
                                         DelayCase{max_measured_round_trip, 1.0, false, 0}),
                         [](const testing::TestParamInfo<DelayCase>& info) {
                           return param_case_name("delay", info.param.delay, "gain_percent",
                                                  info.param.gain * 100,
                                                  info.param.smeared ? "smeared" : "sharp",
                                                  "noise_permille", info.param.noise * 1000);
                         });

TEST(RoundTripRefused, SilenceNoiseAndALateBurstShowNoPeak) {
  EXPECT_EQ(find(Capture{}).outcome, RoundTripOutcome::silent);                    // no cable
  EXPECT_EQ(find(arriving(0, 0, false, 0.1)).outcome, RoundTripOutcome::no_peak);  // noise alone
  EXPECT_EQ(find(arriving(max_measured_round_trip + 20, 1.0, false, 0)).outcome,
            RoundTripOutcome::no_peak);  // beyond the window
}

TEST(LatencyMeasureFrame, PlaysTheBurstOnTheLeftAndKeepsTheInput) {
  latency_measure_reset();
  ASSERT_TRUE(latency_measure_start());
  LatencyMeasure& m = latency_measure;
  for (int32_t i = 0; i < measure_capture_frames; i++) {
    ASSERT_EQ(m.state.load(), measure_running);
    int32_t out[2] = {123, 456};
    latency_measure_frame(m, i * 3, out);
    ASSERT_EQ(out[0], i < measure_burst_frames ? m.burst[i] : 0);
    ASSERT_EQ(out[1], 0);
  }
  EXPECT_EQ(m.state.load(), measure_captured);
  EXPECT_EQ(m.capture[100], 300);
  latency_measure_reset();
}

}  // namespace
