// Feeds arbitrary bytes to the UDP request handler as one datagram, and to the host SysEx
// handler as the payload of a host command as the MIDI parser would deliver it. Text commands
// run their handlers with the numbers read from outside (a queued UDP command through the main
// loop's command_execute, SysEx command 27 at once), with the engine run inline; afterwards the
// values the handlers set must lie within their ranges.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/config.h"
#include "core/log_ring.h"
#include "core/lock.h"
#include "engine/engine.h"
#include "engine/engine_wait.h"
#include "engine/track.h"
#include "host/looper.h"
#include "host/main_loop.h"
#include "midi/midi_queue.h"
#include "net/datagram.h"
#include "net/host_sysex.h"
#include "net/remote_send.h"
#include "net/sysex_codec.h"
#include "panel/command_queue.h"
#include "panel/selection.h"
#include "pool/pool.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int midi_sysex_max = 255;         // the MIDI parser's longest message
constexpr int32_t wait_frame_limit = 4096;  // inline frames before an engine wait gives up
constexpr int clean_blocks = 16;            // zeroed blocks ready for recordings

void discard_reply(void*, const uint8_t*, int) {}

// What a text command can set, each within the range its handler keeps.
void check_ranges() {
  const Selection& s = selection;
  require(s.current_track >= -config_group_count && s.current_track <= track_count);
  for (int t = 0; t < track_count; ++t) {
    require(shown_level[t] >= -96 && shown_level[t] <= 0);
    require(shown_feedback[t] >= 0 && shown_feedback[t] <= 100);
    require(shown_pan[t] >= -128 && shown_pan[t] <= 128);
    require(config.q_steps[t] >= 1 && config.q_steps[t] <= 128);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The console's messages would drown the fuzzer's own output.
  const int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd >= 0) dup2(null_fd, STDOUT_FILENO);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  looper_reset();
  datagram_hooks.upgrade_start = nullptr;  // no TFTP fetch: the request's check is fuzzed
  config_defaults();
  for (int i = 0; i < clean_blocks; ++i) pool_clean_one();
  engine_wait.run_frame = run_inline_frame;
  engine_wait.inline_frame_limit = wait_frame_limit;

  // A datagram longer than the receive buffer arrives cut to its length.
  const int length = size > size_t(datagram_max) ? datagram_max : int(size);
  sockaddr_in sender = {};
  sender.sin_family = AF_INET;
  handle_datagram(data, length, sender, discard_reply, nullptr);
  while (command_execute() != 0) check_ranges();

  uint8_t message[midi_sysex_max];
  const int payload = length < midi_sysex_max - host_sysex_header_length - 1
                          ? length
                          : midi_sysex_max - host_sysex_header_length - 1;
  memcpy(message, host_sysex_header, host_sysex_header_length);
  memcpy(message + host_sysex_header_length, data, size_t(payload));
  message[host_sysex_header_length + payload] = sysex_end;
  host_sysex(message, host_sysex_header_length + payload + 1);
  check_ranges();
  while (midi_out_pending() > 0) midi_out_take();
  console_log_reset();
  return 0;
}
