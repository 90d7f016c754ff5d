#include <gtest/gtest.h>

#include <vector>

#include "panel/editors.h"
#include "panel/function_table.h"
#include "panel/menus.h"
#include "tests/fixtures/panel_test_fixture.h"

namespace {

using EditorsTest = PanelTest;

constexpr int item_switched = 1;
constexpr int item_edit_group = 2;
constexpr int item_learn = 4;
constexpr int item_pedal = 5;
constexpr int item_ip_address = 23;
constexpr int item_netmask = 25;

int row_with_id(int id) {
  for (int row = 0; row < function_row_count(); ++row) {
    if (function_table[row].first_id == id) return row;
  }
  return -1;
}

TEST_F(EditorsTest, SwitchedTracksToggleWithTheTrackKeys) {
  open_main_item(item_switched);
  EXPECT_EQ(line(0), padded("Switched Tracks"));
  EXPECT_EQ(line(1), padded("      4 5 6 7"));
  press(track_keys[0]);
  press(track_keys[4]);
  EXPECT_EQ(line(1), padded("1     4   6 7"));
  EXPECT_EQ(config.switched[0], 1);
  EXPECT_EQ(config.switched[4], 0);
  EXPECT_EQ(config_dirty, 1);
  EXPECT_EQ(depth(), 1);
  select();  // redraws, stays
  EXPECT_EQ(depth(), 1);
  back();
  EXPECT_EQ(depth(), 0);
}

TEST_F(EditorsTest, GroupEditorStoresEveryToggleAtOnce) {
  config.groups[1] = 0x81;
  open_main_item(item_edit_group);
  EXPECT_EQ(line(0), padded("Select group:"));
  EXPECT_EQ(line(1), padded("Group 1"));
  turn(1);
  select();
  EXPECT_EQ(depth(), 2);
  EXPECT_EQ(line(0), padded("Group 2"));
  EXPECT_EQ(line(1), padded("1             8"));
  press(track_keys[2]);
  EXPECT_EQ(line(1), padded("1   3         8"));
  press(track_keys[7]);
  EXPECT_EQ(config.groups[1], 0x05);
  back();  // leaving keeps the last toggle
  EXPECT_EQ(depth(), 1);
  EXPECT_EQ(line(0), padded("Select group:"));
  EXPECT_EQ(config.groups[1], 0x05);
  EXPECT_EQ(config_dirty, 1);
}

TEST_F(EditorsTest, AddressIsEditedOctetByOctet) {
  config.ip_address = 0xC0A800FF;  // 192.168.0.255
  open_main_item(item_ip_address);
  struct Step {
    int32_t code;
    const char* shown;
  };
  const Step steps[] = {
      {0, "192"},
      {key_select, "192.168"},
      {code_encoder_down, "192.167"},
      {key_select, "192.167.0"},
      {code_encoder_down, "192.167.255"},  // wraps below 0
      {code_encoder_up, "192.167.0"},
      {key_select, "192.167.0.255"},
      {code_encoder_up, "192.167.0.0"},  // 255 + 1 = 0
  };
  for (const Step& s : steps) {
    if (s.code == key_select) select();
    if (s.code == code_encoder_up) turn(1);
    if (s.code == code_encoder_down) turn(-1);
    EXPECT_EQ(line(0), padded("IP address"));
    EXPECT_EQ(line(1), padded(s.shown));
  }
  EXPECT_EQ(config.ip_address, 0xC0A800FFu);
  select();  // the fourth octet stores the address and leaves
  EXPECT_EQ(config.ip_address, 0xC0A70000u);
  EXPECT_EQ(config_dirty, 1);
  EXPECT_EQ(depth(), 0);
  open_main_item(item_netmask);
  EXPECT_EQ(line(0), padded("Netmask"));
  EXPECT_EQ(line(1), padded("0"));
}

TEST_F(EditorsTest, LearnEditorAssignsFunctionListsToTriggers) {
  open_main_item(item_learn);
  EXPECT_EQ(line(0), padded("Press button"));
  EXPECT_EQ(line(1), padded(""));
  turn(1);  // nothing chosen yet: nothing is stored
  midi({0x90, 60, 100});
  EXPECT_EQ(line(0), padded("Note 60: 1"));
  EXPECT_EQ(line(1), padded("end sequence"));
  turn(1);
  EXPECT_EQ(line(1), padded("Switch-Record"));
  EXPECT_EQ(config.midi_lists[list_note_base + 60][0], 100);
  turn(-1);  // down from the first row: the end of the list
  EXPECT_EQ(line(1), padded("end sequence"));
  EXPECT_EQ(config.midi_lists[list_note_base + 60][0], -1);
  turn(-1);
  EXPECT_EQ(line(1), padded("end sequence"));
  press(track_keys[2]);
  EXPECT_EQ(line(0), padded("Note 60: 3"));
  // Names are drawn through the formatter: a lone percent sign at the end is no character.
  turn(row_with_id(30) + 1);
  EXPECT_EQ(line(1), padded("Feedback 100"));
  EXPECT_EQ(config.midi_lists[list_note_base + 60][2], 30);
  turn(function_row_count() + 5);  // stops at the last row before the sentinel
  EXPECT_EQ(line(1), padded(function_name(function_row_count() - 1)));

  config.midi_lists[list_program_base + 5][0] = 12;
  midi({0xC0, 5});
  EXPECT_EQ(line(0), padded("Pgm Chg 5: 1"));
  EXPECT_EQ(line(1), padded("Track Level"));
  config.midi_lists[list_program_base + 5][0] = 11;  // a note off stores the shown row again
  midi({0x80, 60, 0});
  EXPECT_EQ(config.midi_lists[list_program_base + 5][0], 12);

  config.cc_controller[7] = 1;
  midi({0xB0, 7, 64});
  EXPECT_EQ(line(0), padded("CC 7: 1"));
  EXPECT_EQ(config.cc_controller[7], -1);  // a learnt controller acts as a switch

  config.user_button_lists[1][0] = 0;
  press(key_user_2);
  EXPECT_EQ(line(0), padded("User 1: 1"));
  EXPECT_EQ(line(1), padded("Rec/Dub"));
  select();  // select leaves
  EXPECT_EQ(depth(), 0);
  EXPECT_EQ(config_dirty, 1);
}

TEST_F(EditorsTest, PedalAssignmentWalksFourSteps) {
  config.midi_lists[list_switch_base + 20][0] = 3;
  config.cc_min[20] = -5;
  config.cc_max[20] = -9;
  open_main_item(item_pedal);
  struct Step {
    const char* action;
    std::vector<uint8_t> midi;
    const char* first;
    const char* second;
  };
  const Step steps[] = {
      {"", {}, "Move Controller", "none selected"},
      {"select", {}, "Move Controller", "none selected"},  // nothing to set without a controller
      {"", {0xB0, 20, 30}, "Move Controller", " CC 20"},
      {"select", {}, "Move 20 To Min", "0"},
      {"", {0xB0, 20, 10}, "Move 20 To Min", "10"},
      {"select", {}, "Move 20 To Max", "127"},
      {"", {0xB0, 20, 100}, "Move 20 To Max", "100"},
      {"", {0xB0, 21, 90}, "Move 21 To Max", "127"},  // another controller, same step
      {"", {0xB0, 20, 110}, "Move 20 To Max", "100"},
      {"", {0xB0, 20, 99}, "Move 20 To Max", "99"},
      {"select", {}, "Controller 20", "General Use"},
      {"up", {}, "Controller 20", "Track Volume"},
      {"down", {}, "Controller 20", "General Use"},
      {"down", {}, "Controller 20", "General Use"},
  };
  for (const Step& s : steps) {
    const std::string action = s.action;
    if (action == "select") select();
    if (action == "up") turn(1);
    if (action == "down") turn(-1);
    if (!s.midi.empty()) {
      for (uint8_t b : s.midi) midi_in_put(b);
      ui_poll();
    }
    EXPECT_EQ(line(0), padded(s.first)) << action << " " << s.first;
    EXPECT_EQ(line(1), padded(s.second)) << action << " " << s.first;
  }
  EXPECT_EQ(config.midi_lists[list_switch_base + 20][0], -1);
  EXPECT_EQ(config.cc_min[20], 10);
  EXPECT_EQ(config.cc_max[20], 99);
  EXPECT_EQ(config.cc_controller[20], 0);
  turn(28 + 5);
  EXPECT_EQ(line(1), padded("Track 8 Pan"));
  EXPECT_EQ(config.cc_controller[20], 28);
  select();
  EXPECT_EQ(depth(), 0);
}

TEST_F(EditorsTest, EncoderOutsideTheLastPedalStepGoesToTheKeyMap) {
  open_main_item(item_pedal);
  console_text();
  turn(1);
  EXPECT_EQ(console_text(), "SCANCODE 0101\n");
  EXPECT_EQ(line(0), padded("Move Controller"));
  press(track_keys[1]);  // other keys act as anywhere else
  EXPECT_EQ(depth(), 1);
  EXPECT_EQ(line(0), " Track 2 +000.0\xF9");
}

}  // namespace
