#include "panel/status_line.h"

#include "config/config.h"
#include "core/console.h"
#include "core/lock.h"
#include "engine/count_in.h"
#include "engine/transport.h"
#include "midi/clock.h"
#include "panel/display.h"
#include "panel/display_state.h"
#include "panel/selection.h"

StatusLine status_line;

namespace {

constexpr int16_t normal_speed = 400;    // the snapshot's speed at rate 256
constexpr int speed_hundredths_div = 4;  // speed 200 shows as 0.50
constexpr int frames_per_tenth = frames_per_second / 10;
constexpr int tempo_shown_max = 1000;  // "B---" from here on
constexpr int16_t simple_display_expert = 2;
constexpr double frames_per_minute = double(frames_per_second) * 60;

uint8_t bit_of(int k) { return uint8_t(1u << (k - 1)); }

// The track whose values are shown for selection k (0 all tracks, -g group g, 1..8 a track).
int shown_track(int k) {
  if (k >= 1 && k <= track_count) return k;
  if (k == 0) return 1;
  const uint8_t members = config.groups[-k - 1];
  for (int t = 1; t < track_count; ++t) {
    if (members & bit_of(t)) return t;
  }
  return track_count;
}

// The MIDI clock's tempo in beats per minute, 0 without a clock.
int midi_clock_tempo() {
  double period;
  {
    EngineLockGuard lock;
    period = clock_follower.clock_period;
  }
  if (period <= 0) return 0;
  return int(frames_per_minute / (period * clock_pulses_per_beat));
}

void compose_name(const TrackStatus& status, int k, char* out) {
  const Selection& s = selection;
  if (s.except_flag) {
    format_to(out, "Except %d", k);
    return;
  }
  if (config.simple_display != simple_display_expert) {
    format_to(out, "%cTrack %d", s.clock_source_shown == k ? '*' : ' ', k);
    return;
  }
  const int t = k - 1;
  const bool switched = (config.switched[t] & 1) != 0;
  if (status.tempo[t] > 0) {
    if (status.tempo[t] < tempo_shown_max) {
      format_to(out, "Tr%d B%03d", k, int(status.tempo[t]));
    } else {
      format_to(out, "Tr%d B---", k);
    }
  } else if (track_state_code(status.state, t) == track_empty) {
    format_to(out, "Tr%d %c   ", k, switched ? 's' : ' ');
  } else {
    const char mark = (s.random_restart_mask & bit_of(k)) ? 'r' : (switched ? 's' : ' ');
    format_to(out, "Tr%d %c%c%c ", k, mark, s.clock_source_shown == k ? 'C' : ' ',
              (status.unsynchronised_mask & bit_of(k)) ? 'A' : 'S');
  }
}

void compose_lower_status(const TrackStatus& status, int d) {
  const int t = d - 1;
  int32_t rate;
  {
    EngineLockGuard lock;
    rate = tracks[t].rate;
  }
  const char direction = rate < 0 ? 'R' : 'F';
  if (status.speed[t] == normal_speed) {
    format_to(status_line.lower_status, "%+04d %03d%% 1.00 %c", int(shown_level[t]),
              int(shown_feedback[t]), direction);
  } else {
    format_to(status_line.lower_status, "%+04d %03d%% 0.%02d %c", int(shown_level[t]),
              int(shown_feedback[t]), (status.speed[t] / speed_hundredths_div) % 100, direction);
  }
}

void compose_loop_time(const TrackStatus& status, int k, char* out) {
  const int t = k - 1;
  const char saved = (status.saved_mask & bit_of(k)) ? char(glyph_marker) : ' ';
  const int32_t phase = status.phase[t];
  const bool recording = track_state_code(status.state, t) == track_recording;
  if (config.time_display == 1 && !recording) {
    const int32_t r = status.length[t] / frames_per_tenth - phase / frames_per_tenth;
    format_to(out, "%s -%03d.%d%c", status_line.name_part, int(r / 10), int(r % 10), saved);
  } else {
    format_to(out, "%s +%03d.%d%c", status_line.name_part, int(phase / frames_per_second),
              int((phase / frames_per_tenth) % 10), saved);
  }
}

}  // namespace

void format_track_digits(char* out, uint8_t mask) {
  char digit[track_count];
  for (int k = 1; k <= track_count; ++k) digit[k - 1] = (mask & bit_of(k)) ? char('0' + k) : ' ';
  format_to(out, "%c %c %c %c %c %c %c %c", digit[0], digit[1], digit[2], digit[3], digit[4],
            digit[5], digit[6], digit[7]);
}

const char* compose_status() {
  TrackStatus status;
  track_status_snapshot(status);
  StatusLine& sl = status_line;
  const Selection& s = selection;
  const int k = s.current_track;
  int d = 0;  // the track whose values are shown, 0 none
  if (s.temp_group != 0) {
    char m[track_count];
    for (int t = 1; t <= track_count; ++t)
      m[t - 1] = (s.temp_group & bit_of(t)) ? char('0' + t) : ' ';
    format_to(sl.name_part, "Tracks %c%c%c%c%c%c%c%c", m[0], m[1], m[2], m[3], m[4], m[5], m[6],
              m[7]);
  } else if (k == 0) {
    format_to(sl.name_part, "All Trks");
    d = shown_track(k);
  } else if (k < 0 && k >= -config_group_count) {
    format_to(sl.name_part, " Group %d", -k);
    d = shown_track(k);
  } else if (k >= 1 && k <= track_count) {
    compose_name(status, k, sl.name_part);
    d = k;
  } else {
    sl.name_part[0] = '\0';
  }
  if (d == 0) {
    format_to(sl.status_line, "%s", sl.name_part);
    return sl.status_line;
  }
  compose_lower_status(status, d);
  const int t = d - 1;
  const DisplayState& ds = display_state;
  switch (ds.display_mode) {
    case display_mode_level:
      format_to(sl.status_line, "%s Lvl%+d", sl.name_part, int(shown_level[t]));
      break;
    case display_mode_feedback:
      format_to(sl.status_line, "%s Fbk%+d", sl.name_part, int(shown_feedback[t]));
      break;
    case display_mode_tempo:
      format_to(sl.status_line, "%s BPM%d", sl.name_part, midi_clock_tempo());
      break;
    case display_mode_tag: format_to(sl.status_line, "%s : %s", sl.name_part, ds.tag_text); break;
    case display_mode_speed:
      if (status.speed[t] == normal_speed) {
        format_to(sl.status_line, "%s Sp 1.00", sl.name_part);
      } else {
        format_to(sl.status_line, "%s Sp 0.%02d", sl.name_part,
                  (status.speed[t] / speed_hundredths_div) % 100);
      }
      break;
    case display_mode_pan:
      format_to(sl.status_line, "%s Pan%+d", sl.name_part, int(shown_pan[t]));
      break;
    case display_mode_loop_time:
      if (const int32_t beats = count_in_beats(); beats > 0) {
        format_to(sl.status_line, "%s Count %d", sl.name_part, int(beats));
        break;
      }
      if (k >= 1 && k <= track_count && s.temp_group == 0) {
        compose_loop_time(status, k, sl.status_line);
        break;
      }
      [[fallthrough]];
    default: format_to(sl.status_line, "%s", sl.name_part); break;
  }
  return sl.status_line;
}

void status_line_reset() { status_line = StatusLine{}; }
