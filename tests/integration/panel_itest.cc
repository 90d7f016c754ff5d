// The front panel against the real binary: zt4-panel played in a terminal (tmux) and from a
// shell, and a text command over UDP that opens value entry for the panel's encoder.
#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace zt4test {
namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

class PanelItest : public Zt4Test {
 protected:
  std::string socket_path() { return dir.file(".zt4.panel"); }
  std::string panel(const std::string& arguments) {
    return tool_path("zt4-panel") + " --socket " + socket_path() + " " + arguments;
  }

  // Starts the looper and waits for its panel socket and its UDP server.
  void start() {
    start_zt4();
    peer.aim(udp_port);
    ASSERT_TRUE(wait_until([&] { return dir.exists(".zt4.panel"); }, 10)) << zt4->output();
    ASSERT_TRUE(wait_until(
        [&] {
          peer.send("<query>id");
          return receive_reply("<id>", 0.2).has_value();
        },
        10))
        << zt4->output();
  }

  std::optional<std::string> receive_reply(const std::string& prefix, double timeout_s) {
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

  // The <level> of track n in the status document.
  std::string level_of_track(int n) {
    peer.send("<query>status");
    const std::string doc = receive_reply("<status>", 3).value_or("");
    const size_t at = doc.find("<track" + std::to_string(n) + ">");
    if (at == std::string::npos) return "";
    const size_t open = doc.find("<level>", at), close = doc.find("</level>", at);
    if (open == std::string::npos || close == std::string::npos) return "";
    return doc.substr(open + 7, close - open - 7);
  }

  UdpPeer peer;
};

// The two display lines drawn by the interactive zt4-panel: the rows between "|" borders.
std::vector<std::string> screen_lines(const std::string& screen) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < screen.size()) {
    size_t end = screen.find('\n', start);
    if (end == std::string::npos) end = screen.size();
    const std::string row = screen.substr(start, end - start);
    const size_t first = row.find("  |");
    const size_t last = row.rfind('|');
    if (first == 0 && last > first + 2) lines.push_back(row.substr(first + 3, last - first - 3));
    start = end + 1;
  }
  return lines;
}

std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

TEST_F(PanelItest, TerminalPanelSetsATrackLevel) {
  std::string out;
  ASSERT_EQ(run_shell("tmux -V", out), 0) << "tmux is missing (scripts/deps installs it): " << out;
  start();
  const std::string tmux = "tmux -S " + quoted(dir.file("tmux.sock")) + " ";
  ASSERT_EQ(run_shell(tmux + "new-session -d -s panel -x 100 -y 30 " + quoted(panel("")), out), 0)
      << out;
  std::vector<std::string> lines;
  const auto shows = [&](const std::string& first, const std::string& second) {
    return wait_until(
        [&] {
          if (run_shell(tmux + "capture-pane -p -t panel", out) != 0) return false;
          lines = screen_lines(out);
          return lines.size() == 2 && trimmed(lines[0]).find(first) != std::string::npos &&
                 (second.empty() || trimmed(lines[1]) == second);
        },
        10);
  };
  const auto keys = [&](const std::string& key, int times) {
    for (int i = 0; i < times; ++i)
      ASSERT_EQ(run_shell(tmux + "send-keys -t panel " + key, out), 0);
  };
  EXPECT_TRUE(shows("Brindlewhorl ZT4", "")) << out;
  keys("2", 1);  // track key 2
  EXPECT_TRUE(shows("Track 2", "+000 100% 1.00 F")) << out;
  // The screen explains the fields of that line under its key map.
  for (const char* legend : {"-010       the track's level in dB", "100%       feedback",
                             "1.00       speed", "F          direction: F forward, R reverse"}) {
    EXPECT_NE(out.find(legend), std::string::npos) << legend << "\n" << out;
  }
  keys("Right", 12);  // the encoder, to the twelfth item
  EXPECT_TRUE(shows("Track 2", "Level")) << out;
  keys("Enter", 1);  // select
  EXPECT_TRUE(shows("Track 2 Level", "0")) << out;
  keys("-", 3);
  keys("Left", 2);
  EXPECT_TRUE(shows("Track 2 Level", "-5")) << out;
  EXPECT_EQ(level_of_track(2), "-005");
  EXPECT_EQ(level_of_track(1), "+000");
  run_shell(tmux + "kill-server", out);
}

TEST_F(PanelItest, TrackLevelTextCommandOpensValueEntryForTheEncoder) {
  start();
  peer.send("<command>Track Level</command>");
  std::string out;
  ASSERT_TRUE(wait_until(
      [&] {
        return run_shell(panel("show"), out) == 0 && out.compare(0, 13, "Track 1 Level") == 0;
      },
      10))
      << out;
  ASSERT_EQ(run_shell(panel("press enc-*3 enc+ enc-"), out), 0) << out;
  EXPECT_EQ(out, "Track 1 Level   \n-3              \n");
  EXPECT_EQ(level_of_track(1), "-003");
  ASSERT_EQ(run_shell(panel("press select"), out), 0) << out;
  EXPECT_EQ(out.substr(0, 16), "Brindlewhorl ZT4");
  EXPECT_EQ(level_of_track(1), "-003");
}

TEST_F(PanelItest, PanelToolReportsUsageAndAMissingLooper) {
  std::string out;
  EXPECT_EQ(run_shell(panel("press nonsense"), out), 2) << out;
  EXPECT_NE(out.find("unknown key nonsense"), std::string::npos) << out;
  EXPECT_EQ(run_shell(panel("show"), out), 1) << out;
  EXPECT_NE(out.find("no answer"), std::string::npos) << out;
  ASSERT_EQ(run_shell(tool_path("zt4-panel") + " --help", out), 0);
  for (const char* word :
       {"show", "press", "track1", "enc+", "--socket", "--dir", "Space p    Play/Stop",
        "\"-010 100% 1.00 F\"", "level in dB", "feedback: the share", "speed: 1.00 normal",
        "F forward, R reverse", "the loop is saved"}) {
    EXPECT_NE(out.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace zt4test
