// The editor screens of the main menu: switched tracks, track groups, network addresses, MIDI
// learn for triggers and user buttons, and the pedal (controller) assignment. Each is one
// editor screen whose key callback does the work. Main thread only.
#pragma once

#include <cstdint>

#include "panel/display.h"
#include "panel/menu.h"

// Which address setting the address editor edits.
enum AddressField : int32_t { address_ip, address_gateway, address_netmask, address_dns };

constexpr int learn_source_none = -1;
constexpr int editor_second_max = 63;

struct Editors {
  char first_line[display_columns + 1] = {};
  char second_line[editor_second_max + 1] = {};
  int16_t group = 1;       // group editor: 1..10
  uint8_t group_mask = 0;  // the group's members being edited
  int16_t address_field = address_ip;
  int16_t octet = 0;  // address editor: 0..3, most significant first
  uint8_t octets[4] = {};
  // Learn editor. Source: -1 none, 0..127 program, 128..255 controller + 128, 256..383 note + 256.
  int16_t learn_source = learn_source_none;
  int16_t learn_button = -1;      // -1 none, 0..3
  int16_t learn_position = 0;     // 0..7
  int16_t learn_row = -1;         // function-table row, -1 = end of list
  int16_t pedal_step = 1;         // 1..4
  int16_t pedal_controller = -1;  // -1 none, 0..127
  // Learning from the web panel: the function-table row the next trigger gets, or the controller
  // function id the next controller gets; -1 none.
  int16_t learn_armed_row = -1;
  int16_t pedal_armed_id = -1;
};

extern Editors editors;
// The screen all editors share: the first-line buffer as title, one item showing the second.
extern const Menu editor_screen;

// Item actions of the main menu.
int32_t open_switched_editor(int32_t unused);
int32_t open_group_editor(int32_t group);    // 1..10
int32_t open_address_editor(int32_t field);  // AddressField
int32_t open_learn_editor(int32_t unused);
int32_t open_pedal_editor(int32_t unused);
// The learn editor waiting for the next note, program change or controller, which then runs
// function-table row `row` alone; the editor closes once it has.
int32_t learn_next_trigger(int32_t row);
// The pedal editor waiting for the next controller, which then drives controller function `id`
// over its whole travel; the editor closes once it has.
int32_t learn_next_controller(int32_t id);

void editors_reset();
