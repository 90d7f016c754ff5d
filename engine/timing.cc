#include "engine/timing.h"

#include "config/config.h"
#include "engine/engine.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "core/lock.h"
#include "midi/clock.h"

namespace {

constexpr int32_t fraction_one = 256;         // step lengths in 1/256 frame
constexpr double max_pulse_spacing = 2000.0;  // frames between clock-out pulses at most
constexpr int32_t no_pulse = -1;              // a table head no position ever equals

// An empty pulse table: nothing is sent, and the engine's index stays on the sentinel.
void clear_pulses(Engine& e, int32_t t) {
  e.clock_pulse_index[t] = 0;
  e.clock_pulse_count[t] = 0;
  e.clock_pulse_table[t][0] = no_pulse;
}

}  // namespace

int32_t quant_step_boundary(int32_t t, int32_t steps) {
  if (!valid_track_index(t) || steps < 1) return status_refused;
  const Track& v = tracks[t];
  const int64_t length = v.length;
  if (length <= 0 || length >= max_quantised_length) return status_refused;
  const int64_t q = length * fraction_one / steps;  // step length in 1/256 frame
  if (q <= 0) return status_refused;
  const int64_t i = int64_t(v.position) * fraction_one / q;
  const int64_t start = i == steps ? 0 : i * q / fraction_one;
  if (v.rate < 0) return int32_t(start);
  int64_t boundary = start + q / fraction_one;
  if (boundary > length - 1) boundary = length - 1;
  return int32_t(boundary);
}

int64_t synchronised_length(int64_t l, int64_t s) {
  if (s <= 0) return l;
  return l + s + 2 - (l + 2) % s;
}

int32_t repeat_clock_pulses(int32_t t, int32_t factor, int64_t length) {
  expect_engine_lock(__func__);
  Engine& e = engine;
  int32_t count = e.clock_pulse_count[t];
  if (int64_t(factor) * count > max_clock_pulses) {
    clear_pulses(e, t);
    return 0;
  }
  int32_t* table = e.clock_pulse_table[t];
  for (int32_t r = 1; r < factor; r++)
    for (int32_t j = 0; j < count; j++) table[r * count + j] = int32_t(table[j] + r * length);
  count *= factor;
  e.clock_pulse_count[t] = count;
  return count;
}

void build_clock_pulses(int32_t t, int32_t length) {
  if (!valid_track_index(t)) return;
  Engine& e = engine;
  EngineLockGuard lock;
  if (tracks[t].clock_source == sync_midi) {
    clear_pulses(e, t);
    return;
  }
  // The loop is one measure, or a power-of-two number of measures when pulses would otherwise
  // lie more than 2000 frames apart.
  int32_t beats = config.beats_per_measure < 1 ? 1 : config.beats_per_measure;
  int32_t pulses = beats * clock_pulses_per_beat;
  double spacing = double(length) / pulses;
  while (spacing > max_pulse_spacing) {
    spacing /= 2;
    pulses *= 2;
  }
  if (pulses > max_clock_pulses) {
    clear_pulses(e, t);
    return;
  }
  double at = 0;
  for (int32_t k = 0; k < pulses; k++) {
    e.clock_pulse_table[t][k] = int32_t(at);
    at += spacing;
  }
  e.clock_pulse_index[t] = 1;
  e.clock_pulse_count[t] = pulses;
}

void fit_clock_pulses(int32_t t, int32_t length) {
  if (!valid_track_index(t)) return;
  Engine& e = engine;
  bool rebuild;
  {
    EngineLockGuard lock;
    const int32_t count = e.clock_pulse_count[t];
    const int32_t* table = e.clock_pulse_table[t];
    int32_t kept = 0;
    while (kept < count && table[kept] < length) kept++;
    rebuild = kept == 0 || kept == count;
    if (!rebuild) e.clock_pulse_count[t] = kept;
  }
  if (rebuild) build_clock_pulses(t, length);
  EngineLockGuard lock;
  const int32_t count = e.clock_pulse_count[t];
  if (count <= 0) return;
  const int32_t position = tracks[t].position;
  int32_t next = 0;
  while (next < count && e.clock_pulse_table[t][next] <= position) next++;  // sent already
  e.clock_pulse_index[t] = next == count ? 0 : next;
}
