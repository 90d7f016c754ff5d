// The remote-control protocol against the real binary over loopback UDP: queries, status
// reports, the log, text commands, host SysEx commands over UDP and over MIDI, and the
// command-line client.
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "net/sysex_codec.h"
#include "tests/support/harness.h"

namespace zt4test {
namespace {

using Bytes = std::vector<uint8_t>;

std::string host_message(int command, const Bytes& payload) {
  std::string m("\xF0\x00\x3F\x6A", 4);
  m.push_back(char(command));
  for (uint8_t b : payload) m.push_back(char(b));
  m.push_back(char(0xF7));
  return m;
}

std::string reply_prefix(int code) {
  std::string p("\xF0\x00\x3F\x6A", 4);
  p.push_back(char(code));
  return p;
}

class NetTest : public Zt4Test {
 protected:
  // Next datagram that begins with prefix; the looper also sends MIDI echoes to its peer.
  std::optional<std::string> receive_reply(const std::string& prefix, double timeout_s = 3) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(int(timeout_s * 1000));
    for (;;) {
      const double left =
          std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return std::nullopt;
      auto r = peer.receive(left);
      if (r && r->compare(0, prefix.size(), prefix) == 0) return r;
    }
  }

  std::optional<std::string> ask(const std::string& request, const std::string& prefix) {
    peer.send(request);
    return receive_reply(prefix);
  }

  // Starts the looper on a free port and waits until its server answers.
  void start() {
    start_zt4();
    ASSERT_FALSE(HasFatalFailure());
    peer.aim(udp_port);
    bool up = wait_until(
        [&] {
          peer.send("<query>id");
          return receive_reply("<id>", 0.2).has_value();
        },
        10);
    ASSERT_TRUE(up) << "no answer on UDP port " << udp_port << "\n" << zt4->output();
  }

  std::string status_document() {
    auto r = ask("<query>status", "<status>");
    EXPECT_TRUE(r.has_value());
    return r.value_or("");
  }

  // The block of track n in the status document.
  std::string track_block(const std::string& document, int n) {
    const std::string open = "<track" + std::to_string(n) + ">";
    const std::string close = "</track" + std::to_string(n) + ">";
    const size_t a = document.find(open), b = document.find(close);
    if (a == std::string::npos || b == std::string::npos) return "";
    return document.substr(a, b - a);
  }

  // Waits until the status document's block of track n contains text.
  bool wait_track_shows(int n, const std::string& text, double timeout_s = 10) {
    return wait_until(
        [&] { return track_block(status_document(), n).find(text) != std::string::npos; },
        timeout_s);
  }

  UdpPeer peer;
};

TEST_F(NetTest, IdReplyCarriesItsNul) {
  start();
  const auto r = ask("<query>id", "<id>");
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, std::string("<id>ZT4 Version V3.07</id>\0", 27));
}

TEST_F(NetTest, StatusOfAnEmptyLooperInBothForms) {
  start();
  std::string want = "<status>\n";
  for (int n = 1; n <= 8; ++n) {
    want += "  <track" + std::to_string(n) + ">\n";
    want += "    <state>empty</state>\n";
    want += "    <length>0.0</length>\n";
    want += "    <position>0.0</position>\n";
    want += "    <level>+000</level>\n";
    want += "    <pan>+000</pan>\n";
    want += "    <feedback>100</feedback>\n";
    want += n == 1 ? "<selected>yes</selected>\n" : "<selected>no</selected>\n";
    want += "  </track" + std::to_string(n) + ">\n";
  }
  want += "</status>\n";
  want.push_back('\0');
  EXPECT_EQ(status_document(), want);
  EXPECT_EQ(ask("<query>status</query>", "<status>").value_or(""), want);

  const auto compact = ask("<query>status compact", std::string("\x00\x00\xBB\x80", 4));
  ASSERT_TRUE(compact);
  ASSERT_EQ(compact->size(), 232u);
  EXPECT_EQ(compact->substr(0, 8), std::string("\x00\x00\xBB\x80\x00\x00\x00\x08", 8));
}

TEST_F(NetTest, LogQueryReturnsCharactersAfterTheRingWrapped) {
  start();
  // Each statistics report prints well over a kilobyte.
  int reports = 0;
  const std::string marker = "ZT4 Looper statistics:";
  while (zt4->output().size() < 70000 && reports < 400) {
    zt4->send_console("s");
    ++reports;
    ASSERT_TRUE(zt4->wait_for_count(marker, reports, 10)) << reports;
  }
  ASSERT_GT(zt4->output().size(), 65536u);
  const auto first = ask("<query>log", "<log>");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->size(), 5u + 500 + 7);
  EXPECT_EQ(first->substr(first->size() - 7), std::string("</log>\0", 7));
  size_t total = first->size() - 12;
  for (int i = 0; i < 200; ++i) {
    const auto r = ask("<query>log", "<log>");
    ASSERT_TRUE(r);
    if (r->size() == 12) break;
    total += r->size() - 12;
  }
  EXPECT_GE(total, 65000u);  // the ring holds 65535 characters
  EXPECT_LE(total, 70000u);
}

TEST_F(NetTest, UserInputAndUpgradeRequestsReachTheConsole) {
  start();
  peer.send("<userinput>m");
  EXPECT_TRUE(zt4->wait_for_output("ZT4 Looper MIDI statistics:", 5));
  peer.send("<command>upgrade 0</command>");
  EXPECT_TRUE(zt4->wait_for_output("Upgrade size bad 0", 5));
}

TEST_F(NetTest, CommandOf62CharactersRunsAndOneOf63IsDropped) {
  start();
  // "Select Track 1", blanks, then the number that replaces its argument: 62 and 63 characters.
  const std::string t62 = "Select Track 1" + std::string(47, ' ') + "3";
  const std::string t63 = "Select Track 1" + std::string(48, ' ') + "5";
  ASSERT_EQ(t62.size(), 62u);
  ASSERT_EQ(t63.size(), 63u);
  peer.send("<command>" + t62 + "</command>");
  EXPECT_TRUE(wait_track_shows(3, "<selected>yes")) << status_document();

  // A dropped record request behind a command that is run: the track stays empty.
  const std::string rec63 = "Rec/Dub" + std::string(56, ' ');
  ASSERT_EQ(rec63.size(), 63u);
  peer.send("<command>" + rec63 + "</command>");
  peer.send("<command>" + t63 + "</command>");
  peer.send("<command>Select Track 2</command>");
  EXPECT_TRUE(wait_track_shows(2, "<selected>yes")) << status_document();
  const std::string d = status_document();
  for (int n = 1; n <= 8; ++n)
    EXPECT_NE(track_block(d, n).find("<state>empty"), std::string::npos) << d;
}

TEST_F(NetTest, RecordingStartedAndClosedWithRecDubShowsInTheStatus) {
  start();
  open_client();
  client.play_sine(440, 0.25f);
  peer.send("<command>Rec/Dub</command>");
  ASSERT_TRUE(wait_track_shows(1, "<state>recording")) << status_document();
  pass(sample_rate * 6 / 10);  // 0.6 s of server time
  // The second press closes the loop and overdubbing starts.
  peer.send("<command>Rec/Dub</command>");
  ASSERT_TRUE(wait_track_shows(1, "<state>overdubbing")) << status_document();
  // A third press ends the overdub: the track plays, and the document shows its length in
  // seconds and unpadded milliseconds of the frame count the compact status gives.
  peer.send("<command>Rec/Dub</command>");
  ASSERT_TRUE(wait_track_shows(1, "<state>playing")) << status_document();
  const std::string b = track_block(status_document(), 1);
  const auto compact = ask("<query>status compact", std::string("\x00\x00\xBB\x80", 4));
  ASSERT_TRUE(compact);
  const auto* w = reinterpret_cast<const uint8_t*>(compact->data()) + 40;  // track 1 length
  const uint32_t frames = uint32_t(w[0]) << 24 | uint32_t(w[1]) << 16 | uint32_t(w[2]) << 8 | w[3];
  EXPECT_GT(frames, 0u);
  const std::string shown = "<length>" + std::to_string(frames / 48000) + "." +
                            std::to_string((frames / 48) % 1000) + "</length>";
  EXPECT_NE(b.find(shown), std::string::npos) << b << " wanted " << shown;
}

TEST_F(NetTest, FunctionListRoundTripsThroughSysexSixteenAndFourteen) {
  start();
  // Note 60 is list 256 + 60 = 316 = 0x02 0x3C in 14 bits; ids 12, 300, then the end.
  Bytes set = {0x02, 0x3C, 0x00, 0x0C, 0x02, 0x2C};
  for (int i = 2; i < 8; ++i) set.insert(set.end(), {0x7F, 0x7F});
  peer.send(host_message(16, set));
  const auto r = ask(host_message(14, {0x02, 0x3C, 1}), reply_prefix(15));
  ASSERT_TRUE(r);
  std::string want = reply_prefix(15) + std::string("\x02\x3C\x01", 3);
  for (size_t i = 2; i < set.size(); ++i) want.push_back(char(set[i]));
  want.push_back(char(0xF7));
  EXPECT_EQ(*r, want);
}

TEST_F(NetTest, ConfigurationDumpOfTheLastChunks) {
  start();
  // The record in memory matches the file once the saves after start-up have written it.
  std::string file;
  std::optional<std::string> r77;
  Bytes record(200);
  int n = 0;
  const auto dump_matches_file = [&] {
    file = dir.read(".zt4.config.1").value_or("");
    r77 = ask(host_message(20, {77}), reply_prefix(21));
    if (file.size() != 9972 || !r77 || r77->size() != 6u + 133 + 1) return false;
    n = unpack_8bit(reinterpret_cast<const uint8_t*>(r77->data()) + 6, 133, record.data());
    return n == 116 && std::string(record.begin(), record.begin() + n) == file.substr(77 * 128);
  };
  EXPECT_TRUE(wait_until(dump_matches_file, 10));
  ASSERT_EQ(file.size(), 9972u);
  ASSERT_TRUE(r77);
  ASSERT_EQ(r77->size(), 6u + 133 + 1);
  EXPECT_EQ(uint8_t((*r77)[5]), 77);
  ASSERT_EQ(n, 116);
  EXPECT_EQ(std::string(record.begin(), record.begin() + n), file.substr(77 * 128));

  const auto r78 = ask(host_message(20, {78}), reply_prefix(21));
  ASSERT_TRUE(r78);
  EXPECT_EQ(*r78, reply_prefix(21) + std::string("\x4E\xF7", 2));
}

TEST_F(NetTest, SysexStatusRequestFromMidiAnswersOnMidiAndUdp) {
  start();
  open_client();
  ASSERT_TRUE(ask("<query>id", "<id>"));  // the peer is known from here on
  client.clear_midi_received();
  const std::string request = host_message(2, {});
  client.send_midi(Bytes(request.begin(), request.end()));

  const auto udp = receive_reply(reply_prefix(2), 5);
  ASSERT_TRUE(udp);
  EXPECT_EQ(udp->size(), 120u);
  EXPECT_EQ(udp->substr(5, 2), std::string("\x08\x01", 2));
  EXPECT_EQ(uint8_t(udp->back()), 0xF7);

  Bytes midi;
  ASSERT_TRUE(client.wait_midi(
      [&](const Bytes& got) {
        const std::string s(got.begin(), got.end());
        const size_t at = s.find(reply_prefix(2));
        if (at == std::string::npos || s.size() < at + 120) return false;
        midi.assign(got.begin() + long(at), got.begin() + long(at) + 120);
        return true;
      },
      5));
  EXPECT_EQ(std::string(midi.begin(), midi.end()), *udp);
}

// The command-line client, run as a user would, reaching the looper through ZT4_PORT.
int run_tool(int port, const std::string& arguments, std::string& output) {
  return run_shell(tool_path("zt4-remote") + " " + arguments, output,
                   {"ZT4_PORT=" + std::to_string(port)});
}

TEST_F(NetTest, RemoteClientDrivesAndWatchesTheLooper) {
  start();
  const auto run_tool = [&](const std::string& arguments, std::string& output) {
    return zt4test::run_tool(udp_port, arguments, output);
  };
  std::string out;
  ASSERT_EQ(run_tool("id", out), 0) << out;
  EXPECT_EQ(out, "ZT4 Version V3.07\n");

  ASSERT_EQ(run_tool("'Select Track 3'", out), 0) << out;
  EXPECT_TRUE(wait_track_shows(3, "<selected>yes"));
  ASSERT_EQ(run_tool("status", out), 0) << out;
  EXPECT_NE(out.find("Track"), std::string::npos) << out;
  EXPECT_NE(out.find("*3"), std::string::npos) << out;
  EXPECT_NE(out.find(" 1     empty"), std::string::npos) << out;

  // A number of its own goes with the whole name before it; --raw sends a text unchecked.
  ASSERT_EQ(run_tool("'select track 1' 4", out), 0) << out;
  EXPECT_TRUE(wait_track_shows(4, "<selected>yes"));
  ASSERT_EQ(run_tool("'Track Level' -5", out), 0) << out;
  EXPECT_TRUE(wait_track_shows(4, "<level>-005</level>"));
  ASSERT_EQ(run_tool("--raw 'Select Track 2 x'", out), 0) << out;  // refused without --raw
  EXPECT_TRUE(wait_track_shows(2, "<selected>yes"));

  ASSERT_EQ(run_tool("map set note 60 12 81", out), 0) << out;
  EXPECT_EQ(out, "note 60: 12 81\n");
  ASSERT_EQ(run_tool("map clear note 60", out), 0) << out;
  EXPECT_EQ(out, "note 60: (empty)\n");
  EXPECT_EQ(run_tool("map set note 128 1", out), 2) << out;

  ASSERT_EQ(run_tool("log", out), 0) << out;  // drains what start-up printed
  ASSERT_EQ(run_tool("key s", out), 0) << out;
  ASSERT_TRUE(zt4->wait_for_output("ZT4 Looper statistics:", 5));
  ASSERT_EQ(run_tool("log", out), 0) << out;
  // The player's summary comes first, then the detail.
  const size_t health = out.find("Looper health:\n  Dropouts (xruns): ");
  const size_t detail = out.find("Detail:\nDirty ");
  const size_t statistics = out.find("ZT4 Looper statistics:");
  EXPECT_NE(health, std::string::npos) << out;
  EXPECT_LT(health, detail) << out;
  EXPECT_LT(detail, statistics) << out;
  for (const char* line :
       {"\n  CPU: ", "\n  Loop memory: ", "\n  Unsaved tracks: none\n", "\n  Disk: "}) {
    EXPECT_NE(out.find(line, health), std::string::npos) << line << "\n" << out;
  }
  // follow keeps printing until it is stopped.
  peer.send("<userinput>m");
  ASSERT_TRUE(zt4->wait_for_output("ZT4 Looper MIDI statistics:", 5));
  std::string followed;
  EXPECT_EQ(zt4test::run_tool(udp_port, "follow & sleep 2; kill $!", followed), 0);
  EXPECT_NE(followed.find("ZT4 Looper MIDI statistics:"), std::string::npos) << followed;

  ASSERT_EQ(run_tool("--help", out), 0);
  for (const char* word : {"status", "follow", "map get", "map set", "--host", "--timeout"}) {
    EXPECT_NE(out.find(word), std::string::npos) << word;
  }
}

TEST_F(NetTest, WatchRedrawsTheTableInPlaceUntilInterrupted) {
  start();
  peer.send("<command>Select Track 2</command>");
  ASSERT_TRUE(wait_track_shows(2, "<selected>yes"));
  Zt4Process watch(dir.path(), tool_path("zt4-remote"));
  ASSERT_TRUE(watch.start({"ZT4_PORT=" + std::to_string(udp_port)}, {"watch"}));
  // Each frame goes back up over the previous one (nine table lines and the closing line).
  ASSERT_TRUE(watch.wait_for_count("\x1b[10A", 2, 10)) << watch.output() << watch.errors();
  kill(watch.pid(), SIGINT);
  EXPECT_EQ(watch.wait_exit(5), 0);
  const std::string out = watch.output();
  EXPECT_NE(out.find("Track  State"), std::string::npos) << out;
  EXPECT_NE(out.find("*2     empty"), std::string::npos) << out;
  EXPECT_NE(out.find("Ctrl-C ends the watch"), std::string::npos) << out;
  EXPECT_EQ(watch.errors(), "");
}

TEST(NetClientTest, RemoteClientRefusesNamesAndIdsTheLooperDoesNotKnow) {
  UdpPeer silent;  // nothing is sent: the checks come first
  const struct {
    const char* arguments;
    int status;
    const char* output;
  } cases[] = {
      {"'Rec Dub'", 2,
       "zt4-remote: unknown function 'Rec Dub'; closest: Rec/Dub; zt4-remote functions lists "
       "them all\n"},
      {"Rec/Dubb", 2,
       "zt4-remote: unknown function 'Rec/Dubb'; closest: Rec/Dub; zt4-remote functions lists "
       "them all\n"},
      {"Stopp", 2,
       "zt4-remote: unknown function 'Stopp'; closest: Stop; zt4-remote functions lists them "
       "all\n"},
      {"Undoo", 2,
       "zt4-remote: unknown function 'Undoo'; closest: Undo; zt4-remote functions lists them "
       "all\n"},
      {"'Track Level' abc", 2,
       "zt4-remote: Track Level takes level 0 (full) to -96 dB, not 'abc'\n"},
      {"'Track Level' 90", 2, "zt4-remote: Track Level takes level 0 (full) to -96 dB, not '90'\n"},
      {"'Track Levelx'", 2,
       "zt4-remote: unknown function 'Track Levelx'; closest: Track Level, Track Level 0, Track "
       "Level -5, Track Level +5; zt4-remote functions lists them all\n"},
      {"'Select Track 33'", 2,
       "zt4-remote: unknown function 'Select Track 33'; closest: Select Track 3, Select Track 1, "
       "Select Track 2, Select Track 4, Select Track 5; zt4-remote functions lists them all\n"},

      {"stauts", 2,
       "zt4-remote: unknown function 'stauts'; closest: status; zt4-remote functions lists them "
       "all\n"},
      {"map set note 60 200", 2,
       "zt4-remote: no function has the id '200'; zt4-remote functions lists them\n"},
      {"--frobnicate status", 2,
       "zt4-remote: unknown option '--frobnicate'; zt4-remote --help lists the options\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(run_tool(silent.local_port(), c.arguments, out), c.status) << c.arguments;
    EXPECT_EQ(out, c.output);
  }
  EXPECT_FALSE(silent.receive(0.1).has_value());

  std::string help, long_help;
  ASSERT_EQ(run_tool(silent.local_port(), "-h", help), 0);
  ASSERT_EQ(run_tool(silent.local_port(), "--help", long_help), 0);
  EXPECT_EQ(help, long_help);
  for (const char* part : {"usage: zt4-remote", "functions", "watch", "Track Level N",
                           "0 (full) down to -96 dB", "--port PORT"}) {
    EXPECT_NE(help.find(part), std::string::npos) << part;
  }
  std::string listing;
  ASSERT_EQ(run_tool(silent.local_port(), "functions", listing), 0);
  EXPECT_NE(listing.find("   0  Rec/Dub           0 free"), std::string::npos) << listing;
  EXPECT_NE(listing.find("  81  Undo              -\n"), std::string::npos) << listing;
}

TEST(NetClientTest, RemoteClientReportsALooperThatDoesNotAnswer) {
  UdpPeer silent;  // a bound port where nothing answers
  std::string out;
  EXPECT_EQ(run_tool(silent.local_port(), "--host 127.0.0.1 status", out), 1);
  EXPECT_EQ(out, "zt4-remote: no answer from the looper at 127.0.0.1 port " +
                     std::to_string(silent.local_port()) + " within 1 s\n");
}

}  // namespace
}  // namespace zt4test
