// The README's first hour, as a new user would go through it: scripts/run builds the release
// directory and starts the looper on the test's JACK server; then every zt4-remote line of the
// README runs verbatim, from build/release, while a JACK client plays into the looper's inputs.
// A few lines are followed by checks of what they should have done.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace zt4test {
namespace {

constexpr uint8_t note_rec_dub = 60;       // as the README maps it
constexpr uint64_t settle_frames = 24000;  // half a second of audio between two presses

// Every line of the README's code blocks that runs zt4-remote, with its comment removed.
std::vector<std::string> readme_remote_lines() {
  std::ifstream f(std::string(ZT4_SOURCE_DIR) + "/README.md");
  std::vector<std::string> lines;
  bool in_block = false;
  for (std::string line; std::getline(f, line);) {
    if (line.rfind("```", 0) == 0) {
      in_block = !in_block;
      continue;
    }
    // A command, not a line of its output ("zt4-remote: unknown function ...").
    if (!in_block || (line.rfind("zt4-remote ", 0) != 0 && line != "zt4-remote")) continue;
    // The comment starts at the first '#' outside quotes.
    bool quoted = false;
    size_t end = line.size();
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '\'') quoted = !quoted;
      if (line[i] == '#' && !quoted) {
        end = i;
        break;
      }
    }
    line.resize(end);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The state and level words of track n (1-8) in a status table, "" when the table lacks it.
struct TrackRow {
  std::string state;
  int level = 0;
  bool selected = false;
};
TrackRow track_row(const std::string& table, int n) {
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 2 || line[1] - '0' != n || line[2] != ' ') continue;
    std::istringstream words(line.substr(1));
    TrackRow row;
    int track;
    double length, position;
    words >> track >> row.state >> length >> position >> row.level;
    row.selected = line[0] == '*';
    return row;
  }
  return {};
}

class ReadmeTest : public Zt4Test {
 protected:
  // Lets the server run `frames` more frames.
  std::string status_table() {
    std::string out;
    run_shell("zt4-remote status", out, environment);
    return out;
  }
  bool wait_track_state(int n, const std::string& state, double timeout_s) {
    return wait_until([&] { return track_row(status_table(), n).state == state; }, timeout_s);
  }
  // Presses the pedal's note until track n shows the state. On a busy machine the JACK server
  // can drop a period's MIDI for a late client; a player would press again, and so does this.
  bool press_until(uint8_t note, int n, const std::string& state) {
    constexpr int attempts = 3;
    for (int i = 0; i < attempts; ++i) {
      client.send_midi({0x90, note, 100});
      client.send_midi({0x80, note, 0});
      if (wait_track_state(n, state, 3)) return true;
    }
    return false;
  }
  std::vector<std::string> environment;
};

TEST_F(ReadmeTest, RemoteCommandsRunVerbatimAgainstTheLooperScriptsRunStarts) {
  const std::vector<std::string> lines = readme_remote_lines();
  ASSERT_GE(lines.size(), 10u);

  const std::string release = std::string(ZT4_SOURCE_DIR) + "/build/release";
  Zt4Process run(dir.path(), std::string(ZT4_SOURCE_DIR) + "/scripts/run");
  ASSERT_TRUE(run.start(
      {}, {"--server", server_name(), "--port", "0", "--data-dir", dir.path() + "/data"}));
  // The first run builds the release directory, which takes minutes on a small machine.
  ASSERT_TRUE(run.wait_ready(3000)) << run.output() << run.errors();
  const int port = run.udp_port();
  ASSERT_GT(port, 0) << run.output();
  environment = {"ZT4_PORT=" + std::to_string(port),
                 "PATH=" + release + ":" + std::string(getenv("PATH"))};
  open_client();
  client.play_sine(440, 0.25f);

  int statuses = 0, checks = 0;
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    std::string command = line;
    const size_t host = command.find("--host ");
    if (host != std::string::npos) {  // the README's example address stands for this machine
      const size_t address = host + 7;
      command.replace(address, command.find(' ', address) - address, "127.0.0.1");
    }
    const bool endless = line == "zt4-remote follow" || line == "zt4-remote watch";
    if (endless) command = "timeout -s INT 2 " + command;
    std::string out;
    const int status = run_shell(command, out, environment);
    EXPECT_EQ(status, endless ? 124 : 0) << out;  // timeout ends the endless ones
    pass(settle_frames);

    if (line == "zt4-remote status" && ++statuses == 1) {
      // The first loop: recorded, overdubbed, undone, and 10 dB quieter.
      const TrackRow row = track_row(out, 1);
      EXPECT_EQ(row.state, "playing") << out;
      EXPECT_EQ(row.level, -10) << out;
      ++checks;
    } else if (line == "zt4-remote status" && statuses == 2) {
      EXPECT_TRUE(track_row(out, 3).selected) << out;
      ++checks;
    } else if (line == "zt4-remote map get note 60") {
      EXPECT_EQ(out, "note 60: 0\n");
      // The pedal's note runs Rec/Dub: overdubbing on the playing track, then playing again.
      EXPECT_TRUE(press_until(note_rec_dub, 1, "overdubbing")) << status_table() << run.output();
      EXPECT_TRUE(press_until(note_rec_dub, 1, "playing")) << status_table() << run.output();
      ++checks;
    } else if (line == "zt4-remote functions") {
      EXPECT_NE(out.find("   0  Rec/Dub"), std::string::npos) << out;
      ++checks;
    }
  }
  EXPECT_EQ(checks, 4) << "the README's walk-throughs changed: update the checks";
}

}  // namespace
}  // namespace zt4test
