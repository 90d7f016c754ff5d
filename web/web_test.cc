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
