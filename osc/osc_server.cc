#include "osc/osc_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "core/console.h"
#include "core/lock.h"
#include "net/status_report.h"
#include "osc/osc_request.h"
#include "panel/handlers.h"

OscServer osc_server;

namespace {

constexpr char bundle_tag[] = "#bundle";    // with its NUL, the first 8 bytes of a bundle
constexpr size_t bundle_header_bytes = 16;  // the tag and the time tag
constexpr int message_bytes_max = 1024;     // replies of one message: an error, a hello

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

uint16_t port_of(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
}

void set_port(sockaddr_storage& a, uint16_t port) {
  if (a.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6&>(a).sin6_port = htons(port);
  } else {
    reinterpret_cast<sockaddr_in&>(a).sin_port = htons(port);
  }
}

bool same_peer(const OscPeer& a, const OscPeer& b) {
  return a.length == b.length && memcmp(&a.address, &b.address, a.length) == 0;
}

void send_bytes(const OscPeer& to, const void* bytes, size_t size) {
  const OscServer& o = osc_server;
  if (o.reply_hook != nullptr) {
    o.reply_hook(to, static_cast<const uint8_t*>(bytes), size);
  } else if (o.fd >= 0) {
    // A peer that does not read loses replies; the OSC thread never waits for it.
    sendto(o.fd, bytes, size, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to.address),
           to.length);
  }
}

// Sends one message and frees it.
void send_message(const OscPeer& to, const char* path, lo_message m) {
  uint8_t out[message_bytes_max];
  size_t size = 0;
  if (lo_message_length(m, path) <= sizeof out &&
      lo_message_serialise(m, path, out, &size) != nullptr)
    send_bytes(to, out, size);
  lo_message_free(m);
}

void send_text(const OscPeer& to, const char* path, const char* text) {
  lo_message m = lo_message_new();
  lo_message_add_string(m, text);
  send_message(to, path, m);
}

void send_error(const OscPeer& to, const char* reason) { send_text(to, "/zt4/error", reason); }

// Sends a bundle (when it holds anything) to each peer and frees it.
void send_bundle(const OscPeer* peers, int count, lo_bundle b, int messages) {
  if (messages > 0) {
    std::vector<uint8_t> out(lo_bundle_length(b));
    size_t size = 0;
    if (lo_bundle_serialise(b, out.data(), &size) != nullptr) {
      for (int i = 0; i < count; ++i) send_bytes(peers[i], out.data(), size);
    }
  }
  lo_bundle_free_recursive(b);
}

OscStatus status_now() {
  RemoteStatus status;
  remote_status_read(status);  // the engine lock for one snapshot copy
  char lines[display_line_count][display_columns + 1];
  web_display_lines(lines);
  return osc_status_of(status, lines);
}

// Sends every value to one peer; returns what was sent.
OscStatus send_full_status(const OscPeer& to) {
  const OscStatus status = status_now();
  lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
  const int messages = osc_add_status(b, status, nullptr, true);
  send_bundle(&to, 1, b, messages);
  return status;
}

bool peer_allowed(const OscPeer& peer) {
  const OscServer& o = osc_server;
  if (web_address_loopback(peer.text)) return true;
  for (int i = 0; i < o.allowed_count; ++i) {
    if (o.allowed[i] == peer.text) return true;
  }
  for (const std::string& g : o.greeted) {
    if (g == peer.text) return true;
  }
  return false;
}

bool greet(const OscPeer& peer, const char* token) {
  OscServer& o = osc_server;
  if (!web_token_equal(o.token, token)) {
    send_error(peer, "wrong token");
    return false;
  }
  if (!peer_allowed(peer)) {
    o.greeted[o.greeted_next] = peer.text;
    o.greeted_next = (o.greeted_next + 1) % osc_greeted_max;
  }
  send_text(peer, "/zt4/hello", "ok");
  return true;
}

bool subscribe(OscPeer peer, int32_t port, int64_t now) {
  OscServer& o = osc_server;
  if (port != 0) set_port(peer.address, uint16_t(port));
  OscSubscriber* place = nullptr;
  bool first = true;
  for (OscSubscriber& s : o.subscribers) {
    if (s.peer.length != 0 && now - s.renewed_ms <= osc_subscription_ms) first = false;
    if (s.peer.length != 0 && same_peer(s.peer, peer)) {
      s.renewed_ms = now;  // a renewal: nothing sent again
      return true;
    }
    if (s.peer.length == 0 && place == nullptr) place = &s;
  }
  if (place == nullptr) {
    send_error(peer, "8 subscribers already; one must unsubscribe first");
    return false;
  }
  *place = OscSubscriber{peer, now};
  const OscStatus sent = send_full_status(peer);
  if (first) {
    // The changes from here on are what the next snapshots send.
    o.last_sent = sent;
    o.moving_sent_ms = now;
  }
  return true;
}

void unsubscribe(OscPeer peer, int32_t port) {
  if (port != 0) set_port(peer.address, uint16_t(port));
  for (OscSubscriber& s : osc_server.subscribers) {
    if (s.peer.length != 0 && same_peer(s.peer, peer)) s = OscSubscriber{};
  }
}

// False when the message was refused (the peer told why).
bool handle_message(const char* path, lo_message m, const OscPeer& peer, int64_t now) {
  const OscRequest r = osc_parse_request(path, lo_message_get_types(m), lo_message_get_argv(m),
                                         lo_message_get_argc(m));
  if (r.action == OscAction::hello) return greet(peer, r.text);
  if (!peer_allowed(peer)) {
    send_error(peer, "refused: send /zt4/hello with the looper's token first");
    return false;
  }
  OscServer& o = osc_server;
  const char* error = r.error;
  switch (r.action) {
    case OscAction::function:
      if (!command_queue_put(r.text)) error = "command queue full";
      break;
    case OscAction::key:
    case OscAction::encoder:
      if (!web_queue_event(r.action == OscAction::key, r.value)) error = "too many keys waiting";
      break;
    case OscAction::level: o.mix[int(TrackMix::level)][r.track - 1] = r.value; break;
    case OscAction::pan: o.mix[int(TrackMix::pan)][r.track - 1] = r.value; break;
    case OscAction::feedback: o.mix[int(TrackMix::feedback)][r.track - 1] = r.value; break;
    case OscAction::status: send_full_status(peer); return true;
    case OscAction::subscribe: return subscribe(peer, r.value, now);
    case OscAction::unsubscribe: unsubscribe(peer, r.value); return true;
    case OscAction::hello:
    case OscAction::none: break;
  }
  if (error != nullptr) {
    send_error(peer, error);
    return false;
  }
  wake_main_loop();  // no 50 ms nap before the main thread takes it
  return true;
}

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// False at the first refusal (the peer told why): the rest of a bundle is left, so that one
// datagram gets one error at most.
bool handle_packet(const uint8_t* bytes, size_t size, const OscPeer& peer, int64_t now, int depth) {
  if (size >= sizeof bundle_tag && memcmp(bytes, bundle_tag, sizeof bundle_tag) == 0) {
    if (depth >= osc_bundle_depth_max) {
      send_error(peer, "bundles nested too deep");
      return false;
    }
    if (size < bundle_header_bytes) {
      send_error(peer, "not an OSC message");
      return false;
    }
    // Elements run at once, in order; time tags are not waited for.
    size_t at = bundle_header_bytes;
    while (at < size) {
      const uint32_t length = at + 4 <= size ? be32(bytes + at) : 0;
      at += 4;
      if (length == 0 || length % 4 != 0 || at > size || length > size - at) {
        send_error(peer, "not an OSC message");
        return false;
      }
      if (!handle_packet(bytes + at, length, peer, now, depth + 1)) return false;
      at += length;
    }
    return true;
  }
  int result = 0;
  lo_message m = lo_message_deserialise(const_cast<uint8_t*>(bytes), size, &result);
  if (m == nullptr) {
    send_error(peer, "not an OSC message");
    return false;
  }
  // A message that deserialised starts with its NUL-terminated address.
  const bool handled = handle_message(reinterpret_cast<const char*>(bytes), m, peer, now);
  lo_message_free(m);
  return handled;
}

void serve() {
  OscServer& o = osc_server;
  std::vector<uint8_t> buffer(osc_packet_max);
  int64_t next_tick = now_ms();
  while (o.running.load()) {
    // Without subscribers the thread only wakes for datagrams (and to notice a stop).
    bool watched = false;
    for (const OscSubscriber& s : o.subscribers) watched = watched || s.peer.length != 0;
    pollfd p{o.fd, POLLIN, 0};
    const int64_t wait = watched ? next_tick - now_ms() : osc_idle_wait_ms;
    poll(&p, 1, int(wait < 0 ? 0 : wait));
    // A bounded batch, so that a flood of datagrams still leaves time for the subscribers.
    for (int i = 0; i < osc_batch; ++i) {
      OscPeer peer;
      peer.length = sizeof peer.address;
      const ssize_t n = recvfrom(o.fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&peer.address), &peer.length);
      if (n < 0) break;
      const void* raw =
          peer.address.ss_family == AF_INET6
              ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6&>(peer.address).sin6_addr)
              : &reinterpret_cast<sockaddr_in&>(peer.address).sin_addr;
      inet_ntop(peer.address.ss_family, raw, peer.text, sizeof peer.text);
      osc_handle_packet(buffer.data(), size_t(n), peer, now_ms());
    }
    const int64_t now = now_ms();
    if (now >= next_tick) {
      osc_feedback_tick(now);
      next_tick = now + osc_tick_ms;
    }
  }
}

// The socket bound to "ADDRESS:PORT" or "[V6]:PORT"; -1 with the reason in why.
int bind_listen(const std::string& listen, std::string& address, const char*& why) {
  const size_t colon = listen.rfind(':');
  if (colon == std::string::npos) {
    why = "not ADDRESS:PORT";
    return -1;
  }
  address = listen.substr(0, colon);
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
    address = address.substr(1, address.size() - 2);
  const std::string port = listen.substr(colon + 1);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.empty() ? nullptr : address.c_str(), port.c_str(), &hints, &found) != 0) {
    why = "no such address";
    return -1;
  }
  const int fd = socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
    why = strerror(errno);
    close(fd);
    freeaddrinfo(found);
    return -1;
  }
  if (fd < 0) why = strerror(errno);
  freeaddrinfo(found);
  return fd;
}

}  // namespace

OscServer::OscServer() {
  for (auto& kind : mix) {
    for (std::atomic<int32_t>& v : kind) v = osc_mix_none;
  }
}

OscServer::~OscServer() { osc_stop(); }

void osc_handle_packet(const uint8_t* bytes, size_t size, const OscPeer& peer, int64_t now_ms) {
  handle_packet(bytes, size, peer, now_ms, 0);
}

void osc_feedback_tick(int64_t now) {
  OscServer& o = osc_server;
  OscPeer to[osc_subscriber_max];
  int count = 0;
  for (OscSubscriber& s : o.subscribers) {
    if (s.peer.length != 0 && now - s.renewed_ms > osc_subscription_ms) s = OscSubscriber{};
    if (s.peer.length != 0) to[count++] = s.peer;
  }
  if (count == 0) return;
  const OscStatus status = status_now();
  const bool moving = now - o.moving_sent_ms >= osc_moving_ms;
  lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
  const int messages = osc_add_status(b, status, &o.last_sent, moving);
  send_bundle(to, count, b, messages);
  if (moving) {
    o.last_sent = status;
    o.moving_sent_ms = now;
  } else {
    OscStatus kept = status;  // the moving values stay as last sent, to be sent when due
    memcpy(kept.length, o.last_sent.length, sizeof kept.length);
    memcpy(kept.position, o.last_sent.position, sizeof kept.position);
    for (int line = 0; line < display_line_count; ++line)
      kept.display[line] = o.last_sent.display[line];
    o.last_sent = kept;
  }
}

void osc_main_service() {
  OscServer& o = osc_server;
  for (int kind = 0; kind < 3; ++kind) {
    for (int t = 0; t < track_count; ++t) {
      const int32_t v = o.mix[kind][t].exchange(osc_mix_none);
      if (v != osc_mix_none) set_track_mix(t + 1, TrackMix(kind), v);
    }
  }
}

int osc_start(const char* listen, const char* const* allow, int allow_count) {
  OscServer& o = osc_server;
  const std::string text = listen != nullptr ? listen : osc_listen_default;
  std::string address;
  const char* why = "";
  o.fd = bind_listen(text, address, why);
  if (o.fd < 0) {
    console_printf("OSC off: cannot listen on %s (%s)\n", text.c_str(), why);
    return -1;
  }
  o.allowed_count = 0;
  for (int i = 0; i < allow_count && i < osc_allow_max; ++i)
    o.allowed[o.allowed_count++] = allow[i];
  o.token_required = !web_address_loopback(address);
  if (o.token_required && !web_token_load(o.token)) {
    console_printf("OSC off: cannot keep its token in %s\n", web_token_file);
    close(o.fd);
    o.fd = -1;
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(o.fd, reinterpret_cast<sockaddr*>(&bound), &length);
  o.port = port_of(bound);
  o.running = true;
  o.thread = std::thread(serve);
  pthread_setname_np(o.thread.native_handle(), "zt4-osc");  // for top and the load benchmark
  const std::string host =
      address == "0.0.0.0" || address == "::" || address.empty() ? "THIS-HOST" : address;
  if (o.token_required) {
    console_printf("OSC: osc.udp://%s:%d/ (other machines first send /zt4/hello s %s)\n",
                   host.c_str(), o.port, o.token);
  } else {
    console_printf("OSC: osc.udp://%s:%d/\n", host.c_str(), o.port);
  }
  return o.port;
}

void osc_stop() {
  OscServer& o = osc_server;
  if (o.running.exchange(false)) o.thread.join();
  if (o.fd >= 0) close(o.fd);
  o.fd = -1;
}

void osc_reset() {
  osc_stop();
  OscServer& o = osc_server;
  o.token_required = false;
  memset(o.token, 0, sizeof o.token);
  for (std::string& a : o.allowed) a.clear();
  o.allowed_count = 0;
  o.port = 0;
  for (std::string& g : o.greeted) g.clear();
  o.greeted_next = 0;
  for (OscSubscriber& s : o.subscribers) s = OscSubscriber{};
  o.last_sent = OscStatus{};
  o.moving_sent_ms = 0;
  o.reply_hook = nullptr;
  for (auto& kind : o.mix) {
    for (std::atomic<int32_t>& v : kind) v = osc_mix_none;
  }
}
