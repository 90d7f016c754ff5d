#include "panel/clock_info.h"

#include "core/console.h"
#include "core/lock.h"
#include "engine/track.h"
#include "midi/clock.h"

namespace {

constexpr double frames_per_minute = 60.0 * frames_per_second;  // 2880000
constexpr int32_t bpm_shown_below = 400;
constexpr int diagnostics_characters = 17;
constexpr int32_t midi_error_scale = 16;  // midi_error holds the smoothed error × 16

// A double shown as an integer: truncated toward zero, clamped to the 32-bit range.
int32_t whole(double value) {
  if (!(value > -2147483648.0)) return value < 0 ? INT32_MIN : 0;
  if (value >= 2147483647.0) return INT32_MAX;
  return int32_t(value);
}

}  // namespace

void midi_clock_info(int32_t track, char* line1, char* line2) {
  ClockFollower c;
  int32_t midi_error = 0;
  {
    EngineLockGuard lock;
    c = clock_follower;
    if (track >= 0 && track < track_count) midi_error = tracks[track].midi_error;
    clock_follower.min_diff = clock_min_diff_reset;
    clock_follower.max_diff = 0;
  }
  const int32_t bpm =
      c.clock_period > 0 ? whole(frames_per_minute / (c.clock_period * clock_pulses_per_beat)) : 0;
  if (bpm < bpm_shown_below) {
    format_to(line1, "MIDI BPM %d", bpm);
  } else {
    format_to(line1, "MIDI BPM error");
  }
  char text[64];
  if (track < 0) {
    format_to(text, "%d %d %d %d %d", whole(c.clock_period), c.lock_lost_count,
              whole(c.flywheel_drift), c.min_diff, c.max_diff);
  } else {
    format_to(text, "%d %d", whole(c.clock_period), midi_error / midi_error_scale);
  }
  text[diagnostics_characters] = '\0';
  format_to(line2, "%s", text);
}
