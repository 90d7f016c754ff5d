// The rig comes back as it was: port connections made with jack_connect, the tracks' levels, pans
// and feedbacks, and (with --resume) the tracks that were playing, across a restart of the real
// binary on the same data directory.
#include <jack/jack.h>

#include <string>
#include <vector>

#include "engine/track_load.h"
#include "storage/track_file.h"
#include "tests/support/harness.h"

namespace zt4test {
namespace {

// A track file of `frames` frames of a quiet square wave, as an archived take would load.
std::string track_file(int32_t frames) {
  uint8_t header[track_header_bytes];
  build_track_header(take_file_words(frames), header);
  std::string bytes(reinterpret_cast<const char*>(header), sizeof header);
  for (int32_t i = 0; i < frames; ++i) {
    const int32_t sample = (i / 100) % 2 != 0 ? 1 << 20 : -(1 << 20);
    const int32_t frame[2] = {sample, sample};
    bytes.append(reinterpret_cast<const char*>(frame), sizeof frame);
  }
  return bytes;
}

std::vector<std::string> connections_of(const char* port) {
  std::vector<std::string> names;
  jack_status_t status;
  jack_client_t* c = jack_client_open("zt4look", JackNoStartServer, &status);
  if (c == nullptr) return names;
  jack_port_t* p = jack_port_by_name(c, port);
  const char** list = p != nullptr ? jack_port_get_all_connections(c, p) : nullptr;
  for (int i = 0; list != nullptr && list[i] != nullptr; ++i) names.emplace_back(list[i]);
  if (list != nullptr) jack_free(list);
  jack_client_close(c);
  return names;
}

class RigTest : public Zt4Test {
 protected:
  void start(const std::vector<std::string>& args = {}) {
    zt4.emplace(dir.path());
    std::vector<std::string> line = {"--port", "0", "--web", "off"};
    line.insert(line.end(), args.begin(), args.end());
    ASSERT_TRUE(zt4->start({}, line));
    ASSERT_TRUE(zt4->wait_ready(30)) << zt4->output() << zt4->errors();
    udp_port = zt4->udp_port();
  }
  void stop() {
    zt4->stop();
    zt4.reset();
  }

  // Runs a shell command line on the test's JACK server and this looper's UDP port.
  void shell(const std::string& command) {
    std::string out;
    EXPECT_EQ(run_shell(command, out,
                        {"JACK_DEFAULT_SERVER=" + std::string(server_name()),
                         "ZT4_PORT=" + std::to_string(udp_port)}),
              0)
        << command << "\n"
        << out;
  }
  void remote(const std::string& words) { shell(tool_path("zt4-remote") + " " + words); }

  // Track n's field in the status document, once the tracks have loaded.
  std::string field(int n, const char* name) {
    UdpPeer udp;
    udp.aim(udp_port);
    return track_field(status_document(udp), n, name);
  }
  bool file_holds(const char* name, const std::string& text) {
    return dir.read(name).value_or("").find(text) != std::string::npos;
  }
};

TEST_F(RigTest, ConnectionsMixAndPlayingTracksComeBackAsTheyWere) {
  dir.write("track1.dat", track_file(48000));
  dir.write("track2.dat", track_file(24000));
  // A pedal that is not plugged in now: its saved connection stays saved.
  dir.write(".zt4.connections", "Connections:\n  ZT4:MIDIIN\n    pedal:out\n");
  start();
  ASSERT_TRUE(wait_until([&] { return field(2, "state") == "stopped"; }, 20)) << zt4->output();

  shell("jack_connect system:capture_1 ZT4:INL");
  shell("jack_connect ZT4:OUTL system:playback_1");
  remote("'Select Track 1'");
  remote("'Track Level' -10");
  remote("'Play Now'");
  remote("'Select Track 2'");
  remote("'Pan Center' 30");
  for (int i = 0; i < 5; ++i) remote("'Feedback -10%'");  // 100% down to 50%
  // Both files follow while the looper runs, so a crash loses nothing either.
  const std::string connections =
      "Connections:\n"
      "  ZT4:INL\n"
      "    system:capture_1\n"
      "  ZT4:OUTL\n"
      "    system:playback_1\n"
      "  ZT4:MIDIIN\n"
      "    pedal:out\n";
  EXPECT_TRUE(wait_until([&] { return dir.read(".zt4.connections") == connections; }, 10))
      << dir.read(".zt4.connections").value_or("(none)");
  EXPECT_TRUE(wait_until(
      [&] {
        return file_holds(".zt4.mixer",
                          "track 1 level -10 pan 0 feedback 100 playing\n"
                          "track 2 level 0 pan 30 feedback 50 stopped\n");
      },
      10))
      << dir.read(".zt4.mixer").value_or("(none)");
  // Changes of the last moment are saved as the looper quits.
  shell("jack_connect system:capture_2 ZT4:INR");
  remote("'Track Level' -3");
  ASSERT_TRUE(wait_until([&] { return field(2, "level") == "-003"; }, 5));
  stop();  // within the second the looper waits before it saves a change
  const std::string saved_connections =
      "Connections:\n"
      "  ZT4:INL\n"
      "    system:capture_1\n"
      "  ZT4:INR\n"
      "    system:capture_2\n"
      "  ZT4:OUTL\n"
      "    system:playback_1\n"
      "  ZT4:MIDIIN\n"
      "    pedal:out\n";
  EXPECT_EQ(dir.read(".zt4.connections"), saved_connections);

  struct Start {
    std::vector<std::string> args;
    const char* track_1;
    const char* line;
  } const starts[] = {
      {{"--resume"}, "playing", "Resumed: track 1 plays as it did\r\n"},
      // The file now says what the previous start left: track 1 playing.
      {{},
       "stopped",
       "Track 1 was playing: zt4 --resume or the menu's Resume Playing starts it again\r\n"},
  };
  for (const Start& s : starts) {
    SCOPED_TRACE(s.line);
    start(s.args);
    ASSERT_TRUE(zt4->wait_for_output(s.line, 20)) << zt4->output();
    EXPECT_EQ(field(1, "state"), s.track_1);
    EXPECT_EQ(field(1, "level"), "-010");
    EXPECT_EQ(field(2, "state"), "stopped");
    EXPECT_EQ(field(2, "level"), "-003");
    EXPECT_EQ(field(2, "pan"), "+030");
    EXPECT_EQ(field(2, "feedback"), "050");
    EXPECT_EQ(connections_of("ZT4:INL"), std::vector<std::string>{"system:capture_1"});
    EXPECT_EQ(connections_of("ZT4:INR"), std::vector<std::string>{"system:capture_2"});
    EXPECT_EQ(connections_of("ZT4:OUTL"), std::vector<std::string>{"system:playback_1"});
    stop();
  }
  EXPECT_EQ(dir.read(".zt4.connections"), saved_connections);
}

TEST_F(RigTest, ADamagedMixerFileIsRefusedInOneLineAndTheDefaultsAreUsed) {
  dir.write(".zt4.mixer",
            "ZT4 mixer settings 1\nresume on\ntrack 1 level -300 pan 0 feedback 100 playing\n");
  start({"--resume"});
  EXPECT_TRUE(zt4->wait_for_output(
      "Mixer settings file refused: level out of range, defaults used\r\n", 10))
      << zt4->output();
  EXPECT_EQ(field(1, "level"), "+000");
}

}  // namespace
}  // namespace zt4test
