// The UDP request handler: classifies one received datagram ("<query>", "<command>",
// "<userinput>", host SysEx, upgrade requests) and acts on it. Network thread; the fuzz target
// and tests call it directly with a reply sink in place of the socket.
#pragma once

#include <netinet/in.h>

#include <cstdint>

constexpr int datagram_max = 1999;  // longest datagram read; the rest of a longer one is lost
constexpr int upgrade_size_max = 1048575;
constexpr int log_query_max = 500;  // characters in one log reply

enum class DatagramKind {
  empty,
  upgrade_request,  // value: the image size, checked
  upgrade_bad,      // value: the size that was refused (0 when none could be read)
  query_id,
  query_status,
  query_status_compact,
  query_log,
  query_latency,
  command,          // text, text_length: the command text, 62 characters at most
  command_dropped,  // "<command>" without its closing tag within 62 characters
  user_input,       // value: the console byte
  host_sysex,
  other,
};

struct Datagram {
  DatagramKind kind;
  int32_t value;
  const char* text;
  int text_length;
};

// Pure: what the datagram asks for. Reads only bytes[0, length).
Datagram classify_datagram(const uint8_t* bytes, int length);

// Sends one reply to the sender of the datagram being handled.
using ReplySink = void (*)(void* context, const uint8_t* bytes, int length);

struct DatagramHooks {
  // Starts an upgrade of `size` bytes from the sender (upgrade_request, installed at start-up;
  // null: accepted requests do nothing).
  void (*upgrade_start)(int32_t size, const sockaddr_in& sender);
};
extern DatagramHooks datagram_hooks;

// Handles one datagram: records its sender as the peer (not for upgrade requests), answers
// queries through reply, queues commands, posts console input, and runs host SysEx messages
// while holding the main loop's lock, so that they never run beside the main loop's own work.
void handle_datagram(const uint8_t* bytes, int length, const sockaddr_in& sender, ReplySink reply,
                     void* context);
