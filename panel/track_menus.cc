// The track menu (a single track or a group), its "New length..." submenu, the all-tracks menu
// with the preset submenus. Items that match a function-table row
// run that row, so they act exactly as the function does from a trigger.
#include <iterator>

#include "config/config.h"
#include "config/presets.h"
#include "core/constants.h"
#include "panel/display_state.h"
#include "panel/function_table.h"
#include "panel/handlers.h"
#include "panel/handlers_editing.h"
#include "panel/menus.h"
#include "panel/status_line.h"

namespace {

// Function ids (the function table's stored ids) that menu items run.
enum FunctionId : int32_t {
  id_track_erase = 11,
  id_track_level = 12,
  id_play_now = 13,
  id_stop_now = 14,
  id_play = 15,
  id_stop = 16,
  id_set_clock_src = 21,
  id_next_track = 22,
  id_prev_track = 23,
  id_midi_sync_rec = 27,
  id_reverse = 28,
  id_half_speed = 29,
  id_play_retrigger = 35,
  id_cue = 46,
  id_sync_rec_dub = 47,
  id_replace = 48,
  id_replace_original = 49,
  id_assign_aux_1 = 50,
  id_fast_scramble = 52,
  id_medium_scramble = 53,
  id_slow_scramble = 54,
  id_assign_aux_2 = 55,
  id_replay_all_stop = 56,
  id_bounce = 57,
  id_sync_bounce = 58,
  id_midi_sync_bounce = 59,
  id_assign_main = 62,
  id_fade_swell = 77,
  id_q_replace = 78,
  id_q_replace_original = 79,
  id_copy = 80,
  id_undo = 81,
  id_except_track = 96,
  id_switch_record = 100,
  id_switch_play_cksr = 101,
  id_shrink = 102,
  id_stretch = 103,
  id_switch_play = 104,
  id_random_restart = 105,
  id_q_midi_sync_rec = 124,
  id_pitch_octave_up = 125,
  id_redo = 126,
  id_capture_loop = 136,
  id_capture_2x = 137,
  id_capture_4x = 138,
};

constexpr int32_t preset_last = config_preset_count - 1;

int32_t save_preset_item(int32_t n) {
  if (preset_save(n) != 0) return status_refused;
  pop_menu(&save_preset_menu, 0);
  report(display_mode_tag, "SAVE", Redraw::title);
  return 0;
}

constexpr MenuItem new_length_items[] = {
    {"5% of original", stretch_to_percent, nullptr, 5},
    {"10% of original", stretch_to_percent, nullptr, 10},
    {"15% of original", stretch_to_percent, nullptr, 15},
    {"20% of original", stretch_to_percent, nullptr, 20},
    {"25% of original", stretch_to_percent, nullptr, 25},
    {"30% of original", stretch_to_percent, nullptr, 30},
    {"40% of original", stretch_to_percent, nullptr, 40},
    {"50% of original", stretch_to_percent, nullptr, 50},
    {"60% of original", stretch_to_percent, nullptr, 60},
    {"70% of original", stretch_to_percent, nullptr, 70},
    {"80% of original", stretch_to_percent, nullptr, 80},
    {"90% of original", stretch_to_percent, nullptr, 90},
    {"110% of original", stretch_to_percent, nullptr, 110},
    {"120% of original", stretch_to_percent, nullptr, 120},
    {"130% of original", stretch_to_percent, nullptr, 130},
    {"140% of original", stretch_to_percent, nullptr, 140},
    {"150% of original", stretch_to_percent, nullptr, 150},
    {"160% of original", stretch_to_percent, nullptr, 160},
    {"170% of original", stretch_to_percent, nullptr, 170},
    {"180% of original", stretch_to_percent, nullptr, 180},
    {"190% of original", stretch_to_percent, nullptr, 190},
    {"200% of original", stretch_to_percent, nullptr, 200},
};
static_assert(std::size(new_length_items) == new_length_menu_items);

constexpr MenuItem track_items[] = {
    {status_line.lower_status, nullptr, nullptr, 0},
    {"Save Audio", cmd_save_audio, nullptr, value_not_given},
    {"Load Audio", cmd_load_audio, nullptr, value_not_given},
    {"Switch-Record", invoke_function, nullptr, id_switch_record},
    {"SwitchPlay+CKSR", invoke_function, nullptr, id_switch_play_cksr},
    {"SwitchPlay", invoke_function, nullptr, id_switch_play},
    {"MIDI Sync Rec", invoke_function, nullptr, id_midi_sync_rec},
    {"Sync Rec/Dub", invoke_function, nullptr, id_sync_rec_dub},
    {"Q MIDI Sync Rec", invoke_function, nullptr, id_q_midi_sync_rec},
    {"Stop Now", invoke_function, nullptr, id_stop_now},
    {"Play Now", invoke_function, nullptr, id_play_now},
    {"Erase", invoke_function, nullptr, id_track_erase},
    {"Level", invoke_function, nullptr, id_track_level},
    {"Feedback", cmd_feedback, nullptr, value_not_given},
    {"Multiply", cmd_multiply, nullptr, 0},
    {"Set As Clock Src", invoke_function, nullptr, id_set_clock_src},
    {"Next Track", invoke_function, nullptr, id_next_track},
    {"Prev Track", invoke_function, nullptr, id_prev_track},
    {"Reverse", invoke_function, nullptr, id_reverse},
    {"Half Speed", invoke_function, nullptr, id_half_speed},
    {"Play Retrigger", invoke_function, nullptr, id_play_retrigger},
    {"Cue", invoke_function, nullptr, id_cue},
    {"Replace", invoke_function, nullptr, id_replace},
    {"Replace+Original", invoke_function, nullptr, id_replace_original},
    {"Q Replace", invoke_function, nullptr, id_q_replace},
    {"Q Replace+Orig", invoke_function, nullptr, id_q_replace_original},
    {"Set Q Steps", cmd_set_q_steps, nullptr, 0},
    {"Assign To Aux 1", invoke_function, nullptr, id_assign_aux_1},
    {"Assign To Aux 2", invoke_function, nullptr, id_assign_aux_2},
    {"Assign To Main", invoke_function, nullptr, id_assign_main},
    {"Fast Scramble", invoke_function, nullptr, id_fast_scramble},
    {"Medium Scramble", invoke_function, nullptr, id_medium_scramble},
    {"Slow Scramble", invoke_function, nullptr, id_slow_scramble},
    {"Replay/All Stop", invoke_function, nullptr, id_replay_all_stop},
    {"Copy", invoke_function, nullptr, id_copy},
    {"Shrink to 50%", invoke_function, nullptr, id_shrink},
    {"Stretch to 200%", invoke_function, nullptr, id_stretch},
    {"Stretch", nullptr, &new_length_menu, 0},
    {"Pitch Octave Up", invoke_function, nullptr, id_pitch_octave_up},
    {"Bounce", invoke_function, nullptr, id_bounce},
    {"Sync Bounce", invoke_function, nullptr, id_sync_bounce},
    {"MIDI Sync Bounce", invoke_function, nullptr, id_midi_sync_bounce},
    {"Pan", cmd_pan_center, nullptr, value_not_given},
    {"Fade/Swell", invoke_function, nullptr, id_fade_swell},
    {"Undo", invoke_function, nullptr, id_undo},
    {"Redo", invoke_function, nullptr, id_redo},
    {"Except Track", invoke_function, nullptr, id_except_track},
    {"Random Restart", invoke_function, nullptr, id_random_restart},
    {"Fill 1.0 kHz", cmd_test_tone, nullptr, 0},
    {"Aux 1 test", cmd_test_tone, nullptr, 1},
    {"MIDI clock info", cmd_midi_clock_info, nullptr, clock_info_track},
    {"Capture Loop", invoke_function, nullptr, id_capture_loop},
    {"Capture 2x", invoke_function, nullptr, id_capture_2x},
    {"Capture 4x", invoke_function, nullptr, id_capture_4x},
};
static_assert(std::size(track_items) == track_menu_items);

constexpr MenuItem save_preset_items[] = {
    {"Save Preset 0", save_preset_item, nullptr, 0},
    {"Save Preset 1", save_preset_item, nullptr, 1},
    {"Save Preset 2", save_preset_item, nullptr, 2},
    {"Save Preset 3", save_preset_item, nullptr, 3},
    {"Save Preset 4", save_preset_item, nullptr, 4},
    {"Save Preset 5", save_preset_item, nullptr, 5},
    {"Save Preset 6", save_preset_item, nullptr, 6},
    {"Save Preset 7", save_preset_item, nullptr, 7},
    {"Save Preset 8", save_preset_item, nullptr, 8},
    {"Save Preset 9", save_preset_item, nullptr, 9},
    {"Save Preset 10", save_preset_item, nullptr, 10},
};
constexpr MenuItem use_preset_items[] = {
    {"Use Preset 0", cmd_use_preset, nullptr, 0},   {"Use Preset 1", cmd_use_preset, nullptr, 1},
    {"Use Preset 2", cmd_use_preset, nullptr, 2},   {"Use Preset 3", cmd_use_preset, nullptr, 3},
    {"Use Preset 4", cmd_use_preset, nullptr, 4},   {"Use Preset 5", cmd_use_preset, nullptr, 5},
    {"Use Preset 6", cmd_use_preset, nullptr, 6},   {"Use Preset 7", cmd_use_preset, nullptr, 7},
    {"Use Preset 8", cmd_use_preset, nullptr, 8},   {"Use Preset 9", cmd_use_preset, nullptr, 9},
    {"Use Preset 10", cmd_use_preset, nullptr, 10},
};
static_assert(std::size(save_preset_items) == size_t(preset_last + 1));
static_assert(std::size(use_preset_items) == size_t(preset_last + 1));

constexpr MenuItem all_tracks_items[] = {
    {"Stop Now", invoke_function, nullptr, id_stop_now},
    {"Fade/Swell", invoke_function, nullptr, id_fade_swell},
    {"Play Now", invoke_function, nullptr, id_play_now},
    {"Stop", invoke_function, nullptr, id_stop},
    {"Play", invoke_function, nullptr, id_play},
    {"Erase", invoke_function, nullptr, id_track_erase},
    {"Fade Time", open_setting, nullptr, setting_fade_time},
    {"All Main Lvl", open_setting, nullptr, setting_all_main_level},
    {"All Aux Lvl", open_setting, nullptr, setting_all_aux_level},
    {"Beats / Loop", open_setting, nullptr, setting_beats_per_measure},
    {"Assign To Aux 1", invoke_function, nullptr, id_assign_aux_1},
    {"Assign To Aux 2", invoke_function, nullptr, id_assign_aux_2},
    {"Assign To Main", invoke_function, nullptr, id_assign_main},
    {"Save Preset", nullptr, &save_preset_menu, 0},
    {"Use Preset", nullptr, &use_preset_menu, 0},
    {"MIDI clock info", cmd_midi_clock_info, nullptr, clock_info_all_tracks},
};
static_assert(std::size(all_tracks_items) == all_tracks_menu_items);

}  // namespace

constexpr Menu new_length_menu = {"New length...", nullptr, new_length_items, new_length_menu_items,
                                  nullptr};
constexpr Menu save_preset_menu = {"Save Preset", nullptr, save_preset_items, preset_last + 1,
                                   nullptr};
constexpr Menu use_preset_menu = {"Use Preset", nullptr, use_preset_items, preset_last + 1,
                                  nullptr};
constexpr Menu track_menu = {nullptr, compose_status, track_items, track_menu_items, nullptr};
constexpr Menu all_tracks_menu = {nullptr, compose_status, all_tracks_items, all_tracks_menu_items,
                                  nullptr};

int32_t stretch_to_percent(int32_t percent) {
  const int32_t result = cmd_stretch(percent);
  leave_new_length_menu();
  return result;
}

void leave_new_length_menu() { pop_menu(&new_length_menu, 0); }
