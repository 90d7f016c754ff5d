// Mix functions: track level, feedback and pan, Fade/Swell, presets and output routing. The shown
// values they set are what the display and the presets use.
#include <algorithm>

#include "config/config.h"
#include "config/presets.h"
#include "core/console.h"
#include "engine/engine.h"
#include "engine/fades.h"
#include "engine/track_params.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/selection.h"

namespace {

constexpr int level_min = -96;        // shown level range: 0 down to -96 dB steps
constexpr int feedback_max = 100;     // percent
constexpr int feedback_absolute_limit = 10000;  // above: a relative step of argument - 20000
constexpr int feedback_step_base = 20000;
constexpr int pan_limit = 127;
constexpr int preset_max = 10;

uint8_t bit_of(int k) { return uint8_t(1u << (k - 1)); }

// Level l (0..-96) for track k: a running fade or swell stops first.
void apply_level(int k, int level) {
  fade_cancel(k - 1);
  shown_level[k - 1] = int16_t(level);
  set_track_atten(k - 1, -level);
}

void apply_feedback(int k, int percent) {
  shown_feedback[k - 1] = int16_t(percent);
  set_track_feedback(k - 1, percent);
}

}  // namespace

int32_t cmd_track_level(int32_t level) {
  if (level == value_not_given && single_track() != 0) {
    report(display_mode_level, nullptr, Redraw::full);
    return 0;
  }
  const int l = std::max(std::min(level, 0), level_min);
  const uint8_t mask = selected_mask();
  for (int k = 1; k <= track_count; ++k) {
    if (mask & bit_of(k)) apply_level(k, l);
  }
  report(display_mode_level, nullptr, Redraw::full);
  return 0;
}

int32_t cmd_track_level_step(int32_t step) {
  if (step == 0) return 0;
  const uint8_t mask = selected_mask();
  for (int k = 1; k <= track_count; ++k) {
    if (!(mask & bit_of(k))) continue;
    const int l = std::clamp(shown_level[k - 1] + step, level_min, 0);
    apply_level(k, l);
  }
  report(display_mode_level, nullptr, Redraw::full);
  return 0;
}

int32_t cmd_feedback(int32_t value) {
  if (value == value_not_given && single_track() != 0) {
    report(display_mode_feedback, nullptr, Redraw::full);
    return 0;
  }
  const uint8_t mask = selected_mask();
  for (int k = 1; k <= track_count; ++k) {
    if (!(mask & bit_of(k))) continue;
    const int64_t wanted = value <= feedback_absolute_limit
                               ? int64_t(value)
                               : int64_t(shown_feedback[k - 1]) + value - feedback_step_base;
    apply_feedback(k, int(std::clamp<int64_t>(wanted, 0, feedback_max)));
  }
  report(display_mode_feedback, nullptr, Redraw::full);
  return 0;
}

int32_t cmd_pan_center(int32_t pan) {
  if (pan == value_not_given && single_track() != 0) {
    report(display_mode_pan, nullptr, Redraw::title);
    return 0;
  }
  const int p = std::clamp(pan, -pan_limit, pan_limit);
  const uint8_t mask = selected_mask();
  for (int k = 1; k <= track_count; ++k) {
    if (!(mask & bit_of(k))) continue;
    shown_pan[k - 1] = int16_t(p);
    set_track_pan(k - 1, p);
  }
  report(display_mode_pan, nullptr, Redraw::title);
  return 0;
}

int32_t cmd_fade_swell(int32_t kind) {
  static constexpr const char* tags[] = {"F/S", "FADE", "SWELL"};
  if (kind < fade_toggle || kind > fade_up) return status_refused;
  fade_swell(kind, selected_mask());
  report(display_mode_tag, tags[kind], Redraw::title);
  return 0;
}

int32_t cmd_use_preset(int32_t n) {
  if (n < 0 || n > preset_max || preset_use(n) != 0) return status_refused;
  for (int k = 1; k <= track_count; ++k) {
    set_track_atten(k - 1, -shown_level[k - 1]);
    set_track_pan(k - 1, shown_pan[k - 1]);
    set_track_feedback(k - 1, shown_feedback[k - 1]);
  }
  set_main_gain(config.all_main_level);
  char tag[tag_text_max + 1];
  format_to(tag, "PR%02d", int(n));
  report(display_mode_tag, tag, Redraw::title);
  return 0;
}

int32_t cmd_assign_output(int32_t dest) {
  static constexpr const char* tags[] = {"MAIN", "AUX1", "AUX2"};
  if (dest < 0 || dest > 2) return status_refused;
  Selection& s = selection;
  const uint8_t mask = selected_mask();
  if (dest == 0) {
    s.aux1_mask &= uint8_t(~mask);
    s.aux2_mask &= uint8_t(~mask);
  } else if (dest == 1) {
    s.aux1_mask |= mask;
    s.aux2_mask &= uint8_t(~mask);
  } else {
    s.aux2_mask |= mask;
    s.aux1_mask &= uint8_t(~mask);
  }
  assign_output(uint8_t(~(s.aux1_mask | s.aux2_mask)), 0);
  assign_output(s.aux1_mask, 1);
  assign_output(s.aux2_mask, 2);
  report(display_mode_tag, tags[dest], Redraw::title);
  return 0;
}
