#include "panel/handlers_drums.h"

#include <gtest/gtest.h>

#include <string>

#include "config/config.h"
#include "drums/drum_bank_file.h"
#include "drums/drum_machine.h"
#include "engine/track.h"
#include "host/looper.h"
#include "midi/clock.h"
#include "panel/clock_info.h"
#include "panel/display_state.h"
#include "panel/input.h"
#include "panel/text_command.h"

namespace {

class DrumMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }
  static std::string line1() { return drum_editor.line1; }
  static std::string line2() { return drum_editor.line2; }
};

TEST_F(DrumMenuTest, EditorShowsStepsAndWrapsAroundThePattern) {
  drum_editor_open(0);
  EXPECT_EQ(line1(), "Beat 1:1:01");
  EXPECT_EQ(line2(), "            \n");
  drum_editor_key(code_encoder_down);
  EXPECT_EQ(drum_editor.step, 192);
  EXPECT_EQ(line1(), "Beat 2:4:24");
  drum_editor_key(code_encoder_up);
  EXPECT_EQ(line1(), "Beat 1:1:01");
  for (int i = 0; i < 120; i++) drum_editor_key(code_encoder_up);
  EXPECT_EQ(line1(), "Beat 2:2:01");
}

TEST_F(DrumMenuTest, DrumKeysFlipTheShownStep) {
  drum_menu_select_pattern(3);
  drum_editor_open(0);
  drum_editor_key(code_encoder_up);  // step 2
  drum_editor_key(0x2080);           // drum 1
  drum_editor_key(0x2020);           // drum 4
  drum_editor_key(0x4020);           // drum 8
  EXPECT_EQ(line2(), "    1  4   8\n");
  EXPECT_EQ(drums.bank.patterns[2].steps[1], 0x89);
  drum_editor_key(0x2020);
  EXPECT_EQ(line2(), "    1      8\n");
  EXPECT_EQ(drums.bank.patterns[2].steps[1], 0x81);
  EXPECT_EQ(drum_bank_store.dirty.load(), 1) << "the edit is saved later";
}

TEST_F(DrumMenuTest, ChoicesStoreTheSettingAndMarkTheConfiguration) {
  config_dirty = 0;
  EXPECT_EQ(drum_menu_set_clock_out(1), 0);
  EXPECT_EQ(config.drums_clock_out, 1);
  EXPECT_EQ(config_dirty.load(), 1);
  EXPECT_EQ(drum_menu_set_audio_port(2), 0);
  EXPECT_EQ(config.drum_audio_port, 2);
  EXPECT_EQ(drum_menu_set_audio_port(3), status_refused);
  EXPECT_EQ(config.drum_audio_port, 2);
}

TEST_F(DrumMenuTest, ValueEntriesReadAndChangeTheCurrentPattern) {
  EXPECT_EQ(drum_menu_pattern_number(), 1);
  EXPECT_EQ(drum_menu_bpm(), 120);
  EXPECT_EQ(drum_menu_select_pattern(10), 0);
  EXPECT_EQ(drum_menu_pattern_number(), 10);
  EXPECT_EQ(drum_menu_set_bpm(95), 0);
  EXPECT_EQ(drum_menu_bpm(), 95);
  EXPECT_EQ(drum_timing().loop_length, 23040000 / 95);
  EXPECT_EQ(drum_menu_set_bpm(201), status_refused);
  EXPECT_EQ(drum_menu_set_gain(0, -20), 0);
  EXPECT_EQ(drum_menu_set_gain(8, -3), 0);
  EXPECT_EQ(drum_menu_set_pan(1, -40), 0);
  EXPECT_EQ(drum_menu_set_pan(2, 97), status_refused);
  EXPECT_EQ(drum_menu_gain(0), -20);
  EXPECT_EQ(drum_menu_gain(8), -3);
  EXPECT_EQ(drum_menu_pan(1), -40);
  EXPECT_EQ(drums.bank.patterns[9].all_gain, -20);
}

TEST_F(DrumMenuTest, DrumsStartAndStopAreFunctions) {
  EXPECT_EQ(run_text_command("Drums Start"), 0);
  EXPECT_EQ(drums.transport.running, 1);
  EXPECT_EQ(clock_follower.clock_lock, 1);
  EXPECT_EQ(run_text_command("drums stop"), 0);
  EXPECT_EQ(drums.transport.running, 0);
}

TEST_F(DrumMenuTest, ClockInfoShowsTempoAndDiagnostics) {
  char line1[clock_info_line_size];
  char line2[clock_info_line_size];
  ClockFollower& c = clock_follower;
  c.clock_period = 1200.7;  // 99.9 BPM
  c.lock_lost_count = 3;
  c.flywheel_drift = -2.5;
  c.min_diff = 1190;
  c.max_diff = 1210;
  midi_clock_info(-1, line1, line2);
  EXPECT_STREQ(line1, "MIDI BPM 99");
  EXPECT_STREQ(line2, "1200 3 -2 1190 12") << "cut to 17 characters";
  EXPECT_EQ(c.min_diff, 1000000);
  EXPECT_EQ(c.max_diff, 0);

  tracks[4].midi_error = -48;
  midi_clock_info(4, line1, line2);
  EXPECT_STREQ(line2, "1200 -3");

  c.clock_period = 200;  // 600 BPM
  midi_clock_info(-1, line1, line2);
  EXPECT_STREQ(line1, "MIDI BPM error");
  c.clock_period = 0;
  midi_clock_info(-1, line1, line2);
  EXPECT_STREQ(line1, "MIDI BPM 0");
}

}  // namespace
