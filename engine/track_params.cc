#include "engine/track_params.h"

#include "engine/track.h"
#include "core/lock.h"

namespace {
constexpr int percent_full = 100;
}  // namespace

int set_track_feedback(int k, int percent) {
  if (k < 1 || k > track_count || percent < 0 || percent > percent_full) return status_refused;
  const int target = percent == percent_full ? ramp_unity : percent * ramp_unity / percent_full;
  EngineLockGuard lock;
  tracks[k - 1].fade_target = target;
  return 0;
}

void assign_output(uint8_t mask, int dest) {
  EngineLockGuard lock;
  for (int t = 0; t < track_count; ++t) {
    if (mask & (1u << t)) engine_state.track_output[t] = dest;
  }
}

int set_track_speed(int k, int b) {
  if (k < 1 || k > track_count || b < 0 || b > speed_step_max) return status_refused;
  EngineLockGuard lock;
  Track& track = tracks[k - 1];
  int rate = b + speed_step_max;
  if (!track.half_speed) rate *= 2;
  track.rate = track.rate < 0 ? -rate : rate;
  return 0;
}
