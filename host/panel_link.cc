#include "host/panel_link.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/console.h"
#include "panel/input.h"

PanelLink panel_link;

namespace {

constexpr int request_max = 16;  // longest datagram read; the rest of a longer one is dropped

const uint8_t* record_of(int line) { return display.line_records[line]; }

bool send_record(const sockaddr_un& to, socklen_t length, int line) {
  const ssize_t n = sendto(panel_link.socket, record_of(line), line_record_sent, MSG_DONTWAIT,
                           reinterpret_cast<const sockaddr*>(&to), length);
  // A full receive buffer drops this record only; a vanished peer loses its subscription.
  return n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK;
}

PanelSubscriber* find_subscriber(const sockaddr_un& from, socklen_t length) {
  for (PanelSubscriber& s : panel_link.subscribers) {
    if (s.length == length && memcmp(&s.address, &from, length) == 0) return &s;
  }
  return nullptr;
}

void subscribe(const sockaddr_un& from, socklen_t length) {
  if (find_subscriber(from, length) != nullptr) return;
  for (PanelSubscriber& s : panel_link.subscribers) {
    if (s.length == 0) {
      s.address = from;
      s.length = length;
      return;
    }
  }
}

void unsubscribe(const sockaddr_un& from, socklen_t length) {
  if (PanelSubscriber* s = find_subscriber(from, length)) *s = PanelSubscriber{};
}

bool event_waiting() {
  return panel_input.key_mailbox.load() != 0 || panel_input.encoder_count.load() != 0;
}

}  // namespace

int panel_link_open(const char* path) {
  PanelLink& p = panel_link;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (strlen(path) >= sizeof address.sun_path) {
    console_printf("Panel socket path too long\n");
    return -1;
  }
  strcpy(address.sun_path, path);
  p.socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (p.socket < 0) {
    console_printf("Panel socket failed\n");
    return -1;
  }
  unlink(path);
  if (bind(p.socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    console_printf("Panel socket bind failed\n");
    close(p.socket);
    p.socket = -1;
    return -1;
  }
  return 0;
}

void panel_link_receive() {
  PanelLink& p = panel_link;
  if (p.socket < 0) return;
  while (!event_waiting()) {
    uint8_t message[request_max];
    sockaddr_un from{};
    socklen_t length = sizeof from;
    const ssize_t n = recvfrom(p.socket, message, sizeof message, MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &length);
    if (n <= 0) return;
    switch (message[0]) {
      case panel_message_key:
        if (n >= 3) panel_key_event(uint16_t(message[1] | (message[2] << 8)));
        break;
      case panel_message_encoder:
        if (n >= 2) panel_encoder_steps(int8_t(message[1]));
        break;
      case panel_message_subscribe: subscribe(from, length); [[fallthrough]];
      case panel_message_lines:
        for (int line = 0; line < display_line_count; ++line) send_record(from, length, line);
        break;
      case panel_message_unsubscribe: unsubscribe(from, length); break;
      default: break;
    }
  }
}

void panel_link_transmit() {
  PanelLink& p = panel_link;
  if (p.socket < 0) return;
  for (int line = 0; line < display_line_count; ++line) {
    if (memcmp(p.sent[line], record_of(line), line_record_sent) == 0) continue;
    memcpy(p.sent[line], record_of(line), line_record_sent);
    for (PanelSubscriber& s : p.subscribers) {
      if (s.length != 0 && !send_record(s.address, s.length, line)) s = PanelSubscriber{};
    }
  }
}

void panel_link_close(const char* path) {
  PanelLink& p = panel_link;
  if (p.socket >= 0) close(p.socket);
  unlink(path);
  p = PanelLink{};
}
