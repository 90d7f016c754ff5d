// The OSC server against the real binary, with Debian's liblo tools as the client: oscsend records
// a loop, oscdump subscribed sees the track's states and a level set over UDP; bad datagrams and a
// flood of them leave the looper playing; a peer beyond loopback needs the token.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace zt4test {
namespace {

// OSC encoding for hand-made datagrams: strings padded with NULs to four bytes, big-endian numbers.
std::string padded(const std::string& text) {
  std::string out = text;
  out.push_back('\0');
  while (out.size() % 4 != 0) out.push_back('\0');
  return out;
}
std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string int_arg(int32_t v) { return be32(uint32_t(v)); }
std::string float_arg(float v) {
  uint32_t bits;
  memcpy(&bits, &v, sizeof bits);
  return be32(bits);
}
std::string message(const std::string& path, const std::string& types, const std::string& args) {
  return padded(path) + padded("," + types) + args;
}

// The string argument of a reply message at `path`, or "" when the reply is something else.
std::string reply_text(const std::optional<std::string>& reply, const std::string& path) {
  if (!reply || reply->compare(0, path.size() + 1, path + '\0') != 0) return "";
  const size_t types = padded(path).size();
  const size_t arg = types + padded(",s").size();
  if (reply->compare(types, 3, ",s\0", 3) != 0 || arg >= reply->size()) return "";
  return std::string(reply->c_str() + arg);
}

// A UDP socket bound to `source` (any port) that talks to 127.0.0.1's or `target`'s port.
class OscPeerSocket {
 public:
  explicit OscPeerSocket(const char* source = "127.0.0.1") {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0;
  }
  ~OscPeerSocket() { close(fd_); }
  bool bound() const { return bound_; }
  void aim(const char* address, int port) {
    to_ = sockaddr_in{};
    to_.sin_family = AF_INET;
    to_.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, address, &to_.sin_addr);
  }
  void send(const std::string& bytes) {
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to_), sizeof to_);
  }
  std::optional<std::string> receive(double timeout_s) {
    const long us = long(timeout_s * 1e6);
    timeval t{us / 1000000, us % 1000000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    char buffer[65536];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer, size_t(n));
  }
  // Sends bytes and returns the text of the /zt4/error reply ("" when none came).
  std::string error_for(const std::string& bytes) {
    send(bytes);
    return reply_text(receive(3), "/zt4/error");
  }
  // Drops whatever waits.
  void drain() {
    while (receive(0.05)) {}
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
  sockaddr_in to_{};
};

// A UDP port nobody uses now.
int free_udp_port() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t length = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  close(fd);
  return ntohs(a.sin_port);
}

// One of this machine's IPv4 addresses beyond loopback; "" when it has none.
std::string outside_address() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string found;
  for (ifaddrs* i = list; i != nullptr && found.empty(); i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
    if (strncmp(text, "127.", 4) != 0) found = text;
  }
  freeifaddrs(list);
  return found;
}

class OscItest : public Zt4Test {
 protected:
  // Starts the looper with OSC on `listen` (a free port) and returns the port it printed.
  void start_osc(const std::string& listen, const std::vector<std::string>& more = {}) {
    zt4.emplace(dir.path());
    std::vector<std::string> args = {"--port", "0", "--web", "127.0.0.1:0", "--osc", listen};
    args.insert(args.end(), more.begin(), more.end());
    ASSERT_TRUE(zt4->start({}, args));
    ASSERT_TRUE(zt4->wait_ready(30)) << zt4->output() << zt4->errors();
    udp_port = zt4->udp_port();
    udp.aim(udp_port);
    std::smatch match;
    const std::string out = zt4->output();
    ASSERT_TRUE(std::regex_search(out, match, std::regex("OSC: osc\\.udp://[^:]+:([0-9]+)/")))
        << out;
    osc_port = std::stoi(match[1]);
  }

  // oscsend ... to the looper; its exit status.
  int oscsend(const std::string& path_types_values) {
    std::string out;
    return run_shell("oscsend localhost " + std::to_string(osc_port) + " " + path_types_values,
                     out);
  }

  // oscdump on a free port, subscribed: returns once the full status arrived.
  void start_dump() {
    const int port = free_udp_port();
    dump.emplace(dir.path(), "/usr/bin/oscdump");
    ASSERT_TRUE(dump->start({}, {"-L", std::to_string(port)}));
    // oscdump may not listen yet when the first subscribe arrives: ask again until it shows.
    bool subscribed = false;
    for (int i = 0; i < 10 && !subscribed; ++i) {
      oscsend("/zt4/subscribe i " + std::to_string(port));
      subscribed = dump->wait_for_output("/zt4/display", 1);
    }
    ASSERT_TRUE(subscribed) << dump->output() << dump->errors();
  }

  std::string status(int track, const std::string& field) {
    return track_field(status_document(udp), track, field);
  }

  int osc_port = -1;
  UdpPeer udp;
  std::optional<Zt4Process> dump;
};

constexpr uint64_t second = 48000;

TEST_F(OscItest, OscsendRecordsALoopAndOscdumpSeesEverySource) {
  start_osc("127.0.0.1:0");
  open_client();
  client.play_sine(440, 0.5f);
  start_dump();
  const std::string state = "/zt4/track/1/state s ";
  EXPECT_TRUE(dump->wait_for_output(state + "\"empty\""));

  ASSERT_EQ(oscsend("/zt4/fn s Rec/Dub"), 0);
  EXPECT_TRUE(dump->wait_for_output(state + "\"recording\"")) << dump->output();
  pass(second);
  ASSERT_EQ(oscsend("/zt4/fn s Rec/Dub"), 0);
  EXPECT_TRUE(dump->wait_for_output(state + "\"overdubbing\"")) << dump->output();
  pass(second / 2);
  ASSERT_EQ(oscsend("/zt4/fn s Rec/Dub"), 0);
  EXPECT_TRUE(dump->wait_for_output(state + "\"playing\"")) << dump->output();
  EXPECT_EQ(status(1, "state"), "playing");
  EXPECT_NE(status(1, "length"), "0.0");  // a loop (its length depends on the server's cycles)

  // A level set over UDP, and one over OSC, reach the subscriber and the status document.
  udp.send("<command>Track Level -07</command>");
  EXPECT_TRUE(dump->wait_for_output("/zt4/track/1/level f -7.000000")) << dump->output();
  ASSERT_EQ(oscsend("/zt4/track/2/level f -12.4"), 0);
  EXPECT_TRUE(dump->wait_for_output("/zt4/track/2/level f -12.000000")) << dump->output();
  EXPECT_EQ(status(2, "level"), "-012");
  ASSERT_EQ(oscsend("/zt4/select i 3"), 0);
  EXPECT_TRUE(dump->wait_for_output("/zt4/selected i 3")) << dump->output();
  // Positions move while the loop plays.
  EXPECT_TRUE(dump->wait_for_count("/zt4/track/1/position", 10)) << dump->output();
}

TEST_F(OscItest, BadInputIsRefusedAndAFloodLeavesTheLoopPlaying) {
  start_osc("127.0.0.1:0");
  open_client();
  client.play_sine(440, 0.5f);
  udp.send("<command>Rec/Dub</command>");
  pass(second);
  udp.send("<command>Play/Stop</command>");
  ASSERT_TRUE(wait_until([&] { return status(1, "state") == "playing"; }, 10));

  OscPeerSocket peer;
  peer.aim("127.0.0.1", osc_port);
  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"random bytes", std::string("\x01\xff\x00zz", 5), "not an OSC message"},
      {"address without type tags", padded("/zt4/status"), ""},
      {"truncated argument", message("/zt4/select", "i", std::string("\0\0", 2)),
       "not an OSC message"},
      {"broken bundle", padded("#bundle") + std::string(8, '\0') + be32(400), "not an OSC message"},
      {"unknown address", message("/zt4/frobnicate", "", ""), "unknown address"},
      {"track 9", message("/zt4/track/9/level", "f", float_arg(-3)), "unknown address"},
      {"level as a string", message("/zt4/track/1/level", "s", padded("loud")),
       "level is 0 down to -96 (dB)"},
      {"level above full", message("/zt4/track/1/level", "f", float_arg(6)),
       "level is 0 down to -96 (dB)"},
      {"level not a number", message("/zt4/track/1/level", "f", float_arg(NAN)),
       "level is 0 down to -96 (dB)"},
      {"huge pan", message("/zt4/track/1/pan", "f", float_arg(1e30f)),
       "pan is -1 (left) to 1 (right)"},
      {"huge function id", message("/zt4/fn/id", "i", int_arg(2147483647)), "no such function"},
      {"unknown function", message("/zt4/fn", "s", padded("Rec/Dubb")), "no such function"},
      {"function number out of range",
       message("/zt4/fn", "si", padded("Quant Value 1") + int_arg(65)),
       "the number is outside what this function takes"},
      {"select 9", message("/zt4/select", "i", int_arg(9)),
       "select takes a track 1 to 8, or 0 for all tracks"},
      {"unknown key", message("/zt4/key", "i", int_arg(0x1234)), "no such key"},
      {"encoder 0", message("/zt4/enc", "i", int_arg(0)), "encoder steps are -16..16, not 0"},
  };
  for (const Case& c : cases) {
    const std::string error = peer.error_for(c.bytes);
    if (*c.reason == '\0') {
      EXPECT_FALSE(error.empty()) << c.what;
    } else {
      EXPECT_EQ(error, c.reason) << c.what;
    }
  }
  EXPECT_EQ(status(1, "level"), "+000");
  EXPECT_EQ(track_field(status_document(udp), 1, "selected"), "yes");

  // 100 000 datagrams as fast as the socket takes them, the bad ones above in turn.
  for (int i = 0; i < 100000; ++i) peer.send(cases[size_t(i) % cases.size()].bytes);
  udp.send("<query>id</query>");
  bool identified = false;  // status pushes to the remote peer may come first
  for (int i = 0; i < 20 && !identified; ++i) {
    const auto reply = udp.receive(5);
    identified = reply && reply->find("<id>ZT4 Version") != std::string::npos;
  }
  EXPECT_TRUE(identified);
  EXPECT_EQ(status(1, "state"), "playing");
  EXPECT_EQ(status(1, "level"), "+000");
  const auto out = client.record(second / 2);
  float peak = 0;
  for (const auto& [l, r] : out) peak = std::max(peak, std::fabs(l));
  EXPECT_GT(peak, 0.1f) << "the loop no longer plays";
  peer.drain();
  // Still answering afterwards.
  peer.send(message("/zt4/status", "", ""));
  const auto reply = peer.receive(3);
  ASSERT_TRUE(reply.has_value());
  EXPECT_NE(reply->find("/zt4/track/1/state"), std::string::npos);
}

TEST_F(OscItest, BeyondLoopbackAPeerNeedsTheToken) {
  const std::string outside = outside_address();
  if (outside.empty()) GTEST_SKIP() << "this machine has no address beyond loopback";
  start_osc("0.0.0.0:0");
  const std::string token = dir.read(".zt4.web-token").value_or("");
  ASSERT_EQ(token.size(), 32u) << zt4->output();
  EXPECT_NE(zt4->output().find("/zt4/hello s " + token), std::string::npos) << zt4->output();

  OscPeerSocket stranger(outside.c_str());
  ASSERT_TRUE(stranger.bound());
  stranger.aim(outside.c_str(), osc_port);
  EXPECT_EQ(stranger.error_for(message("/zt4/select", "i", int_arg(3))),
            "refused: send /zt4/hello with the looper's token first");
  EXPECT_EQ(stranger.error_for(message("/zt4/hello", "s", padded(std::string(32, '0')))),
            "wrong token");
  EXPECT_EQ(stranger.error_for(message("/zt4/status", "", "")),
            "refused: send /zt4/hello with the looper's token first");
  EXPECT_EQ(track_field(status_document(udp), 1, "selected"), "yes");

  stranger.send(message("/zt4/hello", "s", padded(token)));
  EXPECT_EQ(reply_text(stranger.receive(3), "/zt4/hello"), "ok");
  stranger.send(message("/zt4/select", "i", int_arg(3)));
  EXPECT_TRUE(
      wait_until([&] { return track_field(status_document(udp), 3, "selected") == "yes"; }, 5));

  // Loopback peers need no token.
  OscPeerSocket local;
  local.aim("127.0.0.1", osc_port);
  local.send(message("/zt4/status", "", ""));
  const auto reply = local.receive(3);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->compare(0, 7, "#bundle"), 0);
}

}  // namespace
}  // namespace zt4test
