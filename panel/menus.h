// The looper's menus: the main menu with every panel setting and its choice lists, the track
// menu of a single track or group, its "New length..." submenu, the all-tracks menu with the
// preset submenus, and the drum machine's menu. Static tables; main thread only.
#pragma once

#include <cstdint>

#include "panel/menu.h"
#include "panel/value_entry.h"

extern const Menu main_menu;
extern const Menu track_menu;
extern const Menu all_tracks_menu;
extern const Menu new_length_menu;
extern const Menu save_preset_menu;
extern const Menu use_preset_menu;
// Opened by the Drum Machine key; its screens come with the drum machine.
extern const Menu drum_machine_menu;

constexpr int main_menu_items = 37;
constexpr int track_menu_items = 54;
constexpr int all_tracks_menu_items = 16;
constexpr int new_length_menu_items = 22;

// Numeric settings opened from the menus, by their index in setting_descriptors.
enum SettingIndex : int32_t {
  setting_midi_channel,
  setting_record_trigger,
  setting_volume_minimum,
  setting_noise_gate_level,
  setting_noise_gate_delay,
  setting_cc_dejitter,
  setting_quant_cc,
  setting_panel_version,
  setting_rnd_restart_min,
  setting_rnd_restart_max,
  setting_fade_time,
  setting_beats_per_measure,
  setting_all_main_level,
  setting_all_aux_level,
  setting_count,
};
extern const ValueDescriptor setting_descriptors[setting_count];

// Item action: value entry of setting_descriptors[index].
int32_t open_setting(int32_t index);
// Item action of "New length...": the stretch to that percentage, then the menu is left.
int32_t stretch_to_percent(int32_t percent);
// Pops "New length..." when it is on top (the stretch functions' ending).
void leave_new_length_menu();
