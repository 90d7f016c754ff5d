// The gain table shared by the track voices and the drum voices: 512 {multiplier, shift} entries
// in 1 dB attenuation steps. Constant; any thread.
#pragma once

#include <array>
#include <cstdint>

constexpr int gain_table_size = 512;
constexpr int silent_gain_index = 90;  // gain-table entries from here on are silence

// Entry k turns x into ((x >> 4) × multiplier) >> shift. Index 0 is unity (less the four low
// bits), each step 1 dB quieter; from index 90 on, silence.
struct GainEntry {
  int32_t multiplier;
  int32_t shift;
};

constexpr std::array<GainEntry, gain_table_size> build_gain_table() {
  // 256 × 10^(-i/20) for i = 0..5, so six steps halve the gain and add one to the shift.
  constexpr int32_t dB_steps[6] = {256, 228, 203, 181, 161, 143};
  std::array<GainEntry, gain_table_size> table{};
  for (int k = 0; k < silent_gain_index; k++) table[k] = {dB_steps[k % 6], 4 + k / 6};
  return table;
}

inline constexpr std::array<GainEntry, gain_table_size> gain_table = build_gain_table();
static_assert(gain_table[silent_gain_index - 1].shift < 31, "gains shift without a cap");
