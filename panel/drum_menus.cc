// The "Drum Machine" menu: start and stop, tempo and pattern entry, the pattern editor screen,
// the gain and pan entries and the two choice lists.
#include <cstdio>
#include <iterator>

#include "config/config.h"
#include "drums/drum_machine.h"
#include "panel/handlers_drums.h"
#include "panel/menus.h"
#include "panel/value_entry.h"

namespace {

// The working value of the drum entry on screen and the drum it belongs to (0: all drums).
int32_t drum_entry_value;
int32_t drum_entry_drum;

int32_t enter_bpm(int32_t) {
  drum_entry_value = drum_menu_bpm();
  get_integer_generic("Drum BPM", 1, 60, 200, 0, &drum_entry_value, 4,
                      [](int32_t bpm) { drum_menu_set_bpm(bpm); });
  return 0;
}

int32_t enter_pattern(int32_t) {
  drum_entry_value = drum_menu_pattern_number();
  get_integer_generic("Select pattern", 0, 1, 64, 0, &drum_entry_value, 4,
                      [](int32_t number) { drum_menu_select_pattern(number); });
  return 0;
}

int32_t enter_gain(int32_t drum) {
  char title[value_title_max + 1];
  if (drum == 0) {
    snprintf(title, sizeof title, "All Drums Gain");
  } else {
    snprintf(title, sizeof title, "Drum %d Gain", int(drum));
  }
  drum_entry_drum = drum;
  drum_entry_value = drum_menu_gain(drum);
  get_integer_generic(title, 1, -96, 0, 0, &drum_entry_value, 4,
                      [](int32_t db) { drum_menu_set_gain(drum_entry_drum, db); });
  return 0;
}

int32_t enter_pan(int32_t drum) {
  char title[value_title_max + 1];
  snprintf(title, sizeof title, "Drum %d Pan", int(drum));
  drum_entry_drum = drum;
  drum_entry_value = drum_menu_pan(drum);
  get_integer_generic(title, 1, -96, 96, 0, &drum_entry_value, 4,
                      [](int32_t pan) { drum_menu_set_pan(drum_entry_drum, pan); });
  return 0;
}

// The editor screen shows the editor's two lines; its key callback takes every key.
constexpr MenuItem editor_items[] = {{drum_editor.line2, nullptr, nullptr, 0}};
constexpr Menu drum_editor_screen = {drum_editor.line1, nullptr, editor_items, 1, nullptr};

int32_t edit_pattern(int32_t) {
  drum_editor_open(0);
  push_menu(&drum_editor_screen, 0, drum_editor_key);
  return 0;
}

constexpr MenuItem gain_items[] = {
    {"All Drums Gain", enter_gain, nullptr, 0}, {"Drum 1 Gain", enter_gain, nullptr, 1},
    {"Drum 1 Pan", enter_pan, nullptr, 1},      {"Drum 2 Gain", enter_gain, nullptr, 2},
    {"Drum 2 Pan", enter_pan, nullptr, 2},      {"Drum 3 Gain", enter_gain, nullptr, 3},
    {"Drum 3 Pan", enter_pan, nullptr, 3},      {"Drum 4 Gain", enter_gain, nullptr, 4},
    {"Drum 4 Pan", enter_pan, nullptr, 4},      {"Drum 5 Gain", enter_gain, nullptr, 5},
    {"Drum 5 Pan", enter_pan, nullptr, 5},      {"Drum 6 Gain", enter_gain, nullptr, 6},
    {"Drum 6 Pan", enter_pan, nullptr, 6},      {"Drum 7 Gain", enter_gain, nullptr, 7},
    {"Drum 7 Pan", enter_pan, nullptr, 7},      {"Drum 8 Gain", enter_gain, nullptr, 8},
    {"Drum 8 Pan", enter_pan, nullptr, 8},
};
constexpr Menu gain_menu = {"Drum Gains", nullptr, gain_items, int32_t(std::size(gain_items)),
                            nullptr};

constexpr MenuItem clock_out_items[] = {
    {"Internal", drum_menu_set_clock_out, nullptr, 0},
    {"Int + MIDI Out", drum_menu_set_clock_out, nullptr, 1},
    {"Off", drum_menu_set_clock_out, nullptr, 2},
};
constexpr Menu clock_out_menu = {"Clock Out", nullptr, clock_out_items,
                                 int32_t(std::size(clock_out_items)), &config.drums_clock_out};

constexpr MenuItem audio_output_items[] = {
    {"Main Out", drum_menu_set_audio_port, nullptr, 0},
    {"Aux 1 Out", drum_menu_set_audio_port, nullptr, 1},
    {"Aux 2 Out", drum_menu_set_audio_port, nullptr, 2},
};
constexpr Menu audio_output_menu = {"Audio Output", nullptr, audio_output_items,
                                    int32_t(std::size(audio_output_items)),
                                    &config.drum_audio_port};

constexpr MenuItem drum_items[] = {
    {"Start", drums_start, nullptr, 0},         {"Stop", drums_stop, nullptr, 0},
    {"Set BPM", enter_bpm, nullptr, 0},         {"Select Pattern", enter_pattern, nullptr, 0},
    {"Edit Pattern", edit_pattern, nullptr, 0}, {"Drum Gains", nullptr, &gain_menu, 0},
    {"Clock Out", nullptr, &clock_out_menu, 0}, {"Audio Output", nullptr, &audio_output_menu, 0},
};

}  // namespace

constexpr Menu drum_machine_menu = {"Drum Machine", nullptr, drum_items,
                                    int32_t(std::size(drum_items)), nullptr};
