// Input conditioning steps of the per-sample engine: raw capture ring, DC removal, noise gate
// and the level-meter window. Audio thread only (engine mutex held); the functions take their
// records by reference so tests can run them on local ones. Inline: they run every frame.
#pragma once

#include <cstdint>

#include "engine/engine.h"

constexpr int meter_window_frames = 4800;  // 0.1 s
constexpr int16_t gate_closed_shift = 24;  // a gate that opens starts 144 dB down
constexpr int16_t gate_shift_step = 8;     // and comes up 48 dB per zero crossing

// Stores the raw frame in the capture ring unless capturing is stopped (index -1).
inline void capture_input(Engine& e, EngineState& s, const int32_t in[2]) {
  int32_t i = s.capture_index;
  if (i < 0) return;
  if (i > capture_ring_words - 2) i = 0;  // an index set from outside may be odd or too large
  e.capture_ring[i] = in[0];
  e.capture_ring[i + 1] = in[1];
  i += 2;
  if (i >= capture_ring_words) i = 0;
  s.capture_index = i;
}

// One-pole DC removal: returns x less the running mean, whose time constant is 32768 frames.
// state holds the mean × 65536: t = S × 32767 + x × 65536, S' = t >> 15, and the estimate is
// the low 32 bits of t >> 31 (both shifts arithmetic).
inline int32_t dc_remove(int64_t& state, int32_t x) {
  const int64_t t = state * 32767 + int64_t(x) * 65536;
  state = t >> 15;
  const int32_t estimate = int32_t(t >> 31);
  return int32_t(uint32_t(x) - uint32_t(estimate));
}

// Noise gate for channel c: closes after more than gate_delay consecutive quiet samples, opens
// again after more than gate_delay / 8 loud ones, then fades in by 8 bits of shift per zero
// crossing. A sample of exactly 0 is not quiet. Also tracks the input peak.
inline int32_t noise_gate(Engine& e, EngineState& s, int32_t x, int c) {
  if (x > s.input_peak) s.input_peak = x;
  int16_t shift = e.gate_shift[c];
  if (shift > 0 && (x == 0 || (x < 0) != (e.gate_last[c] < 0))) {
    shift = int16_t(shift - gate_shift_step);
    e.gate_shift[c] = shift;
  }
  const int32_t level = s.gate_level;
  const int32_t delay = s.gate_delay;
  const bool quiet = x != 0 && x < level && x > -level;
  if (quiet) {
    if (e.gate_quiet_count[c] <= delay) {
      e.gate_quiet_count[c]++;
      e.gate_last[c] = x;
      return x >> shift;
    }
    e.gate_loud_count[c] = 0;  // closed
    return 0;
  }
  if (e.gate_loud_count[c] > (delay >> 3)) {
    e.gate_quiet_count[c] = 0;
    e.gate_last[c] = x;
    return x >> shift;
  }
  e.gate_loud_count[c]++;  // still closed: opening starts from the quietest shift
  e.gate_shift[c] = gate_closed_shift;
  return 0;
}

// Latches the peaks every 4800 frames.
inline void meter_window(EngineState& s) {
  if (--s.meter_countdown >= 0) return;
  s.output_peak_shown = s.output_peak;
  s.input_peak_shown = s.input_peak;
  s.output_peak = 0;
  s.input_peak = 0;
  s.meter_countdown = meter_window_frames;
}
