// The process host against a real JACK dummy server: ports, start-up, exit paths, port
// connections, console keys and background clearing of the block pool.
#include <jack/jack.h>

#include <chrono>
#include <cstring>
#include <string>

#include "tests/support/harness.h"

namespace zt4test {
namespace {

std::vector<std::string> connections_of(jack_client_t* c, const char* port) {
  std::vector<std::string> names;
  jack_port_t* p = jack_port_by_name(c, port);
  if (p == nullptr) return names;
  const char** list = jack_port_get_all_connections(c, p);
  for (int i = 0; list != nullptr && list[i] != nullptr; ++i) names.emplace_back(list[i]);
  if (list != nullptr) jack_free(list);
  return names;
}

struct PlainClient {
  jack_client_t* c = nullptr;
  PlainClient() {
    jack_status_t status;
    c = jack_client_open("zt4look", JackNoStartServer, &status);
  }
  ~PlainClient() {
    if (c != nullptr) jack_client_close(c);
  }
};

// A MIDI controller plugged in: a client with a raw-MIDI input and output that connects nothing
// by itself.
struct MidiDevice {
  jack_client_t* c = nullptr;
  MidiDevice() {
    jack_status_t status;
    c = jack_client_open("pedal", JackNoStartServer, &status);
    if (c == nullptr) return;
    jack_port_register(c, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_port_register(c, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_activate(c);
  }
  ~MidiDevice() {
    if (c != nullptr) jack_client_close(c);
  }
};

using HostTest = Zt4Test;

TEST_F(HostTest, RegistersSixPortsAndPrintsStartupLinesInOrder) {
  start_zt4();
  PlainClient look;
  ASSERT_NE(look.c, nullptr);
  struct Want {
    const char* name;
    const char* type;
    int flags;
  } const want[] = {
      {"ZT4:INL", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput},
      {"ZT4:INR", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput},
      {"ZT4:OUTL", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput},
      {"ZT4:OUTR", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput},
      {"ZT4:MIDIIN", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput},
      {"ZT4:MIDIOUT", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput},
  };
  for (const auto& w : want) {
    jack_port_t* p = jack_port_by_name(look.c, w.name);
    ASSERT_NE(p, nullptr) << w.name;
    EXPECT_STREQ(jack_port_type(p), w.type) << w.name;
    EXPECT_TRUE(jack_port_flags(p) & w.flags) << w.name;
  }
  const char** all = jack_get_ports(look.c, "^ZT4:", nullptr, 0);
  int count = 0;
  while (all != nullptr && all[count] != nullptr) ++count;
  jack_free(all);
  EXPECT_EQ(count, 6);

  const std::string out = zt4->output();
  const char* lines[] = {"engine sample rate: 48000\r\n",
                         "Initializing 8192 audio blocks\r\n",
                         "wet_only: 0\r\n",
                         "mono_input_mode: 0\r\n",
                         "primary_gain: -2\r\n",
                         "V3.07\r\n"};
  size_t at = 0;
  for (const char* line : lines) {
    size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << out;
    at = found + strlen(line);
  }
}

TEST(HostNoServerTest, ExitsWithStatusOneWhenNoServerIsReachable) {
  TempDir dir;
  Zt4Process zt4(dir.path());
  ASSERT_TRUE(zt4.start({"JACK_DEFAULT_SERVER=zt4-nobody-here", "JACK_NO_START_SERVER=1"}));
  EXPECT_EQ(zt4.wait_exit(20), 1);
  const std::string err = zt4.errors();
  EXPECT_NE(err.find("jack_client_open() failed, status = 0x"), std::string::npos) << err;
  EXPECT_NE(err.find("Unable to connect to JACK server\nStart a JACK server first: jackd -d alsa"),
            std::string::npos)
      << err;
}

TEST_F(HostTest, ConnectionsFileConnectsOutputsAndInputs) {
  dir.write(".zt4.connections",
            "Connections:\n"
            "    system:playback_2\n"  // a peer before any port line is ignored
            "  ZT4:OUTL\n"
            "    system:playback_1\n"
            "  ZT4:INL\n"
            "    system:capture_1\n");
  start_zt4();
  ASSERT_TRUE(zt4->wait_for_output("Connect system:capture_1 to ZT4:INL\r\n"));
  EXPECT_NE(zt4->output().find("Connect ZT4:OUTL to system:playback_1\r\n"), std::string::npos);
  PlainClient look;
  EXPECT_EQ(connections_of(look.c, "ZT4:OUTL"), std::vector<std::string>{"system:playback_1"});
  EXPECT_EQ(connections_of(look.c, "ZT4:INL"), std::vector<std::string>{"system:capture_1"});
  EXPECT_TRUE(connections_of(look.c, "system:playback_2").empty());
}

TEST_F(HostTest, ConnectionsFileProblemsAreReportedOnce) {
  struct Case {
    const char* contents;  // nullptr: no file
    const char* message;
  } const cases[] = {
      // A fresh directory has none yet: that is no error.
      {nullptr, "No saved port connections yet: they are kept in .zt4.connections from now on\r\n"},
      {"", "Couldn't read from connections file.\r\n"},
      {"Connections: \n  ZT4:OUTL\n    system:playback_1\n",
       "Connections file lacks first line\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    TempDir d;
    if (c.contents != nullptr) d.write(".zt4.connections", c.contents);
    Zt4Process p(d.path());
    ASSERT_TRUE(p.start());
    ASSERT_TRUE(p.wait_for_output("V3.07"));
    EXPECT_NE(p.output().find(c.message), std::string::npos) << p.output();
    PlainClient look;
    EXPECT_TRUE(connections_of(look.c, "ZT4:OUTL").empty());
    p.stop();
  }
}

// The looper keeps the file up to date; one it refused is kept aside rather than lost.
TEST_F(HostTest, ARefusedConnectionsFileIsKeptAsideByTheFirstSave) {
  const std::string refused = "Connections: \n  ZT4:OUTL\n    system:playback_1\n";
  dir.write(".zt4.connections", refused);
  start_zt4();
  PlainClient look;
  ASSERT_EQ(jack_connect(look.c, "ZT4:OUTR", "system:playback_2"), 0);
  const std::string saved = "Connections:\n  ZT4:OUTR\n    system:playback_2\n";
  ASSERT_TRUE(wait_until([&] { return dir.read(".zt4.connections") == saved; }, 10))
      << zt4->output();
  EXPECT_EQ(dir.read(".zt4.connections.bad"), refused);
  EXPECT_TRUE(
      zt4->wait_for_output("The refused connections file is kept as .zt4.connections.bad\r\n"));
}

TEST_F(HostTest, MidiPortsAreConnectedBothWaysButNeverToThemselves) {
  start_zt4();
  MidiDevice pedal;  // registers pedal:in and pedal:out after ZT4 started
  ASSERT_NE(pedal.c, nullptr);
  ASSERT_TRUE(zt4->wait_for_output("Connect pedal:out to ZT4:MIDIIN\r\n"));
  ASSERT_TRUE(zt4->wait_for_output("Connect ZT4:MIDIOUT to pedal:in\r\n"));
  EXPECT_EQ(zt4->output().find("Connect ZT4:MIDIOUT to ZT4:"), std::string::npos);
  EXPECT_EQ(zt4->output().find("Connect ZT4:MIDIOUT to ZT4:MIDIIN"), std::string::npos);
  // The line is printed as the connection is asked for; the graph shows it a moment later.
  const std::vector<std::string> midiin{"ZT4:MIDIIN"};
  EXPECT_TRUE(wait_until([&] { return connections_of(pedal.c, "pedal:out") == midiin; }, 5))
      << zt4->output();
}

// The connections file and the connection of every MIDI port at the first tick both name the
// pedal: it is connected once, in one line.
TEST_F(HostTest, AMidiPortInTheConnectionsFileIsConnectedWithOneLine) {
  dir.write(".zt4.connections", "Connections:\n  ZT4:MIDIIN\n    pedal:out\n");
  MidiDevice pedal;
  ASSERT_NE(pedal.c, nullptr);
  start_zt4();
  ASSERT_TRUE(zt4->wait_for_output("Connect ZT4:MIDIOUT to pedal:in\r\n"));  // the first tick's
  EXPECT_TRUE(zt4->wait_for_count("Connect pedal:out to ZT4:MIDIIN\r\n", 1));
  zt4->send_console("m");  // a round of the main loop after the first tick
  ASSERT_TRUE(zt4->wait_for_output("ZT4 Looper MIDI statistics"));
  EXPECT_FALSE(zt4->wait_for_count("Connect pedal:out to ZT4:MIDIIN\r\n", 2, 0.5)) << zt4->output();
}

TEST_F(HostTest, ConsoleKeysPrintTheReports) {
  start_zt4();
  zt4->send_console("x");
  zt4->send_console("s");
  ASSERT_TRUE(zt4->wait_for_output("ZT4 Looper statistics:\r\n"));
  const std::string out = zt4->output();
  const size_t pool_line = out.find("Undo blocks 181\r\n");
  ASSERT_NE(pool_line, std::string::npos);
  EXPECT_LT(pool_line, out.find("ZT4 Looper statistics:\r\n"));
  zt4->send_console("m");
  EXPECT_TRUE(zt4->wait_for_output("ZT4 Looper MIDI statistics:\r\n"));
}

TEST_F(HostTest, PoolIsClearedInTheBackgroundAfterStartup) {
  const auto started = std::chrono::steady_clock::now();
  start_zt4();
  int asks = 0;
  const bool cleared = wait_until(
      [&] {
        zt4->send_console("s");
        ++asks;
        // Every block but the 352 of the capture ring (60 s of input) is free.
        return zt4->wait_for_count("Dirty 0, Free 7840, Max 8192, Undo blocks 181\r\n", 1, 0.2);
      },
      60);
  ASSERT_TRUE(cleared) << zt4->output();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  RecordProperty("pool_clear_seconds", std::to_string(seconds));
  std::printf("pool cleared %.2f s after start (%d reports)\n", seconds, asks);
}

}  // namespace
}  // namespace zt4test
