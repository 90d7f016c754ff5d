// Selecting tracks and groups and inverting the selection.
#include "core/console.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/selection.h"

int32_t cmd_select_track(int32_t track) {
  if (track < 0 || track > track_count) return status_refused;
  Selection& s = selection;
  s.current_track = track;
  s.except_flag = 0;
  s.temp_group = 0;
  report(display_mode_loop_time, nullptr, Redraw::full);
  return 0;
}

int32_t cmd_select_group(int32_t group) {
  console_printf("Select group %d: ", group);
  Selection& s = selection;
  int32_t result = status_refused;
  if (group >= 1 && group <= config_group_count && config.groups[group - 1] != 0) {
    console_printf("track %d", -group);
    s.current_track = -group;
    s.except_flag = 0;
    s.temp_group = 0;
    display_state.display_mode = display_mode_level;
    request_redraw(Redraw::full);
    result = 0;
  }
  console_printf("\n");
  display_state.mode_countdown = report_countdown;
  return result;
}

int32_t cmd_next_track(int32_t step) {
  int k = single_track();
  if (k == 0) {
    k = step < 0 ? track_count : 1;
  } else {
    k += step;
    if (k < 1) k = track_count;
    if (k > track_count) k = 1;
  }
  return cmd_select_track(k);
}

int32_t cmd_except_track(int32_t) {
  selection.except_flag = selection.except_flag ? 0 : 1;
  report(display_mode_tag, "EXCP", Redraw::title);
  return 0;
}

void start_temporary_group(int track) {
  if (track >= 1 && track <= track_count) selection.temp_group = uint8_t(1u << (track - 1));
}
