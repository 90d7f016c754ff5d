// Test fixture for the panel: the looper reset with the engine inline, and a player's hands on
// the panel: keys, encoder steps and MIDI bytes go through ui_poll, and the two display lines
// are read back as text. Panel version 0, so scan codes are taken as they are; "Restart" is
// recorded instead of ending the test.
#pragma once

#include <initializer_list>
#include <string>

#include "engine/looper_test_fixture.h"
#include "midi/midi_queue.h"
#include "panel/display.h"
#include "panel/input.h"
#include "panel/menu.h"
#include "panel/panel_hooks.h"

class PanelTest : public LooperTest {
 protected:
  void SetUp() override {
    LooperTest::SetUp();
    install_hooks();
    exit_status() = -1;
    config.panel_version = 0;
  }
  // The hooks a test uses; looper_reset() puts back the program's.
  virtual void install_hooks() { panel_hooks.exit_process = record_exit; }
  // A fresh looper within one test (a case of a table).
  void restart() { SetUp(); }

  // One poll for each: a key, encoder steps (one poll per step), MIDI bytes (one poll).
  static void press(int32_t scan_code) {
    panel_key_event(uint16_t(scan_code));
    ui_poll();
  }
  static void turn(int steps) {
    for (int i = 0; i < (steps < 0 ? -steps : steps); ++i) {
      panel_encoder_steps(steps < 0 ? -1 : 1);
      ui_poll();
    }
  }
  static void midi(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) midi_in_put(b);
    ui_poll();
  }
  static void select() { press(key_select); }
  static void back() { press(key_back); }

  // A line's 16 characters; trailing spaces are kept.
  static std::string line(int n) {
    return std::string(reinterpret_cast<const char*>(line_text(n)), display_columns);
  }
  // The text padded to the 16 display columns.
  static std::string padded(const std::string& text) {
    std::string s = text.substr(0, display_columns);
    s.resize(display_columns, ' ');
    return s;
  }
  static int depth() { return menu_stack.depth; }
  static int cursor() { return top_level().cursor; }

  // Walks the main menu to item `index` and selects it.
  static void open_main_item(int index) {
    back();
    turn(index);
    select();
  }

  static int& exit_status() {
    static int status = -1;
    return status;
  }
  static void record_exit(int status) { exit_status() = status; }
};
