#include "host/looper.h"

#include "config/config.h"
#include "core/console_output.h"
#include "core/lock_statistics.h"
#include "core/log_ring.h"
#include "drums/count_in_settings.h"
#include "drums/drum_bank_file.h"
#include "drums/drum_machine.h"
#include "engine/count_in.h"
#include "engine/editing.h"
#include "engine/engine.h"
#include "engine/engine_wait.h"
#include "engine/fades.h"
#include "engine/listen_ring.h"
#include "engine/track.h"
#include "engine/transport.h"
#include "host/audio_thread.h"
#include "host/hooks.h"
#include "host/main_loop.h"
#include "host/quit.h"
#include "host/summary_report.h"
#include "midi/clock.h"
#include "midi/midi_codes.h"
#include "midi/midi_map.h"
#include "midi/midi_parser.h"
#include "midi/midi_queue.h"
#include "midi/transport_clock.h"
#include "net/datagram.h"
#include "net/host_sysex.h"
#include "net/remote_send.h"
#include "net/upgrade.h"
#include "pads/pads.h"
#include "panel/audio_slots.h"
#include "panel/command_queue.h"
#include "panel/display.h"
#include "panel/display_state.h"
#include "panel/editors.h"
#include "panel/handlers_drums.h"
#include "panel/handlers_editing.h"
#include "panel/input.h"
#include "panel/menu.h"
#include "panel/midi_mapping.h"
#include "panel/panel_hooks.h"
#include "panel/pedal.h"
#include "panel/random_restart.h"
#include "panel/selection.h"
#include "panel/status_line.h"
#include "panel/value_entry.h"
#include "pool/pool.h"
#include "storage/mixer_file.h"
#include "storage/storage_thread.h"
#include "osc/osc_server.h"
#include "web/web_panel.h"

void looper_reset() {
  console_log_reset();
  console_output_reset();
  lock_statistics_reset();
  summary_reset();

  pool_reset();
  config_reset();

  midi_queue_reset();
  midi_parser_reset();
  midi_code_queue_reset();
  midi_map_reset();
  clock_reset();
  transport_clock_reset();

  drums_reset();
  drum_bank_store_reset();

  tracks_reset();
  engine_reset();
  count_in_reset();
  count_in_settings_reset();
  listen_ring_reset();
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
  display_reset();
  status_line_reset();
  menu_stack_reset();
  value_entry_reset();
  editors_reset();
  audio_slots_reset();
  panel_hooks = PanelHooks{};

  storage_init();
  mixer_store_reset();

  remote_peer_reset();
  host_sysex_reset();
  datagram_hooks = DatagramHooks{};
  upgrade_reset();
  web_reset();
  osc_reset();

  pads_reset();

  main_loop_reset();
  audio_thread_reset();
  quit_reset();
  main_loop_hooks = MainLoopHooks{};

  install_hooks();
}
