#include "host/idle_services.h"

#include "config/config.h"
#include "core/console.h"
#include "drums/count_in_settings.h"
#include "drums/drum_bank_file.h"
#include "engine/count_in.h"
#include "engine/fades.h"
#include "engine/transport.h"
#include "host/audio_thread.h"
#include "host/latency_service.h"
#include "host/panel_link.h"
#include "host/statistics.h"
#include "host/summary_report.h"
#include "midi/midi_queue.h"
#include "midi/transport_clock.h"
#include "pads/pads.h"
#include "panel/command_queue.h"
#include "panel/display.h"
#include "panel/handlers.h"
#include "panel/input.h"
#include "panel/random_restart.h"
#include "pool/pool.h"
#include "storage/mixer_file.h"
#include "storage/storage_thread.h"
#include "osc/osc_server.h"
#include "web/web_panel.h"

void idle_quarter_service() { pad_refresh(); }
void idle_second_service() {
  summary_second_tick();
  pad_poll();
  meter_tick();
  audio_slots_tick();
  transport_notice_service();
}
void idle_input_service() {
  panel_link_receive();
  web_main_service();
  osc_main_service();
  ui_poll();
  panel_link_transmit();
}
void idle_config_service() { config_save_service(); }
void idle_ten_ms_service() {
  fade_service();
  drum_bank_save_service();
  count_in_settings_service();
  count_in_service();
  mixer_service();
  display_ten_ms_service();
  random_restart_service();
}
int32_t idle_clean_service() {
  pool_report_engine_refusals();
  midi_out_report_dropped();
  return pool_clean_one();
}
void idle_track_service() {
  transport_update();
  latency_measure_service();
  storage_attach_service();
}
void idle_command_service() { command_execute(); }

void idle_report_midi() { report_midi_statistics(); }
void idle_report_looper() {
  report_summary();
  report_latency();
  console_printf("Detail:\n");
  pool_report();
  report_looper_statistics();
  report_audio_thread_faults();
  report_lock_statistics();
}
