#include "host/command_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// What parse_command_line made of a command line; "(none)" for a setting left unset.
struct Parsed {
  CommandLineAction action;
  std::string data_dir;
  int udp_port;
  std::string server;
  std::string web, web_local;
  std::string osc, osc_allow;  // the addresses let in, joined by spaces
  int capture_seconds;
  std::string latency_extra;  // "(none)" when not given
  bool compensation;
  std::string out, err;
  int transport;
  bool transport_force;
};

// Parses words as the command line after "zt4", with the environment variables given set.
Parsed parse(std::vector<std::string> words,
             const std::vector<std::pair<const char*, const char*>>& environment = {}) {
  for (const char* name : {"ZT4_DATA", "ZT4_PORT", "JACK_DEFAULT_SERVER"}) unsetenv(name);
  for (const auto& [name, value] : environment) setenv(name, value, 1);
  words.insert(words.begin(), "zt4");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  char *out_text = nullptr, *err_text = nullptr;
  size_t out_size = 0, err_size = 0;
  FILE* out = open_memstream(&out_text, &out_size);
  FILE* err = open_memstream(&err_text, &err_size);
  CommandLine line;
  Parsed p;
  p.action = parse_command_line(int(words.size()), argv.data(), line, out, err);
  fclose(out);
  fclose(err);
  p.out.assign(out_text, out_size);
  p.err.assign(err_text, err_size);
  free(out_text);
  free(err_text);
  p.data_dir = line.data_dir != nullptr ? line.data_dir : "(none)";
  p.udp_port = line.udp_port;
  p.server = line.server_name != nullptr ? line.server_name : "(none)";
  p.web = line.web_listen != nullptr ? line.web_listen : "(none)";
  p.web_local = line.web_local != nullptr ? line.web_local : "(none)";
  p.osc = line.osc_listen != nullptr ? line.osc_listen : "(none)";
  for (int i = 0; i < line.osc_allow_count; ++i)
    p.osc_allow += (i > 0 ? " " : "") + std::string(line.osc_allow[i]);
  p.capture_seconds = line.capture_seconds;
  p.latency_extra = line.latency.has_extra ? std::to_string(line.latency.extra) : "(none)";
  p.compensation = line.latency.compensation;
  p.transport = line.transport;
  p.transport_force = line.transport_force;
  for (const char* name : {"ZT4_DATA", "ZT4_PORT", "JACK_DEFAULT_SERVER"}) unsetenv(name);
  return p;
}

TEST(CommandLine, OptionsInLongAndShortFormAndTheirDefaults) {
  Parsed p = parse({});
  EXPECT_EQ(p.action, CommandLineAction::run);
  EXPECT_EQ(p.data_dir, "(none)");
  EXPECT_EQ(p.udp_port, 5667);
  EXPECT_EQ(p.server, "(none)");

  p = parse({"--data-dir", "/srv/looper", "--port", "6000", "--server", "stage"});
  EXPECT_EQ(p.action, CommandLineAction::run);
  EXPECT_EQ(p.data_dir, "/srv/looper");
  EXPECT_EQ(p.udp_port, 6000);
  EXPECT_EQ(p.server, "stage");

  p = parse({"-d", "here", "-p0", "-s", "x", "--port=7"});
  EXPECT_EQ(p.action, CommandLineAction::run) << p.err;
  EXPECT_EQ(p.data_dir, "here");
  EXPECT_EQ(p.udp_port, 7);
  EXPECT_TRUE(p.out.empty() && p.err.empty());
}

TEST(CommandLine, TransportModeIsOffUnlessAsked) {
  const struct {
    std::vector<std::string> words;
    int mode;
    bool force;
  } cases[] = {
      {{}, 0, false},
      {{"--transport", "off"}, 0, false},
      {{"--transport", "follow"}, 1, false},
      {{"--transport=master"}, 2, false},
      {{"--transport", "master-force"}, 2, true},
  };
  for (const auto& c : cases) {
    const Parsed p = parse(c.words);
    EXPECT_EQ(p.action, CommandLineAction::run) << p.err;
    EXPECT_EQ(p.transport, c.mode);
    EXPECT_EQ(p.transport_force, c.force);
  }
}

TEST(CommandLine, TheEnvironmentFillsWhatTheOptionsLeave) {
  const std::vector<std::pair<const char*, const char*>> environment = {
      {"ZT4_DATA", "/var/zt4"}, {"ZT4_PORT", "6001"}, {"JACK_DEFAULT_SERVER", "studio"}};
  CommandLine line;
  Parsed p = parse({}, environment);
  EXPECT_EQ(p.data_dir, "/var/zt4");
  EXPECT_EQ(p.udp_port, 6001);
  EXPECT_EQ(p.server, "(none)");  // JACK reads its own variable
  p = parse({"-d", "/mine", "-p", "6002"}, environment);
  EXPECT_EQ(p.data_dir, "/mine");
  EXPECT_EQ(p.udp_port, 6002);

  setenv("JACK_DEFAULT_SERVER", "studio", 1);
  line.server_name = nullptr;
  EXPECT_STREQ(shown_server_name(line), "studio");
  unsetenv("JACK_DEFAULT_SERVER");
  EXPECT_STREQ(shown_server_name(line), "default");
  line.server_name = "stage";
  EXPECT_STREQ(shown_server_name(line), "stage");
}

TEST(CommandLine, HelpAndVersionPrintAndEnd) {
  for (const char* word : {"--help", "-h"}) {
    const Parsed p = parse({word, "--frobnicate"});
    EXPECT_EQ(p.action, CommandLineAction::exit_ok);
    for (const char* part : {"usage: zt4 [OPTION]...", "--data-dir DIR", "--port PORT",
                             "--server NAME", "--version", "s statistics, m MIDI statistics"}) {
      EXPECT_NE(p.out.find(part), std::string::npos) << part;
    }
  }
  for (const char* word : {"--version", "-V"}) {
    const Parsed p = parse({word});
    EXPECT_EQ(p.action, CommandLineAction::exit_ok);
    EXPECT_EQ(p.out, "ZT4 Version V3.07\n");
  }
}

TEST(CommandLine, WebPanelListensOnLoopbackUnlessToldOtherwise) {
  EXPECT_EQ(parse({}).web, "127.0.0.1:8080");
  EXPECT_EQ(parse({}).web_local, "(none)");
  EXPECT_EQ(parse({"--web", "off"}).web, "(none)");
  const Parsed p = parse({"-w", "0.0.0.0:9000", "--web-local", "127.0.0.1"});
  EXPECT_EQ(p.action, CommandLineAction::run);
  EXPECT_EQ(p.web, "0.0.0.0:9000");
  EXPECT_EQ(p.web_local, "127.0.0.1");
  EXPECT_EQ(parse({"--web", "[::]:0"}).web, "[::]:0");
}

TEST(CommandLine, OscAddressAndThePeersLetInWithoutTheToken) {
  EXPECT_EQ(parse({}).osc, "127.0.0.1:9951");
  EXPECT_EQ(parse({"--osc", "off"}).osc, "(none)");
  const Parsed p = parse(
      {"--osc", "0.0.0.0:9000", "--osc-allow", "192.168.1.30", "--osc-allow", "192.168.1.31"});
  EXPECT_EQ(p.action, CommandLineAction::run);
  EXPECT_EQ(p.osc, "0.0.0.0:9000");
  EXPECT_EQ(p.osc_allow, "192.168.1.30 192.168.1.31");
  std::vector<std::string> nine;
  for (int i = 0; i < 9; ++i)
    nine.insert(nine.end(), {"--osc-allow", "10.0.0." + std::to_string(i)});
  const Parsed too_many = parse(nine);
  EXPECT_EQ(too_many.action, CommandLineAction::exit_usage);
  EXPECT_EQ(too_many.err, "zt4: --osc-allow names 8 addresses at most\n");
  const Parsed wrong = parse({"--osc", "9951"});
  EXPECT_EQ(wrong.action, CommandLineAction::exit_usage);
  EXPECT_EQ(wrong.err, "zt4: the OSC address is ADDRESS:PORT or off, not '9951'\n");
}

TEST(CommandLine, LatencyExtraAndCompensation) {
  Parsed p = parse({});
  EXPECT_EQ(p.latency_extra, "(none)");  // the kept one, else 0
  EXPECT_TRUE(p.compensation);
  p = parse({"--latency-extra", "-35", "--no-latency-compensation"});
  EXPECT_EQ(p.action, CommandLineAction::run) << p.err;
  EXPECT_EQ(p.latency_extra, "-35");
  EXPECT_FALSE(p.compensation);
  EXPECT_EQ(parse({"--latency-extra=16000"}).latency_extra, "16000");
}

TEST(CommandLine, WrongCommandLinesSayWhatIsWrongInOneLine) {
  const struct {
    std::vector<std::string> words;
    const char* port;  // ZT4_PORT, or null
    const char* message;
  } cases[] = {
      {{"--frobnicate"},
       nullptr,
       "zt4: unknown option '--frobnicate'; zt4 --help lists the options\n"},
      {{"--frob=3"}, nullptr, "zt4: unknown option '--frob'; zt4 --help lists the options\n"},
      {{"-x"}, nullptr, "zt4: unknown option '-x'; zt4 --help lists the options\n"},
      {{"--port"}, nullptr, "zt4: option '--port' needs a value; zt4 --help lists the options\n"},
      {{"-d"}, nullptr, "zt4: option '-d' needs a value; zt4 --help lists the options\n"},
      {{"-p", "70000"}, nullptr, "zt4: the UDP port is a number from 0 to 65535, not '70000'\n"},
      {{"--port", "-1"}, nullptr, "zt4: the UDP port is a number from 0 to 65535, not '-1'\n"},
      {{"--port", "12ab"}, nullptr, "zt4: the UDP port is a number from 0 to 65535, not '12ab'\n"},
      {{}, "seven", "zt4: ZT4_PORT is a number from 0 to 65535, not 'seven'\n"},
      {{"/srv/looper"},
       nullptr,
       "zt4: unexpected argument '/srv/looper'; zt4 --help lists the options\n"},
      {{"-d", ""}, nullptr, "zt4: the data directory name is empty\n"},
      {{"--web", "8080"},
       nullptr,
       "zt4: the web panel's address is ADDRESS:PORT or off, not '8080'\n"},
      {{"-w", ":8080"},
       nullptr,
       "zt4: the web panel's address is ADDRESS:PORT or off, not ':8080'\n"},
      {{"--web", "0.0.0.0:99999"},
       nullptr,
       "zt4: the web panel's address is ADDRESS:PORT or off, not '0.0.0.0:99999'\n"},
      {{"--latency-extra", "20000"},
       nullptr,
       "zt4: the latency extra is a number of frames from -16000 to 16000, not '20000'\n"},
      {{"--latency-extra", "3ms"},
       nullptr,
       "zt4: the latency extra is a number of frames from -16000 to 16000, not '3ms'\n"},
      {{"--transport", "lead"},
       nullptr,
       "zt4: the transport mode is off, follow, master or master-force, not 'lead'\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::pair<const char*, const char*>> environment;
    if (c.port != nullptr) environment.push_back({"ZT4_PORT", c.port});
    const Parsed p = parse(c.words, environment);
    EXPECT_EQ(p.action, CommandLineAction::exit_usage) << c.message;
    EXPECT_EQ(p.err, c.message);
    EXPECT_TRUE(p.out.empty());
  }
}

TEST(CommandLine, CaptureSecondsFromZeroToTenMinutes) {
  EXPECT_EQ(parse({}).capture_seconds, 60);
  EXPECT_EQ(parse({"--capture-seconds", "0"}).capture_seconds, 0);
  EXPECT_EQ(parse({"--capture-seconds", "600"}).capture_seconds, 600);
  for (const char* bad : {"601", "-1", "ten", "", "5s"}) {
    const Parsed p = parse({"--capture-seconds", bad});
    EXPECT_EQ(p.action, CommandLineAction::exit_usage) << bad;
    EXPECT_EQ(p.err,
              std::string("zt4: the capture ring holds 0 to 600 seconds, not '") + bad + "'\n");
  }
}

}  // namespace
