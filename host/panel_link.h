// The virtual front panel's link: a local datagram socket (".zt4.panel" in the working directory)
// through which a panel program such as zt4-panel presses keys and turns the encoder, and gets
// the display's line records: the two current ones on request, and each changed one while it is
// subscribed. It plays the part of the panel reader and the display transmitter. Main thread
// (the idle tick's input service) only; every socket call is non-blocking.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstdint>

#include "panel/display.h"

constexpr char panel_socket_name[] = ".zt4.panel";

// Datagrams to the looper; the first byte says what it is.
constexpr uint8_t panel_message_key = 'K';        // + the scan code, 16-bit little-endian
constexpr uint8_t panel_message_encoder = 'E';    // + a signed 8-bit step count
constexpr uint8_t panel_message_lines = 'L';      // reply: both line records
constexpr uint8_t panel_message_subscribe = 'S';  // reply: both records, then each change
constexpr uint8_t panel_message_unsubscribe = 'U';
// Datagrams from the looper: bytes 0..22 of a line record (the line number is byte 5, the 16
// characters bytes 7..22).

constexpr int panel_subscriber_max = 4;

struct PanelSubscriber {
  sockaddr_un address;
  socklen_t length;  // 0: free
};

struct PanelLink {
  int socket = -1;
  PanelSubscriber subscribers[panel_subscriber_max] = {};
  uint8_t sent[display_line_count][line_record_sent] = {};  // what the subscribers last got
};

extern PanelLink panel_link;

// Creates the socket at path (replacing a stale one). Returns 0, or -1 with a console message;
// the looper then runs without the virtual panel.
int panel_link_open(const char* path);
// Reads waiting datagrams: answers requests and hands at most one key or encoder event to the
// panel input, and only once the previous one has been taken, so every event gets its own poll.
void panel_link_receive();
// Sends each line record that differs from what the subscribers last got.
void panel_link_transmit();
// Closes the socket and removes its file (tests).
void panel_link_close(const char* path);
