#include "engine/track_params.h"

#include "core/lock.h"
#include "engine/track.h"
#include "engine/track_ops.h"

namespace {
constexpr int percent_full = 100;
}  // namespace

int set_track_feedback(int t, int percent) {
  if (!valid_track_index(t) || percent < 0 || percent > percent_full) return status_refused;
  const int target = percent == percent_full ? ramp_unity : percent * ramp_unity / percent_full;
  EngineLockGuard lock;
  tracks[t].fade_target = target;
  return 0;
}

void assign_output(uint8_t mask, int dest) {
  EngineLockGuard lock;
  for (int t = 0; t < track_count; ++t) {
    if (mask & (1u << t)) engine_state.track_output[t] = dest;
  }
}

int set_track_speed(int t, int b) {
  if (!valid_track_index(t) || b < 0 || b > speed_step_max) return status_refused;
  EngineLockGuard lock;
  Track& track = tracks[t];
  int rate = b + speed_step_max;
  if (!track.half_speed) rate *= 2;
  track.rate = track.rate < 0 ? -rate : rate;
  return 0;
}
