#include "host/startup.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "core/console.h"
#include "core/lock.h"
#include "drums/count_in_settings.h"
#include "drums/drum_bank_file.h"
#include "drums/drum_samples.h"
#include "engine/count_in.h"
#include "engine/config_apply.h"
#include "engine/listen_ring.h"
#include "engine/ostinato.h"
#include "engine/track.h"
#include "host/audio_thread.h"
#include "host/connections.h"
#include "host/data_directory.h"
#include "host/hooks.h"
#include "host/jack_host.h"
#include "host/latency_service.h"
#include "host/jack_transport.h"
#include "host/notices.h"
#include "host/panel_link.h"
#include "midi/transport_clock.h"
#include "net/button.h"
#include "net/datagram.h"
#include "net/host_sysex.h"
#include "net/network_thread.h"
#include "net/upgrade.h"
#include "pads/pads.h"
#include "panel/display.h"
#include "panel/handlers_editing.h"
#include "panel/menu.h"
#include "panel/menus.h"
#include "pool/pool.h"
#include "storage/mixer_file.h"
#include "storage/storage_thread.h"
#include "osc/osc_server.h"
#include "web/web_panel.h"

namespace {

int32_t monotonic_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int32_t(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// The process's locked memory (VmLck in /proc/self/status), in KB; 0 when unknown.
int64_t locked_kilobytes() {
  FILE* f = fopen("/proc/self/status", "r");
  if (f == nullptr) return 0;
  char line[256];
  long long kilobytes = 0;
  while (fgets(line, sizeof line, f) != nullptr)
    if (sscanf(line, "VmLck: %lld", &kilobytes) == 1) break;
  fclose(f);
  return kilobytes;
}

// Locks every page of the process, now and from now on, so that the audio thread never waits for
// one to be paged in; the 512 MiB block pool becomes resident here. Refused (no privilege, a low
// memory-lock limit), the looper runs on with one line that says so, and the pool's pages become
// resident as the idle tick first clears each block.
void lock_memory() {
  const int32_t started = monotonic_ms();
  const char* refusal = nullptr;
  if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0) {
    refusal = strerror(errno);
  } else if (locked_kilobytes() < pool_bytes / 1024) {
    refusal = "no effect";  // a sanitizer build answers without locking anything
  }
  if (refusal != nullptr) {
    console_printf("Memory not locked (mlockall: %s): the audio thread may wait for paging\n",
                   refusal);
    return;
  }
  console_printf("Memory locked in %d ms\n", int(monotonic_ms() - started));
}

}  // namespace

void startup(const CommandLine& line) {
  // Before JACK: a data directory that cannot be written stops the looper with one clear line.
  if (!enter_data_directory(line.data_dir, stderr)) exit(1);
  // One looper per data directory: a second one stops here, before it touches anything.
  if (!lock_data_directory(stderr)) exit(1);
  host_open(line.server_name);
  install_hooks({midi_autoconnect, connections_second_service, jack_transport_calls()});
  main_loop.idle_enabled = 0;

  config_load();
  mixer_load();
  mixer_store.resume_requested = line.resume ? 1 : 0;
  lock_memory();
  pool_init();
  const int32_t pool_started = monotonic_ms();
  pool_make_resident();
  console_printf("Audio blocks resident in %d ms\n", int(monotonic_ms() - pool_started));
  tracks_reset();
  listen_ring_start(line.capture_seconds);
  drum_samples_load_all();
  drum_bank_load();
  count_in_settings_load();
  count_in_reset();          // synthesises the click
  config_apply_to_engine();  // the reset above cleared the engine's output shifts and gate
  storage_start();
  button_start();
  generate_ostinato_rhythms();

  main_loop.idle_enabled = 1;
  if (jack_activate(host.client) != 0) {
    fprintf(stderr, "cannot activate client");
    exit(1);
  }
  audio_thread_set_process_thread(jack_client_thread_id(host.client));
  latency_startup(line.latency);
  host_read_latency();
  if (line.transport != 0) transport_set_mode(line.transport, line.transport_force);
  panel_link_open(panel_socket_name);
  draw_menu();
  const int udp_port = network_start(line.udp_port);
  note_data_directory_port(udp_port);
  if (line.web_listen != nullptr) web_start(line.web_listen, line.web_local);
  if (line.osc_listen != nullptr) osc_start(line.osc_listen, line.osc_allow, line.osc_allow_count);
  read_connections();
  // The saved connections change the latencies: have them worked out before they are shown.
  jack_recompute_total_latencies(host.client);
  host_read_latency();
  report_latency();

  const int flags = fcntl(STDIN_FILENO, F_GETFL);
  if (flags != -1) fcntl(STDIN_FILENO, F_SETFL, flags | O_NONBLOCK);

  console_printf("wet_only: %d\n", int(config.wet_only));
  console_printf("mono_input_mode: %d\n", int(config.mono_input_mode));
  console_printf("primary_gain: %d\n", int(config.all_main_level));
  console_printf("%s\n", zt4_version);
  print_ready_line(shown_server_name(line), udp_port);
  main_loop_lock_take();
}
