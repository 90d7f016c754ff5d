#include "panel/handlers_editing.h"

#include <string>
#include <vector>

#include "engine/editing.h"
#include "tests/fixtures/looper_test_fixture.h"
#include "net/status_report.h"
#include "panel/display_state.h"
#include "panel/function_table.h"
#include "panel/handlers.h"
#include "panel/selection.h"
#include "panel/text_command.h"

namespace {

class EditingHandlersTest : public LooperTest {
 protected:
  void SetUp() override {
    LooperTest::SetUp();
    selection_reset();
    display_state_reset();
  }
  void TearDown() override {
    editing_panel_hooks = {};
    LooperTest::TearDown();
  }
  static bool playing(int32_t t) { return on_list(engine_state.play_list, t); }
};

TEST_F(EditingHandlersTest, ReverseActsOnEveryTrackOfTheInvertedGroup) {
  for (int t = 0; t < track_count; t++) make_loop(t, 1000);
  config.groups[1] = 0x05;  // group 2: tracks 1 and 3
  cmd_select_group(2);
  cmd_except_track(0);
  cmd_reverse(0);
  for (int t = 0; t < track_count; t++) EXPECT_EQ(tracks[t].rate < 0, t != 0 && t != 2) << t;
  EXPECT_STREQ(display_state.tag_text, "REV");
  EXPECT_EQ(display_state.display_mode, display_mode_tag);
}

TEST_F(EditingHandlersTest, IntervalsSetTheSpeedOfTheSelectedTrack) {
  make_loop(2, 1000);
  selection.current_track = 3;
  struct Case {
    int32_t interval, rate;
  };
  for (const Case c : {Case{4, 160}, Case{12, 256}, Case{0, 128}, Case{13, 128}, Case{-1, 128}}) {
    cmd_pitch(c.interval);  // "Major 3rd" is speed 16: (16 + 64) x 2
    EXPECT_EQ(tracks[2].rate, c.rate) << c.interval;
  }
  cmd_half_speed(0);
  EXPECT_EQ(tracks[2].rate, 64);
  cmd_pitch(0);  // "Octave lower" on a half-speed track
  EXPECT_EQ(tracks[2].rate, 64);
  EXPECT_STREQ(display_state.tag_text, "SPEED");
}

TEST_F(EditingHandlersTest, CopyGoesToTheHighestEmptyTrackOrDoesNothing) {
  make_loop(1, 3000);
  make_loop(7, 3000);
  selection.current_track = 2;
  selection.except_flag = 0;
  ASSERT_EQ(cmd_copy(0), 0);
  EXPECT_EQ(tracks[6].length, 3000);
  EXPECT_EQ(selection.current_track, 7);
  EXPECT_STREQ(display_state.tag_text, "COPY");
  for (int t = 0; t < track_count; t++)
    if (tracks[t].length == 0) make_loop(t, 100);
  display_state_reset();
  EXPECT_EQ(cmd_copy(0), -22);  // every track holds audio
  EXPECT_EQ(selection.current_track, 7);
  EXPECT_STREQ(display_state.tag_text, "");
}

TEST_F(EditingHandlersTest, StretchBuildsTheNewTrackShowsProgressAndReportsBusy) {
  make_loop(0, 20000);
  static std::vector<std::string> lines;
  static std::vector<int> states;
  static int finished;
  lines.clear();
  states.clear();
  finished = 0;
  editing_panel_hooks.show_progress = [](const char* text) {
    lines.emplace_back(text);
    RemoteStatus status{};
    remote_status_read(status);
    states.push_back(compact_state_code(status, 7));
  };
  editing_panel_hooks.stretch_finished = [] { finished++; };
  selection.current_track = 1;
  console_text();
  ASSERT_EQ(run_text_command("Stretch to 200%% 150"), 0);
  EXPECT_EQ(tracks[7].length, 30000);
  EXPECT_TRUE(playing(7));
  EXPECT_EQ(selection.current_track, 8);
  EXPECT_STREQ(display_state.tag_text, "<-->");
  EXPECT_EQ(finished, 1);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Stretching 0%");
  EXPECT_EQ(lines.back(), "Stretching 100%");
  for (int code : states) EXPECT_EQ(code, 6);  // busy while it is built
  RemoteStatus status{};
  remote_status_read(status);
  EXPECT_STREQ(state_word_text(status, 7), "playing");
  EXPECT_EQ(console_text().rfind("Stretch done in ", 0), 0u);
  // Percentages outside 1..200 are ignored without a report or a finished menu.
  display_state_reset();
  EXPECT_EQ(cmd_stretch(201), -22);
  EXPECT_EQ(cmd_stretch(0), -22);
  EXPECT_EQ(finished, 1);
  EXPECT_STREQ(display_state.tag_text, "");
}

TEST_F(EditingHandlersTest, PitchUpFailureIsReportedOnTheConsoleOnly) {
  selection.current_track = 4;  // empty
  console_text();
  EXPECT_EQ(cmd_pitch_octave_up(0), -22);
  EXPECT_EQ(console_text(), "Source track is empty or recording.\nPitch up failed\n");
  EXPECT_STREQ(display_state.tag_text, "");
  make_loop(3, 5000);
  ASSERT_EQ(cmd_pitch_octave_up(0), 0);
  EXPECT_EQ(tracks[7].length, 5000);
  EXPECT_EQ(selection.current_track, 8);
}

TEST_F(EditingHandlersTest, TestToneOnTheCurrentTrackAndOnAux1) {
  selection.current_track = 0;
  ASSERT_EQ(cmd_test_tone(0), 0);
  EXPECT_EQ(selection.current_track, 1);
  EXPECT_EQ(tracks[0].length, 2200);
  EXPECT_EQ(engine_state.track_output[0], 0);
  selection.current_track = 5;
  ASSERT_EQ(cmd_test_tone(1), 0);
  EXPECT_EQ(tracks[4].length, 2200);
  EXPECT_EQ(engine_state.track_output[4], 1);
  EXPECT_EQ(selection.aux1_mask, 0x10);
  EXPECT_EQ(cmd_test_tone(1), -22);  // playing now
}

TEST_F(EditingHandlersTest, ScrambleAndOstinatoActOnTheSelectedTracks) {
  make_loop(0, 64000);
  make_loop(1, 64000);
  config.q_steps[1] = 8;
  cmd_select_track(0);
  cmd_ostinato(0);                        // each track's quantise steps
  EXPECT_EQ(tracks[0].segment_count, 1);  // 1 step is no segmentation
  EXPECT_EQ(tracks[1].segment_count, 8);
  EXPECT_STREQ(display_state.tag_text, "SCRAM");
  selection.current_track = 1;
  cmd_scramble(16);
  EXPECT_EQ(undo_level_count(0), 1);
  EXPECT_EQ(undo_level_count(1), 1);  // the ostinato's level only
}

TEST_F(EditingHandlersTest, EditingRowsKeepTheirIdsAndArguments) {
  struct Row {
    const char* name;
    int32_t id, argument;
  };
  for (const Row r : {Row{"Reverse Track", 28, 0}, Row{"Half Speed Tr", 29, 0},
                      Row{"Fast Scramble", 52, 64}, Row{"Slow Scramble", 54, 16},
                      Row{"Copy", 80, 0}, Row{"Octave lower", 83, 0}, Row{"Original note", 95, 12},
                      Row{"Shrink to 50%%", 102, 50}, Row{"Stretch to 200%%", 103, 200},
                      Row{"Pitch Octave Up", 125, 0}, Row{"32nd Ostinato", 133, 32}}) {
    const TextCommand c = resolve_text_command(r.name);
    ASSERT_GE(c.row, 0) << r.name;
    EXPECT_STREQ(function_table[c.row].name, r.name);
    EXPECT_EQ(function_table[c.row].first_id, r.id) << r.name;
    EXPECT_EQ(c.argument, r.argument) << r.name;
  }
}

}  // namespace
