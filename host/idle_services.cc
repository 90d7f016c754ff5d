#include "host/idle_services.h"

#include "panel/command_queue.h"
#include "panel/input.h"
#include "pool/pool.h"

void idle_quarter_service() {}
void idle_second_service() {}
void idle_input_service() { ui_poll(); }
void idle_config_service() {}
void idle_ten_ms_service() {}
int32_t idle_clean_service() { return pool_clean_one(); }
void idle_track_service() {}
void idle_command_service() { command_execute(); }

void idle_report_midi() {}
void idle_report_looper() { pool_report(); }
