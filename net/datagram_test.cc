#include "net/datagram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "config/config.h"
#include "core/console.h"
#include "core/log_ring.h"
#include "engine/track.h"
#include "core/lock.h"
#include "host/looper.h"
#include "host/main_loop.h"
#include "midi/midi_queue.h"
#include "net/host_sysex.h"
#include "net/remote_send.h"
#include "panel/command_queue.h"
#include "panel/selection.h"

namespace {

Datagram classify(const std::string& s) {
  return classify_datagram(reinterpret_cast<const uint8_t*>(s.data()), int(s.size()));
}

TEST(DatagramClassifyTest, RequestsAreRecognisedByTheirBeginning) {
  struct Case {
    std::string bytes;
    DatagramKind kind;
  } const cases[] = {
      {"", DatagramKind::empty},
      {"<", DatagramKind::other},
      {"hello", DatagramKind::other},
      {"<query>id", DatagramKind::query_id},
      {"<query>id</query>", DatagramKind::query_id},
      {"<query>i", DatagramKind::other},
      {"<query>status", DatagramKind::query_status},
      {"<query>status</query>", DatagramKind::query_status},
      {"<query>status compact", DatagramKind::query_status_compact},
      {"<query>status compac", DatagramKind::query_status},
      {"<query>status compact</query>", DatagramKind::query_status_compact},
      {"<query>log</query>", DatagramKind::query_log},
      {"<query>latency", DatagramKind::query_latency},
      {"<query>volume", DatagramKind::other},
      {"<query>", DatagramKind::other},
      {"<userinput>s", DatagramKind::user_input},
      {"<userinput>", DatagramKind::other},
      {"<command>Rec/Dub", DatagramKind::command_dropped},
      {"<command></command>", DatagramKind::command},
      {std::string("\xF0\x00\x3F\x6A\x02\xF7", 6), DatagramKind::host_sysex},
      {"\xF0", DatagramKind::host_sysex},
  };
  for (const Case& c : cases) EXPECT_EQ(int(classify(c.bytes).kind), int(c.kind)) << c.bytes;
  EXPECT_EQ(classify("<userinput>m").value, 'm');
}

TEST(DatagramClassifyTest, CommandTextsUpTo62CharactersAreTaken) {
  const std::string request = "<command>Select Track 3</command>";
  const Datagram d = classify(request);
  ASSERT_EQ(int(d.kind), int(DatagramKind::command));
  EXPECT_EQ(std::string(d.text, size_t(d.text_length)), "Select Track 3");

  const std::string t62(62, 'x');
  const std::string longest = "<command>" + t62 + "</command>";
  const Datagram ok = classify(longest);
  ASSERT_EQ(int(ok.kind), int(DatagramKind::command));
  EXPECT_EQ(ok.text_length, 62);
  EXPECT_EQ(int(classify("<command>" + t62 + "x</command>").kind),
            int(DatagramKind::command_dropped));
  EXPECT_EQ(int(classify("<command>" + t62 + "</command").kind),
            int(DatagramKind::command_dropped));
}

TEST(DatagramClassifyTest, UpgradeSizesAreParsedAndChecked) {
  struct Case {
    std::string bytes;
    DatagramKind kind;
    int32_t value;
  } const cases[] = {
      {"<command>upgrade 1</command>", DatagramKind::upgrade_request, 1},
      {"<command>upgrade 1048575</command>", DatagramKind::upgrade_request, 1048575},
      {"<command>upgrade  77", DatagramKind::upgrade_request, 77},
      {"<command>upgrade 0</command>", DatagramKind::upgrade_bad, 0},
      {"<command>upgrade 1048576</command>", DatagramKind::upgrade_bad, 1048576},
      {"<command>upgrade -5</command>", DatagramKind::upgrade_bad, -5},
      {"<command>upgrade x</command>", DatagramKind::upgrade_bad, 0},
      {"<command>upgrade ", DatagramKind::upgrade_bad, 0},
      {"<command>upgrade 99999999999999999999", DatagramKind::upgrade_bad, 2147483647},
      {"<command>upgrade -99999999999999999999", DatagramKind::upgrade_bad, -2147483647},
  };
  for (const Case& c : cases) {
    const Datagram d = classify(c.bytes);
    EXPECT_EQ(int(d.kind), int(c.kind)) << c.bytes;
    EXPECT_EQ(d.value, c.value) << c.bytes;
  }
  // Without the blank it is an ordinary command text.
  EXPECT_EQ(int(classify("<command>upgrade</command>").kind), int(DatagramKind::command));
}

// Each request cut short at every length is classified from its own bytes alone: the same
// result whatever follows them in memory (the rest of the request, or other bytes), and from a
// buffer of exactly that size (a sanitizer build also catches any read past its end).
TEST(DatagramClassifyTest, NeverReadsPastTheDatagram) {
  // Kind, value, text length and where the text starts within the buffer.
  auto result = [](const uint8_t* bytes, size_t n) {
    const Datagram d = classify_datagram(bytes, int(n));
    const long text_at = d.text == nullptr ? -1 : d.text - reinterpret_cast<const char*>(bytes);
    return std::make_tuple(int(d.kind), d.value, d.text_length, text_at);
  };
  for (const std::string full : {"<command>upgrade 12</command>", "<query>status compact",
                                 "<userinput>x", "<command>Rec/Dub</command>"}) {
    const auto* continued = reinterpret_cast<const uint8_t*>(full.data());
    for (size_t n = 0; n <= full.size(); ++n) {
      std::vector<uint8_t> other(full.begin(), full.begin() + long(n));
      other.resize(full.size() + 1, '9');
      const auto with_rest = result(continued, n);
      EXPECT_EQ(result(other.data(), n), with_rest) << full.substr(0, n);
      const std::vector<uint8_t> exact(full.begin(), full.begin() + long(n));
      EXPECT_EQ(result(exact.data(), n), with_rest) << full.substr(0, n);
    }
  }
}

struct Capture {
  std::vector<std::string> replies;
};

void capture_reply(void* context, const uint8_t* bytes, int length) {
  static_cast<Capture*>(context)->replies.emplace_back(reinterpret_cast<const char*>(bytes),
                                                       size_t(length));
}

class DatagramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    datagram_hooks.upgrade_start = nullptr;  // no fetch starts: the datagram's check is tested
    config_defaults();
    sender.sin_family = AF_INET;
    sender.sin_port = htons(40000);
    sender.sin_addr.s_addr = htonl(0x7F000001);
  }

  std::vector<std::string> handle(const std::string& s) {
    Capture capture;
    handle_datagram(reinterpret_cast<const uint8_t*>(s.data()), int(s.size()), sender,
                    capture_reply, &capture);
    return capture.replies;
  }

  std::string printed() {
    std::string all;
    char buffer[512];
    for (int n; (n = log_take(console_log.sysex_log_ring, buffer, sizeof buffer)) > 0;) {
      all.append(buffer, size_t(n));
    }
    return all;
  }

  sockaddr_in sender = {};
};

TEST_F(DatagramTest, IdQueryRepliesWithVersionAndNul) {
  const auto replies = handle("<query>id");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], std::string("<id>ZT4 Version V3.07</id>\0", 27));
  EXPECT_EQ(remote_peer.peer_known, 1);
  EXPECT_EQ(remote_peer.peer_address.sin_port, htons(40000));
}

TEST_F(DatagramTest, StatusQueriesWithAndWithoutClosingTagMatch) {
  const auto plain = handle("<query>status");
  const auto closed = handle("<query>status</query>");
  ASSERT_EQ(plain.size(), 1u);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(plain[0], closed[0]);
  EXPECT_EQ(plain[0].rfind("<status>\n", 0), 0u);
  EXPECT_EQ(plain[0].back(), '\0');

  const auto compact = handle("<query>status compact");
  ASSERT_EQ(compact.size(), 1u);
  ASSERT_EQ(compact[0].size(), 232u);
  EXPECT_EQ(compact[0].substr(0, 8), std::string("\x00\x00\xBB\x80\x00\x00\x00\x08", 8));
}

TEST_F(DatagramTest, LogQueryReturnsUpTo500CharactersAndAdvances) {
  std::string all;
  for (int i = 0; all.size() <= 66000; ++i) {
    console_printf("log line %d\n", i);
    all += "log line " + std::to_string(i) + "\n";
  }
  // The ring keeps the newest 65535 characters.
  const std::string kept = all.substr(all.size() - 65535);
  std::string got;
  for (int i = 0; i < 200; ++i) {
    const auto replies = handle("<query>log");
    ASSERT_EQ(replies.size(), 1u);
    const std::string& r = replies[0];
    ASSERT_EQ(r.rfind("<log>", 0), 0u);
    ASSERT_GE(r.size(), 12u);
    EXPECT_EQ(r.substr(r.size() - 7), std::string("</log>\0", 7));
    const std::string text = r.substr(5, r.size() - 12);
    EXPECT_LE(text.size(), 500u);
    if (text.empty()) break;
    got += text;
  }
  EXPECT_EQ(got, kept);
}

TEST_F(DatagramTest, CommandsAreQueuedUntilThirtyOneWait) {
  EXPECT_TRUE(handle("<command>Rec/Dub</command>").empty());
  EXPECT_STREQ(command_queue.texts[0], "Rec/Dub");
  for (int i = 1; i < 40; ++i) handle("<command>Play " + std::to_string(i) + "</command>");
  EXPECT_EQ(command_queue.write_index.load(), 31u);  // full: 31 waiting
  EXPECT_STREQ(command_queue.texts[30], "Play 30");
  handle("<command>" + std::string(63, 'y') + "</command>");
  EXPECT_EQ(command_queue.write_index.load(), 31u);
}

TEST_F(DatagramTest, OversizedCommandIsDroppedButRecordsThePeer) {
  handle("<command>" + std::string(63, 'y') + "</command>");
  EXPECT_EQ(command_queue.write_index.load(), 0u);
  EXPECT_EQ(remote_peer.peer_known, 1);
  handle("<command>" + std::string(62, 'y') + "</command>");
  EXPECT_EQ(command_queue.write_index.load(), 1u);
  EXPECT_EQ(std::string(command_queue.texts[0]), std::string(62, 'y'));
}

TEST_F(DatagramTest, UserInputGoesToTheConsoleMailbox) {
  handle("<userinput>s");
  EXPECT_EQ(main_loop_lock.console_mailbox.load(), uint32_t('s'));
}

TEST_F(DatagramTest, UpgradeRequestsAreCheckedAndLeaveThePeerAlone) {
  handle("<command>upgrade 0</command>");
  EXPECT_EQ(printed(), "Upgrade size bad 0\n");
  handle("<command>upgrade 1048576</command>");
  EXPECT_EQ(printed(), "Upgrade size bad 1048576\n");
  handle("<command>upgrade -99999999999</command>");
  EXPECT_EQ(printed(), "Upgrade size bad -2147483647\n");  // never "NaN"
  handle("<command>upgrade 1048575</command>");
  EXPECT_EQ(printed(), "");
  EXPECT_EQ(remote_peer.peer_known, 0);
  EXPECT_EQ(command_queue.write_index.load(), 0u);
}

TEST_F(DatagramTest, HostSysexDatagramsRunAndReplyThroughThePeerPath) {
  const auto replies = handle(std::string("\xF0\x00\x3F\x6A\x16\xF7", 6));  // version
  EXPECT_TRUE(replies.empty());  // host replies go to the peer and MIDI, not as a query reply
  EXPECT_EQ(midi_out_pending(), 1);
  EXPECT_EQ(remote_peer.peer_known, 1);
}

TEST_F(DatagramTest, EmptyAndLongestDatagramsAreSafe) {
  EXPECT_TRUE(handle("").empty());
  EXPECT_EQ(remote_peer.peer_known, 0);
  EXPECT_TRUE(handle("<command>" + std::string(datagram_max - 9, 'z')).empty());
  EXPECT_EQ(command_queue.write_index.load(), 0u);
  std::string big(datagram_max, '\x01');
  big[0] = char(0xF0);
  EXPECT_TRUE(handle(big).empty());
  EXPECT_EQ(midi_out_pending(), 0);
}

}  // namespace
