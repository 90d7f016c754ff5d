// What the looper tells the person at its console beyond the start-up lines: the line that says
// it is ready and where to reach it, and the warning that recorded loops are not kept yet.
// Main thread.
#pragma once

#include <cstdint>

struct Notices {
  int32_t unsaved_loops_told = 0;  // the warning about unsaved loops was printed
};

extern Notices notices;

void notices_reset();

// "ready: JACK server NAME, UDP port N, data directory DIR; keys: ..." with the working directory
// as the data directory; udp_port -1 says that remote control is off.
void print_ready_line(const char* server_name, int udp_port);

// Once-a-second service: the first time any track holds audio, says that loops are not saved.
void unsaved_loops_service();
