// What a user meets first, against the real binary: the command line, a data directory that
// cannot be used, a second looper on a taken port and on the same JACK server, and the ready
// line that says where the looper can be reached.
#include <jack/jack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace zt4test {
namespace {

// Runs zt4 with the arguments in a fresh directory and waits for it to end by itself.
struct Ended {
  int status;
  std::string out, err;
  bool directory_untouched;
};

Ended run_to_end(const std::vector<std::string>& args) {
  TempDir dir;
  Zt4Process p(dir.path());
  EXPECT_TRUE(p.start({}, args));
  Ended e{p.wait_exit(20), p.output(), p.errors(), false};
  e.directory_untouched = std::filesystem::is_empty(dir.path());
  return e;
}

TEST(FirstStartTest, HelpAndVersionPrintAndEndWithoutTouchingAnything) {
  Ended e = run_to_end({"--help"});
  EXPECT_EQ(e.status, 0);
  EXPECT_EQ(e.out.rfind("usage: zt4 [OPTION]...\n", 0), 0u) << e.out;
  EXPECT_EQ(e.err, "");
  EXPECT_TRUE(e.directory_untouched);

  e = run_to_end({"-V"});
  EXPECT_EQ(e.status, 0);
  EXPECT_EQ(e.out, "ZT4 Version V3.07\n");
  EXPECT_TRUE(e.directory_untouched);
}

TEST(FirstStartTest, AWrongCommandLineEndsWithStatusTwoAndOneLine) {
  const struct {
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {{"--frobnicate"}, "zt4: unknown option '--frobnicate'; zt4 --help lists the options\n"},
      {{"-x"}, "zt4: unknown option '-x'; zt4 --help lists the options\n"},
      {{"--port", "99999"}, "zt4: the UDP port is a number from 0 to 65535, not '99999'\n"},
  };
  for (const auto& c : cases) {
    const Ended e = run_to_end(c.args);
    EXPECT_EQ(e.status, 2) << c.line;
    EXPECT_EQ(e.err, c.line);
    EXPECT_EQ(e.out, "");
    EXPECT_TRUE(e.directory_untouched);
  }
}

TEST(FirstStartTest, ADataDirectoryThatCannotBeWrittenStopsTheLooperBeforeJack) {
  TempDir dir;
  std::string locked = dir.path() + "/locked";
  if (geteuid() == 0) {
    locked = "/sys";  // read-only even for root
  } else {
    mkdir(locked.c_str(), 0555);
  }
  const Ended e = run_to_end({"--data-dir", locked});
  EXPECT_EQ(e.status, 1);
  // One line, and nothing from JACK: the client was never opened.
  EXPECT_EQ(e.err, "zt4: cannot write in the data directory " + locked +
                       ": Permission denied; choose another with --data-dir\n");
  EXPECT_EQ(e.out, "");
}

TEST(FirstStartTest, WithoutAServerTheLooperSaysHowToStartOne) {
  TempDir dir;
  Zt4Process zt4(dir.path());
  ASSERT_TRUE(zt4.start({"JACK_NO_START_SERVER=1"}, {"--server", "zt4-nobody-here"}));
  EXPECT_EQ(zt4.wait_exit(20), 1);
  const std::string err = zt4.errors();
  EXPECT_NE(err.find("Unable to connect to JACK server\n"
                     "Start a JACK server first: jackd -n zt4-nobody-here -d alsa -d hw:0 -r "
                     "48000 for a sound card, jackd -n zt4-nobody-here -d dummy -r 48000 without "
                     "one (scripts/run starts one by itself)\n"),
            std::string::npos)
      << err;
}

// The JACK library's auto-start stays off even where the environment does not turn it off (the
// harness does, for every other test): "JACK_NO_START_SERVER" alone removes the variable.
TEST(FirstStartTest, WithoutAServerTheLooperStartsNone) {
  TempDir dir;
  Zt4Process zt4(dir.path());
  ASSERT_TRUE(zt4.start({"JACK_NO_START_SERVER", "JACK_DEFAULT_SERVER=zt4-nobody-here"}));
  EXPECT_EQ(zt4.wait_exit(20), 1);
  const std::string out = zt4.output();
  const std::string err = zt4.errors();
  EXPECT_EQ(out.find("jackdmp"), std::string::npos) << out;  // a server's banner
  EXPECT_EQ(err.find("ALSA"), std::string::npos) << err;
  EXPECT_EQ(err.find("JACK server started"), std::string::npos) << err;
  EXPECT_NE(err.find("Unable to connect to JACK server\nStart a JACK server first: "),
            std::string::npos)
      << err;
}

// The names in a directory, sorted.
std::vector<std::string> names_in(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> connections_of(jack_client_t* c, const char* port) {
  std::vector<std::string> names;
  jack_port_t* p = jack_port_by_name(c, port);
  if (p == nullptr) return names;
  const char** list = jack_port_get_all_connections(c, p);
  for (int i = 0; list != nullptr && list[i] != nullptr; ++i) names.emplace_back(list[i]);
  if (list != nullptr) jack_free(list);
  return names;
}

using FirstStartLooperTest = Zt4Test;

TEST_F(FirstStartLooperTest, TheReadyLineNamesServerPortDirectoryAndKeys) {
  start_zt4();
  const std::string want = "ready: JACK server " + std::string(server_name()) + ", UDP port " +
                           std::to_string(udp_port) + ", data directory " + dir.path() +
                           "; keys: s statistics, m MIDI statistics, Ctrl-C quits\r\n";
  const std::string out = zt4->output();
  const size_t version = out.find("V3.07\r\n");
  ASSERT_NE(version, std::string::npos);
  EXPECT_EQ(out.find(want), version + 7) << out;
}

TEST_F(FirstStartLooperTest, ASecondLooperRunsWithoutRemoteAndLeavesTheFirstOnesMidiAlone) {
  start_zt4();
  TempDir second_dir;
  Zt4Process second(second_dir.path());
  ASSERT_TRUE(second.start({}, {"--port", std::to_string(udp_port)}));
  ASSERT_TRUE(second.wait_ready(30)) << second.output() << second.errors();
  const std::string out = second.output();
  EXPECT_NE(out.find("Bind failed\r\nUDP port " + std::to_string(udp_port) +
                     " is in use (is another looper running?)\r\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("ready: JACK server " + std::string(server_name()) +
                     ", remote control off (--port chooses another UDP port), data directory " +
                     second_dir.path()),
            std::string::npos)
      << out;
  EXPECT_NE(second.errors().find("unique name `ZT4-01' assigned"), std::string::npos);

  // A MIDI port registered after both loopers reaches each of them; by then each has dealt
  // with the other's ports, and connected none of them.
  // (The probe connects itself to the first looper's ports, so that one has nothing to print.)
  open_client();
  ASSERT_TRUE(second.wait_for_output("Connect zt4probe:midi_out to ZT4-01:MIDIIN\r\n"));
  ASSERT_TRUE(second.wait_for_output("Connect ZT4-01:MIDIOUT to zt4probe:midi_in\r\n"));
  EXPECT_EQ(zt4->output().find("ZT4-01"), std::string::npos) << zt4->output();
  EXPECT_EQ(second.output().find(" ZT4:"), std::string::npos) << second.output();
  jack_status_t status;
  jack_client_t* look = jack_client_open("zt4look", JackNoStartServer, &status);
  ASSERT_NE(look, nullptr);
  EXPECT_EQ(connections_of(look, "ZT4:MIDIOUT"), std::vector<std::string>{"zt4probe:midi_in"});
  EXPECT_EQ(connections_of(look, "ZT4-01:MIDIIN"), std::vector<std::string>{"zt4probe:midi_out"});
  jack_client_close(look);
}

TEST_F(FirstStartLooperTest, ASecondLooperOnTheSameDataDirectoryIsRefusedBeforeItTouchesIt) {
  start_zt4();
  // The first looper's files are all there once it has saved its configuration.
  ASSERT_TRUE(wait_until([&] { return dir.exists(".zt4.config.1"); }, 10));
  const std::vector<std::string> before = names_in(dir.path());
  const std::string lock = dir.read(".zt4.lock").value_or("");
  EXPECT_EQ(lock,
            "pid " + std::to_string(zt4->pid()) + " udp_port " + std::to_string(udp_port) + "\n");

  Zt4Process second(dir.path());
  ASSERT_TRUE(second.start({}, {"--port", "0", "--web", "127.0.0.1:0"}));
  EXPECT_EQ(second.wait_exit(20), 1);
  EXPECT_EQ(second.errors(), "zt4: the data directory " + dir.path() +
                                 " is in use by the looper "
                                 "with pid " +
                                 std::to_string(zt4->pid()) + " (UDP port " +
                                 std::to_string(udp_port) + "); choose another with --data-dir\n");
  EXPECT_EQ(second.output(), "");
  // Nothing of it is left: no client on the server, no new file or session, the first looper's
  // panel socket still its own.
  jack_status_t status;
  jack_client_t* look = jack_client_open("zt4look", JackNoStartServer, &status);
  ASSERT_NE(look, nullptr);
  const char** ports = jack_get_ports(look, "^ZT4-01:", nullptr, 0);
  EXPECT_EQ(ports, nullptr);
  if (ports != nullptr) jack_free(ports);
  jack_client_close(look);
  EXPECT_EQ(names_in(dir.path()), before);
  EXPECT_EQ(dir.read(".zt4.lock").value_or(""), lock);
  std::string out;
  EXPECT_EQ(run_shell(tool_path("zt4-panel") + " --dir " + dir.path() + " show", out), 0) << out;

  // However the holder ends, even killed, the directory is free again.
  kill(zt4->pid(), SIGKILL);
  EXPECT_EQ(zt4->wait_exit(10), 128 + SIGKILL);
  start_zt4();
}

}  // namespace
}  // namespace zt4test
