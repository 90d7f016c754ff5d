#include <gtest/gtest.h>

#include <functional>

#include "engine/count_in.h"
#include "midi/clock.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/menus.h"
#include "tests/fixtures/panel_test_fixture.h"
#include "panel/selection.h"
#include "panel/status_line.h"

namespace {

using DisplayTest = PanelTest;

const std::string block = "\xFE";
const std::string marker = "\xF9";

TEST_F(DisplayTest, RecordsStartWithTheirHeaderAndZeroCharacters) {
  const uint8_t want[2][line_record_bytes] = {{0x00, 0x1F, 0x24, 0x00, 0x00, 0x00, 0x00},
                                              {0x00, 0x1F, 0x24, 0x00, 0x00, 0x01, 0x00}};
  for (int line = 0; line < 2; ++line) {
    EXPECT_EQ(memcmp(display.line_records[line], want[line], line_record_bytes), 0) << line;
  }
  write_text(1, "Play");
  EXPECT_EQ(memcmp(display.line_records[1], want[1], line_text_offset), 0);
  EXPECT_EQ(memcmp(display.line_records[1] + line_record_sent, want[1] + line_record_sent,
                   line_record_bytes - line_record_sent),
            0);
}

TEST_F(DisplayTest, WriteLinePadsCutsAndFlagsChanges) {
  struct Case {
    int line;
    const char* text;
    int length;
    const char* shown;
    bool changed;
  };
  const Case cases[] = {
      {1, "Play", 4, "Play            ", true},
      {1, "Play", 4, "Play            ", false},  // the same text again changes nothing
      {0, "A twenty character", 19, "A twenty charact", true},
      {0, "A twenty charact", 16, "A twenty charact", false},
      {1, "Play/Stop", 4, "Play            ", false},  // only `length` characters count
      {1, "", 0, "                ", true},
  };
  for (const Case& c : cases) {
    display.line_changed[0] = display.line_changed[1] = 0;
    write_line(c.line, c.text, c.length);
    EXPECT_EQ(line(c.line), c.shown) << c.text;
    EXPECT_EQ(display.line_changed[c.line], c.changed ? 1 : 0) << c.text;
    EXPECT_EQ(display.line_changed[1 - c.line], 0) << c.text;
  }
  const std::string before = line(0) + line(1);
  write_text(2, "elsewhere");
  write_text(-1, "elsewhere");
  EXPECT_EQ(line(0) + line(1), before);
}

TEST_F(DisplayTest, PollClearsTheChangedFlags) {
  write_text(0, "Busy...");
  ASSERT_EQ(display.line_changed[0], 1);
  ui_poll();
  EXPECT_EQ(display.line_changed[0], 0);
}

TEST_F(DisplayTest, MeterBlocksFollowThePeakHolds) {
  struct Case {
    int32_t hold;
    int blocks;
  };
  const Case cases[] = {{0, 0},        {2048, 0},     {2049, 1},     {5000, 2},
                        {4194304, 11}, {4194305, 12}, {16777216, 12}};
  for (const Case& c : cases) {
    draw_menu();  // a redraw starts the idle seconds again
    for (int s = 0; s <= meter_idle_seconds; ++s) meter_tick();
    display.input_peak_hold = c.hold;
    display.output_peak_hold = 3000;
    meter_tick();
    std::string want = "In  ";
    for (int k = 0; k < 12; ++k) want += k < c.blocks ? block : " ";
    EXPECT_EQ(line(0), want) << c.hold;
    EXPECT_EQ(line(1), "Out " + block + std::string(11, ' ')) << c.hold;
    EXPECT_EQ(display.input_peak_hold, 0);
  }
}

TEST_F(DisplayTest, MetersAppearOnlyOnAnUntouchedStatusScreen) {
  draw_menu();
  display.input_peak_hold = 5000;
  for (int s = 0; s <= meter_idle_seconds; ++s) {
    meter_tick();
    EXPECT_EQ(line(0), "Brindlewhorl ZT4") << s;
  }
  meter_tick();
  EXPECT_EQ(line(0), "In  " + block + block + std::string(10, ' '));
  draw_title();  // a status line drawn by a handler does not cover the meters
  EXPECT_EQ(line(0).substr(0, 2), "In");
  turn(1);  // any redraw of the menu ends them
  EXPECT_EQ(line(0), "Brindlewhorl ZT4");
  for (int s = 0; s < 20; ++s) meter_tick();  // not on the status screen: no meters
  EXPECT_EQ(line(0), "Brindlewhorl ZT4");
  EXPECT_EQ(display.idle_counter, 0);
}

TEST_F(DisplayTest, PeakHoldsRiseFromTheEngineEveryTenMilliseconds) {
  engine_state.input_peak_shown = 700;
  engine_state.output_peak_shown = 900;
  display_ten_ms_service();
  engine_state.input_peak_shown = 300;
  display_ten_ms_service();
  EXPECT_EQ(display.input_peak_hold, 700);
  EXPECT_EQ(display.output_peak_hold, 900);
}

// The status line and the lower status text for selections and display modes.
TEST_F(DisplayTest, StatusLineForEverySelectionAndMode) {
  struct Case {
    const char* name;
    std::function<void()> setup;
    std::string status;
    std::string lower;  // empty: not checked
  };
  const Case cases[] = {
      {"forward time", [] { tracks[2].position = 120000; }, " Track 3 +002.5 ", "+000 100% 1.00 F"},
      {"reverse time",
       [] {
         config.time_display = 1;
         tracks[2].position = 120000;
       },
       " Track 3 -007.5 ", ""},
      {"saved marker",
       [] {
         tracks[2].audio_saved = 1;
         tracks[2].position = 48000 * 3 + 4800 * 7;
       },
       " Track 3 +003.7" + marker, ""},
      {"half speed", [] { tracks[2].rate = 128; }, " Track 3 +000.0 ", "+000 100% 0.50 F"},
      {"reversed", [] { tracks[2].rate = -256; }, "", "+000 100% 1.00 R"},
      {"clock source", [] { selection.clock_source_shown = 3; }, "*Track 3 +000.0 ", ""},
      {"level",
       [] {
         shown_level[2] = -12;
         display_state.display_mode = display_mode_level;
       },
       " Track 3 Lvl-12", "-012 100% 1.00 F"},
      {"feedback",
       [] {
         shown_feedback[2] = 45;
         display_state.display_mode = display_mode_feedback;
       },
       " Track 3 Fbk+45", "+000 045% 1.00 F"},
      {"pan",
       [] {
         shown_pan[2] = -30;
         display_state.display_mode = display_mode_pan;
       },
       " Track 3 Pan-30", ""},
      {"tag",
       [] {
         display_state.display_mode = display_mode_tag;
         set_tag("UNDO");
       },
       " Track 3 : UNDO", ""},
      {"speed",
       [] {
         tracks[2].rate = 128;
         display_state.display_mode = display_mode_speed;
       },
       " Track 3 Sp 0.50", ""},
      {"tempo without clock", [] { display_state.display_mode = display_mode_tempo; },
       " Track 3 BPM0", ""},
      {"tempo",
       [] {
         clock_follower.clock_period = 1000;
         display_state.display_mode = display_mode_tempo;
       },
       " Track 3 BPM120", ""},
      {"other mode", [] { display_state.display_mode = 3; }, " Track 3", ""},
      {"count-in",
       [] {
         count_in.phase = count_in_counting;
         count_in.beats_left = 3;
       },
       " Track 3 Count 3", ""},
      {"except", [] { selection.except_flag = 1; }, "Except 3 +000.0 ", ""},
      {"all tracks",
       [] {
         selection.current_track = 0;
         shown_level[0] = -7;
         display_state.display_mode = display_mode_level;
       },
       "All Trks Lvl-7", "-007 100% 1.00 F"},
      {"all tracks loop time", [] { selection.current_track = 0; }, "All Trks", ""},
      {"group shows its lowest member",
       [] {
         config.groups[1] = 0x0C;  // tracks 3 and 4
         selection.current_track = -2;
         shown_level[2] = -4;
         display_state.display_mode = display_mode_level;
       },
       " Group 2 Lvl-4", ""},
      {"group of track 8 alone",
       [] {
         config.groups[9] = 0x80;
         selection.current_track = -10;
         shown_level[7] = -9;
         display_state.display_mode = display_mode_level;
       },
       " Group 10 Lvl-9", ""},
      {"temporary group",
       [] {
         selection.temp_group = 0x05;
         display_state.display_mode = display_mode_level;
       },
       "Tracks 1 3      ", ""},
      {"expert, empty",
       [] {
         config.simple_display = 2;
         erase_track(2);
       },
       "Tr3      +000.0" + marker, ""},
      {"expert, switched",
       [] {
         config.simple_display = 2;
         config.switched[2] = 1;
         display_state.display_mode = display_mode_tag;
         set_tag("CUE");
       },
       "Tr3 s A  : CUE", ""},
      {"expert, playing",
       [] {
         config.simple_display = 2;
         selection.random_restart_mask = 0x04;
         selection.clock_source_shown = 3;
         display_state.display_mode = display_mode_tag;
         set_tag("RRST");
       },
       "Tr3 rCA  : RRST", ""},
      {"expert, synchronised",
       [] {
         config.simple_display = 2;
         tracks[2].multiple = 2;
         display_state.display_mode = display_mode_tag;
         set_tag("X");
       },
       "Tr3   S  : X", ""},
      {"expert, tempo",
       [] {
         config.simple_display = 2;
         tracks[2].clock_period = 1000;
         display_state.display_mode = display_mode_tag;
         set_tag("X");
       },
       "Tr3 B120 : X", ""},
      {"expert, tempo too high",
       [] {
         config.simple_display = 2;
         tracks[2].clock_period = 100;
         display_state.display_mode = display_mode_tag;
         set_tag("X");
       },
       "Tr3 B--- : X", ""},
  };
  for (const Case& c : cases) {
    restart();
    make_loop(2, 480000);  // track 3: a 10-second loop, muted at 0
    selection.current_track = 3;
    display_state.display_mode = display_mode_loop_time;
    c.setup();
    const std::string status = compose_status();
    if (!c.status.empty()) {
      EXPECT_EQ(padded(status), padded(c.status)) << c.name;
    }
    if (!c.lower.empty()) {
      EXPECT_EQ(std::string(status_line.lower_status), c.lower) << c.name;
    }
  }
}

TEST_F(DisplayTest, LoopTimeReturnsTwentyFiveRefreshPeriodsAfterAReport) {
  cmd_select_track(3);
  cmd_track_level(-12);
  ASSERT_EQ(line(0), padded(" Track 3 Lvl-12"));
  for (int run = 1; run < refresh_runs * report_countdown; ++run) display_ten_ms_service();
  EXPECT_EQ(line(0), padded(" Track 3 Lvl-12"));
  display_ten_ms_service();
  EXPECT_EQ(line(0), " Track 3 +000.0" + marker);
  EXPECT_EQ(display_state.display_mode, display_mode_loop_time);
}

TEST_F(DisplayTest, LoopTimeIsRedrawnEveryRefreshPeriod) {
  make_loop(0, 480000, true);
  cmd_select_track(1);
  tracks[0].position = 96000;
  for (int run = 0; run < refresh_runs; ++run) display_ten_ms_service();
  EXPECT_EQ(line(0), padded(" Track 1 +002.0"));
  selection.current_track = -1;  // no single track: nothing is refreshed
  config.groups[0] = 1;
  tracks[0].position = 144000;
  for (int run = 0; run < refresh_runs; ++run) display_ten_ms_service();
  EXPECT_EQ(line(0), padded(" Track 1 +002.0"));
}

TEST_F(DisplayTest, MessagesAreCutAndLeftWithSelectOrBack) {
  show_message("Restore", " Failed verify and more");
  EXPECT_EQ(line(0), padded("Restore"));
  EXPECT_EQ(line(1), " Failed verify a");
  EXPECT_EQ(depth(), 1);
  select();
  EXPECT_EQ(depth(), 0);
  show_message("Backup", " Successful");
  back();
  EXPECT_EQ(depth(), 0);
  EXPECT_EQ(line(0), "Brindlewhorl ZT4");
}

}  // namespace
