// The main menu: every panel setting of the looper, as choice lists, value entries and editors,
// and the configuration backup, restore and restart items.
#include <iterator>

#include "config/backup.h"
#include "config/config.h"
#include "core/console.h"
#include "drums/count_in_settings.h"
#include "engine/config_apply.h"
#include "engine/engine.h"
#include "panel/display.h"
#include "panel/editors.h"
#include "panel/handlers.h"
#include "panel/input.h"
#include "panel/menus.h"
#include "panel/panel_hooks.h"
#include "storage/mixer_file.h"

namespace {

constexpr int restart_status = 1;

void noise_gate_changed(int32_t) { config_apply_noise_gate(); }

// The chosen controller becomes a general-use controller without button functions.
void quant_cc_changed(int32_t n) {
  console_printf("CC %d set to general\n", n);
  config.cc_controller[n] = 0;
  config.midi_lists[list_switch_base + n][0] = -1;
  config_dirty = 1;
}

void main_level_changed(int32_t level) { set_main_gain(level); }
void aux_level_changed(int32_t level) { set_aux_gain(level); }

// A choice list's item: stores its value in the list's setting and returns to the level below.
template <int16_t ConfigRecord::*field>
int32_t set_choice(int32_t value) {
  config.*field = int16_t(value);
  config_dirty = 1;
  dispatch_key(key_back);
  return 0;
}

constexpr MenuItem wet_dry_items[] = {
    {"Wet + Dry", set_choice<&ConfigRecord::wet_only>, nullptr, 0},
    {"Wet Only", set_choice<&ConfigRecord::wet_only>, nullptr, 1},
};
constexpr MenuItem time_display_items[] = {
    {"Forward", set_choice<&ConfigRecord::time_display>, nullptr, 0},
    {"Reverse", set_choice<&ConfigRecord::time_display>, nullptr, 1},
};
constexpr MenuItem simple_display_items[] = {
    {"Original", set_choice<&ConfigRecord::simple_display>, nullptr, 0},
    {"Basic", set_choice<&ConfigRecord::simple_display>, nullptr, 1},
    {"Expert", set_choice<&ConfigRecord::simple_display>, nullptr, 2},
};
constexpr MenuItem pedal_mode_items[] = {
    {"Change now", set_choice<&ConfigRecord::pedal_mode>, nullptr, 0},
    {"Catch first", set_choice<&ConfigRecord::pedal_mode>, nullptr, 1},
};
constexpr MenuItem track_follows_items[] = {
    {"No", set_choice<&ConfigRecord::track_follows_cc>, nullptr, 0},
    {"Yes", set_choice<&ConfigRecord::track_follows_cc>, nullptr, 1},
};
constexpr MenuItem clock_out_items[] = {
    {"Off", set_choice<&ConfigRecord::midi_clock_out>, nullptr, 0},
    {"On", set_choice<&ConfigRecord::midi_clock_out>, nullptr, 1},
};
constexpr MenuItem mono_aux_items[] = {
    {"Off", set_choice<&ConfigRecord::mono_aux_out>, nullptr, 0},
    {"On", set_choice<&ConfigRecord::mono_aux_out>, nullptr, 1},
};
constexpr MenuItem mono_input_items[] = {
    {"Off", set_choice<&ConfigRecord::mono_input_mode>, nullptr, 0},
    {"On", set_choice<&ConfigRecord::mono_input_mode>, nullptr, 1},
};
constexpr MenuItem switch_priority_items[] = {
    {"Switch Track", set_choice<&ConfigRecord::switch_priority>, nullptr, 0},
    {"Clk Src Track", set_choice<&ConfigRecord::switch_priority>, nullptr, 1},
};
constexpr MenuItem loop_start_flash_items[] = {
    {"No Flash", set_choice<&ConfigRecord::loop_start_flash>, nullptr, 0},
    {"Red Flash", set_choice<&ConfigRecord::loop_start_flash>, nullptr, 1},
    {"Yellow Flash", set_choice<&ConfigRecord::loop_start_flash>, nullptr, 2},
};

template <size_t n>
constexpr Menu choice_list(const char* title, const MenuItem (&items)[n], const int16_t* field) {
  return {title, nullptr, items, int32_t(n), field};
}

constexpr Menu wet_dry_menu = choice_list("Wet/Dry Mix", wet_dry_items, &config.wet_only);
constexpr Menu time_display_menu =
    choice_list("Time display", time_display_items, &config.time_display);
constexpr Menu simple_display_menu =
    choice_list("Simple display", simple_display_items, &config.simple_display);
constexpr Menu pedal_mode_menu = choice_list("Pedal Mode", pedal_mode_items, &config.pedal_mode);
constexpr Menu track_follows_menu =
    choice_list("Track Follows CC", track_follows_items, &config.track_follows_cc);
constexpr Menu clock_out_menu =
    choice_list("MIDI Clock Out", clock_out_items, &config.midi_clock_out);
constexpr Menu mono_aux_menu = choice_list("Mono Aux Out", mono_aux_items, &config.mono_aux_out);
constexpr Menu mono_input_menu =
    choice_list("Mono Input Mode", mono_input_items, &config.mono_input_mode);
constexpr Menu switch_priority_menu =
    choice_list("Prefer switch:", switch_priority_items, &config.switch_priority);
constexpr Menu loop_start_flash_menu =
    choice_list("Loop Start Flash", loop_start_flash_items, &config.loop_start_flash);

// Kept in the mixer file, not the configuration record, whose stored layout stays as it is.
int32_t set_resume_playing(int32_t on) {
  mixer_set_resume(on);
  dispatch_key(key_back);
  return 0;
}
constexpr MenuItem resume_playing_items[] = {
    {"Off", set_resume_playing, nullptr, 0},
    {"On", set_resume_playing, nullptr, 1},
};
constexpr Menu resume_playing_menu =
    choice_list("Resume Playing", resume_playing_items, &mixer_store.resume_playing);

// Kept in the count-in settings file, not the configuration record.
int32_t set_rec_length_item(int32_t bars) {
  cmd_rec_length(bars);
  dispatch_key(key_back);
  return 0;
}
int32_t set_count_in_item(int32_t bars) {
  cmd_count_in_bars(bars);
  dispatch_key(key_back);
  return 0;
}
int32_t set_click_item(int32_t mode) {
  cmd_click(mode);
  dispatch_key(key_back);
  return 0;
}
constexpr MenuItem rec_length_items[] = {
    {"Free", set_rec_length_item, nullptr, 0},   {"1 Bar", set_rec_length_item, nullptr, 1},
    {"2 Bars", set_rec_length_item, nullptr, 2}, {"4 Bars", set_rec_length_item, nullptr, 4},
    {"8 Bars", set_rec_length_item, nullptr, 8}, {"16 Bars", set_rec_length_item, nullptr, 16},
};
static_assert(std::size(rec_length_items) == rec_length_choice_count);
constexpr MenuItem count_in_items[] = {
    {"Off", set_count_in_item, nullptr, 0},
    {"1 Bar", set_count_in_item, nullptr, 1},
    {"2 Bars", set_count_in_item, nullptr, 2},
};
constexpr MenuItem click_items[] = {
    {"Off", set_click_item, nullptr, click_off},
    {"Count-in only", set_click_item, nullptr, click_count_in},
    {"Always", set_click_item, nullptr, click_always},
};
constexpr Menu rec_length_menu =
    choice_list("Rec Length", rec_length_items, &count_in_store.rec_length_choice);
constexpr Menu count_in_menu =
    choice_list("Count-in Bars", count_in_items, &count_in_store.live.count_in_bars);
constexpr Menu click_menu = choice_list("Click", click_items, &count_in_store.live.click);

constexpr MenuItem select_group_items[] = {
    {"Group 1", open_group_editor, nullptr, 1}, {"Group 2", open_group_editor, nullptr, 2},
    {"Group 3", open_group_editor, nullptr, 3}, {"Group 4", open_group_editor, nullptr, 4},
    {"Group 5", open_group_editor, nullptr, 5}, {"Group 6", open_group_editor, nullptr, 6},
    {"Group 7", open_group_editor, nullptr, 7}, {"Group 8", open_group_editor, nullptr, 8},
    {"Group 9", open_group_editor, nullptr, 9}, {"Group 10", open_group_editor, nullptr, 10},
};
static_assert(std::size(select_group_items) == config_group_count);
constexpr Menu select_group_menu = {"Select group:", nullptr, select_group_items,
                                    config_group_count, nullptr};

// Both show "Busy..." and poll the panel once before the work, then report on two lines.
int32_t config_backup_item(int32_t) {
  write_text(0, "Busy...");
  write_text(1, "");
  ui_poll();
  const ConfigOutcome outcome = panel_hooks.backup_config();
  show_message(outcome.title, outcome.detail);
  return 0;
}

int32_t config_restore_item(int32_t) {
  write_text(0, "Busy...");
  write_text(1, "");
  ui_poll();
  const ConfigOutcome outcome = panel_hooks.restore_config();
  show_message(outcome.title, outcome.detail);
  return 0;
}

int32_t restart_item(int32_t) {
  panel_hooks.exit_process(restart_status);
  return 0;
}

// The hardware tag, the marker glyph and the version.
constexpr char version_line[] = "RevQ   \xF9   V3.07";
constexpr bool version_matches() {
  constexpr int tail = sizeof version_line - sizeof zt4_version;
  for (size_t i = 0; i < sizeof zt4_version; ++i) {
    if (version_line[tail + i] != zt4_version[i]) return false;
  }
  return true;
}
static_assert(version_matches() && sizeof version_line == display_columns + 1);

constexpr MenuItem main_items[] = {
    {version_line, nullptr, nullptr, 0},
    {"Edit Switched", open_switched_editor, nullptr, 0},
    {"Edit Group", nullptr, &select_group_menu, 0},
    {"MIDI channel", open_setting, nullptr, setting_midi_channel},
    {"MIDI/USER btn", open_learn_editor, nullptr, 0},
    {"Assign Pedal", open_pedal_editor, nullptr, 0},
    {"Record Trigger", open_setting, nullptr, setting_record_trigger},
    {"Volume Minimum", open_setting, nullptr, setting_volume_minimum},
    {"Noise Gate Level", open_setting, nullptr, setting_noise_gate_level},
    {"Noise Gate Delay", open_setting, nullptr, setting_noise_gate_delay},
    {"Wet/dry mix", nullptr, &wet_dry_menu, 0},
    {"Time display", nullptr, &time_display_menu, 0},
    {"Simple display", nullptr, &simple_display_menu, 0},
    {"Pedal mode", nullptr, &pedal_mode_menu, 0},
    {"Track Follows CC", nullptr, &track_follows_menu, 0},
    {"CC de-jitter", open_setting, nullptr, setting_cc_dejitter},
    {"Quant CC Num", open_setting, nullptr, setting_quant_cc},
    {"MIDI Clock Out", nullptr, &clock_out_menu, 0},
    {"Mono Aux Out", nullptr, &mono_aux_menu, 0},
    {"Mono Input Mode", nullptr, &mono_input_menu, 0},
    {"Switch Priority", nullptr, &switch_priority_menu, 0},
    {"Loop Start Flash", nullptr, &loop_start_flash_menu, 0},
    {"Panel Version", open_setting, nullptr, setting_panel_version},
    {"IP Address", open_address_editor, nullptr, address_ip},
    {"Gateway Addr", open_address_editor, nullptr, address_gateway},
    {"Netmask", open_address_editor, nullptr, address_netmask},
    {"DNS Server", open_address_editor, nullptr, address_dns},
    {"Config Backup", config_backup_item, nullptr, 0},
    {"Config Restore", config_restore_item, nullptr, 0},
    {"Rnd Restart Min", open_setting, nullptr, setting_rnd_restart_min},
    {"Rnd Restart Max", open_setting, nullptr, setting_rnd_restart_max},
    {"MIDI test", nullptr, nullptr, 0},
    {"Restart", restart_item, nullptr, 0},
    {"Resume Playing", nullptr, &resume_playing_menu, 0},
    {"Rec Length", nullptr, &rec_length_menu, 0},
    {"Count-in Bars", nullptr, &count_in_menu, 0},
    {"Click", nullptr, &click_menu, 0},
};
static_assert(std::size(main_items) == main_menu_items);

}  // namespace

// Every entry stores a 16-bit configuration field; live ones write it at every step.
constexpr ValueDescriptor setting_descriptors[setting_count] = {
    {"MIDI channel", 0, 0, 15, 1, &config.midi_channel, 2, nullptr},
    {"Record trigger", 0, 0, 23, 0, &config.record_trigger, 2, nullptr},
    {"Volume Minimum", 0, -128, -10, 0, &config.volume_minimum, 2, nullptr},
    {"Noise Gate Level", 1, 0, 24, 0, &config.noise_gate_level, 2, noise_gate_changed},
    {"Noise Gate Delay", 1, 0, 200, 0, &config.noise_gate_delay, 2, noise_gate_changed},
    {"CC de-jitter", 1, 0, 4, 0, &config.cc_dejitter, 2, nullptr},
    {"Quant CC Num", 1, 1, 127, 0, &config.quant_cc, 2, quant_cc_changed},
    {"Panel version", 0, 0, 1, 0, &config.panel_version, 2, nullptr},
    {"Rnd Restart Min", 1, 0, 200, 0, &config.rnd_restart_min, 2, nullptr},
    {"Rnd Restart Max", 1, 0, 200, 0, &config.rnd_restart_max, 2, nullptr},
    {"Fade Time", 0, 1, 100, 0, &config.fade_time, 2, nullptr},
    {"Beats / Measure ", 0, 1, 100, 0, &config.beats_per_measure, 2, nullptr},
    {"All Gain ", 1, -8, 8, 0, &config.all_main_level, 2, main_level_changed},
    {"Aux Gain ", 1, -8, 8, 0, &config.all_aux_level, 2, aux_level_changed},
};

constexpr Menu main_menu = {"Brindlewhorl ZT4", nullptr, main_items, main_menu_items, nullptr};

int32_t open_setting(int32_t index) {
  if (index < 0 || index >= setting_count) return status_refused;
  get_integer(&setting_descriptors[index]);
  return 0;
}
