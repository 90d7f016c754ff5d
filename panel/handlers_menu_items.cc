// Track-menu and all-tracks-menu items that are not functions of the function table: quantise
// steps and the MIDI clock diagnostics.
#include <cstring>

#include "config/config.h"
#include "core/console.h"
#include "core/lock.h"
#include "engine/track.h"
#include "midi/clock.h"
#include "panel/display.h"
#include "panel/handlers.h"
#include "panel/selection.h"
#include "panel/value_entry.h"

namespace {

constexpr int32_t q_steps_entry_max = 128;
constexpr int tempo_error_limit = 400;       // tempos from here on are shown as an error
constexpr int clock_info_max = 17;           // characters of the diagnostics line kept
constexpr int32_t min_diff_start = 1000000;  // the drift extremes start over after each report
constexpr int midi_error_scale = 16;         // midi_error is the phase error x 16
constexpr double frames_per_minute = double(frames_per_second) * 60;

void q_steps_changed(int32_t) { console_printf("MENU: Change Q steps\n"); }

}  // namespace

int32_t cmd_set_q_steps(int32_t) {
  const int k = single_track();
  if (k == 0) return status_refused;
  get_integer_generic("Quant Steps ", 1, 1, q_steps_entry_max, 0, &config.q_steps[k - 1],
                      int16_t(sizeof config.q_steps[0]), q_steps_changed);
  return 0;
}

int32_t cmd_midi_clock_info(int32_t from) {
  double period, drift;
  int32_t lost, min_diff, max_diff, midi_error = 0;
  {
    EngineLockGuard lock;
    ClockFollower& c = clock_follower;
    period = c.clock_period;
    drift = c.flywheel_drift;
    lost = c.lock_lost_count;
    min_diff = c.min_diff;
    max_diff = c.max_diff;
    if (const int k = single_track()) midi_error = tracks[k - 1].midi_error;
    c.min_diff = min_diff_start;
    c.max_diff = 0;
  }
  const int tempo = period > 0 ? int(frames_per_minute / (period * clock_pulses_per_beat)) : 0;
  char first[display_columns + 1];
  if (tempo < tempo_error_limit) {
    format_to(first, "MIDI BPM %d", tempo);
  } else {
    format_to(first, "MIDI BPM error");
  }
  char second[64];
  if (from == clock_info_all_tracks) {
    format_to(second, "%d %d %d %d %d", int(period), int(lost), int(drift), int(min_diff),
              int(max_diff));
  } else {
    format_to(second, "%d %d", int(period), int(midi_error / midi_error_scale));
  }
  second[clock_info_max] = '\0';
  show_message(first, second);
  return 0;
}
