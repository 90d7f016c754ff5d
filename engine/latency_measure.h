// Round-trip measurement through a cable from OUTL to INL: a burst of pseudo-random noise leaves
// on OUTL while INL is captured, and the main thread finds the burst in the capture by
// correlation. The handler of "Measure Latency" starts it (main thread), the process callback
// plays and captures (audio thread), the idle tick finishes it.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int32_t measure_burst_frames = 4096;    // 85 ms of noise: a sharp, unmistakable peak
constexpr int32_t measure_burst_level = 1 << 22;  // a quarter of full scale
// The longest round trip a measurement finds; the capture holds the burst that far late.
constexpr int32_t max_measured_round_trip = 16384;
constexpr int32_t measure_capture_frames = measure_burst_frames + max_measured_round_trip;

enum MeasureState : int32_t {
  measure_idle = 0,
  measure_running = 1,   // set by the main thread once the burst is ready
  measure_captured = 2,  // set by the audio thread when the capture is full
};

struct LatencyMeasure {
  std::atomic<int32_t> state{measure_idle};
  int32_t frame = 0;  // audio thread, while running
  int32_t burst[measure_burst_frames] = {};
  int32_t capture[measure_capture_frames] = {};  // INL as it arrived, before any conditioning
};

extern LatencyMeasure latency_measure;

void latency_measure_reset();

// Main thread: begins a measurement; false when one is already running.
bool latency_measure_start();

// Audio thread, once per frame while the state is measure_running: the main output carries the
// burst on the left and silence on the right (nothing else, so the cable carries the burst
// alone), and the raw left input is kept.
inline void latency_measure_frame(LatencyMeasure& m, int32_t raw_left, int32_t out[2]) {
  const int32_t i = m.frame;
  out[0] = i < measure_burst_frames ? m.burst[i] : 0;
  out[1] = 0;
  if (i < measure_capture_frames) m.capture[i] = raw_left;
  m.frame = i + 1;
  if (i + 1 == measure_capture_frames) m.state.store(measure_captured, std::memory_order_release);
}

enum class RoundTripOutcome { found, silent, no_peak };

struct RoundTrip {
  RoundTripOutcome outcome;
  int32_t frames;   // the burst's delay in the capture, when found
  double strength;  // normalised correlation at the peak, 0..1
};

// Finds burst in capture (any thread; pure). Silent when the capture holds (almost) nothing;
// no_peak when no delay stands out clearly: noise, another signal, or a delay beyond the window.
RoundTrip find_round_trip(const int32_t* burst, int32_t burst_frames, const int32_t* capture,
                          int32_t capture_frames);
