#include "panel/midi_mapping.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "config/config.h"
#include "core/log_ring.h"
#include "midi/midi_map.h"
#include "midi/midi_parser.h"
#include "midi/midi_queue.h"
#include "panel/display_state.h"
#include "panel/input.h"
#include "panel/selection.h"

namespace {

constexpr int16_t id_select_track_1 = 3;  // ids 3..10 select tracks 1..8
constexpr int16_t id_next_track = 22;

class MidiMappingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_reset();
    config_defaults();
    midi_queue_reset();
    midi_parser_reset();
    midi_map_reset();
    midi_mapping_reset();
    panel_input_reset();
    selection_reset();
    display_state_reset();
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
    while (midi_in_ring.read_index.load() != midi_in_ring.write_index.load()) {
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

TEST_F(MidiMappingTest, UnboundControllerDoesNothing) {
  config.cc_controller[30] = 29;  // the sentinel row has no handler
  config.cc_controller[31] = 40;  // beyond the controller function ids
  feed({0xB0, 30, 100, 0xB0, 31, 100, 0xB0, 32, 100});
  poll_all();
  EXPECT_EQ(selection.current_track, 1);
}

class PanelPollTest : public MidiMappingTest {};

TEST_F(PanelPollTest, MidiComesBeforeAKeyPress) {
  map_list(list_note_base + 60, {id_select_track_1 + 1});
  config.panel_version = 0;
  feed({0x90, 60, 100});
  panel_key_event(0x4080);  // track 5
  ui_poll();
  EXPECT_EQ(selection.current_track, 2);
  ui_poll();
  EXPECT_EQ(selection.current_track, 5);
}

TEST_F(PanelPollTest, PanelVersionOneExchangesTheThirdAndFourthColumns) {
  config.panel_version = 1;
  panel_key_event(0x2010);
  ui_poll();
  EXPECT_EQ(selection.current_track, 4);
  config.user_button_lists[1][0] = id_select_track_1 + 6;
  panel_key_event(0x0810);  // handled as user button 2
  ui_poll();
  EXPECT_EQ(selection.current_track, 7);
}

TEST_F(PanelPollTest, UnknownScanCodesArePrinted) {
  console_log_reset();
  dispatch_key(0x4444);
  char text[64] = {};
  log_take(console_log.udp_log_ring, text, int(sizeof text) - 1);
  EXPECT_STREQ(text, "SCANCODE 4444\n");
  EXPECT_EQ(selection.current_track, 1);
}

TEST_F(PanelPollTest, SeveralEncoderStepsMakeOneCode) {
  panel_encoder_steps(3);
  EXPECT_EQ(take_input_code(), code_encoder_up);
  EXPECT_EQ(take_input_code(), 0);
  panel_encoder_steps(-2);
  EXPECT_EQ(take_input_code(), code_encoder_down);
}

TEST_F(PanelPollTest, NestedPollReturnsAtOnce) {
  panel_key_event(0x8080);
  panel_input.poll_busy = 1;
  ui_poll();
  EXPECT_EQ(panel_input.key_mailbox.load(), 0x8080);
  panel_input.poll_busy = 0;
  ui_poll();
  EXPECT_EQ(selection.current_track, 0);
}

}  // namespace
