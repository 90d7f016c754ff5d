#include "host/hooks.h"

#include "config/config.h"
#include "engine/track_load.h"
#include "host/main_loop.h"
#include "midi/midi_codes.h"
#include "midi/midi_map.h"
#include "net/datagram.h"
#include "net/host_sysex.h"
#include "net/remote_send.h"
#include "net/upgrade.h"
#include "pads/pads.h"
#include "panel/display.h"
#include "panel/handlers_editing.h"
#include "panel/menus.h"
#include "storage/storage_thread.h"

namespace {
void arm_restart(int32_t seconds) { main_loop.restart_countdown = seconds; }
}  // namespace

void install_hooks(const JackCalls& jack) {
  // config/ -> storage/: the configuration record goes to the storage thread's writer.
  config_hooks.write = request_config_write;
  // engine/ -> storage/: an erased track's file goes.
  track_file_hooks.forget = forget_track_file;
  // midi/ -> net/: whole SysEx messages run as host commands; echoes go to the remote peer.
  midi_set_sysex_handler(host_sysex);
  midi_set_echo_peer(remote_send);
  // panel/ handlers -> the panel's display and menus: stretch progress, leaving "New length...".
  editing_panel_hooks = {show_progress_line, leave_new_length_menu};
  // storage/ -> net/: a track's name is announced (host reply 38).
  storage_hooks.report_track_name = host_report_track_name;
  // net/ datagrams -> the upgrade; the upgrade -> the main loop's restart countdown.
  datagram_hooks.upgrade_start = upgrade_request;
  upgrade.hooks.arm_restart = arm_restart;
  // net/ -> pads/: identity replies reach the pad controllers.
  host_sysex_state.apc_found = apc_found;
  host_sysex_state.launchpad_found = launchpad_found;
  // host/ main loop -> the JACK client: MIDI ports connected as they come, the connections file.
  main_loop_hooks.midi_autoconnect = jack.midi_autoconnect;
  main_loop_hooks.connections_second = jack.connections_second;
  // midi/ transport -> the JACK client: timebase master, roll and stop.
  transport_hooks = jack.transport;
}
