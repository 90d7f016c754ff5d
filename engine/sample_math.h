// Fixed-point sample arithmetic shared by the engine, the fades and the drum machine: linear
// 0-512 scaling, gain-table application, zero-crossing level approach and the output shifts.
// Pure functions; any thread.
#pragma once

#include <cstdint>

#include "engine/track.h"

// x × g / 512 for a linear gain g (512 = unity). Below 2^22 in magnitude the product keeps the
// low bits; larger samples are shifted first so the product cannot leave 32 bits.
inline int32_t scale_512(int32_t x, int32_t g) {
  constexpr int32_t small_limit = 1 << 22;
  if (x >= -small_limit && x < small_limit) return int32_t((int64_t(x) * g) >> 9);
  return int32_t(int64_t(x >> 9) * g);  // wraps like the 32-bit product for gains above 512
}

// ((x >> 4) × multiplier) >> shift of gain-table entry k; indexes outside the table are silence.
inline int32_t apply_gain(int32_t x, int32_t k) {
  if (uint32_t(k) >= uint32_t(gain_table_size)) return 0;
  const GainEntry& e = gain_table[k];  // every shift is below 31
  return int32_t((int64_t(x >> 4) * e.multiplier) >> e.shift);
}

// Moves a gain index toward its target by at most 8 steps, only at a zero crossing of the voice
// (last sample 0, or sample and last sample on different sides of zero), so no click is heard.
inline int32_t approach_level(int32_t current, int32_t target, int32_t sample, int32_t last) {
  if (current == target) return current;
  if (last != 0 && (sample < 0) == (last < 0)) return current;
  constexpr int32_t max_step = 8;
  int32_t d = target - current;
  if (d > max_step) d = max_step;
  if (d < -max_step) d = -max_step;
  return current + d;
}

// (x << left) >> right with the output-gain limits: a left shift of 32 or more gives 0, a right
// shift stops at 31. The left shift wraps in 32 bits.
inline int32_t shift_output(int32_t x, int32_t left, int32_t right) {
  if (uint32_t(left) >= 32) return 0;
  int32_t y = int32_t(uint32_t(x) << left);
  if (right > 31) right = 31;
  if (right < 0) right = 0;
  return y >> right;
}

// Two's-complement sum, wrapping like the 32-bit mix it stands for: track sums are never clipped.
inline int32_t wrap_add(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
