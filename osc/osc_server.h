// The OSC server: control surfaces (TouchOSC, Open Stage Control) and other programs drive the
// looper with OSC messages over UDP and subscribe to its state (osc/osc_request.h names the
// addresses). Like the web panel it reaches the engine only through the text-command queue, the
// panel's key mailbox (web_queue_event), the mix values handed to the main thread, and the status
// snapshot.
//
// Threads: one OSC thread receives, answers and, every 10 ms while anyone subscribes, takes a
// snapshot and sends what changed. The main thread applies the mix values (osc_main_service).
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "core/constants.h"
#include "osc/osc_feedback.h"
#include "web/web_panel.h"

constexpr char osc_listen_default[] = "127.0.0.1:9951";
constexpr int osc_allow_max = 8;     // addresses named with --osc-allow
constexpr int osc_greeted_max = 16;  // addresses that sent the token; the oldest goes first
constexpr int osc_subscriber_max = 8;
constexpr int osc_subscription_ms = 60000;   // a subscriber that does not renew is dropped
constexpr int osc_tick_ms = 10;              // snapshot period while anyone subscribes
constexpr int osc_idle_wait_ms = 100;        // the thread's longest nap with no subscriber
constexpr int osc_moving_ms = 50;            // positions and the display at most 20 times a second
constexpr int osc_packet_max = 65536;        // largest datagram read
constexpr int osc_batch = 64;                // datagrams read between two snapshots
constexpr int osc_bundle_depth_max = 4;      // nested bundles deeper than this are refused
constexpr int32_t osc_mix_none = INT32_MIN;  // no mix value waiting

// One peer: its address and port, and the address as text.
struct OscPeer {
  sockaddr_storage address{};
  socklen_t length = 0;
  char text[INET6_ADDRSTRLEN] = {};
};

struct OscSubscriber {
  OscPeer peer;  // length 0: free
  int64_t renewed_ms = 0;
};

struct OscServer {
  // Settings, fixed once started.
  bool token_required = false;  // listening beyond loopback
  char token[web_token_chars + 1] = {};
  std::string allowed[osc_allow_max];  // --osc-allow
  int allowed_count = 0;
  int port = 0;

  // The OSC thread's own.
  int fd = -1;
  std::thread thread;
  std::atomic<bool> running{false};
  std::string greeted[osc_greeted_max];  // addresses that sent the token
  int greeted_next = 0;
  OscSubscriber subscribers[osc_subscriber_max];
  OscStatus last_sent;  // what the subscribers were last sent
  int64_t moving_sent_ms = 0;
  // Tests and the fuzz target: replies go here instead of the socket.
  void (*reply_hook)(const OscPeer& to, const uint8_t* bytes, size_t size) = nullptr;

  // The newest level, pan and feedback per track for the main thread; osc_mix_none when none
  // waits. A fader sweep leaves only its last value.
  std::atomic<int32_t> mix[3][track_count];

  OscServer();
  ~OscServer();
};

extern OscServer osc_server;

// Start-up, main thread: listens on `listen` ("ADDRESS:PORT", "[V6]:PORT"; port 0 takes any free
// one). Beyond loopback a peer must first send /zt4/hello with the web panel's token (kept in
// .zt4.web-token, made when missing) unless named in allow. Returns the bound port, or -1 with a
// console line saying why: the looper then runs without OSC.
int osc_start(const char* listen, const char* const* allow, int allow_count);
void osc_stop();

// Main thread, each idle input tick: applies the mix values that OSC peers set.
void osc_main_service();

// The OSC thread (and the fuzz target, tests): handles one received datagram from peer, a
// message or a bundle, answering through the socket or reply_hook.
void osc_handle_packet(const uint8_t* bytes, size_t size, const OscPeer& peer, int64_t now_ms);
// The OSC thread: sends the changes since the last call to every subscriber (a snapshot taken
// only when there is one) and drops subscriptions that were not renewed in time.
void osc_feedback_tick(int64_t now_ms);

// No server, no subscribers, nothing waiting (tests).
void osc_reset();
