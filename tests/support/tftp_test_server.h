// A one-transfer TFTP server on loopback for the upgrade tests: it may announce the upgrade
// itself (the looper fetches from the announcing address and port), waits for the read request,
// then sends each 512-byte block and waits for its ACK. Header only, so that unit tests use it
// without the integration harness. Test threads only.
#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace tftp_test {

struct Script {
  std::vector<uint8_t> image;  // what the server sends
  bool duplicate = false;      // every DATA packet but the last twice
  bool silent = false;         // receives the request and sends nothing
};

class Server {
 public:
  explicit Server(Script script) : script_(std::move(script)) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    address_.sin_family = AF_INET;
    address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address_), sizeof address_);
    socklen_t length = sizeof address_;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length);
    timeval timeout = {5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~Server() {
    join();
    close(fd_);
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  const sockaddr_in& address() const { return address_; }

  // Sends a datagram from the server's own socket to port on loopback (the upgrade request).
  void announce(const std::string& text, uint16_t port) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  // Serves one transfer on a thread of its own.
  void start() {
    thread_ = std::thread([this] { serve(); });
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

  // The read request received: read it once has_request() says so, or after join().
  std::vector<uint8_t> request;
  bool has_request() const { return got_request_.load(std::memory_order_acquire); }
  std::vector<int> acks;  // ACKs received per block (index: block - 1)

 private:
  void serve() {
    uint8_t packet[1024];
    sockaddr_in client = {};
    socklen_t length = sizeof client;
    for (;;) {
      const ssize_t n =
          recvfrom(fd_, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&client), &length);
      if (n <= 0) return;
      if (n >= 2 && packet[0] == 0 && packet[1] == 1) {
        request.assign(packet, packet + n);
        got_request_.store(true, std::memory_order_release);
        break;
      }
    }
    if (script_.silent) return;
    const size_t blocks = script_.image.size() / 512 + 1;
    acks.assign(blocks, 0);
    for (size_t b = 0; b < blocks; ++b) {
      const size_t at = b * 512;
      const size_t count = std::min<size_t>(512, script_.image.size() - at);
      std::vector<uint8_t> data = {0, 3, uint8_t((b + 1) >> 8), uint8_t(b + 1)};
      data.insert(data.end(), script_.image.begin() + long(at),
                  script_.image.begin() + long(at + count));
      const bool twice = script_.duplicate && b + 1 < blocks;
      for (int copy = 0; copy < (twice ? 2 : 1); ++copy) {
        sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&client), length);
        if (recv(fd_, packet, sizeof packet, 0) != 4) return;
        if (packet[1] == 4 && size_t(packet[2] << 8 | packet[3]) == b + 1) ++acks[b];
      }
    }
  }

  Script script_;
  std::atomic<bool> got_request_{false};
  int fd_ = -1;
  sockaddr_in address_ = {};
  std::thread thread_;
};

}  // namespace tftp_test
