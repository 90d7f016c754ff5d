// The per-sample engine inside the real binary: a sine played into INL/INR comes out of
// OUTL/OUTR once the noise gate has opened, scaled by the main gain in force.
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "config/config.h"
#include "tests/support/harness.h"

namespace {

using zt4test::wait_until;

constexpr double sine_period = 128;  // frames: 375 Hz at 48000 frames/s
constexpr float left_amplitude = 0.25f;
constexpr float right_amplitude = -0.125f;    // opposite sign: a swapped pair would show
constexpr size_t measured_frames = 37 * 128;  // whole periods

// Least-squares fit of a·sin + b·cos at the test frequency to a recorded channel: the amplitude
// (with the sign of the sine term's phase) and the largest residual.
struct SineFit {
  double amplitude;
  double phase;
  double max_residual;
};

SineFit fit(const std::vector<std::pair<float, float>>& frames, bool right) {
  double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
  for (size_t i = 0; i < frames.size(); i++) {
    double w = 2 * M_PI * double(i) / sine_period;
    double s = std::sin(w), c = std::cos(w), y = right ? frames[i].second : frames[i].first;
    ss += s * s;
    sc += s * c;
    cc += c * c;
    ys += y * s;
    yc += y * c;
  }
  double det = ss * cc - sc * sc;
  double a = (ys * cc - yc * sc) / det;
  double b = (yc * ss - ys * sc) / det;
  double worst = 0;
  for (size_t i = 0; i < frames.size(); i++) {
    double w = 2 * M_PI * double(i) / sine_period;
    double y = right ? frames[i].second : frames[i].first;
    worst = std::max(worst, std::fabs(y - a * std::sin(w) - b * std::cos(w)));
  }
  return {std::hypot(a, b), std::atan2(b, a), worst};
}

class EngineIntegration : public zt4test::Zt4Test {
 protected:
  // Places a valid configuration record with the given main level.
  void place_config(int16_t main_level) {
    config_defaults();
    config.all_main_level = main_level;
    config.checksum = 0;
    config.checksum =
        config_checksum(reinterpret_cast<const uint16_t*>(&config), config_word_count);
    dir.write(config_file_name, std::string(reinterpret_cast<const char*>(&config), sizeof config));
  }

  // Plays the test sine, waits for the gate to open and the DC filter to settle, and fits the
  // recorded output of both channels.
  std::pair<SineFit, SineFit> measure() {
    client.play([](uint64_t f) {
      float s = float(std::sin(2 * M_PI * double(f) / sine_period));
      return std::make_pair(left_amplitude * s, right_amplitude * s);
    });
    const uint64_t start = client.frames_processed();
    EXPECT_TRUE(wait_until([&] { return client.frames_processed() > start + 48000; }, 20));
    std::vector<std::pair<float, float>> out = client.record(measured_frames);
    EXPECT_EQ(out.size(), measured_frames);
    return {fit(out, false), fit(out, true)};
  }

  static void expect_gain(const std::pair<SineFit, SineFit>& f, double gain) {
    // The DC filter's estimate of a sine stays below 1/1000 of its amplitude.
    EXPECT_NEAR(f.first.amplitude, gain * left_amplitude, 1e-3 * gain * left_amplitude);
    EXPECT_NEAR(f.second.amplitude, gain * -right_amplitude, 1e-3 * gain * -right_amplitude);
    EXPECT_LT(f.first.max_residual, 2e-3 * gain * left_amplitude);
    EXPECT_LT(f.second.max_residual, 2e-3 * gain * -right_amplitude);
    // Opposite signs: the phases differ by half a turn.
    double turn = std::remainder(f.first.phase - f.second.phase, 2 * M_PI);
    EXPECT_NEAR(std::fabs(turn), M_PI, 1e-2);
  }
};

TEST_F(EngineIntegration, SinePassesAtUnityWithMainLevelZero) {
  place_config(0);
  start_zt4();
  open_client();
  expect_gain(measure(), 1.0);
}

TEST_F(EngineIntegration, DefaultMainLevelQuartersTheOutput) {
  start_zt4();  // no configuration file: the defaults, main level -2
  open_client();
  expect_gain(measure(), 0.25);
}

}  // namespace
