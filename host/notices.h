// What the looper tells the person at its console beyond the start-up lines: the line that says
// it is ready and where to reach it. Main thread.
#pragma once

// "ready: JACK server NAME, UDP port N, data directory DIR; keys: ..." with the working directory
// as the data directory; udp_port -1 says that remote control is off.
void print_ready_line(const char* server_name, int udp_port);
