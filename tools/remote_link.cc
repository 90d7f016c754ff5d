#include "tools/remote_link.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr int max_datagram = 2048;
}  // namespace

double now_s() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool open_remote(Remote& r) {
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(r.port);
  const int rc = getaddrinfo(r.host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0 || found == nullptr) {
    fprintf(stderr, "zt4-remote: cannot resolve %s: %s\n", r.host.c_str(), gai_strerror(rc));
    return false;
  }
  r.fd = socket(AF_INET, SOCK_DGRAM, 0);
  // Connected, so that only the looper's datagrams are received.
  const bool ok = r.fd >= 0 && connect(r.fd, found->ai_addr, found->ai_addrlen) == 0;
  freeaddrinfo(found);
  if (!ok) perror("zt4-remote: socket");
  return ok;
}

void send_bytes(const Remote& r, const std::vector<uint8_t>& bytes) {
  // A refusal reports an earlier datagram that found no looper; the wait for a reply says so.
  if (send(r.fd, bytes.data(), bytes.size(), 0) < 0 && errno != ECONNREFUSED) {
    perror("zt4-remote: send");
  }
}

void send_text(const Remote& r, const std::string& text) {
  send_bytes(r, std::vector<uint8_t>(text.begin(), text.end()));
}

bool receive(const Remote& r, const std::vector<uint8_t>& prefix, std::vector<uint8_t>& out) {
  const double deadline = now_s() + r.timeout_s;
  for (;;) {
    const double left = deadline - now_s();
    if (left <= 0) return false;
    pollfd p = {r.fd, POLLIN, 0};
    if (poll(&p, 1, int(left * 1000) + 1) <= 0) continue;
    uint8_t buffer[max_datagram];
    const ssize_t n = recv(r.fd, buffer, sizeof buffer, 0);
    if (n < 0) continue;  // a refused earlier datagram reports here; keep waiting
    if (size_t(n) >= prefix.size() && memcmp(buffer, prefix.data(), prefix.size()) == 0) {
      out.assign(buffer, buffer + n);
      return true;
    }
  }
}

std::vector<uint8_t> bytes_of(const char* text) {
  return std::vector<uint8_t>(text, text + strlen(text));
}

int no_answer(const Remote& r) {
  fprintf(stderr, "zt4-remote: no answer from the looper at %s port %d within %g s\n",
          r.host.c_str(), r.port, r.timeout_s);
  return exit_no_answer;
}

bool query_id(const Remote& r, std::string& id) {
  send_text(r, "<query>id");
  std::vector<uint8_t> reply;
  if (!receive(r, bytes_of("<id>"), reply)) return false;
  id.assign(reply.begin(), reply.end());
  if (!id.empty() && id.back() == '\0') id.pop_back();
  const size_t open = id.find('>'), close = id.rfind("</id>");
  if (open != std::string::npos && close != std::string::npos && close > open) {
    id = id.substr(open + 1, close - open - 1);
  }
  return true;
}
