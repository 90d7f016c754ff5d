// Feeds arbitrary bytes to the UDP request handler as one datagram, and to the host SysEx
// handler as the payload of a host command as the MIDI parser would deliver it. Text commands
// are resolved but not run: running them would wait for an engine that is not running here.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/config.h"
#include "core/log_ring.h"
#include "engine/track.h"
#include "host/looper.h"
#include "host/main_loop.h"
#include "midi/midi_queue.h"
#include "net/datagram.h"
#include "net/host_sysex.h"
#include "net/remote_send.h"
#include "net/sysex_codec.h"
#include "panel/command_queue.h"
#include "panel/text_command.h"

namespace {

constexpr int midi_sysex_max = 255;  // the MIDI parser's longest message

int32_t resolve_only(const char* text, int length) {
  char buffer[midi_sysex_max + 1];
  if (length > midi_sysex_max) length = midi_sysex_max;
  memcpy(buffer, text, size_t(length));
  buffer[length] = '\0';
  return resolve_text_command(buffer).row;
}

void discard_reply(void*, const uint8_t*, int) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The console's messages would drown the fuzzer's own output.
  const int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd >= 0) dup2(null_fd, STDOUT_FILENO);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  looper_reset();
  config_defaults();
  host_sysex_state.run_text = resolve_only;

  // A datagram longer than the receive buffer arrives cut to its length.
  const int length = size > size_t(datagram_max) ? datagram_max : int(size);
  sockaddr_in sender = {};
  sender.sin_family = AF_INET;
  handle_datagram(data, length, sender, discard_reply, nullptr);

  uint8_t message[midi_sysex_max];
  const int payload = length < midi_sysex_max - host_sysex_header_length - 1
                          ? length
                          : midi_sysex_max - host_sysex_header_length - 1;
  memcpy(message, host_sysex_header, host_sysex_header_length);
  memcpy(message + host_sysex_header_length, data, size_t(payload));
  message[host_sysex_header_length + payload] = sysex_end;
  host_sysex(message, host_sysex_header_length + payload + 1);
  return 0;
}
