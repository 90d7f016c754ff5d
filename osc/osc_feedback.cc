#include "osc/osc_feedback.h"

#include <algorithm>
#include <cstdio>

#include "osc/osc_request.h"

namespace {

constexpr int path_max = 32;  // "/zt4/track/8/feedback" and room to spare

void add_float(lo_bundle b, int track, const char* what, float value, int& added) {
  char path[path_max];
  snprintf(path, sizeof path, "/zt4/track/%d/%s", track, what);
  lo_message m = lo_message_new();
  lo_message_add_float(m, value);
  lo_bundle_add_message(b, path, m);
  ++added;
}

}  // namespace

OscStatus osc_status_of(const RemoteStatus& status, const char lines[][display_columns + 1]) {
  OscStatus s;
  for (int t = 0; t < track_count; ++t) {
    s.state[t] = state_word_text(status, t);
    s.length[t] = float(status.length[t]) / float(frames_per_second);
    const float played =
        status.length[t] > 0 ? float(status.position[t]) / float(status.length[t]) : 0.0f;
    s.position[t] = std::clamp(played, 0.0f, 1.0f);
    s.level[t] = float(status.level[t]);
    s.pan[t] = std::clamp(float(status.pan[t]) / float(osc_pan_scale), -1.0f, 1.0f);
    s.feedback[t] = float(status.feedback[t]) / float(osc_feedback_scale);
  }
  s.selected = status.selected;
  for (int line = 0; line < display_line_count; ++line) {
    for (int c = 0; c < display_columns && lines[line][c] != '\0'; ++c)
      s.display[line] += display_char_utf8(uint8_t(lines[line][c]));
  }
  return s;
}

int osc_add_status(lo_bundle b, const OscStatus& now, const OscStatus* before, bool with_moving) {
  int added = 0;
  for (int t = 0; t < track_count; ++t) {
    const int n = t + 1;
    if (before == nullptr || before->state[t] != now.state[t]) {
      char path[path_max];
      snprintf(path, sizeof path, "/zt4/track/%d/state", n);
      lo_message m = lo_message_new();
      lo_message_add_string(m, now.state[t]);
      lo_bundle_add_message(b, path, m);
      ++added;
    }
    if (before == nullptr || (with_moving && before->length[t] != now.length[t]))
      add_float(b, n, "length", now.length[t], added);
    if (before == nullptr || (with_moving && before->position[t] != now.position[t]))
      add_float(b, n, "position", now.position[t], added);
    if (before == nullptr || before->level[t] != now.level[t])
      add_float(b, n, "level", now.level[t], added);
    if (before == nullptr || before->pan[t] != now.pan[t])
      add_float(b, n, "pan", now.pan[t], added);
    if (before == nullptr || before->feedback[t] != now.feedback[t])
      add_float(b, n, "feedback", now.feedback[t], added);
  }
  if (before == nullptr || before->selected != now.selected) {
    lo_message m = lo_message_new();
    lo_message_add_int32(m, now.selected);
    lo_bundle_add_message(b, "/zt4/selected", m);
    ++added;
  }
  if (before == nullptr || (with_moving && (before->display[0] != now.display[0] ||
                                            before->display[1] != now.display[1]))) {
    lo_message m = lo_message_new();
    lo_message_add_string(m, now.display[0].c_str());
    lo_message_add_string(m, now.display[1].c_str());
    lo_bundle_add_message(b, "/zt4/display", m);
    ++added;
  }
  return added;
}
