#include <gtest/gtest.h>

#include "tests/fixtures/test_workdir.h"
#include "panel/handlers.h"
#include "panel/menus.h"
#include "tests/fixtures/panel_test_fixture.h"
#include "panel/selection.h"
#include "panel/value_entry.h"
#include "drums/count_in_settings.h"
#include "storage/mixer_file.h"

namespace {

using MenuTest = PanelTest;

constexpr int item_midi_channel = 3;
constexpr int item_noise_gate_level = 8;
constexpr int item_wet_dry = 10;
constexpr int item_quant_cc = 16;
constexpr int item_config_backup = 27;
constexpr int item_config_restore = 28;
constexpr int item_midi_test = 31;
constexpr int item_restart = 32;
constexpr int id_select_track_5 = 7;

TEST_F(MenuTest, EncoderStepsBeforeAPollCountAsOne) {
  draw_menu();
  panel_encoder_steps(3);
  ui_poll();
  EXPECT_EQ(cursor(), 1);
  EXPECT_EQ(line(1), padded("Edit Switched"));
  panel_encoder_steps(-2);
  ui_poll();
  EXPECT_EQ(cursor(), 0);
  turn(-1);  // no wrap-around at either end
  EXPECT_EQ(cursor(), 0);
  turn(main_menu_items + 5);
  EXPECT_EQ(cursor(), main_menu_items - 1);
  EXPECT_EQ(line(1), padded("Click"));
}

TEST_F(MenuTest, NoteOffAndUnmappedNotesDoNothing) {
  draw_menu();
  midi({0x90, 61, 100});
  midi({0x80, 61, 0});
  config.midi_lists[list_note_base + 62][0] = id_select_track_5;
  midi({0x80, 62, 0});
  midi({0x90, 62, 0});  // velocity 0 is a note off
  EXPECT_EQ(selection.current_track, 1);
  EXPECT_EQ(depth(), 0);
}

// The swap touches the third and fourth columns only, and only on panel version 1.
TEST_F(MenuTest, PanelVersionSwapLeavesOtherColumnsAlone) {
  struct Case {
    int16_t version;
    int32_t scan_code;
    int32_t track;
  };
  const Case cases[] = {{1, 0x2020, 3}, {1, 0x4010, 8}, {1, 0x2080, 1},
                        {1, 0x4040, 6}, {0, 0x2010, 3}, {0, 0x4020, 8}};
  for (const Case& c : cases) {
    selection.current_track = 0;
    config.panel_version = c.version;
    press(c.scan_code);
    EXPECT_EQ(selection.current_track, c.track) << std::hex << c.scan_code;
  }
}

TEST_F(MenuTest, KeysOfTheGlobalKeyMap) {
  struct Case {
    int32_t scan_code;
    int depth;
    const char* title;  // null: not checked
  };
  const Case cases[] = {
      {0x2040, 1, " Track 2 +000.0\xF9"},
      {0x8080, 1, "All Trks"},
      {0x8081, 1, "Drum Machine"},
      {0x0700, 0, nullptr},
  };
  for (const Case& c : cases) {
    reset_menus();
    press(c.scan_code);
    EXPECT_EQ(depth(), c.depth) << std::hex << c.scan_code;
    if (c.title != nullptr) {
      EXPECT_EQ(line(0), padded(c.title)) << std::hex << c.scan_code;
    }
  }
}

TEST_F(MenuTest, BackOnTheMainMenuReturnsToTheFirstItem) {
  turn(5);
  back();
  EXPECT_EQ(depth(), 0);
  EXPECT_EQ(cursor(), 0);
  EXPECT_EQ(line(0), "Brindlewhorl ZT4");
  EXPECT_EQ(line(1), "RevQ   \xF9   V3.07");
}

TEST_F(MenuTest, SelectingInertItemsChangesNothing) {
  for (int item : {0, item_midi_test}) {
    open_main_item(item);
    EXPECT_EQ(depth(), 0);
    EXPECT_EQ(cursor(), item);
  }
  EXPECT_EQ(config_dirty, 0);
}

TEST_F(MenuTest, SixthLevelIsRefused) {
  constexpr int save_preset_item = 13;
  for (int level = 1; level < menu_levels; ++level) {
    ASSERT_EQ(push_menu(&all_tracks_menu, save_preset_item, nullptr), 0);
  }
  EXPECT_EQ(push_menu(&all_tracks_menu, 0, nullptr), -1);
  select();  // "Save Preset" opens a submenu: there is no level for it
  EXPECT_EQ(depth(), menu_levels - 1);
  EXPECT_EQ(line(1), padded("Save Preset"));
  back();
  EXPECT_EQ(depth(), menu_levels - 2);
}

TEST_F(MenuTest, MidiChannelIsEnteredAsOneToSixteen) {
  open_main_item(item_midi_channel);
  EXPECT_EQ(line(0), padded("MIDI channel"));
  EXPECT_EQ(line(1), padded("1"));
  turn(20);
  EXPECT_EQ(line(1), padded("16"));
  EXPECT_EQ(config.midi_channel, 0);  // not live: nothing is stored before select
  EXPECT_EQ(config_dirty, 0);
  select();
  EXPECT_EQ(config.midi_channel, 15);
  EXPECT_EQ(config_dirty, 1);
  EXPECT_EQ(depth(), 0);
  EXPECT_EQ(line(1), padded("MIDI channel"));
  EXPECT_EQ(value_entry.active, nullptr);
  open_main_item(item_midi_channel);
  turn(-3);
  back();  // leaving without select keeps the stored value
  EXPECT_EQ(config.midi_channel, 15);
}

TEST_F(MenuTest, LiveEntryStoresAndAppliesEveryStep) {
  open_main_item(item_noise_gate_level);
  EXPECT_EQ(line(1), padded("12"));
  turn(3);
  EXPECT_EQ(config.noise_gate_level, 15);
  EXPECT_EQ(engine_state.gate_level, 1 << 15);
  EXPECT_EQ(config_dirty, 1);
  turn(20);
  EXPECT_EQ(config.noise_gate_level, 24);  // stops at the top of the range
  back();
  EXPECT_EQ(config.noise_gate_level, 24);
}

TEST_F(MenuTest, EntryStartsFromTheClampedValue) {
  config.noise_gate_level = 40;
  open_main_item(item_noise_gate_level);
  EXPECT_EQ(line(1), padded("24"));
  EXPECT_EQ(config.noise_gate_level, 40);
  console_text();
  get_integer(&setting_descriptors[setting_fade_time]);
  get_integer_generic("Other", 0, 0, 1, 0, &config.fade_time, 2, nullptr);
  EXPECT_EQ(console_text(),
            "get_integer while in get_integer\nget_integer_generic while in get_integer\n");
  EXPECT_EQ(line(0), padded("Noise Gate Level"));
  get_integer(reinterpret_cast<const ValueDescriptor*>(uintptr_t(255)));  // not a descriptor
  EXPECT_EQ(console_text(), "");
}

TEST_F(MenuTest, WetDryPreselectsTheStoredChoice) {
  config.wet_only = 1;
  open_main_item(item_wet_dry);
  EXPECT_EQ(line(0), padded("Wet/Dry Mix"));
  EXPECT_EQ(line(1), padded("Wet Only"));
  turn(-1);
  EXPECT_EQ(line(1), padded("Wet + Dry"));
  select();
  EXPECT_EQ(config.wet_only, 0);
  EXPECT_EQ(config_dirty, 1);
  EXPECT_EQ(depth(), 0);
  EXPECT_EQ(cursor(), item_wet_dry);
  EXPECT_EQ(line(1), padded("Wet/dry mix"));
}

TEST_F(MenuTest, EveryChoiceListStoresItsSetting) {
  struct Case {
    int item;
    const char* title;
    int16_t* field;
    int choices;
  };
  const Case cases[] = {
      {10, "Wet/Dry Mix", &config.wet_only, 2},
      {11, "Time display", &config.time_display, 2},
      {12, "Simple display", &config.simple_display, 3},
      {13, "Pedal Mode", &config.pedal_mode, 2},
      {14, "Track Follows CC", &config.track_follows_cc, 2},
      {17, "MIDI Clock Out", &config.midi_clock_out, 2},
      {18, "Mono Aux Out", &config.mono_aux_out, 2},
      {19, "Mono Input Mode", &config.mono_input_mode, 2},
      {20, "Prefer switch:", &config.switch_priority, 2},
      {21, "Loop Start Flash", &config.loop_start_flash, 3},
      {33, "Resume Playing", &mixer_store.resume_playing, 2},  // kept in the mixer file
      // Kept in the count-in settings file; Rec Length's field is the index of its bars.
      {34, "Rec Length", &count_in_store.rec_length_choice, 6},
      {35, "Count-in Bars", &count_in_store.live.count_in_bars, 3},
      {36, "Click", &count_in_store.live.click, 3},
  };
  for (const Case& c : cases) {
    for (int choice = 0; choice < c.choices; ++choice) {
      *c.field = int16_t(c.choices - 1 - choice);
      open_main_item(c.item);
      EXPECT_EQ(line(0), padded(c.title));
      EXPECT_EQ(cursor(), c.choices - 1 - choice) << c.title;
      turn(-c.choices);
      turn(choice);
      select();
      EXPECT_EQ(*c.field, choice) << c.title;
      EXPECT_EQ(depth(), 0);
      EXPECT_EQ(cursor(), c.item);
    }
  }
}

TEST_F(MenuTest, QuantCcBecomesAGeneralUseController) {
  config.cc_controller[100] = 5;
  config.midi_lists[list_switch_base + 100][0] = 12;
  config.quant_cc = 99;
  open_main_item(item_quant_cc);
  console_text();
  turn(1);
  EXPECT_EQ(config.quant_cc, 100);
  EXPECT_EQ(console_text(), "CC 100 set to general\n");
  EXPECT_EQ(config.cc_controller[100], 0);
  EXPECT_EQ(config.midi_lists[list_switch_base + 100][0], -1);
}

TEST_F(MenuTest, ConfigBackupAndRestoreReportOnTwoLines) {
  TestWorkdir workdir;
  open_main_item(item_config_restore);
  EXPECT_EQ(line(0), padded("Restore"));
  EXPECT_EQ(line(1), padded(" Failed verify"));
  back();
  open_main_item(item_config_backup);
  EXPECT_EQ(line(0), padded("Backup"));
  EXPECT_EQ(line(1), padded(" Successful"));
  back();
  config.fade_time = 77;
  open_main_item(item_config_restore);
  EXPECT_EQ(line(1), padded(" Successful"));
  EXPECT_EQ(config.fade_time, 10);
}

TEST_F(MenuTest, RestartEndsTheProcessWithStatusOne) {
  open_main_item(item_restart);
  EXPECT_EQ(exit_status(), 1);
}

TEST_F(MenuTest, PendingScreenReplacesTheTopInsteadOfPopping) {
  open_main_item(item_midi_channel);
  show_message_in_place("Replaced", "entry");
  select();  // the confirming pop puts the message where the entry was
  EXPECT_EQ(depth(), 1);
  EXPECT_EQ(line(0), padded("Replaced"));
  EXPECT_EQ(value_entry.active, nullptr);
  back();
  EXPECT_EQ(depth(), 0);
}

}  // namespace
