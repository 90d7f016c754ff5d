// The OSC server's packet handler: any datagram, from a loopback peer and from one beyond it that
// has not sent the token, is refused with one error at most or turned into checked actions
// (queued commands, panel events, mix values that the main thread then applies).
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "osc/osc_server.h"
#include "panel/command_queue.h"
#include "panel/selection.h"
#include "web/web_panel.h"
#include "tests/fixtures/osc_peer.h"

namespace {

int replies = 0;
int errors = 0;

void count_reply(const OscPeer&, const uint8_t* bytes, size_t size) {
  ++replies;
  if (size >= 11 && memcmp(bytes, "/zt4/error", 11) == 0) ++errors;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  osc_server.reply_hook = count_reply;
  const OscPeer local = osc_peer_at("127.0.0.1", 9000);
  const OscPeer remote = osc_peer_at("192.0.2.7", 9000);
  errors = 0;
  osc_handle_packet(data, size, local, 0);
  require(errors <= 1);

  // Beyond loopback without the token nothing may happen but one refusal.
  errors = replies = 0;
  osc_handle_packet(data, size, remote, 0);
  require(errors <= 1);
  const bool greeted = !osc_server.greeted[0].empty();
  require(greeted || replies == errors);

  osc_main_service();
  for (int t = 0; t < track_count; ++t) {
    require(shown_level[t] >= -96 && shown_level[t] <= 0);
    require(shown_feedback[t] >= 0 && shown_feedback[t] <= 100);
    require(shown_pan[t] >= -128 && shown_pan[t] <= 128);
  }
  command_queue_reset();
  web_panel.event_count = 0;
  for (OscSubscriber& s : osc_server.subscribers) s = OscSubscriber{};
  return 0;
}
