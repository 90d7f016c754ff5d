#include "engine/click.h"

#include <cmath>

#include "core/constants.h"
#include "engine/sample_math.h"

Click click;

namespace {

constexpr double tick_hz = 1000.0;
constexpr double accent_hz = 1500.0;
constexpr double tick_amplitude = 0.5 * 16777216.0;     // half of full scale (2^24)
constexpr double decay_frames = 240.0;                  // the tick falls by 1/e every 5 ms
constexpr float float_per_sample = 1.0f / 16777216.0f;  // full scale ±2^24 is ±1.0

}  // namespace

void click_reset() {
  Click& c = click;
  for (int a = 0; a < 2; ++a) {
    const double hz = a != 0 ? accent_hz : tick_hz;
    for (int32_t i = 0; i < click_frames; ++i) {
      const double t = double(i) / frames_per_second;
      c.wave[a][i] =
          int32_t(tick_amplitude * std::exp(-i / decay_frames) * std::sin(2.0 * M_PI * hz * t));
    }
  }
  for (int s = 0; s < click_slots; ++s) {
    c.start[s] = 0;
    c.accent[s] = 0;
    c.sounding[s] = 0;
  }
  c.next_slot = 0;
  c.sounding_count = 0;
}

void click_start(uint32_t frame, bool accent) {
  Click& c = click;
  const int32_t s = c.next_slot;
  if (!c.sounding[s]) c.sounding_count++;
  c.start[s] = frame;
  c.accent[s] = accent ? 1 : 0;
  c.sounding[s] = 1;
  c.next_slot = (s + 1) % click_slots;
}

void click_mix_period(float* left, float* right, uint32_t frames, uint32_t last_frame) {
  Click& c = click;
  if (c.sounding_count == 0) return;
  const uint32_t first_frame = last_frame - frames + 1u;
  for (int s = 0; s < click_slots; ++s) {
    if (!c.sounding[s]) continue;
    // Frames of the tick already played before this period, and its frames in the period.
    const int64_t into = int64_t(int32_t(first_frame - c.start[s]));
    const int32_t gain = c.accent[s] ? 0 : click_gain_index;
    const int32_t* wave = c.wave[c.accent[s]];
    for (uint32_t i = 0; i < frames; ++i) {
      const int64_t k = into + i;
      if (k < 0) continue;
      if (k >= click_frames) break;
      const float x = float(apply_gain(wave[k], gain)) * float_per_sample;
      left[i] += x;
      right[i] += x;
    }
    if (into + frames >= click_frames) {
      c.sounding[s] = 0;
      c.sounding_count--;
    }
  }
}
