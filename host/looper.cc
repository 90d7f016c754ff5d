#include "host/looper.h"

#include "config/config.h"
#include "core/lock_statistics.h"
#include "core/log_ring.h"
#include "drums/drum_bank_file.h"
#include "drums/drum_machine.h"
#include "engine/editing.h"
#include "engine/engine.h"
#include "engine/engine_wait.h"
#include "engine/fades.h"
#include "engine/track.h"
#include "engine/transport.h"
#include "host/main_loop.h"
#include "midi/clock.h"
#include "midi/midi_map.h"
#include "midi/midi_parser.h"
#include "midi/midi_queue.h"
#include "net/datagram.h"
#include "net/host_sysex.h"
#include "net/remote_send.h"
#include "net/upgrade.h"
#include "pads/pads.h"
#include "panel/command_queue.h"
#include "panel/display_state.h"
#include "panel/handlers_drums.h"
#include "panel/handlers_editing.h"
#include "panel/input.h"
#include "panel/midi_mapping.h"
#include "panel/pedal.h"
#include "panel/random_restart.h"
#include "panel/selection.h"
#include "pool/pool.h"
#include "storage/storage_thread.h"

void looper_reset() {
  console_log_reset();
  lock_statistics_reset();

  pool_reset();
  config_reset();

  midi_queue_reset();
  midi_parser_reset();
  midi_map_reset();
  clock_reset();

  drums_reset();
  drum_bank_store_reset();

  tracks_reset();
  engine_reset();
  fades_reset();
  transport_reset();
  engine_wait_reset();
  editing_reset();

  command_queue_reset();
  selection_reset();
  display_state_reset();
  panel_input_reset();
  drum_editor_reset();
  midi_mapping_reset();
  pedal_state_reset();
  random_restart_reset();
  editing_panel_reset();

  storage_init();

  remote_peer_reset();
  host_sysex_reset();
  datagram_hooks = DatagramHooks{};
  upgrade_reset();

  pads_reset();  // after host_sysex_reset: points its identity replies here

  main_loop_reset();
  main_loop_hooks = MainLoopHooks{};
}
