// Selecting tracks and groups, the temporary group and inverting the selection. Every selection
// starts again from the main menu and opens the track menu (or the all-tracks menu) at level 1.
#include "core/console.h"
#include "panel/display.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/input.h"
#include "panel/menus.h"
#include "panel/selection.h"
#include "panel/status_line.h"

namespace {

constexpr MenuItem temporary_group_item[] = {
    {display.temporary_group_members, nullptr, nullptr, 0}};
constexpr Menu temporary_group_screen = {"Temporary Group", nullptr, temporary_group_item, 1,
                                         nullptr};

void fill_temporary_group() {
  format_track_digits(display.temporary_group_members, selection.temp_group);
}

// Track keys add and remove members; select opens the track menu for the group.
void temporary_group_key(int32_t code) {
  if (const int t = track_key_number(code)) {
    selection.temp_group ^= uint8_t(1u << (t - 1));
    fill_temporary_group();
    draw_menu();
  } else if (code == key_select) {
    reset_menus();
    push_menu(&track_menu, 0, nullptr);
  } else {
    dispatch_key(code);
  }
}

}  // namespace

void open_selection_menu() {
  reset_menus();
  push_menu(selection.current_track == 0 ? &all_tracks_menu : &track_menu, 0, nullptr);
}

int32_t cmd_select_track(int32_t track) {
  if (track < 0 || track > track_count) return status_refused;
  Selection& s = selection;
  s.current_track = track;
  s.except_flag = 0;
  s.temp_group = 0;
  display_state.display_mode = display_mode_loop_time;
  open_selection_menu();
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
    open_selection_menu();
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
  fill_temporary_group();
  if (menu_on_top(&temporary_group_screen)) {
    draw_menu();
  } else {
    push_menu(&temporary_group_screen, 0, temporary_group_key);
  }
}
