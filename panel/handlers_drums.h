// The "Drum Machine" menu's actions and the pattern editor screen. The menu system owns the
// screens; these functions are its entries' actions, value-entry hooks and key callback. Main
// thread only.
//
// How the menu entries call them (menu item → call):
//   "Start" / "Stop"             drums_start(0) / drums_stop(0) (drums/drum_machine.h)
//   "Set BPM"                    live value entry "Drum BPM", 60..200, starting at
//                                drum_menu_bpm(); every change calls drum_menu_set_bpm(value)
//   "Select Pattern"             value entry "Select pattern", 1..64, not live, starting at
//                                drum_menu_pattern_number(); confirm calls
//                                drum_menu_select_pattern(value)
//   "Edit Pattern"               drum_editor_open(0), then push the editor screen whose title is
//                                drum_editor.line1 and whose one item's text is drum_editor.line2,
//                                with drum_editor_key as its key callback
//   "Drum Gains" submenu         "All Drums Gain": live entry "All Drums Gain", -96..0, from
//                                drum_menu_gain(0), hook drum_menu_set_gain(0, value);
//                                "Drum %d Gain" (d = 1..8): live, -96..0, drum_menu_gain(d) /
//                                drum_menu_set_gain(d, value); "Drum %d Pan": live, -96..96,
//                                drum_menu_pan(d) / drum_menu_set_pan(d, value)
//   "Clock Out" submenu          "Internal", "Int + MIDI Out", "Off" call
//                                drum_menu_set_clock_out(0, 1, 2); preselect config.drums_clock_out
//   "Audio Output" submenu       "Main Out", "Aux 1 Out", "Aux 2 Out" call
//                                drum_menu_set_audio_port(0, 1, 2); preselect
//                                config.drum_audio_port
#pragma once

#include <cstdint>

#include "drums/drum_editor.h"

// "Select Pattern": the value to start from and the confirmation.
int32_t drum_menu_pattern_number();
int32_t drum_menu_select_pattern(int32_t number);
// "Set BPM": the current pattern's tempo (120 when never set) and the live change.
int32_t drum_menu_bpm();
int32_t drum_menu_set_bpm(int32_t bpm);
// "Drum Gains": drum 0 is "All Drums Gain", 1..8 the drums.
int32_t drum_menu_gain(int32_t drum);
int32_t drum_menu_set_gain(int32_t drum, int32_t db);
int32_t drum_menu_pan(int32_t drum);
int32_t drum_menu_set_pan(int32_t drum, int32_t pan);
// The two choice lists: store, mark the configuration for saving, and leave the submenu.
int32_t drum_menu_set_clock_out(int32_t choice);
int32_t drum_menu_set_audio_port(int32_t choice);

// The pattern editor screen: its two lines and the step they show (1..192).
struct DrumEditor {
  int32_t step;
  char line1[drum_editor_line_size];
  char line2[drum_editor_line_size];
};
extern DrumEditor drum_editor;

// "Edit Pattern": step 1 of the current pattern on the editor's lines.
int32_t drum_editor_open(int32_t unused);
// The editor's key callback: encoder steps move through the steps, the eight drum keys flip the
// shown step's drums, key 0x1080 leaves; any other code goes to the global key map.
void drum_editor_key(int32_t code);

// Tests: step 1, empty lines.
void drum_editor_reset();
