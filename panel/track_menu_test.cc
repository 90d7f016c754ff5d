#include <gtest/gtest.h>

#include <functional>

#include "config/presets.h"
#include "core/console.h"
#include "drums/drum_edit.h"
#include "drums/drum_machine.h"
#include "midi/clock.h"
#include "panel/audio_slots.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/handlers_drums.h"
#include "panel/menus.h"
#include "tests/fixtures/panel_test_fixture.h"
#include "panel/selection.h"
#include "panel/text_command.h"
#include "panel/value_entry.h"

namespace {

constexpr int item_save_audio = 1;
constexpr int item_load_audio = 2;
constexpr int item_level = 12;
constexpr int item_multiply = 14;
constexpr int item_set_q_steps = 26;
constexpr int item_stretch = 37;
constexpr int item_clock_info = 50;
constexpr int all_item_main_level = 7;
constexpr int all_item_beats = 9;
constexpr int all_item_save_preset = 13;
constexpr int all_item_use_preset = 14;
constexpr int all_item_clock_info = 15;

// The storage thread as "Save Audio" and "Load Audio" see it: a request, then a result that
// arrives after a number of polls.
struct FakeStorage {
  int32_t track = -1, slot = -1;
  int polls_left = 0;
  int result = 0;     // save: 0 success, 1 failed; load: 100 done or -status
  int load_busy = 0;  // request_load answers -1
  int save_busy = 0;  // request_save answers -1
};
FakeStorage fake;

int fake_request_save(int32_t t, int32_t slot) {
  if (fake.save_busy) return -1;
  fake.track = t;
  fake.slot = slot;
  return 0;
}
int fake_save_state() { return fake.polls_left-- > 0 ? -1 : fake.result; }
int fake_save_percent() { return 40; }
int fake_request_load(int32_t t, int32_t slot) {
  if (fake.load_busy) return -1;
  fake.track = t;
  fake.slot = slot;
  return 0;
}
int fake_load_result() { return fake.polls_left-- > 0 ? 55 : fake.result; }

class TrackMenuTest : public PanelTest {
 protected:
  void install_hooks() override {
    PanelTest::install_hooks();
    fake = FakeStorage{};
    panel_hooks.request_save = fake_request_save;
    panel_hooks.save_state = fake_save_state;
    panel_hooks.save_percent = fake_save_percent;
    panel_hooks.request_load = fake_request_load;
    panel_hooks.load_result = fake_load_result;
  }
  // Selects track k with its key and opens item `item` of its menu.
  static void open_track_item(int k, int item) {
    press(track_keys[k - 1]);
    turn(item);
    select();
  }
};

TEST_F(TrackMenuTest, TrackKeyOpensTheTrackMenuAtLevelOne) {
  turn(3);
  press(key_select);  // into the MIDI channel entry
  press(track_keys[1]);
  EXPECT_EQ(depth(), 1);
  EXPECT_EQ(value_entry.active, nullptr);
  EXPECT_EQ(line(0), " Track 2 +000.0\xF9");
  EXPECT_EQ(line(1), "+000 100% 1.00 F");
  turn(item_stretch);
  select();
  EXPECT_EQ(depth(), 2);
  EXPECT_EQ(line(0), padded("New length..."));
  EXPECT_EQ(line(1), padded("5% of original"));
  press(track_keys[4]);
  EXPECT_EQ(depth(), 1);
  EXPECT_EQ(selection.current_track, 5);
  select();  // the first item acts as back
  EXPECT_EQ(depth(), 0);
}

TEST_F(TrackMenuTest, NewLengthItemLeavesItsMenu) {
  open_track_item(1, item_stretch);
  turn(3);
  select();
  EXPECT_EQ(depth(), 1);
  EXPECT_TRUE(menu_on_top(&track_menu));
}

TEST_F(TrackMenuTest, TrackLevelTextCommandOpensLiveValueEntry) {
  fades.fade_direction[0] = -1;
  run_text_command("Track Level");
  EXPECT_EQ(depth(), 1);
  EXPECT_EQ(fades.fade_direction[0], 0);  // a running fade stops
  EXPECT_EQ(line(0), padded("Track 1 Level "));
  EXPECT_EQ(line(1), padded("0"));
  turn(-3);
  EXPECT_EQ(line(1), padded("-3"));
  EXPECT_EQ(shown_level[0], -3);
  EXPECT_EQ(tracks[0].atten, 3);
  turn(5);  // stops at 0
  EXPECT_EQ(shown_level[0], 0);
  select();
  EXPECT_EQ(depth(), 0);
  EXPECT_EQ(display_state.display_mode, display_mode_level);
}

TEST_F(TrackMenuTest, EveryValueEntryOfTheTrackMenu) {
  struct Case {
    int item;
    const char* title;
    const char* start;
    int steps;
    const char* end;
    std::function<bool()> applied;
  };
  const Case cases[] = {
      {item_level, "Track 2 Level ", "0", -200, "-96",
       [] { return shown_level[1] == -96 && tracks[1].atten == 96; }},
      {13, "Track 2 Feedback", "100", -30, "70",
       [] { return shown_feedback[1] == 70 && tracks[1].fade_target == 70 * 512 / 100; }},
      {42, "Track 2 Pan ", "0", -300, "-128",
       [] { return shown_pan[1] == -128 && tracks[1].pan == -128; }},
      {item_set_q_steps, "Quant Steps ", "1", 200, "128", [] { return config.q_steps[1] == 128; }},
  };
  for (const Case& c : cases) {
    restart();
    open_track_item(2, c.item);
    EXPECT_EQ(depth(), 2) << c.title;
    EXPECT_EQ(line(0), padded(c.title));
    EXPECT_EQ(line(1), padded(c.start)) << c.title;
    turn(c.steps);
    EXPECT_EQ(line(1), padded(c.end)) << c.title;
    EXPECT_TRUE(c.applied()) << c.title;
    back();
    EXPECT_TRUE(c.applied()) << c.title;  // live: leaving keeps it
    EXPECT_TRUE(menu_on_top(&track_menu)) << c.title;
  }
}

TEST_F(TrackMenuTest, MultiplyAsksForTheFactorAndAppliesItOnConfirmation) {
  make_loop(0, 1000);
  open_track_item(1, item_multiply);
  EXPECT_EQ(line(0), padded("Track 1 Multiply"));
  EXPECT_EQ(line(1), padded("2"));
  turn(1);
  EXPECT_EQ(tracks[0].length, 1000);
  select();
  EXPECT_EQ(tracks[0].length, 3000);
  EXPECT_TRUE(menu_on_top(&track_menu));
}

TEST_F(TrackMenuTest, SaveAudioConfirmsAndReportsTheResult) {
  struct Case {
    const char* name;
    int answer_steps;  // 0 "No", 1 "Yes"
    int slot_steps;
    int polls;
    int result;
    int busy;
    const char* outcome;
  };
  const Case cases[] = {
      {"completed", 1, 4, 2, 0, 0, "completed"},
      {"failed by storage", 1, 0, 0, 1, 0, "failed"},
      {"no", 0, 0, 0, 0, 0, "failed"},
      {"time-out", 1, 0, 1000, 0, 0, "failed"},
      {"an earlier save still runs", 1, 0, 0, 0, 1, "refused: busy"},
  };
  for (const Case& c : cases) {
    restart();
    fake = FakeStorage{};
    fake.save_busy = c.busy;
    fake.polls_left = c.polls;
    fake.result = c.result;
    open_track_item(3, item_save_audio);
    EXPECT_EQ(line(0), padded("Save Tr3 to slot: ")) << c.name;
    EXPECT_EQ(line(1), padded("1")) << c.name;
    turn(c.slot_steps);
    select();
    EXPECT_EQ(depth(), 2) << c.name;
    EXPECT_EQ(line(0), padded("Save to slot " + std::to_string(1 + c.slot_steps) + "?"));
    EXPECT_EQ(line(1), padded("No"));
    turn(c.answer_steps);
    select();
    if (c.answer_steps == 1 && !c.busy) {
      EXPECT_EQ(fake.track, 2) << c.name;
      EXPECT_EQ(fake.slot, 1 + c.slot_steps) << c.name;
      EXPECT_EQ(line(1), padded("Saved 0%")) << c.name;
      turn(1);  // the progress screen keeps the encoder and select to itself
      select();
      EXPECT_EQ(depth(), 2) << c.name;
    }
    for (int second = 0; second < audio_slot_seconds + 5; ++second) {
      audio_slots_tick();
      if (second == 0 && c.polls > 1) {
        EXPECT_EQ(line(1), padded("Saved 40%")) << c.name;
      }
    }
    EXPECT_EQ(line(0), padded("Track save")) << c.name;
    EXPECT_EQ(line(1), padded(c.outcome)) << c.name;
    EXPECT_EQ(depth(), 2) << c.name;  // the message stands where the confirmation was
    back();
    EXPECT_TRUE(menu_on_top(&track_menu)) << c.name;
    EXPECT_EQ(audio_slots.operation, SlotOperation::none);
  }
}

// "Save to slot 100?" is one character longer than the display line: it stays in its own
// buffer (the display shows the first 16 characters) and leaves the progress line alone.
TEST_F(TrackMenuTest, TheConfirmationOfSlot100FitsItsBuffer) {
  open_track_item(3, item_save_audio);
  format_to(audio_slots.progress, "untouched");
  turn(int(audio_slot_max) - 1);
  select();
  EXPECT_STREQ(audio_slots.title, "Save to slot 100?");
  EXPECT_STREQ(audio_slots.progress, "untouched");
  EXPECT_EQ(line(0), "Save to slot 100");
}

TEST_F(TrackMenuTest, LoadAudioShowsProgressAndTheResult) {
  struct Case {
    const char* name;
    int busy;
    int polls;
    int result;
    const char* outcome;
  };
  const Case cases[] = {
      {"completed", 0, 2, 100, "completed"},
      {"missing file", 0, 0, -1, "failed"},
      {"busy", 1, 0, 100, "failed"},
      {"time-out", 0, 1000, 100, "failed"},
  };
  for (const Case& c : cases) {
    restart();
    fake = FakeStorage{};
    fake.load_busy = c.busy;
    fake.polls_left = c.polls;
    fake.result = c.result;
    make_loop(3, 1000);
    open_track_item(4, item_load_audio);
    EXPECT_EQ(line(0), padded("Load Tr4 from:")) << c.name;
    turn(6);
    select();
    EXPECT_EQ(tracks[3].length, 1000) << c.name;  // the loop stays until the slot has loaded
    if (!c.busy) {
      EXPECT_EQ(fake.track, 3) << c.name;
      EXPECT_EQ(fake.slot, 7) << c.name;
      EXPECT_EQ(line(1), padded("Loaded 0%")) << c.name;
    }
    for (int second = 0; second < audio_slot_seconds + 5; ++second) {
      audio_slots_tick();
      if (second == 0 && c.polls > 1) {
        EXPECT_EQ(line(1), padded("Loaded 55%")) << c.name;
      }
    }
    EXPECT_EQ(line(0), padded("Track load")) << c.name;
    EXPECT_EQ(line(1), padded(c.outcome)) << c.name;
    back();
    EXPECT_TRUE(menu_on_top(&track_menu)) << c.name;
  }
}

TEST_F(TrackMenuTest, SaveAndLoadNeedASingleTrack) {
  config.groups[0] = 0x03;
  cmd_select_group(1);
  EXPECT_EQ(cmd_save_audio(value_not_given), -22);
  EXPECT_EQ(cmd_load_audio(value_not_given), -22);
  EXPECT_TRUE(menu_on_top(&track_menu));
  panel_hooks.request_save = nullptr;  // without storage a save fails at once
  cmd_select_track(2);
  cmd_save_audio(value_not_given);
  select();
  turn(1);
  select();
  EXPECT_EQ(line(1), padded("failed"));
}

TEST_F(TrackMenuTest, AllTracksLevelsAndBeats) {
  press(key_all_tracks);
  turn(all_item_main_level);
  select();
  EXPECT_EQ(line(0), padded("All Gain "));
  EXPECT_EQ(line(1), padded("-2"));
  turn(3);
  EXPECT_EQ(config.all_main_level, 1);
  EXPECT_EQ(engine_state.main_shift_left, 1);
  back();
  turn(all_item_beats - all_item_main_level);
  select();
  EXPECT_EQ(line(0), padded("Beats / Measure "));
  turn(2);
  EXPECT_EQ(config.beats_per_measure, 4);
  select();
  EXPECT_EQ(config.beats_per_measure, 6);
}

TEST_F(TrackMenuTest, PresetSubmenusLeaveThemselves) {
  shown_level[4] = -33;
  press(key_all_tracks);
  turn(all_item_save_preset);
  select();
  EXPECT_EQ(line(0), padded("Save Preset"));
  turn(3);
  select();
  EXPECT_EQ(config.presets[3].levels[4], -33);
  EXPECT_TRUE(menu_on_top(&all_tracks_menu));
  EXPECT_STREQ(display_state.tag_text, "SAVE");
  shown_level[4] = 0;
  turn(all_item_use_preset - all_item_save_preset);
  select();
  turn(3);
  select();
  EXPECT_EQ(shown_level[4], -33);
  EXPECT_EQ(tracks[4].atten, 33);
  EXPECT_TRUE(menu_on_top(&all_tracks_menu));
  EXPECT_STREQ(display_state.tag_text, "PR03");
}

TEST_F(TrackMenuTest, MidiClockInfoFromBothMenus) {
  clock_follower.clock_period = 1000.7;
  clock_follower.lock_lost_count = 3;
  clock_follower.flywheel_drift = -2.5;
  clock_follower.min_diff = 5;
  clock_follower.max_diff = 9;
  tracks[1].midi_error = 16 * 7;
  open_track_item(2, item_clock_info);
  EXPECT_EQ(line(0), padded("MIDI BPM 119"));
  EXPECT_EQ(line(1), padded("1000 7"));
  EXPECT_EQ(clock_follower.min_diff, 1000000);
  EXPECT_EQ(clock_follower.max_diff, 0);
  back();
  press(key_all_tracks);
  clock_follower.clock_period = 100;
  turn(all_item_clock_info);
  select();
  EXPECT_EQ(line(0), padded("MIDI BPM error"));
  EXPECT_EQ(line(1), padded("100 3 -2 1000000 "));
}

TEST_F(TrackMenuTest, TemporaryGroupScreen) {
  press(track_keys[1] | key_second_action);
  EXPECT_EQ(line(0), padded("Temporary Group"));
  EXPECT_EQ(line(1), padded("  2"));
  EXPECT_EQ(selected_mask(), 0x02);
  press(track_keys[4]);
  EXPECT_EQ(line(1), padded("  2     5"));
  select();
  EXPECT_EQ(depth(), 1);
  EXPECT_TRUE(menu_on_top(&track_menu));
  EXPECT_EQ(line(0), padded("Tracks  2  5"));
  EXPECT_EQ(selected_mask(), 0x12);
  press(track_keys[2]);  // a plain selection ends the group
  EXPECT_EQ(selected_mask(), 0x04);
}

TEST_F(TrackMenuTest, DrumMachineKeyOpensItsMenu) {
  press(track_keys[0]);
  turn(3);
  press(key_drum_menu);
  EXPECT_EQ(depth(), 1);
  EXPECT_EQ(line(0), padded("Drum Machine"));
  EXPECT_EQ(line(1), padded("Start"));
}

// The drum menu's entries reach the drum machine: a live tempo entry, the pattern editor whose
// track keys flip the shown step's drums, and a choice list that stores and leaves.
TEST_F(TrackMenuTest, DrumMachineMenuSetsTempoEditsStepsAndChoosesTheClock) {
  press(key_drum_menu);
  turn(2);
  EXPECT_EQ(line(1), padded("Set BPM"));
  select();
  EXPECT_EQ(line(0), padded("Drum BPM"));
  EXPECT_EQ(line(1), padded("120"));
  turn(5);
  EXPECT_EQ(drum_current_pattern()->bpm, 125);  // live: every step is heard at once
  select();
  EXPECT_EQ(line(0), padded("Drum Machine"));

  turn(2);
  EXPECT_EQ(line(1), padded("Edit Pattern"));
  select();
  EXPECT_EQ(depth(), 2);
  EXPECT_EQ(line(0), padded(drum_editor.line1));
  turn(1);
  EXPECT_EQ(drum_editor.step, 2);
  press(track_keys[2]);  // the third track key flips drum 3 of step 2
  EXPECT_EQ(drum_current_pattern()->steps[1] & 0x04, 0x04);
  EXPECT_EQ(line(1), padded("      3"));  // drum 3 set on the step shown
  select();                               // leaves the editor
  EXPECT_EQ(depth(), 1);

  turn(2);
  EXPECT_EQ(line(1), padded("Clock Out"));
  select();
  turn(2);
  EXPECT_EQ(line(1), padded("Off"));
  select();
  EXPECT_EQ(config.drums_clock_out, 2);
  EXPECT_EQ(line(0), padded("Drum Machine"));
}

}  // namespace
