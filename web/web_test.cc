#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <string>

#include "core/lock.h"
#include "engine/track.h"
#include "host/looper.h"
#include "net/status_report.h"
#include "config/config.h"
#include "midi/midi_queue.h"
#include "panel/command_queue.h"
#include "panel/display.h"
#include "panel/input.h"
#include "pool/pool.h"
#include "web/web_message.h"
#include "web/web_panel.h"

namespace {

class WebTest : public ::testing::Test {
 protected:
  void SetUp() override { looper_reset(); }
  void TearDown() override { looper_reset(); }
};

WebMessage parse(const std::string& text) { return web_message_parse(text.data(), text.size()); }

TEST_F(WebTest, MessagesAreCheckedBeforeAnythingHappens) {
  struct Case {
    const char* text;
    WebAction action;
    int32_t value;
  };
  const Case cases[] = {
      {"fn Rec/Dub", WebAction::function, 0},
      {"fn Select Track 3", WebAction::function, 0},
      {"key 0840", WebAction::key, key_rec_dub},
      {"key 2081", WebAction::key, 0x2081},  // a track key's second action
      {"enc -3", WebAction::encoder, -3},
      {"enc 16", WebAction::encoder, 16},
      {"fn No Such Thing", WebAction::none, 0},
      {"fn ", WebAction::none, 0},
      {"key 0841x", WebAction::none, 0},
      {"key 1234", WebAction::none, 0},
      {"key -840", WebAction::none, 0},
      {"enc 0", WebAction::none, 0},
      {"enc 17", WebAction::none, 0},
      {"enc --1", WebAction::none, 0},
      {"enc", WebAction::none, 0},
      {"", WebAction::none, 0},
      {"FN Rec/Dub", WebAction::none, 0},
      {"fn Rec/Dub\n", WebAction::none, 0},
      {"fn 0123456789012345678901234567890123456789012345678901234567890123", WebAction::none, 0},
  };
  for (const Case& c : cases) {
    const WebMessage m = parse(c.text);
    EXPECT_EQ(m.action, c.action) << c.text;
    EXPECT_EQ(m.error == nullptr, c.action != WebAction::none) << c.text;
    if (c.action == WebAction::key || c.action == WebAction::encoder) {
      EXPECT_EQ(m.value, c.value) << c.text;
    }
  }
  EXPECT_STREQ(parse("fn Rec/Dub").text, "Rec/Dub");
  const std::string with_nul("fn Undo\0x", 9);
  EXPECT_EQ(parse(with_nul).action, WebAction::none);
}

// The menu, mixer, learn and drum messages: each bounded where it is read.
TEST_F(WebTest, PanelMessagesAreCheckedBeforeAnythingHappens) {
  constexpr int32_t any_value = INT32_MIN;
  struct Case {
    const char* text;
    WebAction action;
    int32_t part, value;
  };
  const Case cases[] = {
      {"item 0", WebAction::item, 0, 0},
      {"item 99", WebAction::item, 0, 99},
      {"value -99999", WebAction::entry, 0, -99999},
      {"value 130", WebAction::entry, 0, 130},
      {"mix 2 level -96", WebAction::mix, web_mix_level, -96},
      {"mix 8 pan 127", WebAction::mix, web_mix_pan, 127},
      {"mix 1 feedback 0", WebAction::mix, web_mix_feedback, 0},
      {"learn Redo", WebAction::learn, web_learn_function, any_value},
      {"learn shrink to 50%", WebAction::learn, web_learn_function, any_value},
      {"learn Track 2 Volume", WebAction::learn, web_learn_controller, 4},
      {"learn track 8 pan", WebAction::learn, web_learn_controller, 28},
      {"unmap 316", WebAction::unmap, web_unmap_list, 316},
      {"unmap cc 127", WebAction::unmap, web_unmap_controller, 127},
      {"drums bpm 60", WebAction::drums, web_drums_bpm, 60},
      {"drums pattern 64", WebAction::drums, web_drums_pattern, 64},
      {"item 100", WebAction::none, 0, 0},
      {"item -1", WebAction::none, 0, 0},
      {"item", WebAction::none, 0, 0},
      {"value 100000", WebAction::none, 0, 0},
      {"value 1.5", WebAction::none, 0, 0},
      {"mix 0 level -3", WebAction::none, 0, 0},
      {"mix 9 level -3", WebAction::none, 0, 0},
      {"mix 2 level 1", WebAction::none, 0, 0},
      {"mix 2 level -97", WebAction::none, 0, 0},
      {"mix 2 pan 128", WebAction::none, 0, 0},
      {"mix 2 feedback 101", WebAction::none, 0, 0},
      {"mix 2 volume -3", WebAction::none, 0, 0},
      {"mix 2 level", WebAction::none, 0, 0},
      {"mix 2  level -3", WebAction::none, 0, 0},
      {"learn ", WebAction::none, 0, 0},
      {"learn No Such Thing", WebAction::none, 0, 0},
      {"learn General Use", WebAction::none, 0, 0},  // drives nothing of the looper
      {"unmap 384", WebAction::none, 0, 0},
      {"unmap cc 128", WebAction::none, 0, 0},
      {"unmap cc", WebAction::none, 0, 0},
      {"drums bpm 59", WebAction::none, 0, 0},
      {"drums bpm 201", WebAction::none, 0, 0},
      {"drums pattern 0", WebAction::none, 0, 0},
      {"drums swing 3", WebAction::none, 0, 0},
  };
  for (const Case& c : cases) {
    const WebMessage m = parse(c.text);
    EXPECT_EQ(m.action, c.action) << c.text;
    EXPECT_EQ(m.error == nullptr, c.action != WebAction::none) << c.text;
    if (m.action == WebAction::none) continue;
    EXPECT_EQ(m.part, c.part) << c.text;
    if (c.value != any_value) {
      EXPECT_EQ(m.value, c.value) << c.text;
    }
  }
  EXPECT_EQ(parse("mix 2 level -3").track, 2);
  EXPECT_GE(parse("learn Redo").value, 0);
}

// The page's choices run through the panel's own menu stack: an item opens its choice list, a
// choice there is stored, a value entry takes its number; learning makes the next trigger run the
// function, and unmap takes the mapping away again.
TEST_F(WebTest, ChoicesFromThePageRunThroughThePanelsMenus) {
  const auto run = [](const char* text) {
    const WebMessage m = parse(text);
    ASSERT_EQ(m.error, nullptr) << text;
    ASSERT_TRUE(web_queue(WebEvent{m.action, m.part, m.value})) << text;
    web_main_service();
  };
  config_defaults();
  web_panel.watched = true;
  const auto panel = [] {
    std::lock_guard<std::mutex> hold(web_panel.mutex);
    return web_panel.panel_json;
  };
  run("item 11");  // "Time display": its choice list opens
  EXPECT_NE(panel().find("\"title\":\"Time display\""), std::string::npos) << panel();
  run("item 1");  // "Reverse"
  EXPECT_EQ(config.time_display, 1);
  EXPECT_NE(panel().find("[\"Time display\",\"Reverse\"]"), std::string::npos) << panel();
  run("item 3");  // "MIDI channel": a value entry shown 1..16
  EXPECT_NE(panel().find("\"kind\":\"entry\""), std::string::npos) << panel();
  EXPECT_NE(panel().find("\"entry\":[1,16,1]"), std::string::npos) << panel();
  run("value 99");  // brought within the range, and the entry is left
  EXPECT_EQ(config.midi_channel, 15);
  EXPECT_NE(panel().find("[\"MIDI channel\",\"16\"]"), std::string::npos) << panel();
  run("value 3");  // no entry on the screen: nothing changes
  EXPECT_EQ(config.midi_channel, 15);

  config.midi_channel = 0;
  run("learn Redo");
  EXPECT_NE(panel().find("\"learn\":1"), std::string::npos) << panel();
  for (uint8_t b : {0x90, 60, 100}) midi_in_put(b);
  ui_poll();
  web_panel.panel_built_ms = 0;  // the panel message is built again at once
  constexpr int note_60 = list_note_base + 60;
  EXPECT_EQ(config.midi_lists[note_60][0], 126);  // "Redo"
  EXPECT_EQ(config.midi_lists[note_60][1], -1);
  web_main_service();
  EXPECT_NE(panel().find("[316,\"Note 60\",\"Redo\"]"), std::string::npos) << panel();
  EXPECT_NE(panel().find("\"learn\":0"), std::string::npos) << panel();
  run("unmap 316");
  EXPECT_EQ(config.midi_lists[note_60][0], -1);

  run("learn Track 2 Volume");
  EXPECT_NE(panel().find("\"learn\":2"), std::string::npos) << panel();
  for (uint8_t b : {0xB0, 7, 64}) midi_in_put(b);
  ui_poll();
  web_panel.panel_built_ms = 0;
  EXPECT_EQ(config.cc_controller[7], 4);
  web_main_service();
  EXPECT_NE(panel().find("\"pedals\":[[7,\"Track 2 Volume\"]]"), std::string::npos) << panel();
  run("unmap cc 7");
  EXPECT_EQ(config.cc_controller[7], -1);
}

TEST_F(WebTest, PeersOtherThanTheLocalOneNeedTheToken) {
  EXPECT_TRUE(web_request_allowed("127.0.0.1", nullptr));
  EXPECT_TRUE(web_request_allowed("::1", nullptr));
  EXPECT_FALSE(web_request_allowed("192.0.2.7", nullptr));
  EXPECT_FALSE(web_request_allowed("192.0.2.7", ""));  // no token made: nobody else gets in
  strcpy(web_panel.token, "0123456789abcdef0123456789abcdef");
  web_panel.local_address = "127.0.0.1";
  EXPECT_TRUE(web_request_allowed("127.0.0.1", nullptr));
  EXPECT_FALSE(web_request_allowed("127.0.0.2", nullptr));
  EXPECT_FALSE(web_request_allowed("127.0.0.2", "0123456789abcdef0123456789abcdee"));
  EXPECT_FALSE(web_request_allowed("127.0.0.2", "0123456789abcdef"));
  EXPECT_TRUE(web_request_allowed("127.0.0.2", "0123456789abcdef0123456789abcdef"));
}

TEST_F(WebTest, EventsReachThePanelOneAtATimeAndLinesComeBack) {
  ASSERT_TRUE(web_queue_event(true, key_select));
  ASSERT_TRUE(web_queue_event(false, -2));
  write_text(0, "Hello");
  web_main_service();
  EXPECT_EQ(panel_input.key_mailbox.load(), key_select);
  EXPECT_EQ(panel_input.encoder_count.load(), 0);
  EXPECT_STREQ(web_panel.lines[0], "Hello           ");
  web_main_service();  // the key is still waiting: the steps wait too
  EXPECT_EQ(panel_input.encoder_count.load(), 0);
  EXPECT_NE(take_input_code(), 0);
  web_main_service();
  EXPECT_EQ(panel_input.encoder_count.load(), -2);
  for (int i = 0; i < web_event_max; ++i) EXPECT_TRUE(web_queue_event(true, key_back));
  EXPECT_FALSE(web_queue_event(true, key_back));
}

// A phone whose connection stalls holds the clients while its send waits: the main loop's
// display hand-over and key delivery go on meanwhile.
TEST_F(WebTest, AStalledSendNeverHoldsUpTheMainLoop) {
  ASSERT_TRUE(web_queue_event(true, key_select));
  std::unique_lock<std::mutex> sending(web_panel.clients_mutex);
  auto main_pass = std::async(std::launch::async, [] { web_main_service(); });
  const bool returned = main_pass.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  sending.unlock();
  main_pass.wait();
  EXPECT_TRUE(returned) << "the main loop waited for a send";
  EXPECT_EQ(panel_input.key_mailbox.load(), key_select);
}

TEST_F(WebTest, StateMessageCarriesTracksLinesAndMeters) {
  RemoteStatus status{};
  status.state_word = 1;  // track 1 playing
  status.length[0] = 48000;
  status.position[0] = 12000;
  status.level[0] = -5;
  status.feedback[0] = 100;
  status.selected = 1;
  const char lines[display_line_count][display_columns + 1] = {"Track \"1\"\\", "\xFE\xFE"};
  const std::string json = web_state_json(status, lines, 70, 0);
  EXPECT_NE(json.find("\"sel\":1"), std::string::npos) << json;
  EXPECT_NE(json.find("[\"playing\",48000,12000,-5,0,100]"), std::string::npos) << json;
  EXPECT_NE(json.find("\"Track \\\"1\\\"\\\\\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"\\u00fe\\u00fe\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"in\":70,\"out\":0"), std::string::npos) << json;
}

TEST_F(WebTest, WaveformFollowsTheTrackBlocks) {
  int8_t pairs[2 * web_wave_points];
  EXPECT_EQ(web_compute_wave(0, pairs), 0);  // empty track
  pool_clean_one();
  int32_t* block = pool_alloc_zeroed();
  ASSERT_NE(block, nullptr);
  for (int f = 0; f < block_frames / 2; ++f) {   // first half loud, second half silent
    block[2 * f] = (f % 2 == 0 ? 1 : -1) << 23;  // half full scale
    block[2 * f + 1] = 0;
  }
  {
    EngineLockGuard lock;
    set_block_ref(track_blocks[0][0], block);
    tracks[0].length = block_frames;
  }
  ASSERT_EQ(web_compute_wave(0, pairs), web_wave_points);
  EXPECT_EQ(pairs[0], -64);
  EXPECT_EQ(pairs[1], 64);
  EXPECT_EQ(pairs[2 * web_wave_points - 2], 0);
  EXPECT_EQ(pairs[2 * web_wave_points - 1], 0);
  const std::string json = web_wave_json(0, pairs, 2);
  EXPECT_EQ(json, "{\"t\":\"wave\",\"n\":0,\"w\":[-64,64,-64,64]}");
  {
    EngineLockGuard lock;
    set_block_ref(track_blocks[0][0], nullptr);
    tracks[0].length = 0;
  }
  pool_free(block);
}

}  // namespace
