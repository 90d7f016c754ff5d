#include "engine/latency_measure.h"

#include <cmath>
#include <vector>

LatencyMeasure latency_measure;

namespace {

// A capture whose mean square lies below this level (-80 dB of full scale) holds nothing.
constexpr double silence_rms = 16777216.0 * 1e-4;
// The peak must reach this normalised correlation, and stand at least twice as high as anything
// more than peak_width frames from it (a sound card's filters smear the peak over a few frames).
constexpr double peak_threshold = 0.3;
constexpr double peak_margin = 2.0;
constexpr int32_t peak_width = 16;

// A maximal-length sequence from a 16-bit Galois LFSR (taps 0xB400): white, and its
// correlation with any shifted copy of itself is small.
void make_burst(int32_t (&burst)[measure_burst_frames]) {
  constexpr uint16_t taps = 0xB400;
  uint16_t state = 0xACE1;
  for (int32_t& sample : burst) {
    const bool bit = (state & 1u) != 0;
    state = uint16_t(state >> 1);
    if (bit) state ^= taps;
    sample = bit ? measure_burst_level : -measure_burst_level;
  }
}

}  // namespace

void latency_measure_reset() {
  LatencyMeasure& m = latency_measure;
  m.state.store(measure_idle);
  m.frame = 0;
}

bool latency_measure_start() {
  LatencyMeasure& m = latency_measure;
  if (m.state.load(std::memory_order_acquire) != measure_idle) return false;
  make_burst(m.burst);
  m.frame = 0;
  m.state.store(measure_running, std::memory_order_release);
  return true;
}

RoundTrip find_round_trip(const int32_t* burst, int32_t burst_frames, const int32_t* capture,
                          int32_t capture_frames) {
  RoundTrip none{RoundTripOutcome::no_peak, 0, 0};
  if (burst_frames <= 0 || capture_frames < burst_frames) return none;
  // Energy of every window of the capture as a difference of running sums.
  std::vector<double> sums(size_t(capture_frames) + 1, 0.0);
  for (int32_t i = 0; i < capture_frames; i++)
    sums[size_t(i) + 1] = sums[size_t(i)] + double(capture[i]) * capture[i];
  if (sums.back() / capture_frames < silence_rms * silence_rms)
    return {RoundTripOutcome::silent, 0, 0};
  double burst_energy = 0;
  for (int32_t i = 0; i < burst_frames; i++) burst_energy += double(burst[i]) * burst[i];

  const int32_t lags = capture_frames - burst_frames + 1;
  std::vector<double> strength(size_t(lags), 0.0);
  int32_t best = 0;
  for (int32_t d = 0; d < lags; d++) {
    const double window = sums[size_t(d + burst_frames)] - sums[size_t(d)];
    if (window <= 0) continue;
    double c = 0;
    for (int32_t i = 0; i < burst_frames; i++) c += double(burst[i]) * capture[d + i];
    // Either polarity: some sound cards invert their inputs or outputs.
    strength[size_t(d)] = std::fabs(c) / std::sqrt(burst_energy * window);
    if (strength[size_t(d)] > strength[size_t(best)]) best = d;
  }
  double runner_up = 0;
  for (int32_t d = 0; d < lags; d++)
    if ((d < best - peak_width || d > best + peak_width) && strength[size_t(d)] > runner_up)
      runner_up = strength[size_t(d)];
  const double peak = strength[size_t(best)];
  if (peak < peak_threshold || peak < peak_margin * runner_up)
    return {RoundTripOutcome::no_peak, 0, peak};
  return {RoundTripOutcome::found, best, peak};
}
