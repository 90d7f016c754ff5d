// "Random Restart": armed tracks play one pass and, once muted, are restarted again after a
// random pause, counted in runs of the 10 ms service. Main thread.
#pragma once

#include <cstdint>

struct RandomRestart {
  uint32_t counter;          // runs of the 10 ms service; wraps
  uint32_t restart_time[8];  // counter value at which each armed track restarts
};

extern RandomRestart random_restart;

// Arms every selected track that plays or is muted and schedules it.
int32_t cmd_random_restart(int32_t unused);
// 10 ms service: advances the counter and restarts the armed muted tracks whose time has come.
void random_restart_service();

void random_restart_reset();
