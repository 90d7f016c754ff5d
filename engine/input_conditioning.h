// Input conditioning steps of the per-sample engine: raw capture ring, DC removal, noise gate
// and the level-meter window. Audio thread only (engine mutex held); the functions take their
// records by reference so tests can run them on local ones.
#pragma once

#include <cstdint>

#include "engine/engine.h"

constexpr int meter_window_frames = 4800;  // 0.1 s

// Stores the raw frame in the capture ring unless capturing is stopped (index -1).
void capture_input(Engine& e, EngineState& s, const int32_t in[2]);

// One-pole DC removal: returns x less the running mean, whose time constant is 32768 frames.
// state holds the mean × 65536.
int32_t dc_remove(int64_t& state, int32_t x);

// Noise gate for channel c: closes after more than gate_delay consecutive quiet samples, opens
// again after more than gate_delay / 8 loud ones, then fades in by 8 bits of shift per zero
// crossing. Also tracks the input peak.
int32_t noise_gate(Engine& e, EngineState& s, int32_t x, int c);

// Latches the peaks every 4800 frames.
void meter_window(EngineState& s);
