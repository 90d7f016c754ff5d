#include "panel/handlers_editing.h"

#include <chrono>

#include "config/config.h"
#include "core/console.h"
#include "core/lock.h"
#include "engine/editing.h"
#include "engine/track.h"
#include "engine/track_params.h"
#include "engine/transport_commands.h"
#include "panel/display_state.h"
#include "panel/selection.h"

EditingPanelHooks editing_panel_hooks;
EditingPanel editing_panel;

namespace {

constexpr int32_t interval_count = 13;
// Percent of the way from half speed to normal speed for each interval, 100 × (2^(n/12) - 1).
constexpr int32_t interval_percent[interval_count] = {0,  6,  12, 19, 26, 33, 41,
                                                      50, 59, 68, 78, 89, 100};
constexpr int32_t stretch_percent_max = 200;
constexpr float percent_of_one = 100.0f;
constexpr int progress_line_max = 17;  // 16 characters and the terminator
constexpr int64_t console_progress_period_ns = 1000000000;
constexpr int64_t ns_per_us = 1000;
constexpr int aux1_output = 1;
constexpr int aux2_output = 2;

using Clock = std::chrono::steady_clock;

uint8_t bit_of(int k) { return uint8_t(1u << (k - 1)); }

// Calls op(t) with the index of every selected track.
template <typename Op>
void for_selected(Op op) {
  const uint8_t mask = selected_mask();
  for (int k = 1; k <= track_count; ++k) {
    if (mask & bit_of(k)) op(k - 1);
  }
}

// The highest-numbered empty track 1..8, or 0.
int highest_empty_track() {
  const uint32_t snapshot = transport_state_snapshot();
  for (int k = track_count; k >= 1; --k) {
    if (track_state_code(snapshot, k - 1) == track_empty) return k;
  }
  return 0;
}

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// Progress of a running stretch: the display line, or the console once a second.
void show_progress(int32_t percent) {
  char text[progress_line_max];
  format_to(text, "Stretching %d%%", int(percent));
  if (editing_panel_hooks.show_progress != nullptr) {
    editing_panel_hooks.show_progress(text);
    return;
  }
  const int64_t now = now_ns();
  if (now < editing_panel.console_due_ns) return;
  editing_panel.console_due_ns = now + console_progress_period_ns;
  console_printf("%s\n", text);
}

// Runs a stretch or pitch change with progress shown and reports how long it took and the
// longest time it held the engine lock.
template <typename Op>
int timed_stretch(Op op) {
  editing_panel.console_due_ns = now_ns() + console_progress_period_ns;
  editing_state.progress_hook = show_progress;
  const Clock::time_point start = Clock::now();
  lock_hold_probe_start();
  const int result = op();
  const int64_t longest_hold = lock_hold_probe_stop();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  editing_state.progress_hook = nullptr;
  if (result == status_ok) {
    console_printf("Stretch done in %d ms, engine lock held %d us at most\n", int(took.count()),
                   int(longest_hold / ns_per_us));
  }
  return result;
}

// The edit that builds a new track from the current one: on success the new track is current.
void select_new_track(int d) {
  selection.current_track = d;
  selection.except_flag = 0;
}

// Routes track k to aux 1 as "Assign To AUX 1" does, without a report.
void route_to_aux1(int k) {
  Selection& s = selection;
  s.aux1_mask |= bit_of(k);
  s.aux2_mask &= uint8_t(~bit_of(k));
  assign_output(uint8_t(~(s.aux1_mask | s.aux2_mask)), 0);
  assign_output(s.aux1_mask, aux1_output);
  assign_output(s.aux2_mask, aux2_output);
}

}  // namespace

void editing_panel_reset() {
  editing_panel = EditingPanel{};
  editing_panel_hooks = EditingPanelHooks{};
}

int32_t cmd_reverse(int32_t) {
  for_selected([](int t) { reverse_track(t); });
  report(display_mode_tag, "REV", Redraw::full);
  return 0;
}

int32_t cmd_half_speed(int32_t) {
  for_selected([](int t) { toggle_half_speed(t); });
  report(display_mode_tag, "SPEED", Redraw::full);
  return 0;
}

int32_t cmd_pitch(int32_t interval) {
  if (interval < 0 || interval >= interval_count) return status_refused;
  const int32_t speed = interval_percent[interval] * speed_step_max / 100;
  for_selected([speed](int t) { set_track_speed(t, speed); });
  report(display_mode_tag, "SPEED", Redraw::full);
  return 0;
}

int32_t cmd_scramble(int32_t segments) {
  for_selected([segments](int t) { scramble_track(t, segments); });
  report(display_mode_tag, "SCRAM", Redraw::title);
  return 0;
}

int32_t cmd_ostinato(int32_t segments) {
  for_selected([segments](int t) {
    segment_track(t, segments != 0 ? segments : int32_t(config.q_steps[t]));
  });
  report(display_mode_tag, "SCRAM", Redraw::title);
  return 0;
}

int32_t cmd_copy(int32_t) {
  const int k = single_track();
  if (k == 0) return status_refused;
  const int d = highest_empty_track();
  if (d == 0) return status_refused;
  const int result = copy_track(k - 1, d - 1);
  if (result == status_ok) select_new_track(d);
  report(display_mode_tag, "COPY", Redraw::title);
  return result;
}

int32_t cmd_stretch(int32_t percent) {
  if (percent < 1 || percent > stretch_percent_max) return status_refused;
  const int k = single_track();
  int result = status_refused;
  if (const int d = k != 0 ? highest_empty_track() : 0) {
    const float ratio = float(percent) / percent_of_one;
    result = timed_stretch([=] { return stretch_track(k - 1, d - 1, ratio); });
    if (result == status_ok) {
      select_new_track(d);
      report(display_mode_tag, "<-->", Redraw::title);
    }
  }
  if (editing_panel_hooks.stretch_finished != nullptr) editing_panel_hooks.stretch_finished();
  return result;
}

int32_t cmd_pitch_octave_up(int32_t) {
  const int k = single_track();
  if (k == 0) return status_refused;
  const int d = highest_empty_track();
  if (d == 0) return status_refused;
  const int result = timed_stretch([=] { return pitch_octave_up(k - 1, d - 1); });
  if (result != status_ok) {
    console_printf("Pitch up failed\n");
    return result;
  }
  select_new_track(d);
  report(display_mode_tag, "<-->", Redraw::title);
  return result;
}

int32_t cmd_test_tone(int32_t aux1) {
  if (selection.current_track == 0) selection.current_track = 1;
  const int k = single_track();
  if (k == 0) return status_refused;
  const int result = fill_test_tone(k - 1);
  if (aux1 == 1) route_to_aux1(k);
  return result;
}
