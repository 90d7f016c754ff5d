#include "panel/input.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "config/config.h"
#include "core/log_ring.h"
#include "host/looper.h"
#include "midi/midi_map.h"
#include "midi/midi_queue.h"
#include "panel/selection.h"

namespace {

constexpr int16_t id_select_track_1 = 3;  // ids 3..10 select tracks 1..8

// The user-interface poll: MIDI input first, then the panel's keys and encoder.
class PanelPollTest : public ::testing::Test {
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
};

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
