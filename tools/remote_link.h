// zt4-remote's link to the looper: one connected UDP socket to the looper's control port,
// requests out and replies in, with a time-out. Single-threaded command-line client.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr double default_timeout_s = 1.0;
constexpr int exit_no_answer = 1;
constexpr int exit_usage = 2;

struct Remote {
  int fd = -1;
  double timeout_s = default_timeout_s;
  std::string host = "127.0.0.1";
  int port = 0;  // set from --port, ZT4_PORT or the looper's default
};

// Seconds on the monotonic clock.
double now_s();

// Resolves the host and connects the socket; prints why on failure.
bool open_remote(Remote& r);

void send_bytes(const Remote& r, const std::vector<uint8_t>& bytes);
void send_text(const Remote& r, const std::string& text);

// Waits up to r.timeout_s for a datagram that begins with prefix; other traffic (the looper also
// reports MIDI input and pad lights to its last peer) is skipped.
bool receive(const Remote& r, const std::vector<uint8_t>& prefix, std::vector<uint8_t>& out);
std::vector<uint8_t> bytes_of(const char* text);

// Prints that the looper did not answer and returns exit_no_answer.
int no_answer(const Remote& r);

// Asks for the version; the looper's answer proves it is there.
bool query_id(const Remote& r, std::string& id);
