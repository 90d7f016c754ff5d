#include "panel/midi_mapping.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "config/config.h"
#include "host/looper.h"
#include "midi/midi_map.h"
#include "midi/midi_parser.h"
#include "midi/midi_codes.h"
#include "midi/midi_queue.h"
#include "panel/display_state.h"
#include "panel/input.h"
#include "panel/pedal.h"
#include "panel/selection.h"

namespace {

constexpr int16_t id_select_track_1 = 3;  // ids 3..10 select tracks 1..8
constexpr int16_t id_next_track = 22;

class MidiMappingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }
  static void feed(std::initializer_list<int> bytes) {
    for (int b : bytes) midi_in_put(uint8_t(b));
  }
  static void map_list(int list, std::initializer_list<int16_t> ids) {
    int i = 0;
    for (int16_t id : ids) config.midi_lists[list][i++] = id;
  }
  // Polls until the input is drained; returns how many polls produced work.
  static int poll_all() {
    int polls = 0;
    while (midi_input_waiting()) {
      ui_poll();
      ++polls;
    }
    return polls;
  }
};

TEST_F(MidiMappingTest, NoteRunsItsListAndNoteOffRunsNothing) {
  map_list(list_note_base + 60, {id_select_track_1 + 4});
  feed({0x90, 60, 0});  // velocity 0: a note off
  poll_all();
  EXPECT_EQ(selection.current_track, 1);
  feed({0x80, 60, 64});
  poll_all();
  EXPECT_EQ(selection.current_track, 1);
  feed({0x90, 61, 100});  // unmapped note
  poll_all();
  EXPECT_EQ(selection.current_track, 1);
  feed({0x90, 60, 100});
  poll_all();
  EXPECT_EQ(selection.current_track, 5);
}

TEST_F(MidiMappingTest, ProgramChangeRunsWholeListUpToFirstNegativeId) {
  map_list(list_program_base + 7, {id_next_track, id_next_track, -1, id_next_track});
  feed({0xC0, 7});
  poll_all();
  EXPECT_EQ(selection.current_track, 3);
}

TEST_F(MidiMappingTest, OtherChannelIsIgnored) {
  map_list(list_note_base + 60, {id_select_track_1 + 4});
  config.midi_channel = 2;
  feed({0x90, 60, 100});
  poll_all();
  EXPECT_EQ(selection.current_track, 1);
  EXPECT_EQ(midi_out_pending(), 0);  // no host report either
  feed({0x92, 60, 100});
  poll_all();
  EXPECT_EQ(selection.current_track, 5);
}

TEST_F(MidiMappingTest, SwitchControllerRunsOnRisingValues) {
  map_list(list_switch_base + 20, {id_next_track});
  config.cc_dejitter = 0;
  // Values 0 127 100 0 64 100: the list runs at 127, at 64 and at the final 100.
  for (int v : {0, 127, 100, 0, 64, 100}) feed({0xB0, 20, v});
  poll_all();
  EXPECT_EQ(selection.current_track, 4);
}

TEST_F(MidiMappingTest, TwoMessagesInOnePeriodActOnTwoPolls) {
  map_list(list_note_base + 60, {id_next_track});
  feed({0x90, 60, 100, 60, 100});  // the second under running status
  ui_poll();
  EXPECT_EQ(selection.current_track, 2);
  ui_poll();
  EXPECT_EQ(selection.current_track, 3);
}

TEST_F(MidiMappingTest, QuantControllerSetsEveryTracksSteps) {
  config.quant_cc = 126;
  config.cc_controller[126] = 0;  // general use
  feed({0xB0, 126, 12});
  poll_all();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(config.q_steps[t], 12);
  feed({0xB0, 126, 0});  // zero is not a step count
  poll_all();
  EXPECT_EQ(config.q_steps[0], 12);
}

TEST_F(MidiMappingTest, Controller119NamesTheDestinationForTheNextCodeOnly) {
  config.cc_controller[bounce_destination_cc] = 0;
  feed({0xB0, 119, 6});
  ui_poll();
  EXPECT_EQ(bounce_destination_track(), 6);
  feed({0x90, 70, 100});  // any code: the destination applies to it, then is forgotten
  ui_poll();
  EXPECT_EQ(bounce_destination_track(), 0);
  feed({0xB0, 119, 9});  // not a track
  ui_poll();
  EXPECT_EQ(bounce_destination_track(), 0);
}

// "Catch first" with track 1's stored value 64 and the pedal last moved for track 2: a sweep
// that arrives in one burst is merged into its newest value, and catches when the values it
// crossed reach 62..66, even where they stepped over that window.
TEST_F(MidiMappingTest, CatchFirstSeesTheValuesAMergedSweepCrossed) {
  struct Case {
    std::initializer_list<int> values;
    bool caught;
  };
  const Case cases[] = {
      {{40, 55, 70, 80}, true},   // up across the window without touching it
      {{100, 90, 75, 50}, true},  // down across it
      {{20, 30, 40}, false},      // short of it
      {{70, 68, 67}, false},      // above it all along
      {{65, 90}, true},           // inside it on the way
      {{61}, false},              // a single value just outside
      {{62}, true},               // a single value at its edge
  };
  constexpr int pedal = 7;
  for (const Case& c : cases) {
    looper_reset();
    config_defaults();
    config.cc_dejitter = 0;
    config.pedal_mode = 1;
    config.cc_controller[pedal] = 2;  // "Feedback": the selected tracks
    PedalState& p = pedal_state;
    p.seeded[pedal] = 1;
    p.stored[pedal][0] = 64;
    p.last_track[pedal] = 2;
    const int16_t before = shown_feedback[0];
    for (int v : c.values) feed({0xB0, pedal, v});
    poll_all();
    const int last = *(c.values.end() - 1);
    EXPECT_EQ(shown_feedback[0], c.caught ? last * 100 / 127 : before) << last;
    EXPECT_EQ(p.last_track[pedal], c.caught ? 1 : 2) << last;
  }
}

TEST_F(MidiMappingTest, UnboundControllerDoesNothing) {
  config.cc_controller[30] = 29;  // the sentinel row has no handler
  config.cc_controller[31] = 40;  // beyond the controller function ids
  feed({0xB0, 30, 100, 0xB0, 31, 100, 0xB0, 32, 100});
  poll_all();
  EXPECT_EQ(selection.current_track, 1);
}

}  // namespace
