#include "host/notices.h"

#include <unistd.h>

#include <climits>

#include "core/console.h"

namespace {
constexpr char keys_text[] = "keys: s statistics, m MIDI statistics, Ctrl-C quits";
}  // namespace

void print_ready_line(const char* server_name, int udp_port) {
  char here[PATH_MAX];
  const char* data_dir = getcwd(here, sizeof here) != nullptr ? here : ".";
  if (udp_port >= 0) {
    console_printf("ready: JACK server %s, UDP port %d, data directory %s; %s\n", server_name,
                   udp_port, data_dir, keys_text);
  } else {
    console_printf(
        "ready: JACK server %s, remote control off (--port chooses another UDP port), "
        "data directory %s; %s\n",
        server_name, data_dir, keys_text);
  }
}
