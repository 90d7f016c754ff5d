#include <gtest/gtest.h>

#include "config/presets.h"
#include "tests/fixtures/looper_test_fixture.h"
#include "engine/track_params.h"
#include "midi/midi_map.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/pedal.h"
#include "panel/selection.h"

namespace {

class HandlersTest : public LooperTest {
 protected:
  static int32_t cc_code(int controller, int value) {
    return code_control_change + value + (controller << code_controller_shift);
  }
};

TEST_F(HandlersTest, GroupWithExceptSelectsTheOtherTracks) {
  config.groups[1] = 0x05;  // group 2: tracks 1 and 3
  ASSERT_EQ(cmd_select_group(2), 0);
  EXPECT_EQ(selection.current_track, -2);
  EXPECT_EQ(selected_mask(), 0x05);
  cmd_except_track(0);
  EXPECT_EQ(selected_mask(), 0xFA);  // tracks 2, 4, 5, 6, 7 and 8
  EXPECT_STREQ(display_state.tag_text, "EXCP");
  cmd_select_track(6);  // selecting clears the Except flag
  EXPECT_EQ(selected_mask(), 0x20);
  console_text();
  EXPECT_EQ(cmd_select_group(3), -22);  // an empty group changes nothing
  EXPECT_EQ(console_text(), "Select group 3: \n");
  EXPECT_EQ(selection.current_track, 6);
  cmd_select_group(2);
  EXPECT_EQ(console_text(), "Select group 2: track -2\n");
}

TEST_F(HandlersTest, TemporaryGroupWinsOverTheCurrentTrack) {
  selection.current_track = 2;
  start_temporary_group(7);
  EXPECT_EQ(selected_mask(), 0x40);
  cmd_select_track(0);
  EXPECT_EQ(selected_mask(), 0xFF);
}

TEST_F(HandlersTest, NextAndPreviousTrackWrap) {
  struct Case {
    int32_t from, step, to;
  };
  for (const Case c : {Case{8, 1, 1}, Case{1, -1, 8}, Case{3, 1, 4}, Case{0, 1, 1}, Case{0, -1, 8},
                       Case{-2, -1, 8}}) {
    selection.current_track = c.from;
    cmd_next_track(c.step);
    EXPECT_EQ(selection.current_track, c.to) << c.from << " " << c.step;
  }
}

TEST_F(HandlersTest, FeedbackStepsStopAtTheirLimits) {
  struct Case {
    int16_t shown;
    int32_t argument;
    int16_t expected;
  };
  constexpr Case cases[] = {{5, 19990, 0},  {95, 20010, 100}, {50, 20005, 55}, {3, 19995, 0},
                            {40, 100, 100}, {40, 250, 100},   {40, -7, 0},     {40, 30, 30}};
  selection.current_track = 4;
  for (const Case& c : cases) {
    shown_feedback[3] = c.shown;
    cmd_feedback(c.argument);
    EXPECT_EQ(shown_feedback[3], c.expected) << c.shown << " " << c.argument;
    EXPECT_EQ(tracks[3].fade_target, c.expected == 100 ? 512 : c.expected * 512 / 100);
  }
  EXPECT_EQ(display_state.display_mode, display_mode_feedback);
}

TEST_F(HandlersTest, LevelStepsStopAtTheirLimits) {
  selection.current_track = 2;
  shown_level[1] = -94;
  cmd_track_level_step(-5);
  EXPECT_EQ(shown_level[1], -96);
  EXPECT_EQ(tracks[1].atten, 96);
  cmd_track_level_step(-5);
  EXPECT_EQ(shown_level[1], -96);
  shown_level[1] = -2;
  cmd_track_level_step(5);
  EXPECT_EQ(shown_level[1], 0);
  EXPECT_EQ(tracks[1].atten, 0);
  EXPECT_EQ(display_state.display_mode, display_mode_level);
}

TEST_F(HandlersTest, TrackLevelIsClampedAndCancelsAFade) {
  config.groups[0] = 0x81;
  selection.current_track = -1;
  fades.fade_direction[7] = -1;
  cmd_track_level(-200);
  EXPECT_EQ(shown_level[0], -96);
  EXPECT_EQ(shown_level[7], -96);
  EXPECT_EQ(tracks[7].atten, 96);
  EXPECT_EQ(fades.fade_direction[7], 0);
  cmd_track_level(12);
  EXPECT_EQ(shown_level[0], 0);
}

TEST_F(HandlersTest, PanIsClampedForEachSelectedTrack) {
  selection.current_track = 0;
  cmd_pan_center(500);
  for (int t = 0; t < 8; ++t) EXPECT_EQ(tracks[t].pan, 127);
  cmd_pan_center(0);
  EXPECT_EQ(shown_pan[5], 0);
  EXPECT_EQ(display_state.display_mode, display_mode_pan);
}

TEST_F(HandlersTest, AssignOutputMovesTracksBetweenTheMasks) {
  selection.current_track = 0;
  cmd_assign_output(1);
  EXPECT_EQ(selection.aux1_mask, 0xFF);
  selection.current_track = 3;
  cmd_assign_output(2);
  EXPECT_EQ(selection.aux1_mask, 0xFB);
  EXPECT_EQ(selection.aux2_mask, 0x04);
  EXPECT_EQ(engine_state.track_output[2], 2);
  EXPECT_EQ(engine_state.track_output[0], 1);
  selection.current_track = 1;
  cmd_assign_output(0);
  EXPECT_EQ(engine_state.track_output[0], 0);
  EXPECT_STREQ(display_state.tag_text, "MAIN");
  EXPECT_EQ(cmd_assign_output(3), -22);
}

TEST_F(HandlersTest, UsePresetAppliesTheStoredMix) {
  shown_level[2] = -20;
  shown_pan[2] = -30;
  shown_feedback[2] = 40;
  config.all_main_level = 1;
  ASSERT_EQ(preset_save(4), 0);
  shown_level[2] = 0;
  shown_pan[2] = 0;
  shown_feedback[2] = 100;
  config.all_main_level = -2;
  ASSERT_EQ(cmd_use_preset(4), 0);
  EXPECT_EQ(tracks[2].atten, 20);
  EXPECT_EQ(tracks[2].pan, -30);
  EXPECT_EQ(tracks[2].fade_target, 40 * 512 / 100);
  EXPECT_EQ(engine_state.main_shift_left, 1);
  EXPECT_STREQ(display_state.tag_text, "PR04");
  EXPECT_EQ(cmd_use_preset(11), -22);
}

TEST_F(HandlersTest, QuantValueSetsTheSelectedTracksOnly) {
  config.groups[4] = 0x12;  // tracks 2 and 5
  selection.current_track = -5;
  console_text();
  EXPECT_EQ(cmd_quant_value(16), 0);
  EXPECT_EQ(console_text(), "KEY: Q steps for 2 set to 16\nKEY: Q steps for 5 set to 16\n");
  EXPECT_EQ(config.q_steps[1], 16);
  EXPECT_EQ(config.q_steps[4], 16);
  EXPECT_EQ(config.q_steps[0], 1);
  EXPECT_EQ(cmd_quant_value(65), -22);
  EXPECT_EQ(cmd_quant_value(0), -22);
}

TEST_F(HandlersTest, MidiBypassAndMidiStop) {
  config_dirty = 0;
  console_text();
  EXPECT_EQ(cmd_midi_bypass(1), 0);
  EXPECT_EQ(config.zt6_display, 1);
  EXPECT_EQ(config_dirty, 1);
  EXPECT_EQ(console_text(), "ZT6 display set to 1\n");
  EXPECT_EQ(cmd_midi_bypass(2), -22);
  EXPECT_EQ(config.zt6_display, 1);
  cmd_midi_stop(0);
  ASSERT_EQ(midi_out_pending(), 1);
  EXPECT_EQ(midi_out_length(), 1);
  EXPECT_EQ(midi_out_take()[0], 0xFC);
}

TEST_F(HandlersTest, UndoWithoutHistoryReportsNoUndo) {
  selection.current_track = 1;
  EXPECT_EQ(cmd_undo(0), -22);
  EXPECT_STREQ(display_state.tag_text, "NO UN");
  EXPECT_EQ(cmd_redo(0), -22);
  EXPECT_STREQ(display_state.tag_text, "NO RE");
}

TEST_F(HandlersTest, VolumeControllerScalesItsTravel) {
  config.cc_controller[7] = 1;  // "Track Volume": the selected tracks
  config.cc_min[7] = 0;
  config.cc_max[7] = 127;
  selection.current_track = 3;
  cc_track_volume(cc_code(7, 127));
  EXPECT_EQ(shown_level[2], 0);
  cc_track_volume(cc_code(7, 0));
  EXPECT_EQ(shown_level[2], -128);
  EXPECT_EQ(tracks[2].atten, 128);
  cc_track_volume(cc_code(7, 64));
  EXPECT_EQ(shown_level[2], -128 + 64 * 128 / 127);
  EXPECT_EQ(display_state.display_mode, display_mode_level);
}

TEST_F(HandlersTest, FixedTrackControllersAndTrackFollowsCc) {
  config.cc_controller[20] = 13;  // "Track 3 Feedback"
  config.cc_controller[21] = 24;  // "Track 4 Pan"
  config.cc_controller[22] = 19;  // "Speed"
  config.cc_min[20] = 10;
  config.cc_max[20] = 110;
  selection.current_track = 1;
  cc_feedback(cc_code(20, 60));
  EXPECT_EQ(shown_feedback[2], 50);
  EXPECT_EQ(shown_feedback[0], 100);
  cc_feedback(cc_code(20, 5));  // below the travel: clamped
  EXPECT_EQ(shown_feedback[2], 0);
  cc_track_pan(cc_code(21, 0));
  EXPECT_EQ(shown_pan[3], -128);
  cc_track_pan(cc_code(21, 127));
  EXPECT_EQ(shown_pan[3], 126);  // 127 × 256 / 128 - 128
  EXPECT_EQ(selection.current_track, 1);
  config.track_follows_cc = 1;
  cc_track_pan(cc_code(21, 64));
  EXPECT_EQ(selection.current_track, 4);
  cc_speed(cc_code(22, 127));
  EXPECT_EQ(tracks[3].rate, 256);
  cc_speed(cc_code(22, 0));
  EXPECT_EQ(tracks[3].rate, 128);
  EXPECT_EQ(display_state.display_mode, display_mode_speed);
}

TEST_F(HandlersTest, CatchFirstWaitsForTheStoredValue) {
  config.pedal_mode = 1;
  config.cc_controller[7] = 2;  // "Feedback": the selected tracks
  selection.current_track = 1;
  cc_feedback(cc_code(7, 30));  // first use: stored values start at cc_max (127)
  EXPECT_EQ(shown_feedback[0], 100);
  cc_feedback(cc_code(7, 125));  // within 2 of 127: caught
  EXPECT_EQ(shown_feedback[0], 125 * 100 / 127);
  cc_feedback(cc_code(7, 20));  // moved for this track now: follows freely
  EXPECT_EQ(shown_feedback[0], 20 * 100 / 127);
  selection.current_track = 2;
  cc_feedback(cc_code(7, 90));  // another track: waits for track 2's stored 127
  EXPECT_EQ(shown_feedback[1], 100);
  EXPECT_EQ(display_state.display_mode, display_mode_feedback);
  cc_feedback(cc_code(7, 126));
  EXPECT_EQ(shown_feedback[1], 126 * 100 / 127);
  selection.current_track = 1;
  cc_feedback(cc_code(7, 60));  // back on track 1: its stored value is 20
  EXPECT_EQ(shown_feedback[0], 20 * 100 / 127);
  cc_feedback(cc_code(7, 22));
  EXPECT_EQ(shown_feedback[0], 22 * 100 / 127);
}

TEST_F(HandlersTest, ControllerWithoutTravelIsIgnored) {
  config.cc_controller[9] = 2;
  config.cc_min[9] = 50;
  config.cc_max[9] = 50;
  selection.current_track = 1;
  EXPECT_EQ(cc_feedback(cc_code(9, 50)), -22);
  EXPECT_EQ(shown_feedback[0], 100);
}

}  // namespace
