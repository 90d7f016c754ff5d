#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <lo/lo.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/looper.h"
#include "osc/osc_request.h"
#include "osc/osc_server.h"
#include "panel/command_queue.h"
#include "panel/function_table.h"
#include "panel/selection.h"
#include "tests/fixtures/osc_peer.h"

namespace {

std::vector<std::string> replies;

void keep_reply(const OscPeer&, const uint8_t* bytes, size_t size) {
  replies.emplace_back(reinterpret_cast<const char*>(bytes), size);
}

class OscTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    replies.clear();
    osc_server.reply_hook = keep_reply;
  }
  void TearDown() override { looper_reset(); }

  // Serialises a message built by liblo and hands it to the server as a datagram from peer.
  void deliver(const char* path, lo_message m, const OscPeer& peer, int64_t now = 0) {
    std::vector<uint8_t> bytes(lo_message_length(m, path));
    size_t size = 0;
    lo_message_serialise(m, path, bytes.data(), &size);
    lo_message_free(m);
    osc_handle_packet(bytes.data(), size, peer, now);
  }

  std::string last_error() {
    if (replies.empty() || replies.back().rfind("/zt4/error", 0) != 0) return "";
    return std::string(replies.back().c_str() + 16);  // after the address and ",s"
  }

  const OscPeer local = osc_peer_at("127.0.0.1", 9000);
};

// What one message parses to: action, track, value, text; or the reason it is refused.
struct ParseCase {
  const char* path;
  const char* types;
  std::vector<double> numbers;  // in type order, strings skipped
  const char* string;
  OscAction action;
  int value;
  const char* text;  // function: the queued text; refusals: the reason
};

OscRequest parse(const ParseCase& c) {
  lo_message m = lo_message_new();
  size_t n = 0;
  for (const char* t = c.types; *t != '\0'; ++t) {
    switch (*t) {
      case 'i': lo_message_add_int32(m, int32_t(c.numbers[n++])); break;
      case 'f': lo_message_add_float(m, float(c.numbers[n++])); break;
      case 'h': lo_message_add_int64(m, int64_t(c.numbers[n++])); break;
      case 's': lo_message_add_string(m, c.string); break;
    }
  }
  const OscRequest r = osc_parse_request(c.path, lo_message_get_types(m), lo_message_get_argv(m),
                                         lo_message_get_argc(m));
  lo_message_free(m);
  return r;
}

TEST_F(OscTest, MessagesAreCheckedBeforeAnythingHappens) {
  using A = OscAction;
  const ParseCase cases[] = {
      {"/zt4/fn", "s", {}, "Rec/Dub", A::function, 0, "Rec/Dub"},
      {"/zt4/fn", "s", {}, "rec/dub", A::function, 0, "Rec/Dub"},
      {"/zt4/fn", "si", {-5}, "Track Level", A::function, 0, "Track Level -05"},
      {"/zt4/fn", "sf", {16}, "Quant Value 1", A::function, 0, "Quant Value 1 16"},
      {"/zt4/fn", "s", {}, "Shrink to 50%", A::function, 0, "Shrink to 50%%"},
      {"/zt4/fn/id", "ii", {12, -20}, "", A::function, 0, "Track Level -20"},
      {"/zt4/fn/id", "f", {81}, "", A::function, 0, "Undo"},
      {"/zt4/select", "i", {0}, "", A::function, 0, "All Tracks"},
      {"/zt4/select", "i", {4}, "", A::function, 0, "Select Track 4"},
      {"/zt4/key", "i", {0x2080}, "", A::key, 0x2080, nullptr},
      {"/zt4/enc", "i", {-16}, "", A::encoder, -16, nullptr},
      {"/zt4/track/3/level", "f", {-10.4}, "", A::level, -10, nullptr},
      {"/zt4/track/8/pan", "f", {-1}, "", A::pan, -127, nullptr},
      {"/zt4/track/1/feedback", "i", {1}, "", A::feedback, 100, nullptr},
      {"/zt4/status", "", {}, "", A::status, 0, nullptr},
      {"/zt4/subscribe", "", {}, "", A::subscribe, 0, nullptr},
      {"/zt4/subscribe", "i", {9001}, "", A::subscribe, 9001, nullptr},
      {"/zt4/unsubscribe", "i", {9001}, "", A::unsubscribe, 9001, nullptr},
      // Refusals.
      {"/zt4/fn", "", {}, "", A::none, 0, "/zt4/fn takes a function name"},
      {"/zt4/fn", "s", {}, "Rec/Dubb", A::none, 0, "no such function"},
      {"/zt4/fn", "si", {1}, "Undo", A::none, 0, "this function takes no number"},
      {"/zt4/fn",
       "si",
       {-97},
       "Track Level",
       A::none,
       0,
       "the number is outside what this function takes"},
      {"/zt4/fn",
       "sf",
       {2.5},
       "Quant Value 1",
       A::none,
       0,
       "the number is outside what this function takes"},
      {"/zt4/fn", "sii", {1, 2}, "Rec/Dub", A::none, 0, "a function takes at most one number"},
      {"/zt4/fn/id", "i", {double(function_id_count)}, "", A::none, 0, "no such function"},
      {"/zt4/fn/id", "h", {4e18}, "", A::none, 0, "/zt4/fn/id takes a function id"},
      {"/zt4/select", "i", {9}, "", A::none, 0, "select takes a track 1 to 8, or 0 for all tracks"},
      {"/zt4/key", "i", {0x2081 + 2}, "", A::none, 0, "no such key"},
      {"/zt4/enc", "i", {17}, "", A::none, 0, "encoder steps are -16..16, not 0"},
      {"/zt4/track/0/level", "f", {0}, "", A::none, 0, "unknown address"},
      {"/zt4/track/1/lev", "f", {0}, "", A::none, 0, "unknown address"},
      {"/zt4/track/1/level", "f", {0.5}, "", A::none, 0, "level is 0 down to -96 (dB)"},
      {"/zt4/track/1/level", "s", {}, "0", A::none, 0, "level is 0 down to -96 (dB)"},
      {"/zt4/track/1/pan", "f", {1.01}, "", A::none, 0, "pan is -1 (left) to 1 (right)"},
      {"/zt4/track/1/feedback", "ff", {0, 0}, "", A::none, 0, "feedback is 0 to 1"},
      {"/zt4/status", "i", {1}, "", A::none, 0, "/zt4/status takes no arguments"},
      {"/zt4/subscribe",
       "i",
       {70000},
       "",
       A::none,
       0,
       "the port is a number from 1 to 65535, or none for the sender's own"},
      {"/zt4", "", {}, "", A::none, 0, "unknown address"},
  };
  for (const ParseCase& c : cases) {
    const OscRequest r = parse(c);
    EXPECT_EQ(r.action, c.action) << c.path << " " << c.types;
    if (c.action == A::none) {
      EXPECT_STREQ(r.error, c.text) << c.path << " " << c.types;
      continue;
    }
    EXPECT_EQ(r.error, nullptr) << c.path;
    if (c.action == A::function) {
      EXPECT_STREQ(r.text, c.text) << c.path << " " << c.types;
    } else {
      EXPECT_EQ(r.value, c.value) << c.path;
    }
  }
}

TEST_F(OscTest, TrackMixValuesReachTheMainThreadNewestFirst) {
  for (const float level : {-3.0f, -20.0f, -33.0f}) {  // a fader sweep: only its end counts
    lo_message m = lo_message_new();
    lo_message_add_float(m, level);
    deliver("/zt4/track/2/level", m, local);
  }
  lo_message pan = lo_message_new();
  lo_message_add_float(pan, 0.5f);
  deliver("/zt4/track/4/pan", pan, local);
  lo_message feedback = lo_message_new();
  lo_message_add_float(feedback, 0.25f);
  deliver("/zt4/track/1/feedback", feedback, local);
  EXPECT_TRUE(replies.empty());
  EXPECT_EQ(shown_level[1], 0);
  osc_main_service();
  EXPECT_EQ(shown_level[1], -33);
  EXPECT_EQ(shown_pan[3], 64);
  EXPECT_EQ(shown_feedback[0], 25);
  EXPECT_EQ(shown_level[0], 0);
  EXPECT_EQ(selection.current_track.load(), 1);  // the selection is left alone
}

TEST_F(OscTest, FunctionsQueueTheirTextAndAFullQueueIsSaid) {
  for (int i = 0; i < command_queue_slots - 1; ++i) {
    lo_message m = lo_message_new();
    lo_message_add_string(m, "Undo");
    deliver("/zt4/fn", m, local);
  }
  EXPECT_TRUE(replies.empty());
  EXPECT_STREQ(command_queue.texts[0], "Undo");
  lo_message m = lo_message_new();
  lo_message_add_string(m, "Undo");
  deliver("/zt4/fn", m, local);
  EXPECT_EQ(last_error(), "command queue full");
}

TEST_F(OscTest, SubscribersGetTheStatusAtOnceAndAtMostEightAreKept) {
  for (uint16_t port = 9001; port <= 9008; ++port) {
    lo_message m = lo_message_new();
    lo_message_add_int32(m, port);
    deliver("/zt4/subscribe", m, local);
  }
  ASSERT_EQ(replies.size(), 8u);
  for (const std::string& r : replies) EXPECT_EQ(r.rfind("#bundle", 0), 0u);
  replies.clear();
  deliver("/zt4/subscribe", lo_message_new(), local);  // a ninth
  EXPECT_EQ(last_error(), "8 subscribers already; one must unsubscribe first");
  lo_message m = lo_message_new();
  lo_message_add_int32(m, 9001);
  deliver("/zt4/subscribe", m, local);  // a renewal: nothing again
  EXPECT_EQ(replies.size(), 1u);

  // Nothing changed: nothing sent. A change goes to all eight.
  replies.clear();
  osc_feedback_tick(osc_moving_ms * 2);
  EXPECT_TRUE(replies.empty());
  set_live_word(shown_level[4], -9);
  osc_feedback_tick(osc_moving_ms * 3);
  ASSERT_EQ(replies.size(), 8u);
  EXPECT_NE(replies[0].find("/zt4/track/5/level"), std::string::npos);
  EXPECT_EQ(replies[0].find("/zt4/track/1/level"), std::string::npos);

  // Without renewal a subscription ends after a minute; the renewed one stays.
  replies.clear();
  lo_message renew = lo_message_new();
  lo_message_add_int32(renew, 9002);
  deliver("/zt4/subscribe", renew, local, osc_subscription_ms);
  set_live_word(shown_level[4], -10);
  osc_feedback_tick(osc_subscription_ms + 1);
  EXPECT_EQ(replies.size(), 1u);
}

TEST_F(OscTest, BeyondLoopbackOnlyTheTokenLetsAPeerIn) {
  const OscPeer stranger = osc_peer_at("192.0.2.7", 9000);
  memcpy(osc_server.token, "0123456789abcdef0123456789abcdef", web_token_chars);
  deliver("/zt4/status", lo_message_new(), stranger);
  EXPECT_EQ(last_error(), "refused: send /zt4/hello with the looper's token first");
  lo_message wrong = lo_message_new();
  lo_message_add_string(wrong, "0123456789abcdef0123456789abcdee");
  deliver("/zt4/hello", wrong, stranger);
  EXPECT_EQ(last_error(), "wrong token");
  lo_message right = lo_message_new();
  lo_message_add_string(right, osc_server.token);
  deliver("/zt4/hello", right, stranger);
  EXPECT_EQ(replies.back().rfind("/zt4/hello", 0), 0u);
  deliver("/zt4/status", lo_message_new(), osc_peer_at("192.0.2.7", 9100));  // any port of it
  EXPECT_EQ(replies.back().rfind("#bundle", 0), 0u);

  // An address named with --osc-allow needs none.
  osc_server.allowed[0] = "192.0.2.8";
  osc_server.allowed_count = 1;
  deliver("/zt4/status", lo_message_new(), osc_peer_at("192.0.2.8", 9000));
  EXPECT_EQ(replies.back().rfind("#bundle", 0), 0u);
}

TEST_F(OscTest, AMalformedBundleGetsOneErrorAndStopsThere) {
  lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
  lo_message select = lo_message_new();
  lo_message_add_int32(select, 9);  // refused
  lo_bundle_add_message(b, "/zt4/select", select);
  lo_bundle_add_message(b, "/zt4/fn", lo_message_new());  // refused too, never reached
  std::vector<uint8_t> bytes(lo_bundle_length(b));
  size_t size = 0;
  lo_bundle_serialise(b, bytes.data(), &size);
  lo_bundle_free_recursive(b);
  osc_handle_packet(bytes.data(), size, local, 0);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(last_error(), "select takes a track 1 to 8, or 0 for all tracks");
}

}  // namespace
