// The web panel against the real binary: headless Chromium plays the page as a phone would
// (tests/integration/web_browser.py), and plain HTTP requests from a second loopback address
// show that a peer other than the trusted one needs the looper's token.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <regex>
#include <string>

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

  // One request from `source` to 127.0.0.1:port; returns the response's status code, or -1.
  int request(const char* source, const std::string& head) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    int status = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        send(fd, head.data(), head.size(), MSG_NOSIGNAL) == ssize_t(head.size())) {
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

TEST_F(WebItest, PhoneRecordsALoopAndSetsItsLevelThroughThePanelKeys) {
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
  const int status = run_shell("/usr/bin/python3 " ZT4_SOURCE_DIR
                               "/tests/integration/web_browser.py '" + url + "' '" + shots + "'",
                               out);
  EXPECT_EQ(status, 0) << out << zt4->output();
  EXPECT_NE(out.find("browser test passed"), std::string::npos) << out;
  std::cout << out;  // the measured figures, for the record
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

}  // namespace
}  // namespace zt4test
