#include "host/notices.h"

#include <unistd.h>

#include <climits>

#include "core/console.h"
#include "engine/transport_commands.h"

Notices notices;

namespace {
constexpr char keys_text[] = "keys: s statistics, m MIDI statistics, Ctrl-C quits";
}  // namespace

void notices_reset() { notices = Notices{}; }

void print_ready_line(const char* server_name, int udp_port) {
  char here[PATH_MAX];
  const char* data_dir = getcwd(here, sizeof here) != nullptr ? here : ".";
  if (udp_port >= 0) {
    console_printf("ready: JACK server %s, UDP port %d, data directory %s; %s\n", server_name,
                   udp_port, data_dir, keys_text);
  } else {
    console_printf("ready: JACK server %s, remote control off (--port chooses another UDP port), "
                   "data directory %s; %s\n",
                   server_name, data_dir, keys_text);
  }
}

void unsaved_loops_service() {
  Notices& n = notices;
  if (n.unsaved_loops_told || transport_state_snapshot() == 0) return;
  n.unsaved_loops_told = 1;
  console_printf("Note: tracks are not saved yet; recorded loops are lost when the looper quits\n");
}
