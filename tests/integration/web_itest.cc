// The web panel against the real binary: headless Chromium plays the page as a phone would
// (tests/integration/web_browser.py), plain HTTP requests from a second loopback address show
// that a peer other than the trusted one needs the looper's token, and connections from there
// that trickle their requests hold up nobody else's page.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "tests/support/harness.h"

namespace zt4test {
namespace {

class WebItest : public Zt4Test {
 protected:
  // Starts the looper with the web panel on a free port and returns the address it printed.
  std::string start_web(const std::vector<std::string>& web_args) {
    zt4.emplace(dir.path());
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), web_args.begin(), web_args.end());
    EXPECT_TRUE(zt4->start({}, args));
    EXPECT_TRUE(zt4->wait_ready(30)) << zt4->output() << zt4->errors();
    std::smatch match;
    const std::string out = zt4->output();
    const std::regex address("Web panel: (http://[0-9.]+:([0-9]+)/(\\?token=([0-9a-f]+))?)");
    if (!std::regex_search(out, match, address)) {
      ADD_FAILURE() << "no web panel address: " << out;
      return "";
    }
    port = std::stoi(match[2]);
    token = match[4];
    return match[1];
  }

  // A connection from `source` to 127.0.0.1:port; -1 when it cannot be made.
  int connect_from(const char* source) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }

  // One request from `source`; returns the response's status code, or -1 when none came
  // within timeout_s.
  int request(const char* source, const std::string& head, double timeout_s = 5) {
    const int fd = connect_from(source);
    if (fd < 0) return -1;
    const long timeout_us = long(timeout_s * 1e6);
    timeval timeout{timeout_us / 1000000, timeout_us % 1000000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    int status = -1;
    if (send(fd, head.data(), head.size(), MSG_NOSIGNAL) == ssize_t(head.size())) {
      char reply[64] = {};
      const ssize_t n = recv(fd, reply, sizeof reply - 1, 0);
      if (n > 12 && strncmp(reply, "HTTP/1.1 ", 9) == 0) status = atoi(reply + 9);
    }
    close(fd);
    return status;
  }

  static std::string page(const std::string& query) {
    return "GET /" + query + " HTTP/1.1\r\nHost: looper\r\nConnection: close\r\n\r\n";
  }
  static std::string socket_upgrade(const std::string& query) {
    return "GET /socket" + query +
           " HTTP/1.1\r\nHost: looper\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  }

  int port = 0;
  std::string token;
};

// The page as a player's front panel (tests/integration/web_browser.py): a loop recorded, track 2's
// level fader dragged, settings changed through the menu lists, a note and a controller learnt
// from this client's MIDI, the drums started at a new tempo, bad messages refused, and the layout
// checked at three screen sizes. Then the looper itself is asked: the level through zt4-remote,
// the settings and mappings in the configuration file it saved.
TEST_F(WebItest, PhonePlaysTheLooperAsItsFrontPanel) {
  std::string out;
  ASSERT_EQ(run_shell("command -v chromium && /usr/bin/python3 -c 'import websocket'", out), 0)
      << "chromium or python3-websocket is missing (scripts/deps installs them): " << out;
  const std::string url = start_web({"--web", "127.0.0.1:0"});
  ASSERT_FALSE(url.empty());
  EXPECT_TRUE(token.empty()) << "a loopback-only panel needs no token";
  open_client();
  client.play_sine(440, 0.5f);
  const std::string binary = ZT4_BINARY;
  const std::string shots = binary.substr(0, binary.rfind('/')) + "/web-shots";
  // The MIDI a player sends once the page waits for it: note 60, then controller 7. A period the
  // looper misses on a loaded machine loses its MIDI, so each is sent again every 3 s until the
  // page has shown the mapping (it removes the flag then).
  for (const char* flag : {"/learn-note", "/learn-controller"}) unlink((shots + flag).c_str());
  std::atomic<bool> done{false};
  std::thread midi([&] {
    const auto send_while_flagged = [&](const char* name, const std::vector<uint8_t>& message) {
      const std::string flag = shots + "/" + name;
      const auto flagged = [&] { return access(flag.c_str(), F_OK) == 0; };
      if (!wait_until([&] { return done.load() || flagged(); }, 120) || done.load()) return false;
      for (int i = 0; i < 5 && flagged() && !done.load(); ++i) {
        client.send_midi(message);
        if (message[0] == 0x90) client.send_midi({0x80, message[1], 0});
        wait_until([&] { return done.load() || !flagged(); }, 3);
      }
      return true;
    };
    if (send_while_flagged("learn-note", {0x90, 60, 100})) {
      send_while_flagged("learn-controller", {0xB0, 7, 64});
    }
  });
  const int status =
      run_shell("/usr/bin/python3 " ZT4_SOURCE_DIR "/tests/integration/web_browser.py '" + url +
                    "' '" + shots + "'",
                out);
  done = true;
  midi.join();
  EXPECT_EQ(status, 0) << out << zt4->output();
  EXPECT_NE(out.find("browser test passed"), std::string::npos) << out;
  std::cout << out;  // the measured figures, for the record

  std::smatch level;
  ASSERT_TRUE(std::regex_search(out, level, std::regex("result: track 2 level (-?[0-9]+)"))) << out;
  std::string table;
  ASSERT_EQ(
      run_shell(tool_path("zt4-remote") + " --port " + std::to_string(zt4->udp_port()) + " status",
                table),
      0)
      << table;
  EXPECT_TRUE(std::regex_search(
      table, std::regex("\\n 2 +[a-z]+ +[0-9.]+ +[0-9.]+ +" + level[1].str() + " ")))
      << "track 2 at level " << level[1] << " in\n"
      << table;

  ConfigRecord saved{};
  EXPECT_TRUE(wait_until(
      [&] {
        const auto bytes = dir.read(config_file_name);
        if (!bytes || bytes->size() != sizeof saved) return false;
        memcpy(&saved, bytes->data(), sizeof saved);
        return saved.time_display == 1 && saved.rnd_restart_max == 9 && saved.cc_controller[7] == 4;
      },
      15))
      << "time display " << saved.time_display << ", rnd restart max " << saved.rnd_restart_max
      << ", controller 7 " << saved.cc_controller[7];
  EXPECT_EQ(saved.midi_lists[list_note_base + 60][0], -1) << "the deleted mapping is back";

  // The controller learnt for "Track 2 Volume" drives it: the top of its travel is full level.
  const auto track_2_level = [&] {
    run_shell(tool_path("zt4-remote") + " --port " + std::to_string(zt4->udp_port()) + " status",
              table);
    std::smatch m;
    return std::regex_search(table, m, std::regex("\\n 2 +[a-z]+ +[0-9.]+ +[0-9.]+ +(-?[0-9]+) "))
               ? std::stoi(m[1])
               : 1;
  };
  // Each value sent again every second until the level follows (a missed period loses MIDI; the
  // same value twice is one move).
  const auto move_to = [&](uint8_t value, const std::function<bool(int)>& reached) {
    for (int i = 0; i < 5; ++i) {
      client.send_midi({0xB0, 7, value});
      if (wait_until([&] { return reached(track_2_level()); }, 1)) return true;
    }
    return false;
  };
  EXPECT_TRUE(move_to(0, [](int level) { return level < -48; })) << table;
  EXPECT_TRUE(move_to(127, [](int level) { return level == 0; })) << table;
}

TEST_F(WebItest, PeerOtherThanTheTrustedOneNeedsTheToken) {
  ASSERT_FALSE(start_web({"--web", "127.0.0.1:0", "--web-local", "127.0.0.1"}).empty());
  ASSERT_EQ(token.size(), 32u) << zt4->output();
  EXPECT_EQ(dir.read(".zt4.web-token").value_or(""), token);
  EXPECT_EQ(request("127.0.0.1", page("")), 200);
  EXPECT_EQ(request("127.0.0.2", page("")), 403);
  EXPECT_EQ(request("127.0.0.2", page("?token=" + std::string(32, '0'))), 403);
  EXPECT_EQ(request("127.0.0.2", page("?token=" + token)), 200);
  EXPECT_NE(request("127.0.0.2", socket_upgrade("")), 101);
  EXPECT_EQ(request("127.0.0.2", socket_upgrade("?token=" + token)), 101);
  EXPECT_EQ(request("127.0.0.1", page("nothing-here")), 404);
  EXPECT_EQ(request("127.0.0.1", "POST / HTTP/1.1\r\nHost: looper\r\nContent-Length: 0\r\n\r\n"),
            405);
  // The token stays across a restart: the phone's bookmark still works.
  const std::string first = token;
  zt4->stop();
  ASSERT_FALSE(start_web({"--web", "127.0.0.1:0", "--web-local", "127.0.0.1"}).empty());
  EXPECT_EQ(token, first);
}

// Connections that send their requests a byte a second, as a phone on a bad link (or one that
// means harm) would, from a second loopback address: meanwhile another peer still loads the page
// and opens its socket at once. Before, twelve such connections took every request thread for
// the five seconds each was allowed, and the page waited.
TEST_F(WebItest, PeerThatTricklesItsRequestsHoldsUpNobodyElse) {
  ASSERT_FALSE(start_web({"--web", "127.0.0.1:0", "--web-local", "127.0.0.1"}).empty());
  constexpr int trickling = 24;
  // An answer at once takes milliseconds; each trickling connection used to keep its thread for
  // five seconds. The deadline lies between them, with room for a loaded machine.
  constexpr double served_within_s = 4;
  std::vector<int> slow;
  for (int i = 0; i < trickling; ++i) {
    const int fd = connect_from("127.0.0.2");
    ASSERT_GE(fd, 0) << "connection " << i;
    slow.push_back(fd);
  }
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    const std::string head = page("");
    for (size_t at = 0; at < head.size() && !stop.load(); ++at) {
      for (int fd : slow) send(fd, &head[at], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      wait_until([&] { return stop.load(); }, 1.0);  // one byte a second
    }
  });
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(request("127.0.0.1", page(""), served_within_s), 200);
  EXPECT_EQ(request("127.0.0.1", socket_upgrade(""), served_within_s), 101);
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  stop = true;
  trickle.join();
  for (int fd : slow) close(fd);
  printf("[ figures ] page and socket served in %.3f s beside %d trickling connections\n", took,
         trickling);
}

}  // namespace
}  // namespace zt4test
