#include "host/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "config/config.h"
#include "core/console.h"
#include "core/lock.h"
#include "drums/drum_bank_file.h"
#include "drums/drum_samples.h"
#include "engine/config_apply.h"
#include "engine/ostinato.h"
#include "engine/track.h"
#include "host/connections.h"
#include "host/data_directory.h"
#include "host/jack_host.h"
#include "host/notices.h"
#include "host/panel_link.h"
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
#include "storage/storage_thread.h"

void startup(const CommandLine& line) {
  // Before JACK: a data directory that cannot be written stops the looper with one clear line.
  if (!enter_data_directory(line.data_dir, stderr)) exit(1);
  host_open(line.server_name);
  main_loop_hooks.midi_autoconnect = midi_autoconnect;
  main_loop.idle_enabled = 0;

  config_load();
  pool_init();
  tracks_reset();
  drum_samples_load_all();
  drum_bank_load();
  config_apply_to_engine();  // the reset above cleared the engine's output shifts and gate
  storage_hooks.report_track_name = host_report_track_name;
  storage_start();
  button_start();
  pads_reset();  // identity replies reach the pad controllers
  datagram_hooks.upgrade_start = upgrade_request;
  upgrade.hooks.arm_restart = [](int32_t seconds) { main_loop.restart_countdown = seconds; };
  generate_ostinato_rhythms();

  main_loop.idle_enabled = 1;
  if (jack_activate(host.client) != 0) {
    fprintf(stderr, "cannot activate client");
    exit(1);
  }
  editing_panel_hooks = {show_progress_line, leave_new_length_menu};
  panel_link_open(panel_socket_name);
  draw_menu();
  const int udp_port = network_start(line.udp_port);
  read_connections();

  const int flags = fcntl(STDIN_FILENO, F_GETFL);
  if (flags != -1) fcntl(STDIN_FILENO, F_SETFL, flags | O_NONBLOCK);

  console_printf("wet_only: %d\n", int(config.wet_only));
  console_printf("mono_input_mode: %d\n", int(config.mono_input_mode));
  console_printf("primary_gain: %d\n", int(config.all_main_level));
  console_printf("%s\n", zt4_version);
  print_ready_line(shown_server_name(line), udp_port);
  pthread_mutex_lock(&main_loop_lock.mutex);
}
