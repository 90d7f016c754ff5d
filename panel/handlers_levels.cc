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
#include "panel/menus.h"
#include "panel/selection.h"
#include "panel/value_entry.h"

namespace {

constexpr int level_min = -96;                  // shown level range: 0 down to -96 dB steps
constexpr int feedback_max = 100;               // percent
constexpr int feedback_absolute_limit = 10000;  // above: a relative step of argument - 20000
constexpr int feedback_step_base = 20000;
constexpr int pan_limit = 127;
constexpr int pan_entry_limit = 128;  // value entry reaches the full -128..128
constexpr int preset_max = 10;

uint8_t bit_of(int k) { return uint8_t(1u << (k - 1)); }

// Level l (0..-96) for track k: a running fade or swell stops first.
void apply_level(int k, int level) {
  fade_cancel(k - 1);
  set_live_word(shown_level[k - 1], level);
  set_track_atten(k - 1, -level);
}

void apply_feedback(int k, int percent) {
  shown_feedback[k - 1] = int16_t(percent);
  set_track_feedback(k - 1, percent);
}

// Live value entry for track k: each step stores the shown value and calls on_set.
void open_track_entry(const char* title_format, int k, int32_t min, int32_t max, int16_t* shown,
                      void (*on_set)(int32_t)) {
  // A running entry keeps its track; get_integer_generic refuses with its console message.
  if (value_entry.active == nullptr) selection.entry_track = k;
  char title[value_title_max + 1];
  format_to(title, title_format, k);
  get_integer_generic(title, 1, min, max, 0, shown, int16_t(sizeof *shown), on_set);
}

void level_entered(int32_t level) { set_track_atten(selection.entry_track - 1, -level); }
void feedback_entered(int32_t percent) { set_track_feedback(selection.entry_track - 1, percent); }
void pan_entered(int32_t pan) { set_track_pan(selection.entry_track - 1, pan); }

}  // namespace

int32_t cmd_track_level(int32_t level) {
  if (const int k = single_track(); level == value_not_given && k != 0) {
    fade_cancel(k - 1);
    open_track_entry("Track %d Level ", k, level_min, 0, &shown_level[k - 1], level_entered);
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
  if (const int k = single_track(); value == value_not_given && k != 0) {
    open_track_entry("Track %d Feedback ", k, 0, feedback_max, &shown_feedback[k - 1],
                     feedback_entered);
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
  if (const int k = single_track(); pan == value_not_given && k != 0) {
    open_track_entry("Track %d Pan ", k, -pan_entry_limit, pan_entry_limit, &shown_pan[k - 1],
                     pan_entered);
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

void set_track_mix(int k, TrackMix which, int32_t value) {
  if (k < 1 || k > track_count) return;
  int16_t mode = display_mode_level;
  switch (which) {
    case TrackMix::level: apply_level(k, std::clamp(value, level_min, 0)); break;
    case TrackMix::pan:
      set_live_word(shown_pan[k - 1], std::clamp(value, -pan_limit, pan_limit));
      set_track_pan(k - 1, shown_pan[k - 1]);
      mode = display_mode_pan;
      break;
    case TrackMix::feedback:
      apply_feedback(k, std::clamp(value, 0, feedback_max));
      mode = display_mode_feedback;
      break;
  }
  if (k == single_track()) report(mode, nullptr, Redraw::full);
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
  pop_menu(&use_preset_menu, 0);
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
